#pragma once
// The copy job of cut and split: decoded frames and audio blocks go from the source reader
// to the output, interleaved by their positions. It knows nothing of the window: the caller
// runs it pass by pass (giving its own event loop a turn between passes), shows the frames
// and progress it reports, and maps its outcome to a message.
#include <QString>
#include <cstdint>
#include <functional>

#include "engine/common/VideoSink.h"
#include "engine/common/VideoSource.h"

// Why a job did not start.
enum class JobRefusal {
    None,
    SameFrame,             // a cut whose two markers are on the same frame
    SplitPointOutOfRange,  // a split point closer than four frames to either end
};

// How a job ended.
struct JobOutcome {
    enum class Kind { Running, Finished, Cancelled, Failed, Refused };
    Kind kind = Kind::Running;
    QString failure;                        // Failed: the description of what failed
    JobRefusal refusal = JobRefusal::None;  // Refused: why
};

// The figures a caller shows while the job runs.
struct JobProgress {
    int16_t percent = 0;  // the progress bar, 0..100 (a split counts each file on its own)
    int part = 1;         // the output file being written (a split's second file is 2)
    int32_t currentFrame = 0;
    int32_t videoTime = 0;
    int32_t audioTime = 0;
    int32_t videoDuration = 0;
    int32_t audioDuration = 0;
};

class CopyJob {
public:
    // Sets the output up for file `part` (1, or 2 for a split's second file) and creates it;
    // throws MediaError with the reason when it cannot.
    using OpenOutput = std::function<void(int part)>;

    // Frames startMarker..endMarker (either order) into one file.
    static CopyJob cut(VideoSource& source, FrameSink& sink, int32_t startMarker, int32_t endMarker,
                       OpenOutput openOutput);
    // Frames 1..splitFrame-1 into file 1 and splitFrame..last into file 2.
    static CopyJob split(VideoSource& source, FrameSink& sink, int32_t splitFrame, OpenOutput openOutput);

    // Each frame copied, as it goes to the output.
    std::function<void(const FrameData&)> onFrame;
    // After every pass.
    std::function<void(const JobProgress&)> onProgress;

    // Checks the request, opens the first file and places the reader. False when the job
    // ended at once (refused, or failed to start).
    bool start();
    // One pass of the copy. False once the job has ended; the output is then complete.
    bool step();
    // Ends the job at its next pass; what was written so far is kept.
    void cancel() { cancelRequested_ = true; }

    bool running() const { return outcome_.kind == JobOutcome::Kind::Running; }
    const JobOutcome& outcome() const { return outcome_; }
    // The range of a cut in ascending order (its first and last frame).
    int32_t firstFrame() const { return first_; }
    int32_t lastFrame() const { return last_; }

private:
    enum class Kind { Cut, Split };
    CopyJob(Kind kind, VideoSource& source, FrameSink& sink, OpenOutput openOutput);

    void stepCut();
    void stepSplit();
    void switchToSecondFile();
    bool videoDue() const;
    bool audioDue() const;
    void copyVideo();
    void copyAudio();
    JobProgress progress() const;
    void finish(JobOutcome::Kind kind, const QString& failure = {});
    void refuse(JobRefusal why);

    Kind kind_;
    VideoSource& source_;
    FrameSink& sink_;
    OpenOutput openOutput_;
    int32_t first_ = 0;      // cut: first frame; split: the split frame
    int32_t last_ = 0;       // cut: last frame
    double endTime_ = 0;     // cut: where the range's sound ends (ms)
    int32_t splitTime_ = 0;  // split: the split frame's own time, where the second file's sound starts (ms)
    int32_t frameCount_ = 0;
    int part_ = 1;
    bool videoFinished_ = false;
    bool audioFinished_ = false;
    bool cancelRequested_ = false;
    JobOutcome outcome_;
};
