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
    if (Index < 1 || Index >= int(mnuCOM.size()))
        return;
    if (MSComm1.isOpen())
        MSComm1.close();
    // The entries form one exclusive group: the mark leaves the others.
    mnuCOM[Index]->setChecked(true);
    modVariable::strCommPort = QString::number(Index);
    MSComm1.setCommPort(modVariable::strCommPort.toShort());
    if (!openPort())
        showMessage(PortNotAvailable, MSComm1.errorString());
}

void frmMain::mnuBR_Click(int Index)
{
    if (Index < 1 || Index >= int(mnuBR.size()))
        return;
    mnuBR[Index]->setChecked(true);
    // The entries follow the rates a module knows, slowest first.
    modVariable::strSettings =
        formatLineSettings(moduleLineSettings(protocol::BaudOptions[Index - 1].rate));
    if (MSComm1.isOpen())
        MSComm1.close();
    MSComm1.setSettings(modVariable::strSettings);
    // The operator learns of a port that did not come back, rather than
    // finding out at the next send.
    if (!openPort())
        showMessage(PortNotAvailable, MSComm1.errorString());
}
