// The partner application check and offer.
#include "app/frmMain.h"

bool frmMain::CHKPANDO() { return true; }
