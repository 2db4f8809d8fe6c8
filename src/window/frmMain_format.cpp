// Output format, output names and the two save dialogs.
#include "rules/OutputNames.h"
#include "rules/TextKeys.h"
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
    rewriteOutputExtensions();
}

void frmMain::rewriteOutputExtensions() {
    endQuietly("rewrite extensions", [&] {
        // The extension piece of the first name's file name is rewritten in both names.
        QString oldPiece;
        if (!extensionPiece(EdOutFile->text(), &oldPiece)) return;
        const QString& ext = OutputExtensions.at(size_t(OutputFormat));
        EdOutFile->setText(rewriteExtension(EdOutFile->text(), oldPiece, ext));
        EdOutFile2->setText(rewriteExtension(EdOutFile2->text(), oldPiece, ext));
    });
}

QString frmMain::chosenContainer() const { return cmbContainer->currentData().toString(); }

// The Original format's names take the chosen container's extension (the source's own for
// the first item).
void frmMain::cmbContainer_Click() {
    const QString chosen = chosenContainer();
    OutputExtensions.at(size_t(::OutputFormat::Original)) = chosen.isEmpty() ? sourceContainerExtension() : chosen;
    if (OutputFormat == ::OutputFormat::Original) rewriteOutputExtensions();
}

QString frmMain::sourceContainerExtension() const {
    const QString own = sourceExtension(txtFile->text());
    return own.isEmpty() ? QString::fromLatin1(formatInfo(::OutputFormat::Original).extension) : own;
}

void frmMain::fillContainerList() {
    cmbContainer->clear();
    const QString own = sourceContainerExtension();
    QStringList carriers;
    resumeNext("fillContainerList: containers", [&] {
        if (const auto source = VideoFileIn1->openedSource()) carriers = OriginalJob::containersFor(*source);
    });
    for (const QString& extension : originalContainerChoices(own, carriers))
        cmbContainer->addItem(extension.isEmpty() ? languageText("frmMain", Caption::AsTheSource).arg(own)
                                                  : containerShownName(extension),
                              extension);
    cmbContainer->setCurrentIndex(0);
    OutputExtensions.at(size_t(::OutputFormat::Original)) = own;
}

// A name chosen in the save dialog whose extension names a container of the list chooses it
// (else the source's own, and the name's extension decides): list and name never disagree.
void frmMain::followNameWithContainer(const QString& name) {
    if (cmbContainer->count() == 0) return;
    QStringList choices;
    for (int i = 0; i < cmbContainer->count(); ++i) choices << cmbContainer->itemData(i).toString();
    cmbContainer->setCurrentIndex(containerChoiceForName(choices, name));
    const QString chosen = chosenContainer();
    OutputExtensions.at(size_t(::OutputFormat::Original)) = chosen.isEmpty() ? sourceContainerExtension() : chosen;
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
            if (OutputFormat == ::OutputFormat::Original && edit == EdOutFile) followNameWithContainer(d.FileName);
        }
    });
}
