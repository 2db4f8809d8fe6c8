// The cut job on the real engine: what it writes, how it reports, how it cancels and fails.
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "window/JobsTestSupport.h"

using namespace jobstest;

namespace {

const clips::Clip& pcmClip() {
    static const clips::Clip clip = clips::get("avi_mjpeg_pcm");  // 100 frames, 25 fps, 44.1 kHz stereo
    return clip;
}

}  // namespace

TEST(JobsCut, WritesExactlyTheMarkedFramesInEitherMarkerOrder) {
    for (const auto& [m1, m2] : {std::pair{21, 45}, std::pair{45, 21}}) {
        SCOPED_TRACE(QStringLiteral("markers %1, %2").arg(m1).arg(m2).toStdString());
        JobWindow job;
        job.open(pcmClip());
        job.chooseOutput("cut_1.avi");
        job.setMarkers(m1, m2);
        QList<int> bar;
        QObject::connect(job.w.ProgressBar1, &QProgressBar::valueChanged, [&](int v) { bar << v; });
        // The job moves the earlier marker through the selection; the sliders show it and the
        // later marker stays.
        const int earlier = m1 < m2 ? 1 : 2;
        QList<int> progressMarker;
        job.tap->afterVideoFrame = [&](int) {
            const Selection& s = job.w.selection();
            EXPECT_EQ(s.marker(1), job.w.SliderTimePosition1->value());
            EXPECT_EQ(s.marker(2), job.w.SliderTimePosition2->value());
            EXPECT_EQ(s.marker(3 - earlier), std::max(m1, m2));
            progressMarker << s.marker(earlier);
        };

        job.w.cmdCut_Click();

        EXPECT_EQ(job.messages(), QStringList{job.w.Messages[Msg::CutFinished]});
        EXPECT_FALSE(job.w.Messages[Msg::CutFinished].isEmpty());
        ASSERT_EQ(job.outputFiles(), QStringList{"cut_1.avi"});
        const QString file = job.path("cut_1.avi");
        EXPECT_EQ(clips::decodeFrameNumbers(file), range(21, 45));
        // The sound covers the same time as the 25 frames, within one frame (1/25 s).
        const qint64 samples = audioSamples(file);
        EXPECT_NEAR(double(samples), 25 * 44100 / 25.0, 44100 / 25.0) << samples;
        // Both markers are back where they were, the window is usable again.
        EXPECT_EQ(job.w.SliderTimePosition1->value(), m1);
        EXPECT_EQ(job.w.SliderTimePosition2->value(), m2);
        EXPECT_EQ(job.w.selection().marker(1), m1);
        EXPECT_EQ(job.w.selection().marker(2), m2);
        ASSERT_FALSE(progressMarker.isEmpty());
        EXPECT_GT(progressMarker.last(), std::min(m1, m2));
        expectWindowRestored(job.w);
        ASSERT_FALSE(bar.isEmpty());
        for (int v : bar) EXPECT_TRUE(v >= 0 && v <= 100) << v;
        EXPECT_EQ(*std::max_element(bar.begin(), bar.end()), 100);  // every frame written
    }
}

TEST(JobsCut, LocksTheWindowWhileRunningAndIgnoresFrameSteps) {
    JobWindow job;
    job.open(pcmClip());
    job.chooseOutput("locked_1.avi");
    job.setMarkers(10, 30);
    // What the window has painted of a control, as the screen shows it.
    frmMain& shown = job.w;
    shown.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown));
    const auto onScreen = [&shown](QWidget* c) {
        return shown.screen()->grabWindow(shown.winId()).copy(QRect(c->mapTo(&shown, QPoint()), c->size())).toImage();
    };
    shown.repaint();
    const QImage idleCancel = onScreen(shown.cmdCancel), idleBar = onScreen(shown.ProgressBar1);
    // When the box says the cut has finished, the window already shows it: Cancel off, no bar.
    bool finishedShown = false;
    job.harness.dialogs.onMessage = [&](const auto&) {
        finishedShown = onScreen(shown.cmdCancel) == idleCancel && onScreen(shown.ProgressBar1) == idleBar;
    };
    bool checked = false;
    job.tap->afterVideoFrame = [&](int n) {
        if (n != 5) return;
        checked = true;
        frmMain& w = job.w;
        EXPECT_TRUE(w.cmdCancel->isEnabled());
        EXPECT_FALSE(w.ProgressBar1->isHidden());
        for (QWidget* c : std::initializer_list<QWidget*>{
                 w.cmdCut, w.cmdSplit, w.cmdFile, w.cmdPlayStop, w.cmdOutFile, w.cmdOutFile2, w.FrameConvertTo,
                 w.cmdOptAVI, w.sldThum, w.sldThum2, w.cmdPrevFrame, w.cmdNextFrame, w.cmdPrevFrame2, w.cmdNextFrame2})
            EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
        // A user pressing the step buttons now changes nothing.
        QTimer::singleShot(0, &w, [&w] {
            w.cmdNextFrame2->click();
            w.cmdPrevFrame->click();
        });
    };
    job.w.cmdCut_Click();
    EXPECT_TRUE(checked);
    EXPECT_TRUE(finishedShown);
    EXPECT_EQ(clips::decodeFrameNumbers(job.path("locked_1.avi")), range(10, 30));
    EXPECT_EQ(job.w.SliderTimePosition1->value(), 10);
    EXPECT_EQ(job.w.SliderTimePosition2->value(), 30);
}

TEST(JobsCut, MarkersOnTheSameFrameOnlyTellTheUser) {
    JobWindow job;
    job.open(pcmClip());
    job.chooseOutput("same_1.avi");
    job.setMarkers(30, 30);
    job.w.cmdCut_Click();
    EXPECT_EQ(job.messages(), QStringList{job.w.Messages[Msg::SameFrame]});
    EXPECT_TRUE(job.outputFiles().isEmpty());
    EXPECT_TRUE(job.tap->created.isEmpty());
    EXPECT_TRUE(job.w.cmdCut->isEnabled());
    EXPECT_FALSE(job.w.cmdCancel->isEnabled());
}

TEST(JobsCut, AnExistingOutputIsNeverReplaced) {
    JobWindow job;
    job.open(pcmClip());
    for (const char* name : {"keep_1.avi", "keep_2.avi"}) {
        QFile f(job.path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("precious ") + name);
    }
    job.chooseOutput("keep_1.avi");
    job.setMarkers(1, 10);
    job.w.cmdCut_Click();
    // The message names the file written.
    EXPECT_EQ(job.messages(), QStringList{job.w.Messages[Msg::CutFinished] + "\n" + job.path("keep_3.avi")});
    EXPECT_EQ(fileBytes(job.path("keep_1.avi")), "precious keep_1.avi");
    EXPECT_EQ(fileBytes(job.path("keep_2.avi")), "precious keep_2.avi");
    EXPECT_EQ(clips::decodeFrameNumbers(job.path("keep_3.avi")), range(1, 10));
    // The text box keeps the name the user chose.
    EXPECT_EQ(job.w.EdOutFile->text(), job.path("keep_1.avi"));
}

TEST(JobsCut, CancelKeepsAClosedFileWithTheFramesWrittenSoFar) {
    JobWindow job;
    job.open(pcmClip());
    job.chooseOutput("cancel_1.avi");
    job.setMarkers(20, 80);
    job.tap->afterVideoFrame = [&](int n) {
        // The click arrives through the window's message loop, during the job's yield.
        if (n == 12) QTimer::singleShot(0, &job.w, [&] { job.w.cmdCancel->click(); });
    };
    job.w.cmdCut_Click();
    EXPECT_EQ(job.messages(), QStringList{job.w.Messages[Msg::JobCancelled]});
    EXPECT_EQ(clips::probeFrameCount(job.path("cancel_1.avi")), 12);
    EXPECT_EQ(clips::decodeFrameNumbers(job.path("cancel_1.avi")), range(20, 31));
    EXPECT_EQ(job.w.SliderTimePosition1->value(), 20);
    EXPECT_EQ(job.w.SliderTimePosition2->value(), 80);
    expectWindowRestored(job.w);
}

TEST(JobsCut, AWriteFailureIsReportedAndTheWindowStaysUsable) {
    JobWindow job;
    job.open(pcmClip());
    job.chooseOutput("full_1.avi");
    job.setMarkers(40, 70);
    job.tap->failAfterFrames = 8;
    job.w.cmdCut_Click();
    EXPECT_EQ(job.messages(), QStringList{job.w.Messages[Msg::OperationFailed] + " No space left on device"});
    EXPECT_EQ(job.tap->closes, 1);
    EXPECT_TRUE(job.outputFiles().isEmpty()) << "a failed job leaves no file";
    expectWindowRestored(job.w);
    EXPECT_EQ(job.w.SliderTimePosition1->value(), 40);

    // The next job runs normally, under the name the failed one had.
    job.harness.dialogs.shownMessages.clear();
    job.tap->failAfterFrames = -1;
    job.w.cmdCut_Click();
    EXPECT_EQ(job.messages(), QStringList{job.w.Messages[Msg::CutFinished]});
    EXPECT_EQ(clips::decodeFrameNumbers(job.path("full_1.avi")), range(40, 70));
}

TEST(JobsCut, AFailedPreparationEndsInTheFailureMessage) {
    JobWindow job;
    job.open(pcmClip());
    // A folder that does not exist: the writer cannot create the file.
    job.w.EdOutFile->setText(job.path("missing/folder/x_1.avi"));
    job.setMarkers(1, 10);
    job.w.cmdCut_Click();
    const QStringList shown = job.messages();
    ASSERT_EQ(shown.size(), 1);  // one message: the job's, with the writer's reason
    EXPECT_TRUE(shown[0].startsWith(job.w.Messages[Msg::OperationFailed] + " ")) << shown[0].toStdString();
    EXPECT_TRUE(shown[0].contains("x_1.avi")) << shown[0].toStdString();
    expectWindowRestored(job.w);
    EXPECT_TRUE(job.outputFiles().isEmpty());
}

TEST(JobsCut, ASourceWithoutSoundIsCutByItsFrames) {
    JobWindow job;
    job.open(clips::get("avi_noaudio"));  // 50 frames
    job.chooseOutput("silent_1.avi");
    job.setMarkers(5, 50);
    job.w.cmdCut_Click();
    EXPECT_EQ(job.messages(), QStringList{job.w.Messages[Msg::CutFinished]});
    EXPECT_EQ(clips::decodeFrameNumbers(job.path("silent_1.avi")), range(5, 50));
    EXPECT_TRUE(probed(job.path("silent_1.avi")).audio.isEmpty());
}

TEST(JobsCut, NothingHappensWithoutASource) {
    JobWindow job;
    job.w.cmdCut_Click();
    EXPECT_TRUE(job.messages().isEmpty());
    EXPECT_TRUE(job.tap->created.isEmpty());
}

// Saves the window as it looks in the middle of a job to $KORVELIN_SCREENSHOT (default
// /tmp/job.png). Run by hand, on a display: xvfb-run -a env QT_QPA_PLATFORM=xcb
// jobs_cut_test --gtest_also_run_disabled_tests --gtest_filter='*Screenshot*'
TEST(JobsScreenshot, DISABLED_WindowDuringACut) {
    JobWindow job;
    job.open(clips::get("long_mpeg4"));
    job.chooseOutput("shot_1.avi");
    job.setMarkers(100, 400);
    const QString target = qEnvironmentVariable("KORVELIN_SCREENSHOT", "/tmp/job.png");
    job.tap->afterVideoFrame = [&](int n) {
        if (n != 120) return;
        // The job lets the window repaint only every few passes; draw it now.
        job.w.setUpdatesEnabled(true);
        EXPECT_TRUE(job.w.grab().save(target));
    };
    job.w.cmdCut_Click();
    EXPECT_TRUE(QFileInfo::exists(target));
}

TEST(JobsCut, ClosingTheWindowDuringAJobEndsItWithACompleteFile) {
    JobWindow job;
    job.open(pcmClip());
    job.chooseOutput("closed_1.avi");
    job.setMarkers(10, 60);
    job.tap->afterVideoFrame = [&](int n) {
        if (n == 6) QTimer::singleShot(0, &job.w, [&] { job.w.close(); });
    };
    job.w.cmdCut_Click();  // returns once the window has shut down
    EXPECT_TRUE(job.w.unloaded());
    EXPECT_EQ(job.harness.programEnds, 1);
    EXPECT_TRUE(job.messages().isEmpty());
    EXPECT_EQ(clips::decodeFrameNumbers(job.path("closed_1.avi")), range(10, 15));
}
