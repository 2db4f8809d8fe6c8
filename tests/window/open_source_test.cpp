// Opening a source through the real window: information texts, proposals, failures.
#include <gtest/gtest.h>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>
#include <atomic>

#include "engine/output/ContainerRules.h"
#include "support/ClipCopies.h"
#include "support/Clips.h"
#include "support/FakePlatform.h"
#include "support/ForwardingReader.h"
#include "support/WindowHarness.h"

namespace {

// A reader that records the open, close and seek calls the window makes.
struct RecordingReader : ForwardingReader {
    QStringList* calls;
    explicit RecordingReader(QStringList* log) : calls(log) {}
    int32_t OpenFile(const QString& p) override {
        *calls << "OpenFile " + p;
        return real->OpenFile(p);
    }
    void CloseFile() override {
        *calls << "CloseFile";
        real->CloseFile();
    }
    void SeekFrame(int32_t n) override {
        *calls << QString("SeekFrame %1").arg(n);
        real->SeekFrame(n);
    }
    void SeekTime(int32_t ms) override {
        *calls << QString("SeekTime %1").arg(ms);
        real->SeekTime(ms);
    }
};

QStringList lines(const QString& text) { return text.split("\r\n"); }

// A reader whose index scan takes long: at 40 % while held, until the window stops it. The
// window's progress report is called on the thread the open runs on.
struct SlowOpenReader : ForwardingReader {
    std::atomic<bool>* hold;
    std::function<bool(int)> report;
    explicit SlowOpenReader(std::atomic<bool>* held) : hold(held) {}
    void SetOpenProgress(std::function<bool(int)> r) override { report = std::move(r); }
    int32_t OpenFile(const QString& p) override {
        QElapsedTimer waited;
        waited.start();
        while (*hold && report && !waited.hasExpired(20000))
            if (!report(40)) {
                *hold = false;
                throw MediaError("Opening the file was cancelled");
            }
        return real->OpenFile(p);
    }
};

TEST(OpenSource, ShowsTheInformationAndProposesOutputNames) {
    WindowHarness h;
    frmMain& w = *h.window;
    const auto clip = clips::get("avi_mjpeg_pcm");
    const QString source = copyClipTo(clip.path, h.home.path() + "/clips/holiday.avi");
    w.OpenSourceVideo(source);
    ASSERT_TRUE(w.FileLoaded) << h.messages().join("|").toStdString();
    EXPECT_TRUE(h.messages().isEmpty());
    EXPECT_EQ(w.txtFile->text(), source);
    EXPECT_EQ(w.EdOutFile->text(), h.home.path() + "/clips/holiday_1.avi");
    EXPECT_EQ(w.EdOutFile2->text(), h.home.path() + "/clips/holiday_2.avi");
    EXPECT_EQ(w.PrevOpenedFile, source);

    const QStringList video = lines(w.EdInfoVideo->text());
    ASSERT_EQ(video.size(), 6);
    EXPECT_EQ(video[0], w.Messages[Msg::Codec] + "\t" + w.VideoFileIn1->VideoCodecName());
    EXPECT_EQ(video[1], w.Messages[Msg::DurationMs] + "\t" + QString::number(w.VideoFileIn1->VideoDuration()));
    EXPECT_EQ(video[3], w.Messages[Msg::FrameRate] + "\t25");
    EXPECT_EQ(video[4], w.Messages[Msg::Frames] + "\t100");
    EXPECT_EQ(video[5], w.Messages[Msg::FrameSize] + "\t320*240");
    const QStringList audio = lines(w.EdInfoAudio->text());
    ASSERT_EQ(audio.size(), 6);
    EXPECT_EQ(audio[3], w.Messages[Msg::SampleRate] + "\t44100");
    EXPECT_EQ(audio[5], w.Messages[Msg::Channels] + "\t2");
    EXPECT_EQ(w.LabelT->caption(), w.Messages[Msg::VideoLength] + "\r" +
                                       QString::number(w.VideoFileIn1->VideoDuration()) + " " +
                                       w.Messages[Msg::Milliseconds] + "\r" + w.Messages[Msg::FrameCount] + "\r100");

    EXPECT_EQ(w.SliderTimePosition1->maximum(), 100);
    EXPECT_EQ(w.SliderTimePosition1->value(), 1);
    EXPECT_EQ(w.SliderTimePosition2->value(), 1);
    EXPECT_EQ(w.sldThum->Left(), w.sldBack->Left());
    EXPECT_EQ(clips::frameNumberOf(w.FrameBits), 1);
    EXPECT_EQ(w.LabelS->caption(), w.Messages[Msg::Marker] + "1#: 1\r" + w.Messages[Msg::Marker] + "2#: 1\r" +
                                       w.Messages[Msg::Preview] + " ~1");
    for (QWidget* c : {(QWidget*)w.cmdOutFile, (QWidget*)w.cmdOutFile2, (QWidget*)w.cmdCut, (QWidget*)w.cmdSplit,
                       (QWidget*)w.cmdPlayStop, (QWidget*)w.cmbPlaySld, (QWidget*)w.cmdSavePictureAs,
                       (QWidget*)w.sldThum, (QWidget*)w.sldThum2, (QWidget*)w.cmbVideoSize})
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_FALSE(w.picScreen->isVisibleTo(&w));
    EXPECT_FALSE(w.Timer2->isActive());
    EXPECT_EQ(w.cmdPlayStop->text(), w.GetFromINI("frmMain", "29"));
}

TEST(OpenSource, ProposalsKeepFoldersWithDotsAndFollowTheFormat) {
    WindowHarness h;
    frmMain& w = *h.window;
    const auto clip = clips::get("avi_noaudio");
    const QString dotted = copyClipTo(clip.path, h.home.path() + "/anna.berg/my.videos/clip.avi");
    w.OpenSourceVideo(dotted);
    ASSERT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.EdOutFile->text(), h.home.path() + "/anna.berg/my.videos/clip_1.avi");
    EXPECT_TRUE(w.EdInfoAudio->text().isEmpty());  // video without audio opens

    const QString bare = copyClipTo(clip.path, h.home.path() + "/anna.berg/noextension");
    w.ConvertTo(OutputFormat::Mpeg);
    w.OpenSourceVideo(bare);
    ASSERT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.EdOutFile->text(), bare + "_1.mpeg");
    EXPECT_EQ(w.EdOutFile2->text(), bare + "_2.mpeg");
}

TEST(OpenSource, FailedOpensGoBackToIdleAndReopenThePreviousFileOnce) {
    WindowHarness h;
    frmMain& w = *h.window;
    const QString missing = h.home.path() + "/missing.avi";
    w.OpenSourceVideo(missing);
    EXPECT_FALSE(w.FileLoaded);
    ASSERT_EQ(h.messages().size(), 1);
    EXPECT_FALSE(h.messages()[0].isEmpty());
    EXPECT_EQ(h.dialogs.shownMessages[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(w.PrevOpenedFile.isEmpty());
    EXPECT_TRUE(w.picScreen->isVisibleTo(&w));
    EXPECT_TRUE(w.Timer2->isActive());
    EXPECT_FALSE(w.cmdSavePictureAs->isEnabled());
    EXPECT_EQ(w.txtFile->text(), w.GetFromINI("frmMain", "6"));

    const QString good = copyClipTo(clips::get("avi_mjpeg_pcm").path, h.home.path() + "/good.avi");
    w.OpenSourceVideo(good);
    ASSERT_TRUE(w.FileLoaded);
    const QString text = writeTextFile(h.home.path() + "/notes.avi", "just some words, not a video\n");
    const QString audioOnly = clips::get("audio_only").path;
    QByteArray mp4;
    {
        QFile f(clips::get("mp4_h264_aac").path);
        f.open(QIODevice::ReadOnly);
        mp4 = f.readAll();
    }
    const QString truncated = writeTextFile(h.home.path() + "/cut.mp4", mp4.left(mp4.size() / 3));
    for (const QString& bad : {text, audioOnly, truncated}) {
        h.dialogs.shownMessages.clear();
        w.OpenSourceVideo(bad);
        ASSERT_EQ(h.messages().size(), 1) << bad.toStdString();
        if (bad == audioOnly) {
            EXPECT_EQ(h.messages()[0], w.Messages[Msg::NoVideoStream]);
        }
        // The previous file is open again.
        EXPECT_TRUE(w.FileLoaded) << bad.toStdString();
        EXPECT_EQ(w.txtFile->text(), good);
        EXPECT_EQ(w.PrevOpenedFile, good);
    }

    // When the previous file fails too, there is no second attempt.
    QFile::remove(good);
    h.dialogs.shownMessages.clear();
    w.OpenSourceVideo(text);
    EXPECT_EQ(h.messages().size(), 2);
    EXPECT_FALSE(w.FileLoaded);
    EXPECT_TRUE(w.picScreen->isVisibleTo(&w));
}

TEST(OpenSource, ASecondOpenClosesTheFirstBeforeAnythingElse) {
    QStringList calls;
    WindowHarness h(
        true, [&](WindowServices& s) { s.makeReader = [&] { return std::make_unique<RecordingReader>(&calls); }; });
    frmMain& w = *h.window;
    const QString a = clips::get("avi_mjpeg_pcm").path, b = clips::get("avi_noaudio").path;
    w.OpenSourceVideo(a);
    calls.clear();
    w.OpenSourceVideo(b);
    ASSERT_GE(calls.size(), 2);
    EXPECT_EQ(calls[0], "CloseFile");
    EXPECT_EQ(calls[1], "OpenFile " + b);
}

TEST(OpenSource, AOneFrameSourceOpensAndStaysUsable) {
    WindowHarness h;
    frmMain& w = *h.window;
    w.OpenSourceVideo(clips::get("oneframe").path);
    ASSERT_TRUE(w.FileLoaded) << h.messages().join("|").toStdString();
    EXPECT_EQ(w.SliderTimePosition1->maximum(), 1);
    EXPECT_EQ(clips::frameNumberOf(w.FrameBits), 1);
    w.cmdNextFrame_Click();
    w.cmdPrevFrame2_Click();
    EXPECT_EQ(w.SliderTimePosition1->value(), 1);
    EXPECT_EQ(w.SliderTimePosition2->value(), 1);
    EXPECT_EQ(clips::frameNumberOf(w.FrameBits), 1);
    EXPECT_TRUE(h.messages().isEmpty());
}

TEST(OpenSource, CancellingTheOpenDialogChangesNothing) {
    WindowHarness h;
    frmMain& w = *h.window;
    w.cmdFile_Click();  // no queued answer: cancel
    ASSERT_EQ(h.dialogs.shownFileDialogs.size(), 1);
    EXPECT_EQ(h.dialogs.shownFileDialogs[0].DialogTitle, "Open Video File");
    EXPECT_EQ(h.dialogs.shownFileDialogs[0].FilterIndex, 1);
    EXPECT_TRUE(h.dialogs.shownFileDialogs[0].Filter.endsWith("|All Files|*|"));
    // The first entry lists the files the source's own format writes, so they open again.
    const QStringList movies =
        qtNameFilters(h.dialogs.shownFileDialogs[0].Filter).value(0).split(QRegularExpression("[ ()]"));
    for (const char* ext : kCopyContainers) EXPECT_TRUE(movies.contains(QStringLiteral("*.") + ext)) << ext;
    EXPECT_FALSE(w.FileLoaded);
    EXPECT_TRUE(h.messages().isEmpty());
    h.dialogs.fileAnswers.append({clips::get("avi_noaudio").path, 0});
    w.cmdFile_Click();
    EXPECT_TRUE(w.FileLoaded);
}

}  // namespace

// The index scan runs on a worker thread. While it runs the window's event loop turns (a
// timer of the test fires on the window's thread), the controls are locked as during a job,
// and a long scan shows how far it is; Cancel or a close stops it.
TEST(OpenSource, TheScanRunsBesideTheWindowWhichShowsItsProgress) {
    FakePlatform platform;
    std::atomic<bool> hold{false};
    WindowHarness h(true,
                    [&](WindowServices& s) { s.makeReader = [&] { return std::make_unique<SlowOpenReader>(&hold); }; });
    frmMain& w = *h.window;
    const QString clip = clips::get("avi_mjpeg_pcm").path;
    std::function<void()> duringScan;  // run by a timer on the window's thread
    QTimer look;
    look.setInterval(10);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (w.opening() && duringScan) duringScan();
    });
    look.start();

    int shownValue = -1;
    duringScan = [&] {
        EXPECT_FALSE(w.cmdFile->isEnabled());
        EXPECT_FALSE(w.cmdCut->isEnabled());
        EXPECT_TRUE(w.cmdCancel->isEnabled());
        EXPECT_TRUE(w.ProgressBar1->isHidden());  // a short open shows nothing
        platform.ticks += 600;
        duringScan = [&] {
            if (w.ProgressBar1->isHidden()) return;
            shownValue = w.ProgressBar1->value();
            hold = false;
            duringScan = nullptr;
        };
    };
    hold = true;
    w.OpenSourceVideo(clip);
    EXPECT_EQ(shownValue, 40);
    ASSERT_TRUE(w.FileLoaded);
    EXPECT_TRUE(w.ProgressBar1->isHidden());
    EXPECT_TRUE(w.cmdFile->isEnabled());
    EXPECT_FALSE(w.cmdCancel->isEnabled());

    // Cancel stops the scan: the open fails with its message, the previous source comes back.
    duringScan = [&] { w.cmdCancel->click(); };
    hold = true;
    w.OpenSourceVideo(clips::get("avi_noaudio").path);
    ASSERT_EQ(h.messages().size(), 1);
    EXPECT_TRUE(h.messages()[0].contains("cancelled")) << h.messages()[0].toStdString();
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.txtFile->text(), clip);

    // Closing the window during a scan stops it; the window closes after it.
    duringScan = [&] { QCoreApplication::postEvent(&w, new QCloseEvent); };
    hold = true;
    h.dialogs.shownMessages.clear();
    w.OpenSourceVideo(clip);
    EXPECT_TRUE(h.messages().isEmpty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.unloaded());
}

// The open dialog starts in the last source's folder, else the video folder, else home; the
// working folder (the program's, after start-up) plays no part.
TEST(OpenSource, TheOpenDialogStartsInTheLastSourcesFolderElseVideosElseHome) {
    const QByteArray savedHome = qgetenv("HOME"), savedConfig = qgetenv("XDG_CONFIG_HOME");
    WindowHarness h;
    frmMain& w = *h.window;
    const QString home = h.home.path() + "/user";
    QDir().mkpath(home);
    qputenv("HOME", home.toUtf8());
    qunsetenv("XDG_CONFIG_HOME");  // no user-dirs.dirs: the video folder is ~/Videos
    auto startsIn = [&] {
        w.cmdFile_Click();  // no queued answer: cancel
        return h.dialogs.shownFileDialogs.last().InitDir;
    };
    EXPECT_EQ(startsIn(), home);
    QDir().mkpath(home + "/Videos");
    EXPECT_EQ(startsIn(), home + "/Videos");
    const QString source = copyClipTo(clips::get("avi_noaudio").path, h.home.path() + "/clips/a.avi");
    w.OpenSourceVideo(source);
    ASSERT_TRUE(w.FileLoaded);
    EXPECT_EQ(startsIn(), h.home.path() + "/clips");
    qputenv("HOME", savedHome);
    if (!savedConfig.isNull()) qputenv("XDG_CONFIG_HOME", savedConfig);
}
