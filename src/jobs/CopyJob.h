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
#include "jobs/Job.h"

class CopyJob : public Job {
public:
    // Sets the output up for file `part` (1, or 2 for a split's second file) and creates it;
    // throws MediaError with the reason when it cannot.
    using OpenOutput = std::function<void(int part)>;

    // Frames startMarker..endMarker (either order) into one file.
    static CopyJob cut(VideoSource& source, FrameSink& sink, int32_t startMarker, int32_t endMarker,
                       OpenOutput openOutput);
    // Frames 1..splitFrame-1 into file 1 and splitFrame..last into file 2.
    static CopyJob split(VideoSource& source, FrameSink& sink, int32_t splitFrame, OpenOutput openOutput);

    // Checks the request, opens the first file and places the reader.
    bool start() override;
    // One pass of the copy.
    bool step() override;

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

    Kind kind_;
    VideoSource& source_;
    FrameSink& sink_;
    OpenOutput openOutput_;
    double endTime_ = 0;     // cut: where the range's sound ends (ms)
    int32_t splitTime_ = 0;  // split: the split frame's own time, where the second file's sound starts (ms)
    int32_t frameCount_ = 0;
    int part_ = 1;
    bool videoFinished_ = false;
    bool audioFinished_ = false;
};
