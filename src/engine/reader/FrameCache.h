#pragma once
#include <cstdint>
#include <map>

#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavutil/frame.h>
}

// Decoded pictures kept by frame number, so that stepping back through a GOP does not
// decode the GOP again. Holds references to the decoder's own buffers (no copies) and stays
// within a byte budget: over it, frames after the one the reader wants go first, then the
// ones farthest before it.
class FrameCache {
public:
    explicit FrameCache(int64_t byteLimit) : byteLimit_(byteLimit) {}

    // Keeps a new reference to the frame under its number; `wanted` is the frame the reader
    // is heading for, which is never dropped.
    void put(int number, const AVFrame* frame, int wanted);
    const AVFrame* find(int number) const;
    // The cached frame nearest to number (the lower one on a tie), or nullptr.
    const AVFrame* nearest(int number, int* found) const;
    void clear();

    int64_t bytes() const { return bytes_; }
    int64_t byteLimit() const { return byteLimit_; }
    void setByteLimit(int64_t limit) { byteLimit_ = limit; }
    int size() const { return static_cast<int>(frames_.size()); }

private:
    struct Entry {
        ffmpeg::Frame frame;
        int64_t bytes = 0;
    };
    void evict(int wanted);

    std::map<int, Entry> frames_;
    int64_t bytes_ = 0;
    int64_t byteLimit_;
};

// Memory a frame's buffers take.
int64_t frameBytes(const AVFrame* frame);
