// The partner application's offer: MPEG, WMV and the split need it installed.
#include <QFileInfo>

#include "app/frmMain.h"
#include "engine/platform/Platform.h"
#include "partner/PartnerDownload.h"
#include "partner/PartnerInstaller.h"

// True when the user declined: the caller then abandons its feature. On acceptance the
// installer is fetched if needed and started, and the program ends. Ending the program
// asks the event loop to quit and returns here, so the result is true on that path too:
// the caller must not start its feature while the program winds down.
bool frmMain::CHKPANDO() {
    const MsgResult answer =
        dialogs().MsgBox(QString::fromLatin1(kPartnerOfferText), MsgButtons::YesNo, MsgIcon::Question);
    if (answer != MsgResult::Yes) return true;

    const QString installer = platform().programFolder() + "/" + kPartnerInstallerName;
    if (!QFileInfo::exists(installer)) DownloadPartnerInstaller(partnerDownloadUrl(), installer, dialogs());
    if (QFileInfo::exists(installer)) {
        // Started as its own process, without a shell and without waiting; a failed start
        // is not reported, the program ends anyway as the offer said.
        platform().startDetached(installer, installerArguments(installerParameters(platform().tempFolder())));
    }
    // Ends without Form_Unload, so nothing is saved on this path.
    endProgram();
    return true;
}
