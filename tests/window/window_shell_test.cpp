// Start-up, shut-down, languages, skin commands, About box and idle logo of the real window.
#include <gtest/gtest.h>
#include <QGroupBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "settings/AppSettings.h"
#include "settings/IniReader.h"
#include "support/Clips.h"
#include "support/FakePlatform.h"
#include "support/WindowHarness.h"
#include "window/ErrorPolicy.h"

namespace {

QString englishText(const QString& section, int key) {
    return readIniText(qEnvironmentVariable("KORVELIN_PROGRAM_DIR") + "/Languages/English.ini", section,
                       QString::number(key));
}

TEST(WindowStartup, FirstStartShowsTheIdleWindow) {
    WindowHarness h;
    frmMain& w = *h.window;
    EXPECT_EQ(w.CurLang, "English");
    EXPECT_EQ(w.cmbFramerateAVI->currentText(), "25.00");
    EXPECT_EQ(w.OutputFormat, OutputFormat::Avi);
    EXPECT_TRUE(w.FrameOptVideoAvi->isVisibleTo(&w));
    EXPECT_TRUE(w.FrameOptAudioAvi->isVisibleTo(&w));
    EXPECT_FALSE(w.FrameOptVideoMpeg->isVisibleTo(&w));
    EXPECT_FALSE(w.FrameOptVideoWMV->isVisibleTo(&w));
    EXPECT_TRUE(w.cmdOptAVI->font().bold());
    // Usable before a file is opened.
    for (QWidget* c : {(QWidget*)w.cmdFile, (QWidget*)w.cmbFramerateAVI, (QWidget*)w.optPCM, (QWidget*)w.LstLang})
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    // Disabled until a file is open.
    for (QWidget* c : {(QWidget*)w.cmdPlayStop, (QWidget*)w.cmdCut, (QWidget*)w.cmdSplit, (QWidget*)w.cmdCancel,
                       (QWidget*)w.cmdOutFile, (QWidget*)w.cmdOutFile2, (QWidget*)w.cmdSavePictureAs,
                       (QWidget*)w.cmbVideoSize, (QWidget*)w.cmbPlaySld, (QWidget*)w.sldThum, (QWidget*)w.sldThum2})
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    // Never visible.
    for (QWidget* c :
         {(QWidget*)w.SliderTimePosition1, (QWidget*)w.SliderTimePosition2, (QWidget*)w.Frame2, (QWidget*)w.cmdOptAVI,
          (QWidget*)w.cmdOptMPEG, (QWidget*)w.cmdOptWMV, (QWidget*)w.ProgressBar1, (QWidget*)w.File1})
        EXPECT_FALSE(c->isVisibleTo(&w)) << c->objectName().toStdString();
    EXPECT_TRUE(w.picScreen->isVisibleTo(&w));
    EXPECT_TRUE(w.Timer2->isActive());
    // Texts come from the language file.
    EXPECT_EQ(w.Messages[Msg::CutFinished], englishText("MSGX", 19));
    EXPECT_NE(w.Messages[Msg::CutFinished], "Default");
    EXPECT_EQ(w.cmdCut->text(), englishText("frmMain", 9));
    EXPECT_EQ(w.txtFile->text(), englishText("frmMain", 6));
    EXPECT_EQ(w.windowTitle(), englishText("frmMain", 0));
    // Lists chosen at start-up.
    EXPECT_EQ(w.cmbAudioBitrateMPEG->currentText(), "128");
    EXPECT_EQ(w.cmbVideoBitrateMPEG->currentText(), "1150");
    EXPECT_EQ(w.cmbFramerateMPEG->currentText(), "29.97");
    EXPECT_EQ(w.cmbCnannelsAVI->currentText(), "Stereo");
    EXPECT_EQ(w.cmbPlaySld->currentText(), "1");
    EXPECT_EQ(w.cmbVideoSize->currentIndex(), 0);
    EXPECT_EQ(w.OutputExtensions[1], "mpeg");
    EXPECT_FALSE(w.PartnerAppPresent);
    // The engine lists show their item 0, the engine's last codec and profile.
    ASSERT_GT(w.cmbAVICodecs->count(), 5);
    EXPECT_EQ(w.cmbAVICodecs->currentIndex(), 0);
    EXPECT_EQ(w.VideoFileOut->VideoCodec(), w.VideoFileOut->VideoCodecCount());
    ASSERT_GE(w.cmbWMVCodecs->count(), 5);
    EXPECT_EQ(w.cmbWMVCodecs->currentIndex(), 0);
}

TEST(WindowStartup, FrameRateChoiceSurvivesARestartThroughTheWindow) {
    WindowHarness h;
    h.window->setListIndex(h.window->cmbFramerateAVI, 6);
    h.closeWindow();
    EXPECT_EQ(h.programEnds, 1);
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "VideoFrameRate", "?"), "6");
    ASSERT_TRUE(h.start());
    EXPECT_EQ(h.window->cmbFramerateAVI->currentText(), "29.97");
}

TEST(WindowStartup, AStoredFrameRateThatIsNoIndexFallsBackToTheDefaultItem) {
    for (const QString stored : {"99", "abc", "", "-1"}) {
        WindowHarness h(false);
        SaveSetting("Korvelin", "Settings", "VideoFrameRate", stored);
        ASSERT_TRUE(h.start());
        EXPECT_EQ(h.window->cmbFramerateAVI->currentText(), "25.00") << stored.toStdString();
        h.closeWindow();
        EXPECT_EQ(GetSetting("Korvelin", "Settings", "VideoFrameRate"), "5");
    }
}

TEST(WindowStartup, PartnerPresenceComesFromTheRegistry) {
    {
        WindowHarness h(false);
        h.registry().writeValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pando", "", "Pando.File");
        ASSERT_TRUE(h.start());
        EXPECT_TRUE(h.window->PartnerAppPresent);
    }
    {
        WindowHarness h(false);
        h.registry().writeValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pando", "", "");
        ASSERT_TRUE(h.start());
        EXPECT_FALSE(h.window->PartnerAppPresent);
    }
}

TEST(WindowStartup, ASecondCopyEndsAtOnceAndTouchesNothing) {
    WindowHarness first;
    WindowHarness second(false);
    qputenv("KORVELIN_LOCK_DIR", (first.home.path() + "/lock").toUtf8());
    EXPECT_FALSE(second.start());
    second.window.reset();
    EXPECT_EQ(second.programEnds, 0);
    EXPECT_TRUE(QDir(second.home.path() + "/settings").isEmpty());
    EXPECT_TRUE(QDir(second.home.path() + "/registry").isEmpty());
}

TEST(WindowLanguages, ASwitchChangesEveryCaptionAndPersists) {
    WindowHarness h;
    frmMain& w = *h.window;
    const int deutsch = w.LstLang->findText("Deutsch");
    ASSERT_GE(deutsch, 0);
    ASSERT_GE(w.LstLang->findText(QString::fromUtf8("Français")), 0);
    const QString englishCut = w.cmdCut->text();
    w.setListIndex(w.LstLang, deutsch);
    EXPECT_EQ(w.CurLang, "Deutsch");
    EXPECT_NE(w.cmdCut->text(), englishCut);
    EXPECT_EQ(w.cmdCut->text(), readIniText(w.CurLangPath, "frmMain", "9"));
    EXPECT_EQ(w.Messages[Msg::JobCancelled], readIniText(w.CurLangPath, "MSGX", "21"));
    EXPECT_EQ(w.lblSldNo->caption(), readIniText(w.CurLangPath, "frmMain", "31"));
    EXPECT_EQ(h.registry().readValue(HKEY_LOCAL_MACHINE, "Software\\Halvorin\\Vantrel Settings", "Lang"),
              QString("Deutsch"));
    h.closeWindow();
    ASSERT_TRUE(h.start());
    EXPECT_EQ(h.window->CurLang, "Deutsch");
    EXPECT_EQ(h.window->LstLang->currentText(), "Deutsch");
}

// What of a control's caption does not fit it; empty when all of it does. Numbers count as five
// digits of the widest figure, as a source of up to 99999 frames (an hour at 25 fps) shows them.
QString clippedCaption(QWidget* c) {
    static const QRegularExpression number("\\d+(?!\\d*#)");  // not a marker's own number ("2#")
    if (auto* info = qobject_cast<TextBox*>(c)) {             // "label<TAB>value" lines: the labels fit their column
        const QFontMetricsF fm(info->font());
        for (const QString& line : displayLines(info->text()).split(u'\n'))
            if (fm.horizontalAdvance(line.section(u'\t', 0, 0) + u' ') > info->tabStopDistance()) return line;
        return {};
    }
    if (auto* label = qobject_cast<QLabel*>(c)) {
        const QString text = QString(label->text()).replace(number, "88888");
        const QRect room = label->contentsRect();
        const QRect needed = label->fontMetrics().boundingRect(
            room, Qt::AlignLeft | Qt::AlignTop | (label->wordWrap() ? Qt::TextWordWrap : 0), text);
        return needed.width() <= room.width() && needed.height() <= room.height() ? QString() : text;
    }
    if (auto* button = qobject_cast<QPushButton*>(c))  // centred, with a few pixels of frame each side
        return button->fontMetrics().horizontalAdvance(button->text()) <= button->width() - 8 ? QString()
                                                                                              : button->text();
    if (auto* button = qobject_cast<QAbstractButton*>(c))
        return button->sizeHint().width() <= button->width() ? QString() : button->text();
    if (auto* frame = qobject_cast<QGroupBox*>(c))
        return frame->minimumSizeHint().width() <= frame->width() ? QString() : frame->title();
    return {};
}

// Every caption fits its control in every language, whichever format's options show and with a
// source open; the lists of the engine's codecs and profiles hold names, not captions.
TEST(WindowLanguages, EveryCaptionFitsItsControl) {
    WindowHarness h;
    frmMain& w = *h.window;
    w.PartnerAppPresent = true;
    ASSERT_EQ(w.LstLang->count(), 3);
    for (int language = 0; language < w.LstLang->count(); ++language) {
        w.setListIndex(w.LstLang, language);
        w.OpenSourceVideo(clips::get("avi_mjpeg_pcm").path);
        ASSERT_TRUE(w.FileLoaded);
        for (OutputFormat format : {OutputFormat::Avi, OutputFormat::Mpeg, OutputFormat::Wmv, OutputFormat::Original}) {
            w.chooseOutputFormat(format);
            for (QWidget* c : w.findChildren<QWidget*>()) {
                if (!c->isVisibleTo(&w)) continue;
                auto* list = qobject_cast<QComboBox*>(c);
                const QString clipped = !list                                              ? clippedCaption(c)
                                        : list == w.cmbAVICodecs || list == w.cmbWMVCodecs ? QString()
                                        : list->sizeHint().width() <= list->width()        ? QString()
                                                                                           : list->currentText();
                EXPECT_TRUE(clipped.isEmpty())
                    << w.CurLang.toStdString() << " " << c->objectName().toStdString() << ": " << clipped.toStdString();
            }
        }
    }
}

// Keys the program added after the first language files fall back to English instead.
TEST(WindowLanguages, MissingKeysShowDefaultAndTheNameIsCaseSensitive) {
    {
        WindowHarness h(false);
        const QString program = h.makeProgramFolder();
        QFile partial(program + "/Languages/Partial.ini");
        ASSERT_TRUE(partial.open(QIODevice::WriteOnly));
        partial.write("[frmMain]\n9=Schneiden\n");
        partial.close();
        h.registry().writeValue(HKEY_LOCAL_MACHINE, "Software\\Halvorin\\Vantrel Settings", "Lang", "Partial");
        ASSERT_TRUE(h.start());
        frmMain& w = *h.window;
        EXPECT_EQ(w.LstLang->currentText(), "Partial");  // listed although it has no picture
        EXPECT_EQ(w.cmdCut->text(), "Schneiden");
        EXPECT_EQ(w.cmdSplit->text(), "Default");
        const QString english = program + "/Languages/English.ini";
        for (int i = 0; i < Msg::Count; ++i) {
            const QString expected =
                i < Msg::kFirstAddedMessage ? QString("Default") : readIniText(english, "MSGX", QString::number(i));
            EXPECT_EQ(w.Messages[i], expected) << i;
        }
        EXPECT_NE(w.Messages[Msg::EdgesNeedEncoder], "Default");
        EXPECT_EQ(w.cmdOptOriginal->text(), readIniText(english, "frmMain", "32"));
        EXPECT_EQ(w.lblOriginalFormat->caption(), readIniText(english, "frmMain", "34"));
        EXPECT_NE(w.lblOriginalFormat->caption(), "Default");
    }
    {
        WindowHarness h(false);
        h.registry().writeValue(HKEY_LOCAL_MACHINE, "Software\\Halvorin\\Vantrel Settings", "Lang", "english");
        ASSERT_TRUE(h.start());
        EXPECT_EQ(h.window->LstLang->currentIndex(), -1);
        EXPECT_EQ(h.window->cmdCut->text(), "Default");
    }
}

TEST(WindowSkin, OnlyTheExactElementNamesAct) {
    FakePlatform fake;
    fake.handlers["application/vnd.ms-htmlhelp"] = "xchm.desktop";
    WindowHarness h;
    frmMain& w = *h.window;
    w.PartnerAppPresent = true;
    w.Skin1_ElementClick(SkinElement("help"));
    w.Skin1_ElementClick(SkinElement("WMVbutton"));
    EXPECT_FALSE(w.helpLookupRunning());
    EXPECT_EQ(w.OutputFormat, OutputFormat::Avi);
    w.Skin1_ElementClick(SkinElement("Help"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.helpLookupRunning(); }, 10000));
    ASSERT_EQ(fake.openedDocuments.size(), 1);
    EXPECT_TRUE(fake.openedDocuments[0].endsWith("/kvl.chm"));
    w.Skin1_ElementClick(SkinElement("wmvbutton"));
    EXPECT_EQ(w.OutputFormat, OutputFormat::Wmv);
    EXPECT_TRUE(w.FrameOptVideoWMV->isVisibleTo(&w));
    w.cmdOptAVI->setEnabled(false);
    w.Skin1_ElementClick(SkinElement("avibutton"));
    EXPECT_EQ(w.OutputFormat, OutputFormat::Wmv);
    w.cmdOptAVI->setEnabled(true);
    w.Skin1_ElementClick(SkinElement("avibutton"));
    EXPECT_EQ(w.OutputFormat, OutputFormat::Avi);
    EXPECT_TRUE(h.messages().isEmpty());
}

// Opens the About box through the skin, reads its texts and closes it with OK.
QStringList aboutTexts(frmMain& w) {
    QStringList texts;
    QTimer::singleShot(0, [&] {
        frmAbout* about = w.aboutBox();
        ASSERT_NE(about, nullptr);
        texts << about->windowTitle() << about->Label1->caption() << about->Label4->caption()
              << about->Label3->caption() << about->Label5->caption() << about->Label7->caption();
        about->cmdOK->click();
    });
    w.Skin1_ElementClick(SkinElement("about"));
    return texts;
}

TEST(WindowAbout, ShowsTheLanguageTextsAndTheShortVersion) {
    WindowHarness h;
    const QStringList first = aboutTexts(*h.window);
    ASSERT_EQ(first.size(), 6);
    EXPECT_EQ(first[0], h.window->Messages[Msg::AboutTitle]);
    EXPECT_EQ(first[1], h.window->Messages[Msg::Version] + " 2.6.1");
    EXPECT_TRUE(first[2].startsWith(h.window->Messages[Msg::Copyright]));
    EXPECT_EQ(first[3], h.window->Messages[Msg::AboutDescription]);
    EXPECT_EQ(first[5], h.window->Messages[Msg::AboutSaveFrame]);
    EXPECT_EQ(h.window->aboutBox(), nullptr);  // unloaded by OK
    EXPECT_EQ(aboutTexts(*h.window), first);
}

TEST(WindowAbout, MissingKeysReadDefault) {
    WindowHarness h(false);
    const QString program = h.makeProgramFolder();
    QFile bare(program + "/Languages/Bare.ini");
    ASSERT_TRUE(bare.open(QIODevice::WriteOnly));
    bare.write("[frmMain]\n0=Korvelin\n");
    bare.close();
    h.registry().writeValue(HKEY_LOCAL_MACHINE, "Software\\Halvorin\\Vantrel Settings", "Lang", "Bare");
    ASSERT_TRUE(h.start());
    const QStringList texts = aboutTexts(*h.window);
    ASSERT_EQ(texts.size(), 6);
    EXPECT_EQ(texts[0], "Default");
    EXPECT_EQ(texts[1], "Default 2.6.1");
}

TEST(WindowLogo, SwingsBetweenItsLimitsWithTheLinesFollowing) {
    WindowHarness h;
    frmMain& w = *h.window;
    w.Timer2->stop();
    ASSERT_EQ(w.lblLogo->Left(), 60);
    float lowest = 1e9, highest = -1e9;
    bool checkedLines = false;
    for (int tick = 0; tick < 400; ++tick) {
        w.Timer2_Timer();
        lowest = std::min(lowest, w.lblLogo->Left());
        highest = std::max(highest, w.lblLogo->Left());
        if (w.lblLogo->Left() == 1200) {
            EXPECT_EQ(w.Line1->X1(), 1230);
            EXPECT_EQ(w.Line1->X2(), 4575);
            EXPECT_EQ(w.Line2->X1(), 1230);
            EXPECT_EQ(w.Line2->X2(), 4575);
            checkedLines = true;
        }
    }
    EXPECT_EQ(highest, 1200);
    EXPECT_EQ(lowest, -15);
    EXPECT_TRUE(checkedLines);
    // The first ticks: 75, 90, ... and the turn at 1200.
    WindowHarness fresh;
    fresh.window->Timer2->stop();
    fresh.window->Timer2_Timer();
    EXPECT_EQ(fresh.window->lblLogo->Left(), 75);
}

}  // namespace

TEST(WindowLog, SwallowedFailuresAreLoggedWithTheirStepOnlyWhenEnabled) {
    static QStringList logged;
    const auto previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& m) {
        if (QByteArray(context.category) == "korvelin.window") logged << m;
    });
    auto fail = [] { throw MediaError("broken"); };
    resumeNext("test step", fail);
    EXPECT_TRUE(logged.isEmpty());  // off by default
    QLoggingCategory::setFilterRules("korvelin.window.debug=true");
    resumeNext("test step", fail);
    EXPECT_FALSE(endQuietly("test body", fail));
    QLoggingCategory::setFilterRules({});
    qInstallMessageHandler(previous);
    EXPECT_EQ(logged, (QStringList{"test step failed: broken", "test body failed: broken"}));
}
