#include "frmMain.h"

void frmMain::cmdTransmit_Click() {}
void frmMain::cmdDP_Click() {}
void frmMain::cmdDecimal_Click() {}
void frmMain::cmdShort_Click() {}
void frmMain::cmdSEG_Click() {}
void frmMain::cmdDIM_Click() {}
void frmMain::cmdConfig_Click() {}
void frmMain::SendCommand(quint8) {}
void frmMain::PadText() {}
