#pragma once
// Decodes the frames after a position ahead of time on a worker thread, with a decoder and
// demuxer of its own on the opened source, so a reader playing in order finds each frame
// decoded when it asks. Holds at most kDepth decoded frames. Told the play clock (aim), it
// catches up when it falls behind, as catchUpFor says.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/common/FfmpegHandles.h"
#include "engine/reader/OpenedSource.h"
#include "engine/reader/VideoTrack.h"

// How a player decoding ahead catches up with the clock, `behind` frames short of the frame
// the clock shows, decoding a frame in `decodeMs` of late, frames lasting `periodMs`: not at
// all when decoding catches up within two frames' time; by leaving out pictures nothing
// refers to when it does within a second (or is only a little behind); else by leaving out
// whole frames up to the next key frame.
enum class CatchUp { None, LeaveOutUnreferenced, GoToNextKeyFrame };
CatchUp catchUpFor(int behind, double decodeMs, double periodMs);

// The first frame after `frame` that decodes from a later key frame than `frame` does: where a
// player that gives up the frames up to `frame` goes on. 0 when none follows.
int nextGroupStart(const PacketIndex& index, int frame);

class FrameAhead {
public:
    static constexpr size_t kDepth = 8;
    static constexpr int kBehindFrames = 12;  // "far behind": half a second at 25 frames/s

    struct Decoded {
        int number = 0;
        ffmpeg::Frame frame;  // null when the decoding failed or the video ended
    };

    // Starts decoding at frame `first`, with `track` when given (a decoder that may already
    // stand just before it), else with a decoder of its own.
    FrameAhead(std::shared_ptr<const OpenedSource> source, int first, std::unique_ptr<VideoTrack> track = nullptr);
    ~FrameAhead();
    FrameAhead(const FrameAhead&) = delete;
    FrameAhead& operator=(const FrameAhead&) = delete;

    // Frame n, decoded, or the first one after it when the decoder left n out (waiting for it
    // when it is under way; a frame outside what is decoded ahead starts the decoding afresh
    // there). A null frame when the decoding failed or ended before n: the caller then decodes n
    // itself (and meets a failure there).
    Decoded take(int n);

    // Whether take(n) would return at once: frame n or a later one is decoded, or n is not
    // on the way (take then starts afresh there). When not, playback is falling behind.
    bool ready(int n);

    // Playing: frame `frame` is on show by the clock now. No frame after a left-out one counts
    // as ready before its time.
    void aim(int frame);

    // Stops decoding and gives up the decoder, which then stands after the last frame decoded
    // (null when none could be made), with a frame cache of cacheBytes that holds the frames
    // decoded ahead and not taken (unless catching up left out or blurred some: those are not
    // for showing still). Nothing is decoded ahead after it.
    std::unique_ptr<VideoTrack> handBack(int64_t cacheBytes);

private:
    void run(std::shared_ptr<const OpenedSource> source);
    void stop();
    // On from the last frame taken, at most a few frames beyond what is decoded (under the lock).
    bool onTheWay(int n) const;
    bool ended() const;  // the worker has decoded the last frame (under the lock)

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Decoded> ready_;
    int next_;           // the frame the worker decodes next
    int lastTaken_;      // the last frame handed to the reader
    int restartAt_ = 0;  // > 0: the worker starts afresh at this frame
    int aim_ = 0;        // the frame on show by the clock; 0: not told
    bool failed_ = false;
    bool caughtUp_ = false;  // the worker decoded some frames the quick way
    bool stop_ = false;
    const int frameCount_;
    std::unique_ptr<VideoTrack> track_;  // the worker's while it runs
    std::thread worker_;
};
