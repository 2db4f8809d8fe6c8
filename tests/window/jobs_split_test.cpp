// The split job on the real engine.
#include <QTimer>

#include "window/JobsTestSupport.h"

using namespace jobstest;

namespace {

const clips::Clip& pcmClip() {
    static const clips::Clip clip = clips::get("avi_mjpeg_pcm");  // 100 frames, 25 fps, 44.1 kHz stereo
    return clip;
}

// One audio block of the jobs in sample frames: 2304 bytes of 16-bit stereo.
constexpr qint64 kBlockSamples = 2304 / 4;

struct SplitRun {
    JobWindow job;
    QList<int> bar;

    explicit SplitRun(int splitAt, int marker2 = 1) {
        job.w.PartnerAppPresent = true;
        job.open(pcmClip());
        job.chooseOutput("part_1.avi", 1);
        job.chooseOutput("part_2.avi", 2);
        job.setMarkers(splitAt, marker2);
        QObject::connect(job.w.ProgressBar1, &QProgressBar::valueChanged, [this](int v) { bar << v; });
    }
};

}  // namespace

TEST(JobsSplit, RefusesSplitPointsCloserThanFourFramesToAnEnd) {
    for (int at : {1, 3, 97, 100}) {
        SCOPED_TRACE(at);
        SplitRun run(at);
        run.job.w.cmdSplit_Click();
        EXPECT_EQ(run.job.messages(), QStringList{run.job.w.Messages[Msg::SplitPointOutOfRange]});
        EXPECT_TRUE(run.job.outputFiles().isEmpty());
        EXPECT_TRUE(run.job.tap->created.isEmpty());
        EXPECT_TRUE(run.job.w.cmdSplit->isEnabled());
    }
}

TEST(JobsSplit, EveryFrameLandsInExactlyOneFile) {
    for (int at : {4, 96}) {
        SCOPED_TRACE(at);
        SplitRun run(at, 60);
        frmMain& w = run.job.w;
        w.cmdSplit_Click();
        EXPECT_EQ(run.job.messages(), QStringList{w.Messages[Msg::SplitFinished]});
        EXPECT_EQ(run.job.outputFiles(), (QStringList{"part_1.avi", "part_2.avi"}));
        EXPECT_EQ(clips::decodeFrameNumbers(run.job.path("part_1.avi")), range(1, at - 1));
        EXPECT_EQ(clips::decodeFrameNumbers(run.job.path("part_2.avi")), range(at, 100));
        // Marker 2 is back, marker 1 never moved.
        EXPECT_EQ(w.SliderTimePosition1->value(), at);
        EXPECT_EQ(w.SliderTimePosition2->value(), 60);
        expectWindowRestored(w);
        ASSERT_FALSE(run.bar.isEmpty());
        for (int v : run.bar) EXPECT_TRUE(v >= 0 && v <= 100) << v;
        EXPECT_EQ(run.bar.count(100), 2);  // each file's frames all written
    }
}

TEST(JobsSplit, TheTwoSoundTracksMeetWithoutAGap) {
    SplitRun run(37);
    run.job.w.cmdSplit_Click();
    ASSERT_EQ(run.job.messages(), QStringList{run.job.w.Messages[Msg::SplitFinished]});
    const qint64 first = audioSamples(run.job.path("part_1.avi"));
    const qint64 second = audioSamples(run.job.path("part_2.avi"));
    const qint64 source = audioSamples(pcmClip().path);
    const qint64 splitSample = 36 * 44100 / 25;  // frames 1..36 before the split frame
    // The first file's sound reaches the split frame's time, at most one block beyond it;
    // the second starts there, so the two overlap by less than a block and leave no gap.
    EXPECT_GE(first, splitSample);
    EXPECT_LE(first, splitSample + kBlockSamples);
    EXPECT_GE(first + second, source);
    EXPECT_LE(first + second, source + kBlockSamples);
}

TEST(JobsSplit, CancelDuringTheFirstFileLeavesOnlyTheFirstFile) {
    SplitRun run(60, 30);
    run.job.tap->afterVideoFrame = [&](int n) {
        if (n == 10) QTimer::singleShot(0, &run.job.w, [&] { run.job.w.cmdCancel->click(); });
    };
    run.job.w.cmdSplit_Click();
    EXPECT_EQ(run.job.messages(), QStringList{run.job.w.Messages[Msg::JobCancelled]});
    EXPECT_EQ(run.job.outputFiles(), QStringList{"part_1.avi"});
    EXPECT_EQ(clips::decodeFrameNumbers(run.job.path("part_1.avi")), range(1, 10));
    EXPECT_EQ(run.job.w.SliderTimePosition2->value(), 30);
    expectWindowRestored(run.job.w);
}

TEST(JobsSplit, AFailureInTheSecondFileLeavesNeitherFile) {
    SplitRun run(50);
    run.job.tap->afterVideoFrame = [&](int n) {
        // Second file: fail after its fifth frame.
        if (run.job.tap->created.size() == 2 && n == 5) run.job.tap->failAfterFrames = 5;
    };
    run.job.w.cmdSplit_Click();
    EXPECT_EQ(run.job.messages(), QStringList{run.job.w.Messages[Msg::OperationFailed] + " No space left on device"});
    EXPECT_EQ(run.job.tap->created.size(), 2);
    EXPECT_TRUE(run.job.outputFiles().isEmpty()) << "a failed job leaves none of its files";
    expectWindowRestored(run.job.w);
}

TEST(JobsSplit, WithoutThePartnerApplicationTheOfferRunsInstead) {
    SplitRun run(50);
    run.job.w.PartnerAppPresent = false;
    run.job.w.cmdSplit_Click();  // the offer is answered No
    for (const QString& m : run.job.messages())
        for (int i : {0, 1, 20, 21}) EXPECT_NE(m, run.job.w.Messages[i]);
    EXPECT_TRUE(run.job.outputFiles().isEmpty());
    EXPECT_TRUE(run.job.w.ProgressBar1->isHidden());
}
