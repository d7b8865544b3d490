#include "window/frmMain.h"

#include "settings/modVariable.h"

#include <QAction>

namespace {

const QString PortNotAvailable = QStringLiteral("Selected Port Not Available");

// The line settings behind each "Baud Rate" entry.
const QString BaudSettings[] = {QString(), QStringLiteral("9600,n,8,1"),
                                QStringLiteral("19200,n,8,1"), QStringLiteral("38400,n,8,1")};

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
    modVariable::strSettings = BaudSettings[Index];
    if (MSComm1.isOpen())
        MSComm1.close();
    MSComm1.setSettings(modVariable::strSettings);
    // The operator learns of a port that did not come back, rather than
    // finding out at the next send.
    if (!MSComm1.open())
        showMessage(PortNotAvailable, MSComm1.errorString());
}
