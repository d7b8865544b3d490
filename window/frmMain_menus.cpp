#include "window/frmMain.h"

#include "protocol/protocol.h"
#include "serial/LineSettings.h"
#include "settings/modVariable.h"

#include <QAction>

namespace {

const QString PortNotAvailable = QStringLiteral("Selected Port Not Available");

} // namespace

void frmMain::mnuCOM_Click(int Index)
{
    if (MSComm1.isOpen())
        MSComm1.close();
    for (int i = 1; i < int(mnuCOM.size()); ++i)
        mnuCOM[i]->setChecked(false);
    mnuCOM[Index]->setChecked(true);
    modVariable::strCommPort = QString::number(Index);
    MSComm1.setCommPort(modVariable::strCommPort.toShort());
    if (!MSComm1.open())
        showMessage(PortNotAvailable, MSComm1.errorString());
}

void frmMain::mnuBR_Click(int Index)
{
    for (int i = 1; i < int(mnuBR.size()); ++i)
        mnuBR[i]->setChecked(false);
    mnuBR[Index]->setChecked(true);
    // The entries follow the rates a module knows, slowest first.
    modVariable::strSettings =
        formatLineSettings(moduleLineSettings(protocol::BaudOptions[Index - 1].rate));
    if (MSComm1.isOpen())
        MSComm1.close();
    MSComm1.setSettings(modVariable::strSettings);
    // The operator learns of a port that did not come back, rather than
    // finding out at the next send.
    if (!MSComm1.open())
        showMessage(PortNotAvailable, MSComm1.errorString());
}
