// Output format, output names and the two save dialogs.
#include "rules/OutputNames.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

namespace {
// The entries of the writer's formats; the source's own format follows as the last entry.
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

void frmMain::ConvertTo(::OutputFormat Ind) {
    OutputFormat = Ind;
    for (const OutputFormatInfo& info : kOutputFormats) {
        setBold(formatButton(info.format), false);
        for (QGroupBox* f : formatOptionFrames(info.format)) f->hide();
    }
    for (QGroupBox* f : formatOptionFrames(Ind)) f->show();
    setBold(formatButton(Ind), true);
    endQuietly("ConvertTo: rewrite extensions", [&] {
        // The extension piece of the first name's file name is rewritten in both names.
        QString oldPiece;
        if (!extensionPiece(EdOutFile->text(), &oldPiece)) return;
        const QString& ext = OutputExtensions.at(size_t(OutputFormat));
        EdOutFile->setText(rewriteExtension(EdOutFile->text(), oldPiece, ext));
        EdOutFile2->setText(rewriteExtension(EdOutFile2->text(), oldPiece, ext));
    });
}

void frmMain::chooseOutputFormat(::OutputFormat format) {
    if (formatInfo(format).needsPartner && !PartnerAppPresent && CHKPANDO()) return;
    ConvertTo(format);
}

void frmMain::cmdOptAVI_Click() { chooseOutputFormat(::OutputFormat::Avi); }
void frmMain::cmdOptMPEG_Click() { chooseOutputFormat(::OutputFormat::Mpeg); }
void frmMain::cmdOptWMV_Click() { chooseOutputFormat(::OutputFormat::Wmv); }
void frmMain::cmdOptOriginal_Click() { chooseOutputFormat(::OutputFormat::Original); }

void frmMain::cmdOutFile_Click() { showOutputSaveDialog(EdOutFile, cmdCut); }
void frmMain::cmdOutFile2_Click() { showOutputSaveDialog(EdOutFile2, cmdSplit); }

void frmMain::showOutputSaveDialog(QLineEdit* edit, QPushButton* jobButton) {
    endQuietly("save dialog", [&] {
        FileDialogState& d = dialogs().state;
        d.FileName.clear();
        d.DialogTitle = "Select Output Video File";
        d.FileName = edit->text();
        d.Flags = 2;
        const QString own = "*." + OutputExtensions.at(size_t(::OutputFormat::Original));
        d.Filter = kOutputFilter + cmdOptOriginal->text() + " (" + own + ")|" + own + "|";
        d.FilterIndex = formatInfo(OutputFormat).saveFilterIndex;
        dialogs().ShowSave();
        if (!d.FileName.isEmpty()) {
            edit->setText(d.FileName);
            jobButton->setEnabled(true);
        }
    });
}
