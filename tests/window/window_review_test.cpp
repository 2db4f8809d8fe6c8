// The window's handling of the rough cases: failures inside event handlers, a close in the
// middle of a drag, sources with gaps, output names that were taken, picture formats, start-up
// settings and language files that do not fit, and the edge cases of the handlers.
#include <QCloseEvent>
#include <QDir>
#include <QLocale>
#include <QScreen>
#include <QTest>

#include "app/CommandLine.h"
#include "rules/OutputNames.h"
#include "settings/AppSettings.h"
#include "support/ClipCopies.h"
#include "support/ForwardingReader.h"
#include "window/JobsTestSupport.h"

using namespace jobstest;

namespace {

const clips::Clip& pcmClip() {
    static const clips::Clip clip = clips::get("avi_mjpeg_pcm");  // 100 frames, 25 fps, 44.1 kHz stereo
    return clip;
}

// A clip with a gap in its pictures, as phones record them: frames 1..25 at 25 fps, then one
// second without pictures, then frames 26..50 (at 2.00 s .. 2.96 s); sound throughout (3 s).
const clips::Clip& gapClip() {
    static const clips::Clip clip =
        clips::make("mkv_gap", "mkv", 320, 240, 25, 75, true,
                    {"-vf", "setpts='PTS+gte(N,25)/TB'", "-fps_mode", "vfr", "-c:v", "libx264", "-preset", "ultrafast",
                     "-pix_fmt", "yuv420p", "-c:a", "libvorbis"});
    return clip;
}

// A reader whose answers a test can spoil.
struct SpoilableReader : ForwardingReader {
    bool noFrames = false;       // ReadVideoFrame returns nothing
    int lastFrame = 0;           // > 0: the video ends after this frame
    bool failCodecName = false;  // VideoCodecName throws
    int* closes = nullptr;       // counts CloseFile
    FrameData ReadVideoFrame() override {
        if (noFrames || (lastFrame > 0 && real->CurrentFrame() >= lastFrame)) return {};
        return real->ReadVideoFrame();
    }
    QString VideoCodecName() const override {
        if (failCodecName) throw MediaError("codec name unavailable");
        return real->VideoCodecName();
    }
    void CloseFile() override {
        if (closes) ++*closes;
        real->CloseFile();
    }
};

// A started window with a spoilable reader and a tapped writer.
struct ReviewWindow {
    SpoilableReader* reader = nullptr;  // owned by the window
    WriterTap* tap = nullptr;           // owned by the window
    int writerCloses = 0;
    WindowHarness harness{true, [this](WindowServices& s) {
                              s.makeReader = [this] {
                                  auto r = std::make_unique<SpoilableReader>();
                                  reader = r.get();
                                  return r;
                              };
                              s.makeWriter = [this] {
                                  struct CountingTap : WriterTap {
                                      int* count;
                                      explicit CountingTap(int* c) : count(c) {}
                                      void CloseFile() override {
                                          ++*count;
                                          WriterTap::CloseFile();
                                      }
                                  };
                                  auto w = std::make_unique<CountingTap>(&writerCloses);
                                  tap = w.get();
                                  return w;
                              };
                          }};
    QTemporaryDir out;
    frmMain& w = *harness.window;

    QString path(const QString& name) const { return out.path() + "/" + name; }
    void open(const QString& file) {
        w.OpenSourceVideo(file);
        ASSERT_TRUE(w.FileLoaded) << harness.messages().join(" | ").toStdString();
        harness.dialogs.shownMessages.clear();
    }
    void chooseOutput(const QString& name, int which = 1) {
        harness.dialogs.fileAnswers = {{path(name), 0}};
        which == 1 ? w.cmdOutFile_Click() : w.cmdOutFile2_Click();
    }
    QStringList messages() const { return harness.messages(); }
    void chooseLanguage(const QString& name) {
        const int index = w.LstLang->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        w.LstLang->setCurrentIndex(index);
        emit w.LstLang->activated(index);  // as a user's choice does
    }
};

double audioSeconds(const QString& path, int rate = 44100) { return double(audioSamples(path)) / rate; }

QByteArray head(const QString& path, int n) { return fileBytes(path).left(n); }

}  // namespace

// A failed open after a good one, whose file is gone by then, leaves the window idle with
// every control that needs a source disabled; a handler that still reaches the closed reader
// reports the failure and the window goes on.
TEST(WindowReview, IdleAfterFailedOpensDisablesSourceControlsAndHandlersNeverThrow) {
    ReviewWindow r;
    const QString a = copyClipTo(pcmClip().path, r.harness.home.path() + "/a.avi");
    r.open(a);
    QFile::remove(a);
    const QString damaged = writeTextFile(r.harness.home.path() + "/damaged.avi", "RIFF, but nothing more\n");
    r.w.OpenSourceVideo(damaged);
    EXPECT_EQ(r.messages().size(), 2);  // the damaged file, then the previous one
    ASSERT_FALSE(r.w.FileLoaded);
    const std::initializer_list<QWidget*> needSource{r.w.cmdPlayStop, r.w.cmbPlaySld, r.w.cmdSavePictureAs,
                                                     r.w.sldThum,     r.w.sldThum2,   r.w.cmbVideoSize,
                                                     r.w.cmdCut,      r.w.cmdSplit};
    for (QWidget* c : needSource) EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    r.w.StopPlayback();
    EXPECT_FALSE(r.w.sldThum->isEnabled());
    EXPECT_FALSE(r.w.sldThum2->isEnabled());

    // Should a thumb still be dragged, the failure ends in a message box, not in Qt's event loop.
    r.harness.dialogs.shownMessages.clear();
    r.w.sldThum->setEnabled(true);
    const QPoint grip = r.w.sldThum->rect().center();
    QTest::mousePress(r.w.sldThum, Qt::LeftButton, {}, grip);
    QTest::mouseMove(r.w.sldThum, grip + QPoint(12, 0));
    QTest::mouseRelease(r.w.sldThum, Qt::LeftButton, {}, grip + QPoint(12, 0));
    ASSERT_EQ(r.messages().size(), 1);
    EXPECT_TRUE(r.messages()[0].startsWith(r.w.Messages[Msg::OperationFailed] + " ")) << r.messages()[0].toStdString();
    EXPECT_TRUE(r.messages()[0].contains("No video file is open"));
    EXPECT_FALSE(r.w.MoveShape);
    // The window is usable: a good file opens.
    r.open(pcmClip().path);
    EXPECT_TRUE(r.w.sldThum->isEnabled());
    EXPECT_TRUE(r.w.cmdPlayStop->isEnabled());
}

// A close that arrives while a thumb drag yields ends the drag without touching the released
// reader.
TEST(WindowReview, ClosingDuringAThumbDragEndsTheDragQuietly) {
    ReviewWindow r;
    r.open(pcmClip().path);
    const QPoint grip = r.w.sldThum->rect().center();
    QTest::mousePress(r.w.sldThum, Qt::LeftButton, {}, grip);
    QCoreApplication::postEvent(&r.w, new QCloseEvent);
    QTest::mouseMove(r.w.sldThum, grip + QPoint(30, 0));
    EXPECT_TRUE(r.w.unloaded());
    EXPECT_EQ(r.harness.programEnds, 1);
    EXPECT_FALSE(r.w.VideoFileIn1);
    QTest::mouseRelease(r.w.sldThum, Qt::LeftButton, {}, grip + QPoint(30, 0));
    EXPECT_TRUE(r.messages().isEmpty());
}

// On a source with a one-second gap the cut's sound ends with its last frame, and a split's
// second file starts its sound at the split frame's own time.
TEST(WindowReview, CutsAndSplitsOfASourceWithAGapKeepSoundAndPictureTogether) {
    ReviewWindow r;
    r.open(gapClip().path);
    ASSERT_EQ(r.w.VideoFileIn1->FrameCount(), 50);
    const FrameTiming beforeGap = r.w.VideoFileIn1->FrameTimes(25);
    const FrameTiming afterGap = r.w.VideoFileIn1->FrameTimes(26);
    EXPECT_EQ(beforeGap.time, 960);
    EXPECT_EQ(afterGap.time, 2000);

    r.chooseOutput("gap_1.avi");
    r.w.SliderTimePosition1->setValue(1);
    r.w.SliderTimePosition2->setValue(25);
    r.w.cmdCut_Click();
    ASSERT_EQ(r.messages(), QStringList{r.w.Messages[Msg::CutFinished]});
    const QString cut = r.path("gap_1.avi");
    ASSERT_EQ(clips::decodeFrameNumbers(cut), range(1, 25));
    const double video = 25 / 25.0;  // the AVI is written at 25 frames per second
    EXPECT_NEAR(audioSeconds(cut), video, 1 / 25.0) << "the sound of frames 1..25";

    r.harness.dialogs.shownMessages.clear();
    r.w.PartnerAppPresent = true;
    r.chooseOutput("gap_s1.avi", 1);
    r.chooseOutput("gap_s2.avi", 2);
    r.w.SliderTimePosition1->setValue(30);  // frame 30 shows at 2.16 s
    r.w.cmdSplit_Click();
    ASSERT_EQ(r.messages(), QStringList{r.w.Messages[Msg::SplitFinished]});
    EXPECT_EQ(clips::decodeFrameNumbers(r.path("gap_s2.avi")), range(30, 50));
    EXPECT_NEAR(audioSeconds(r.path("gap_s2.avi")), 21 / 25.0, 1 / 25.0);
    EXPECT_NEAR(audioSeconds(r.path("gap_s1.avi")), 2.16, 1 / 25.0);
}

// A job that had to write under the next free name says which file it wrote; the boxes keep
// the chosen names. After a split the preview shows the last frame the job read.
TEST(WindowReview, JobsNameTheFilesWrittenUnderAnotherNameAndTheSplitLeavesItsLastFrame) {
    ReviewWindow r;
    r.open(pcmClip().path);
    writeTextFile(r.path("taken_1.avi"), "precious");
    r.chooseOutput("taken_1.avi");
    r.w.SliderTimePosition1->setValue(1);
    r.w.SliderTimePosition2->setValue(5);
    r.w.cmdCut_Click();
    EXPECT_EQ(r.messages(), QStringList{r.w.Messages[Msg::CutFinished] + "\n" + r.path("taken_2.avi")});
    EXPECT_EQ(r.w.EdOutFile->text(), r.path("taken_1.avi"));

    // A split with one name taken names both files.
    r.harness.dialogs.shownMessages.clear();
    r.w.PartnerAppPresent = true;
    writeTextFile(r.path("half_b.avi"), "precious");
    r.chooseOutput("half_a.avi", 1);
    r.chooseOutput("half_b.avi", 2);
    r.w.SliderTimePosition1->setValue(60);
    r.w.cmdSplit_Click();
    EXPECT_EQ(r.messages(), QStringList{r.w.Messages[Msg::SplitFinished] + "\n" + r.path("half_a.avi") + ", " +
                                        r.path("half_1.avi")});
    EXPECT_EQ(r.w.EdOutFile2->text(), r.path("half_b.avi"));
    EXPECT_EQ(clips::frameNumberOf(r.w.FrameBits), 100);
    EXPECT_EQ(clips::frameNumberOf(r.w.VideoView1->currentFrame()), 100);
    EXPECT_EQ(r.w.VideoFileIn1->CurrentFrame(), 100);
}

// Both files of a split get the format chosen when Split was clicked; the format buttons and
// the skin's format buttons do nothing while a job runs, and work again afterwards.
TEST(WindowReview, TheFormatStaysAsChosenForTheWholeJob) {
    ReviewWindow r;
    r.open(pcmClip().path);
    r.w.PartnerAppPresent = true;
    r.chooseOutput("fmt_1.avi", 1);
    r.chooseOutput("fmt_2.avi", 2);
    bool checked = false;
    r.tap->afterVideoFrame = [&](int) {
        if (checked) return;
        checked = true;
        EXPECT_FALSE(r.w.cmdOptWMV->isEnabled());
        r.w.Skin1_ElementClick(SkinElement("wmvbutton"));
        EXPECT_EQ(r.w.OutputFormat, OutputFormat::Avi);
        r.w.OutputFormat = OutputFormat::Wmv;  // as a language change that failed half-way leaves it
    };
    r.w.SliderTimePosition1->setValue(50);
    r.w.cmdSplit_Click();
    ASSERT_TRUE(checked);
    ASSERT_EQ(r.messages(), QStringList{r.w.Messages[Msg::SplitFinished]});
    EXPECT_EQ(probed(r.path("fmt_1.avi")).container, "avi");
    EXPECT_EQ(probed(r.path("fmt_2.avi")).container, "avi");

    // The skin's WMV button during a cut changes nothing; afterwards it switches to WMV.
    r.w.OutputFormat = OutputFormat::Avi;
    r.harness.dialogs.shownMessages.clear();
    checked = false;
    r.tap->afterVideoFrame = [&](int) {
        if (checked) return;
        checked = true;
        r.w.Skin1_ElementClick(SkinElement("wmvbutton"));
        EXPECT_EQ(r.w.OutputFormat, OutputFormat::Avi);
    };
    r.w.SliderTimePosition1->setValue(1);
    r.w.SliderTimePosition2->setValue(5);
    r.w.cmdCut_Click();
    ASSERT_TRUE(checked);
    EXPECT_EQ(r.w.OutputFormat, OutputFormat::Avi);
    r.w.Skin1_ElementClick(SkinElement("wmvbutton"));
    EXPECT_EQ(r.w.OutputFormat, OutputFormat::Wmv);
}

// Save Frame writes the format its name asks for, else the chosen filter's; its dialog opens
// on the last picture format, not on the index another dialog left.
TEST(WindowReview, SaveFrameWritesTheFormatOfTheName) {
    ReviewWindow r;
    r.open(pcmClip().path);
    r.chooseOutput("movie_1.avi");  // the output dialog leaves its own filter index behind
    r.harness.dialogs.fileAnswers = {{r.path("x.png"), 0}};
    r.w.cmdSavePictureAs_Click();
    EXPECT_EQ(r.harness.dialogs.shownFileDialogs.last().FilterIndex, 1);
    EXPECT_EQ(head(r.path("x.png"), 4), QByteArray("\x89PNG"));

    r.harness.dialogs.fileAnswers = {{r.path("y.picture"), 3}};  // no known extension: the filter decides (GIF)
    r.w.cmdSavePictureAs_Click();
    EXPECT_EQ(head(r.path("y.picture.gif"), 4), QByteArray("GIF8"));
    r.harness.dialogs.fileAnswers = {{r.path("z.JPEG"), 0}};
    r.w.cmdSavePictureAs_Click();
    EXPECT_EQ(r.harness.dialogs.shownFileDialogs.last().FilterIndex, 3);
    EXPECT_EQ(head(r.path("z.JPEG"), 2), QByteArray("\xFF\xD8"));

    EXPECT_EQ(pictureFormatOfName("/a.b/c.TIFF"), 4);
    EXPECT_EQ(pictureFormatOfName("c.jp2"), 11);
    EXPECT_EQ(pictureFormatOfName("c.j2k"), 11);
    EXPECT_EQ(pictureFormatOfName("/png/c"), 0);
}

// Start-up: a relative source path names a file in the caller's folder; a stored frame rate
// that is no item of the list falls back to 25.00; the window opens centred.
TEST(WindowReview, StartUpResolvesTheSourceHealsTheFrameRateAndCentres) {
    const QString before = QDir::currentPath();
    QTemporaryDir caller;
    QDir::setCurrent(caller.path());
    EXPECT_EQ(startupSourcePath({"clips/a b.avi"}), caller.path() + "/clips/a b.avi");
    EXPECT_EQ(startupSourcePath({"/x/y.avi"}), "/x/y.avi");
    EXPECT_EQ(startupSourcePath({}), "");
    QDir::setCurrent(before);

    for (const char* stored : {"-1", "8", "junk", "2"}) {
        WindowHarness h(false);
        SaveSetting("Korvelin", "Settings", "VideoFrameRate", stored);
        ASSERT_TRUE(h.start());
        EXPECT_EQ(h.window->cmbFramerateAVI->currentIndex(), QString(stored) == "2" ? 2 : 5) << stored;
        if (QString(stored) == "2") {
            const QScreen* screen = QGuiApplication::primaryScreen();
            const QPoint offset = h.window->frameGeometry().center() - screen->availableGeometry().center();
            EXPECT_LE(offset.manhattanLength(), 6);  // rounding of the odd sizes
        }
    }
}

// Texts from a language file that do not fit: a size-list item whose number overflows ends
// its handler quietly; a step of applying the captions that fails is skipped.
TEST(WindowReview, LanguageTextsThatDoNotFitLeaveTheWindowRunning) {
    WindowHarness probe(false);
    const QString folder = probe.makeProgramFolder();
    {
        QFile ini(folder + "/Languages/English.ini");
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        QByteArray text = ini.readAll();
        ini.close();
        text.replace("27=0  Shrink To Fit", "27=99999999999  Shrink To Fit");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(text);
    }
    ReviewWindow r;
    r.open(pcmClip().path);
    r.w.setListIndex(r.w.cmbVideoSize, 3);
    ASSERT_EQ(r.w.cmbVideoSize->itemText(0), "99999999999  Shrink To Fit");
    EXPECT_NO_THROW(r.w.setListIndex(r.w.cmbVideoSize, 0));
    EXPECT_EQ(r.w.VideoView1->ViewSize(), 3);

    const QString englishExit = r.w.cmdExit->text();
    r.reader->failCodecName = true;
    r.chooseLanguage("Deutsch");
    EXPECT_TRUE(r.messages().isEmpty());
    EXPECT_EQ(r.w.cmdExit->text(), r.w.GetFromINI("frmMain", QString::number(Caption::Exit)));
    EXPECT_NE(r.w.cmdExit->text(), englishExit);
    // The steps after the failing one ran: the audio information is in the new language.
    EXPECT_TRUE(r.w.EdInfoAudio->toPlainText().startsWith(r.w.Messages[Msg::Codec] + "\t"));
}

// Language changes keep the chosen format and the output names, show the idle texts without
// a source and the Stop caption during playback.
TEST(WindowReview, LanguageChangesKeepTheFormatAndFollowTheState) {
    ReviewWindow r;
    r.w.PartnerAppPresent = true;
    r.w.cmdOptMPEG_Click();
    r.chooseLanguage("Deutsch");
    EXPECT_EQ(r.w.OutputFormat, OutputFormat::Mpeg);
    EXPECT_TRUE(r.w.FrameOptVideoMpeg->isVisibleTo(&r.w));
    EXPECT_FALSE(r.w.FrameOptVideoWMV->isVisibleTo(&r.w));
    EXPECT_EQ(r.w.EdOutFile->text(), r.w.GetFromINI("frmMain", QString::number(Caption::SelectOutputFile)));

    r.open(pcmClip().path);
    const QString name = r.w.EdOutFile->text();
    EXPECT_TRUE(name.endsWith(".mpeg")) << name.toStdString();
    r.chooseLanguage("Français");
    EXPECT_EQ(r.w.OutputFormat, OutputFormat::Mpeg);
    EXPECT_EQ(r.w.EdOutFile->text(), name);
    EXPECT_EQ(r.w.txtFile->text(), pcmClip().path);
    // The position text still names the marker that moved last.
    EXPECT_TRUE(r.w.LabelS->caption().endsWith(r.w.Messages[Msg::Preview] + " ~1"))
        << r.w.LabelS->caption().toStdString();
    r.w.SliderTimePosition2->setValue(40);
    r.chooseLanguage("Deutsch");
    EXPECT_TRUE(r.w.LabelS->caption().endsWith(r.w.Messages[Msg::Preview] + " ~2"))
        << r.w.LabelS->caption().toStdString();
    // Every button's caption fits it, in each language.
    for (const char* language : {"Deutsch", "Français", "English"}) {
        r.chooseLanguage(language);
        for (const QPushButton* b : r.w.findChildren<QPushButton*>())
            if (b->isVisibleTo(&r.w) && !b->text().isEmpty())
                EXPECT_LE(b->sizeHint().width(), b->width()) << language << " " << b->text().toStdString();
    }

    r.w.cmdPlayStop_Click();
    ASSERT_TRUE(r.w.Playing);
    r.chooseLanguage("English");
    EXPECT_EQ(r.w.cmdPlayStop->text(), r.w.GetFromINI("frmMain", QString::number(Caption::Stop)));
    EXPECT_TRUE(r.w.Playing);
    r.w.cmdPlayStop_Click();
    EXPECT_EQ(r.w.cmdPlayStop->text(), r.w.GetFromINI("frmMain", QString::number(Caption::Play)));
}

// The option lists only skin themselves; the size list sets the view's size.
TEST(WindowReview, OptionListsChangeOnlyTheSkinAndTheSizeListTheView) {
    ReviewWindow r;
    r.open(pcmClip().path);
    r.w.SliderTimePosition1->setValue(17);
    const QString out1 = r.w.EdOutFile->text(), out2 = r.w.EdOutFile2->text();
    const int frame = r.w.VideoFileIn1->CurrentFrame();
    for (QComboBox* list : {r.w.cmbFramerateAVI, r.w.cmbCnannelsAVI, r.w.cmbFramerateMPEG, r.w.cmbVideoBitrateMPEG,
                            r.w.cmbCnannelsMPEG, r.w.cmbAudioBitrateMPEG, r.w.cmbWMVCodecs, r.w.cmbPlaySld}) {
        list->setCurrentIndex(1);
        emit list->activated(1);
        EXPECT_EQ(r.w.OutputFormat, OutputFormat::Avi) << list->objectName().toStdString();
    }
    EXPECT_EQ(r.w.EdOutFile->text(), out1);
    EXPECT_EQ(r.w.EdOutFile2->text(), out2);
    EXPECT_EQ(r.w.VideoFileIn1->CurrentFrame(), frame);
    EXPECT_EQ(r.w.VideoView1->ViewSize(), 0);
    EXPECT_TRUE(r.messages().isEmpty());

    r.w.setListIndex(r.w.cmbVideoSize, 7);
    EXPECT_EQ(r.w.VideoView1->ViewSize(), 7);
    r.w.setListIndex(r.w.cmbVideoSize, 0);  // "0  Shrink To Fit"
    EXPECT_EQ(r.w.VideoView1->ViewSize(), 0);
}

// A reader that gives no frame: the label says so, the view is cleared and playback stops.
TEST(WindowReview, AReaderWithoutFramesClearsTheViewAndStopsPlayback) {
    ReviewWindow r;
    r.open(pcmClip().path);
    r.w.cmdPlayStop_Click();
    ASSERT_TRUE(r.w.Playing);
    r.reader->noFrames = true;
    r.w.ShowPreviewFrame();
    EXPECT_FALSE(r.w.Playing);
    EXPECT_EQ(r.w.LabelS->caption(), r.w.Messages[Msg::NoFrameToShow]);
    EXPECT_TRUE(r.w.VideoView1->currentFrame().isEmpty());
    EXPECT_EQ(r.w.PlayPosition[r.w.PlaySlider], 1);
    EXPECT_TRUE(r.messages().isEmpty());
}

// A repaint without a source draws no frame; closing without one closes nothing.
TEST(WindowReview, WithoutASourceRepaintsDrawNothingAndClosingClosesNothing) {
    ReviewWindow r;
    r.open(pcmClip().path);
    const FrameData frame = r.w.FrameBits;
    ASSERT_FALSE(frame.isEmpty());
    r.w.FileLoaded = false;
    r.w.FrameBits = frame;
    r.w.VideoView1->Clear();
    r.w.repaint();
    EXPECT_TRUE(r.w.VideoView1->currentFrame().isEmpty());

    ReviewWindow idle;
    int readerCloses = 0;
    idle.reader->closes = &readerCloses;
    idle.harness.closeWindow();
    EXPECT_EQ(readerCloses, 0);
    EXPECT_EQ(idle.writerCloses, 0);
}

// A cut whose video ends before its sound: the sound goes on to the end of the marked range.
TEST(WindowReview, ACutWhoseVideoEndsEarlyKeepsItsSoundToTheEndTime) {
    ReviewWindow r;
    r.open(pcmClip().path);
    r.reader->lastFrame = 40;
    r.chooseOutput("short_1.avi");
    r.w.SliderTimePosition1->setValue(1);
    r.w.SliderTimePosition2->setValue(50);
    r.w.cmdCut_Click();
    ASSERT_EQ(r.messages(), QStringList{r.w.Messages[Msg::CutFinished]});
    EXPECT_EQ(clips::decodeFrameNumbers(r.path("short_1.avi")), range(1, 40));
    EXPECT_NEAR(audioSeconds(r.path("short_1.avi")), 50 / 25.0, 1 / 25.0);
}
