#pragma once
// Decodes the frames after a position ahead of time on a worker thread, with a decoder and
// demuxer of its own on the opened source, so a reader playing in order finds each frame
// decoded when it asks. Holds at most kDepth decoded frames.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/common/FfmpegHandles.h"
#include "engine/reader/OpenedSource.h"

class FrameAhead {
public:
    static constexpr size_t kDepth = 8;

    // Starts decoding at frame `first`. Throws MediaError when the video cannot be decoded.
    FrameAhead(std::shared_ptr<const OpenedSource> source, int first);
    ~FrameAhead();
    FrameAhead(const FrameAhead&) = delete;
    FrameAhead& operator=(const FrameAhead&) = delete;

    // Frame n, decoded (waiting for it when it is under way; a frame outside what is decoded
    // ahead starts the decoding afresh there). Null when the decoding failed: the caller then
    // decodes it itself and meets the failure there.
    ffmpeg::Frame take(int n);

private:
    struct Decoded {
        int number;
        ffmpeg::Frame frame;
    };
    void run(std::shared_ptr<const OpenedSource> source);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Decoded> ready_;
    int next_;           // the frame the worker decodes next
    int restartAt_ = 0;  // > 0: the worker starts afresh at this frame
    bool failed_ = false;
    bool stop_ = false;
    const int frameCount_;
    std::thread worker_;
};
