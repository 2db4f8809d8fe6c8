// The partner application's offer: MPEG, WMV and the split need it installed.
#include <QFileInfo>

#include "engine/platform/Platform.h"
#include "rules/PartnerInstaller.h"
#include "window/PartnerDownload.h"
#include "window/frmMain.h"

// True when the user declined: the caller then abandons its feature. On acceptance the
// installer is fetched if needed and started, and the program ends. Ending the program
// asks the event loop to quit and returns here, so the result is true on that path too:
// the caller must not start its feature while the program winds down. An installer this
// system cannot run (a program for another system) is reported and the program goes on.
bool frmMain::CHKPANDO() {
    const MsgResult answer =
        dialogs().MsgBox(QString::fromLatin1(kPartnerOfferText), MsgButtons::YesNo, MsgIcon::Question);
    if (answer != MsgResult::Yes) return true;

    const QString installer = platform().programFolder() + "/" + kPartnerInstallerName;
    if (!QFileInfo::exists(installer)) DownloadPartnerInstaller(partnerDownloadUrl(), installer, dialogs());
    if (unloaded_) return true;  // closed during the download: the program is ending already
    if (QFileInfo::exists(installer)) {
        // Started as its own process, without a shell and without waiting.
        if (!platform().canRun(installer) ||
            !platform().startDetached(installer, installerArguments(installerParameters(platform().tempFolder())))) {
            dialogs().MsgBox(QString::fromLatin1(kPartnerInstallerNotRunnableText), MsgButtons::Ok,
                             MsgIcon::Exclamation);
            return true;
        }
    }
    // Ends without Form_Unload, so nothing is saved on this path.
    endProgram();
    return true;
}
