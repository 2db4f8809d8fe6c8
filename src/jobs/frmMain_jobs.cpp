// Cut and split jobs.
#include "app/frmMain.h"

// The copy loops are being built; until then the buttons do nothing.
void frmMain::cmdCut_Click() {}
void frmMain::cmdCancel_Click() { CancelRequested = true; }
void frmMain::cmdSplit_Click() {}
