// Languages: the language list, the texts of the current language and applying them.
#include <QPixmap>

#include "app/frmMain.h"
#include "engine/platform/Platform.h"
#include "settings/IniReader.h"
#include "settings/Languages.h"
#include "source/InfoTexts.h"

namespace {
const QString kSettingsKey = QStringLiteral("Software\\Halvorin\\Vantrel Settings");
}

QString frmMain::GetFromINI(const QString& Hd, const QString& ID) { return readIniText(CurLangPath, Hd, ID); }

void frmMain::Load_Language() {
    const QString folder = platform().programFolder() + "/Languages";
    const QList<LanguageFile> languages = listLanguageFiles(folder);
    File1->clear();
    for (const auto& language : languages) File1->addItem(language.fileName);
    // One picture per language; a language without its picture is listed without one.
    for (const auto& language : languages)
        Imgl.append(language.picture.isNull() ? QIcon() : QIcon(QPixmap::fromImage(language.picture)));
    LstLang->setIconSize(QSize(24, 16));
    int chosen = -1;  // a stored language without a file selects nothing
    for (int i = 0; i < languages.size(); ++i) {
        LstLang->addItem(Imgl.value(LstLang->count()), languages[i].name);
        if (languages[i].name == CurLang) chosen = LstLang->count() - 1;
    }
    LstLang->setCurrentIndex(chosen);
}

void frmMain::LstLang_Click() {
    CurLang = LstLang->currentText();
    SetCaption();
    if (!Registry) Registry = std::make_unique<CRegister>();
    Registry->REGSaveSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", LstLang->currentText());
}

void frmMain::SetCaption() {
    auto key = [&](int k) { return GetFromINI("frmMain", QString::number(k)); };
    CurLangPath = platform().programFolder() + "/Languages/" + CurLang + ".ini";
    setWindowTitle(key(0));
    cmdSavePictureAs->setText(key(7));
    cmdCut->setText(key(9));
    cmdSplit->setText(key(10));
    cmdCancel->setText(key(11));
    lblVideoInfo->setCaption(key(12));
    lblAudioInfo->setCaption(key(13));

    // Each option frame gets its caption while it is shown; the window ends on its format.
    const int16_t format = OutputFormat;
    ConvertTo(0);
    FrameOptVideoAvi->setTitle(key(14));
    FrameOptAudioAvi->setTitle(key(15));
    ConvertTo(1);
    FrameOptVideoMpeg->setTitle(key(14));
    FrameOptAudioMpeg->setTitle(key(15));
    FrameOptVersionMpeg->setTitle(key(16));
    ConvertTo(2);
    FrameOptVideoWMV->setTitle(key(17));
    ConvertTo(format);

    lblLang->setCaption(key(18));
    lblFrameRate->setCaption(key(19));
    lblFrameRate2->setCaption(key(19));
    lblVideoBitrate->setCaption(key(20));
    lblChannels2->setCaption(key(21));
    lblChannels->setCaption(key(21));
    lblAudioBitrate->setCaption(key(22));
    lblAVICodec->setCaption(key(23));
    btnConfigureVideoCodec->setText(key(24));
    cmdHelp->setText(key(25));
    cmdExit->setText(key(26));
    cmbVideoSize->setItemText(0, key(27));
    cmbVideoSize->setItemText(1, key(28));
    Skin1->SkinWindowAs(cmbVideoSize, "Button");
    cmdPlayStop->setText(Playing ? key(30) : key(29));
    cmdPlayStop->update();
    lblSldNo->setCaption(key(31));
    for (int i = 0; i < 35; ++i) Messages[i] = GetFromINI("MSGX", QString::number(i));

    if (FileLoaded) {
        const int p1 = SliderTimePosition1->value(), p2 = SliderTimePosition2->value();
        LabelS->setCaption(positionLabel({}));
        LabelT->setCaption(sourceSummary(*VideoFileIn1, Messages));
        update();
        sldThum->setToolTip(Messages[9] + ":" + QString::number(p1));
        sldThum2->setToolTip(Messages[9] + ":" + QString::number(p2));
        EdInfoVideo->setText(VideoFileIn1->HasVideo() ? videoInformation(*VideoFileIn1, Messages) : QString());
        EdInfoAudio->setText(VideoFileIn1->HasAudio() ? audioInformation(*VideoFileIn1, Messages) : QString());
    } else {
        txtFile->setText(key(6));
        EdOutFile->setText(key(8));
        EdOutFile2->setText(key(8));
    }
    for (QWidget* w : std::initializer_list<QWidget*>{cmdCut, cmdSplit, cmdCancel, cmdExit, cmdHelp, cmdSavePictureAs})
        w->update();
}
