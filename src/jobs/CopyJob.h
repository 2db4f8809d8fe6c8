#pragma once
// The copy job of cut and split: decoded frames and audio blocks go from the source reader
// to the output, interleaved by their positions. It knows nothing of the window: the caller
// runs it pass by pass (giving its own event loop a turn between passes), shows the frames
// and progress it reports, and maps its outcome to a message.
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/common/VideoSink.h"
#include "engine/common/VideoSource.h"
#include "jobs/Job.h"

class CopyJob : public Job {
public:
    // Sets the output up for file `part` (1, or 2 for a split's second file) and creates it;
    // returns the path it created, throws MediaError with the reason when it cannot.
    using OpenOutput = std::function<QString(int part)>;

    // Frames startMarker..endMarker (either order) into one file.
    static CopyJob cut(VideoSource& source, FrameSink& sink, int32_t startMarker, int32_t endMarker,
                       OpenOutput openOutput);
    // Several ranges of frames, each first <= last, back to back into one file. The sound of
    // each range starts at its first frame's own time and is cut to the sample where its
    // pictures end, so it stays in step with them across every join.
    static CopyJob pieces(VideoSource& source, FrameSink& sink, std::vector<Piece> ranges, OpenOutput openOutput);
    // Frames 1..splitFrame-1 into file 1 and splitFrame..last into file 2.
    static CopyJob split(VideoSource& source, FrameSink& sink, int32_t splitFrame, OpenOutput openOutput);

    // Checks the request, opens the first file and places the reader.
    bool start() override;
    // One pass of the copy.
    bool step() override;

private:
    enum class Kind { Cut, Split, Pieces };
    CopyJob(Kind kind, VideoSource& source, FrameSink& sink, OpenOutput openOutput);

    void stepCut();
    void stepSplit();
    void stepPieces();
    void startPiece(size_t index);
    void copyPieceAudio();
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
    // Pieces: the ranges, the one being written, the frames written before it, and the sound
    // still owed to it (sample frames).
    std::vector<Piece> ranges_;
    size_t piece_ = 0;
    int64_t framesBefore_ = 0;
    int64_t framesTotal_ = 0;
    int64_t soundOwed_ = 0;
};
