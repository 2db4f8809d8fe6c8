// The copy job without a window: the real reader (through a forwarding reader) into a sink
// that records which source frames each output file received.
#include <gtest/gtest.h>

#include "engine/reader/FfmpegReader.h"
#include "jobs/CopyJob.h"
#include "support/Clips.h"
#include "support/ForwardingReader.h"

namespace {

const clips::Clip& clip() {
    static const clips::Clip c = clips::get("avi_mjpeg_pcm");  // 100 frames, 25 fps, 44.1 kHz stereo
    return c;
}

struct RecordingSink : FrameSink {
    QList<QList<int>> files;  // the frame numbers of each file opened
    QList<qint64> samples;    // the audio samples of each file
    int closes = 0;
    int failAfterFrames = -1;  // the write after this many frames in all throws
    int framesWritten = 0;

    void open() {
        files.append(QList<int>());
        samples.append(0);
    }
    void WriteVideoFrame(const FrameData& frame) override {
        if (framesWritten == failAfterFrames) throw MediaError("No space left on device");
        ++framesWritten;
        files.last() << clips::frameNumberOf(frame);
    }
    void WriteAudio(const AudioChunk& chunk) override { samples.last() += qint64(chunk.size()); }
    void CloseFile() override { ++closes; }
};

struct JobRun {
    ForwardingReader reader;
    RecordingSink sink;
    QList<int> opened;  // the parts openOutput was asked for

    JobRun() { reader.OpenFile(clip().path); }
    CopyJob::OpenOutput opener() {
        return [this](int part) {
            opened << part;
            sink.open();
            return QString();  // no file: the sink records
        };
    }
    // Runs the job to its end; `beforePass` may act between passes (as the window's turn does).
    JobOutcome::Kind run(CopyJob& job, const std::function<void(CopyJob&)>& beforePass = {}) {
        if (job.start()) do {
                if (beforePass) beforePass(job);
            } while (job.step());
        return job.outcome().kind;
    }
};

QList<int> range(int first, int last) {
    QList<int> r;
    for (int n = first; n <= last; ++n) r << n;
    return r;
}

constexpr qint64 kSamplesPerFrame = 44100 / 25 * 2;

}  // namespace

TEST(CopyJob, CutCopiesExactlyTheMarkedFramesInEitherMarkerOrder) {
    JobRun run;
    CopyJob job = CopyJob::cut(run.reader, run.sink, 60, 21, run.opener());
    QList<int> percents;
    QList<int> previews;
    job.onProgress = [&](const JobProgress& p) { percents << p.percent; };
    job.onFrame = [&](const FrameData& f) { previews << clips::frameNumberOf(f); };
    EXPECT_EQ(run.run(job), JobOutcome::Kind::Finished);
    EXPECT_EQ(run.opened, QList<int>{1});
    ASSERT_EQ(run.sink.files.size(), 1);
    EXPECT_EQ(run.sink.files[0], range(21, 60));
    EXPECT_EQ(previews, range(21, 60));
    // The sound covers the range's 40 frames to within one block.
    EXPECT_NEAR(double(run.sink.samples[0]), 40.0 * kSamplesPerFrame, 2304 / 2);
    EXPECT_EQ(run.sink.closes, 1);
    ASSERT_FALSE(percents.isEmpty());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_GE(percents.last(), 95);
}

TEST(CopyJob, PiecesGoBackToBackWithTheSoundCutAtEveryJoin) {
    JobRun run;
    // Three pieces in an order of their own; each one's sound ends at the sample where its
    // pictures end (read in blocks, it would overshoot by part of a block at every join).
    CopyJob job = CopyJob::pieces(run.reader, run.sink, {{70, 80}, {5, 11}, {40, 52}}, run.opener());
    QList<int> percents;
    job.onProgress = [&](const JobProgress& p) { percents << p.percent; };
    EXPECT_EQ(run.run(job), JobOutcome::Kind::Finished);
    ASSERT_EQ(run.sink.files.size(), 1);
    EXPECT_EQ(run.sink.files[0], range(70, 80) + range(5, 11) + range(40, 52));
    EXPECT_EQ(run.sink.samples[0], 31 * kSamplesPerFrame);  // both channels, to the sample
    EXPECT_EQ(run.sink.closes, 1);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.last(), 100);
}

TEST(CopyJob, SplitSwitchesFilesAtTheSplitFrame) {
    JobRun run;
    CopyJob job = CopyJob::split(run.reader, run.sink, 40, run.opener());
    QList<int> parts;
    job.onProgress = [&](const JobProgress& p) { parts << p.part; };
    EXPECT_EQ(run.run(job), JobOutcome::Kind::Finished);
    EXPECT_EQ(run.opened, (QList<int>{1, 2}));
    ASSERT_EQ(run.sink.files.size(), 2);
    EXPECT_EQ(run.sink.files[0], range(1, 39));
    EXPECT_EQ(run.sink.files[1], range(40, 100));
    EXPECT_NEAR(double(run.sink.samples[0]), 39.0 * kSamplesPerFrame, 2304 / 2);
    EXPECT_EQ(run.sink.closes, 2);
    EXPECT_TRUE(std::is_sorted(parts.begin(), parts.end()));
}

TEST(CopyJob, CancelInTheFirstOrTheLastPassKeepsWhatWasWritten) {
    {
        JobRun run;
        CopyJob job = CopyJob::cut(run.reader, run.sink, 1, 50, run.opener());
        EXPECT_EQ(run.run(job, [](CopyJob& j) { j.cancel(); }), JobOutcome::Kind::Cancelled);
        EXPECT_TRUE(run.sink.files[0].isEmpty());
        EXPECT_EQ(run.sink.closes, 1);
    }
    {
        // A split cancelled in the pass that writes the last frame of its second file.
        JobRun run;
        CopyJob job = CopyJob::split(run.reader, run.sink, 10, run.opener());
        EXPECT_EQ(run.run(job,
                          [&](CopyJob& j) {
                              if (run.sink.files.size() == 2 && run.sink.files[1].size() == 90) j.cancel();
                          }),
                  JobOutcome::Kind::Cancelled);
        EXPECT_EQ(run.sink.files[1], range(10, 99));
        EXPECT_EQ(run.sink.closes, 2);
    }
}

TEST(CopyJob, AWriteFailureEndsTheJobWithItsReasonAndClosesTheFile) {
    JobRun run;
    run.sink.failAfterFrames = 5;
    CopyJob job = CopyJob::split(run.reader, run.sink, 20, run.opener());
    EXPECT_EQ(run.run(job), JobOutcome::Kind::Failed);
    EXPECT_EQ(job.outcome().failure, "No space left on device");
    EXPECT_EQ(run.sink.files[0], range(1, 5));
    EXPECT_EQ(run.opened, QList<int>{1});
    EXPECT_EQ(run.sink.closes, 1);
    EXPECT_FALSE(job.step());  // an ended job stays ended
}

TEST(CopyJob, RefusedRequestsWriteNothing) {
    JobRun run;
    CopyJob cut = CopyJob::cut(run.reader, run.sink, 7, 7, run.opener());
    EXPECT_EQ(run.run(cut), JobOutcome::Kind::Refused);
    EXPECT_EQ(cut.outcome().refusal, JobRefusal::SameFrame);
    CopyJob split = CopyJob::split(run.reader, run.sink, 97, run.opener());
    EXPECT_EQ(run.run(split), JobOutcome::Kind::Refused);
    EXPECT_EQ(split.outcome().refusal, JobRefusal::SplitPointOutOfRange);
    EXPECT_TRUE(run.opened.isEmpty());
    EXPECT_EQ(run.sink.closes, 0);
}

TEST(CopyJob, AnOutputThatCannotBeOpenedFailsTheJob) {
    JobRun run;
    CopyJob job =
        CopyJob::cut(run.reader, run.sink, 1, 10, [](int) -> QString { throw MediaError("Permission denied"); });
    EXPECT_EQ(run.run(job), JobOutcome::Kind::Failed);
    EXPECT_EQ(job.outcome().failure, "Permission denied");
}

TEST(CopyJob, KeepsNoDecodedFramesWhileItReadsAndGivesTheCacheBackAfter) {
    JobRun run;
    auto& reader = dynamic_cast<FfmpegReader&>(*run.reader.real);
    const int64_t oneFrame = int64_t(clip().width) * clip().height * 2;  // at most 16 bits a pixel
    int64_t most = 0;
    CopyJob job = CopyJob::cut(run.reader, run.sink, 1, 100, run.opener());
    job.onProgress = [&](const JobProgress&) { most = std::max(most, reader.frameCacheBytesInUse()); };
    EXPECT_EQ(run.run(job), JobOutcome::Kind::Finished);
    EXPECT_GT(most, 0);
    EXPECT_LE(most, oneFrame);
    // Stepping in the window keeps frames again.
    run.reader.SeekFrame(10);
    for (int i = 0; i < 10; ++i) run.reader.ReadVideoFrame();
    EXPECT_GT(reader.frameCacheBytesInUse(), 5 * most);
}
