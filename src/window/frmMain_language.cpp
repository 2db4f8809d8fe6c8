// Languages: the language list, the texts of the current language and applying them.
#include <QPixmap>

#include "engine/platform/Platform.h"
#include "rules/InfoTexts.h"
#include "settings/IniReader.h"
#include "settings/Languages.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

namespace {
const QString kSettingsKey = QStringLiteral("Software\\Halvorin\\Vantrel Settings");
}

QString frmMain::GetFromINI(const QString& Hd, const QString& ID) { return readIniText(CurLangPath, Hd, ID); }

QString frmMain::languageText(const QString& section, int key) {
    const bool added =
        section == QLatin1String("MSGX") ? key >= Msg::kFirstAddedMessage : key >= Caption::kFirstAddedCaption;
    if (!added) return GetFromINI(section, QString::number(key));
    return readAddedIniText(CurLangPath, platform().programFolder() + "/Languages/English.ini", section,
                            QString::number(key));
}

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
    // Each step stands alone: one that fails (a text the language file gets wrong, a reader
    // that cannot answer) is skipped and the others still apply.
    auto key = [&](int k) { return languageText("frmMain", k); };
    CurLangPath = platform().programFolder() + "/Languages/" + CurLang + ".ini";
    resumeNext("SetCaption: buttons", [&] {
        updateWindowTitle();
        cmdSavePictureAs->setText(key(Caption::SaveFrame));
        cmdCut->setText(key(Caption::Cut));
        cmdSplit->setText(key(Caption::Split));
        cmdCancel->setText(key(Caption::Cancel));
        lblVideoInfo->setCaption(key(Caption::VideoInformation));
        lblAudioInfo->setCaption(key(Caption::AudioInformation));
    });

    // Each option frame gets its caption while it is shown; the window ends on its format.
    const ::OutputFormat format = OutputFormat;
    resumeNext("SetCaption: AVI frames", [&] {
        ConvertTo(::OutputFormat::Avi);
        FrameOptVideoAvi->setTitle(key(Caption::VideoFormat));
        FrameOptAudioAvi->setTitle(key(Caption::AudioFormat));
    });
    resumeNext("SetCaption: MPEG frames", [&] {
        ConvertTo(::OutputFormat::Mpeg);
        FrameOptVideoMpeg->setTitle(key(Caption::VideoFormat));
        FrameOptAudioMpeg->setTitle(key(Caption::AudioFormat));
        FrameOptVersionMpeg->setTitle(key(Caption::MpegVersion));
    });
    resumeNext("SetCaption: WMV frame", [&] {
        ConvertTo(::OutputFormat::Wmv);
        FrameOptVideoWMV->setTitle(key(Caption::OutputVideoFormat));
    });
    // The source's own format: its button (and the skin's tab for it), frame and line.
    resumeNext("SetCaption: Original frame", [&] {
        cmdOptOriginal->setText(key(Caption::Original));
        if (auto* tab =
                qobject_cast<QAbstractButton*>(Skin1->skinButton(formatInfo(::OutputFormat::Original).skinButton)))
            tab->setText(cmdOptOriginal->text());
        FrameOptOriginal->setTitle(key(Caption::OriginalFrame));
        lblOriginalFormat->setCaption(key(Caption::OriginalExplanation));
        lblContainer->setCaption(key(Caption::Container));
        if (cmbContainer->count() > 0)
            cmbContainer->setItemText(0, key(Caption::AsTheSource).arg(sourceContainerExtension()));
    });
    resumeNext("SetCaption: ConvertTo", [&] { ConvertTo(format); });
    OutputFormat = format;

    resumeNext("SetCaption: labels", [&] {
        lblLang->setCaption(key(Caption::Language));
        lblFrameRate->setCaption(key(Caption::FrameRate));
        lblFrameRate2->setCaption(key(Caption::FrameRate));
        lblVideoBitrate->setCaption(key(Caption::VideoBitrate));
        lblChannels2->setCaption(key(Caption::Channels));
        lblChannels->setCaption(key(Caption::Channels));
        lblAudioBitrate->setCaption(key(Caption::AudioBitrate));
        lblAVICodec->setCaption(key(Caption::AviCodec));
        btnConfigureVideoCodec->setText(key(Caption::ConfigureCodec));
        cmdHelp->setText(key(Caption::About));
        cmdExit->setText(key(Caption::Exit));
    });
    resumeNext("SetCaption: size list", [&] {
        cmbVideoSize->setItemText(0, key(Caption::ViewSizeFirst));
        cmbVideoSize->setItemText(1, key(Caption::ViewSizeSecond));
        Skin1->SkinWindowAs(cmbVideoSize, "Button");
    });
    resumeNext("SetCaption: play", [&] {
        cmdPlayStop->setText(Playing ? key(Caption::Stop) : key(Caption::Play));
        cmdPlayStop->update();
        lblSldNo->setCaption(key(Caption::UsingSlider));
    });
    resumeNext("SetCaption: messages", [&] {
        for (int i = 0; i < Msg::Count; ++i) Messages[i] = languageText("MSGX", i);
    });
    resumeNext("SetCaption: pieces", [&] { setPieceCaptions(key); });

    if (FileLoaded) {
        resumeNext("SetCaption: position", [&] {
            const int p1 = selection_.marker(1), p2 = selection_.marker(2);
            showPosition(positionEnding_);  // the marker that moved last stays named
            update();
            sldThum->setToolTip(Messages[Msg::Marker] + ":" + QString::number(p1));
            sldThum2->setToolTip(Messages[Msg::Marker] + ":" + QString::number(p2));
        });
        resumeNext("SetCaption: source summary", [&] { LabelT->setCaption(sourceSummary(*VideoFileIn1, Messages)); });
        resumeNext("SetCaption: video information", [&] {
            EdInfoVideo->setText(VideoFileIn1->HasVideo() ? videoInformation(*VideoFileIn1, Messages) : QString());
        });
        resumeNext("SetCaption: audio information", [&] {
            EdInfoAudio->setText(VideoFileIn1->HasAudio() ? audioInformation(*VideoFileIn1, Messages) : QString());
        });
    } else {
        resumeNext("SetCaption: idle names", [&] {
            txtFile->setText(key(Caption::SelectInputFile));
            EdOutFile->setText(key(Caption::SelectOutputFile));
            EdOutFile2->setText(key(Caption::SelectOutputFile));
        });
    }
    resumeNext("SetCaption: fit captions", [&] { fitButtonCaptions(); });
    for (QWidget* w : std::initializer_list<QWidget*>{cmdCut, cmdSplit, cmdCancel, cmdExit, cmdHelp, cmdSavePictureAs})
        w->update();
    updateKeyTooltips();
}

void frmMain::fitButtonCaptions() {
    // A caption another language makes longer ("Exporter l'image") would be cut off at the
    // button's edge: its font gets smaller, half a point at a time, down to 6 points. A button
    // made smaller gets its own size back first, for a language whose caption fits.
    constexpr double kSmallest = 6;
    const char* const kOwnSize = "kvOwnPointSize";
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->ensurePolished();  // measured with the skin's padding, also while hidden
        QFont font = button->font();
        if (const QVariant own = button->property(kOwnSize); own.isValid()) {
            font.setPointSizeF(own.toDouble());
            button->setFont(font);
        }
        if (button->text().isEmpty() || font.pointSizeF() <= 0 || button->sizeHint().width() <= button->width())
            continue;
        if (!button->property(kOwnSize).isValid()) button->setProperty(kOwnSize, font.pointSizeF());
        while (button->sizeHint().width() > button->width() && font.pointSizeF() - 0.5 >= kSmallest) {
            font.setPointSizeF(font.pointSizeF() - 0.5);
            button->setFont(font);
        }
    }
}
