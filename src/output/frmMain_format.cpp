// Output format, output names and the two save dialogs.
#include "app/ErrorPolicy.h"
#include "app/frmMain.h"
#include "output/OutputNames.h"

namespace {
const QString kOutputFilter =
    "All Movie Files |*.avi;*.mpg;*.mpeg;*.wmv;*.wma;*.asf;*.mov;*.qt|AVI Files (*.avi)|*.avi|Mpeg files (*.mpg, "
    "*.mpeg)|*.mpg; *.mpeg|Windows Media files (*.wmv, *.wma, *.asf)|*.wmv; *.wma; *.asf|Quick Time Files (*.mov, "
    "*.qt)|*.mov; *.qt|";

void setBold(QPushButton* button, bool bold) {
    QFont f = button->font();
    f.setBold(bold);
    button->setFont(f);
}
}  // namespace

void frmMain::ConvertTo(int16_t Ind) {
    OutputFormat = Ind;
    for (auto* b : {cmdOptAVI, cmdOptMPEG, cmdOptWMV}) setBold(b, false);
    for (auto* f : {FrameOptAudioAvi, FrameOptVideoAvi, FrameOptAudioMpeg, FrameOptVideoMpeg, FrameOptVersionMpeg,
                    FrameOptVideoWMV})
        f->hide();
    switch (Ind) {
        case 0:
            FrameOptAudioAvi->show();
            FrameOptVideoAvi->show();
            setBold(cmdOptAVI, true);
            break;
        case 1:
            FrameOptAudioMpeg->show();
            FrameOptVideoMpeg->show();
            FrameOptVersionMpeg->show();
            setBold(cmdOptMPEG, true);
            break;
        case 2:
            FrameOptVideoWMV->show();
            setBold(cmdOptWMV, true);
            break;
    }
    endQuietly([&] {
        // The extension piece of the first name's file name is rewritten in both names.
        QString oldPiece;
        if (!extensionPiece(EdOutFile->text(), &oldPiece)) return;
        const QString& ext = OutputExtensions.at(OutputFormat);
        EdOutFile->setText(rewriteExtension(EdOutFile->text(), oldPiece, ext));
        EdOutFile2->setText(rewriteExtension(EdOutFile2->text(), oldPiece, ext));
    });
}

void frmMain::cmdOptAVI_Click() { ConvertTo(0); }

void frmMain::cmdOptMPEG_Click() {
    if (!PartnerAppPresent && CHKPANDO()) return;
    ConvertTo(1);
}

void frmMain::cmdOptWMV_Click() {
    if (!PartnerAppPresent && CHKPANDO()) return;
    ConvertTo(2);
}

void frmMain::cmdOutFile_Click() { showOutputSaveDialog(EdOutFile, cmdCut); }
void frmMain::cmdOutFile2_Click() { showOutputSaveDialog(EdOutFile2, cmdSplit); }

void frmMain::showOutputSaveDialog(QLineEdit* edit, QPushButton* jobButton) {
    endQuietly([&] {
        FileDialogState& d = dialogs().state;
        d.FileName.clear();
        d.DialogTitle = "Select Output Video File";
        d.FileName = edit->text();
        d.Flags = 2;
        d.Filter = kOutputFilter;
        d.FilterIndex = OutputFormat + 2;
        dialogs().ShowSave();
        if (!d.FileName.isEmpty()) {
            edit->setText(d.FileName);
            jobButton->setEnabled(true);
        }
    });
}
