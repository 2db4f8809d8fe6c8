#include "engine/reader/FrameCache.h"

int64_t frameBytes(const AVFrame* frame) {
    int64_t bytes = 0;
    for (const AVBufferRef* buf : frame->buf)
        if (buf) bytes += buf->size;
    for (int i = 0; i < frame->nb_extended_buf; ++i) bytes += frame->extended_buf[i]->size;
    return bytes;
}

void FrameCache::put(int number, const AVFrame* frame, int wanted) {
    if (frames_.count(number)) return;
    ffmpeg::Frame copy = ffmpeg::makeFrame();
    if (!copy || av_frame_ref(copy.get(), frame) < 0) return;  // out of memory: just not cached
    const int64_t bytes = frameBytes(copy.get());
    frames_.emplace(number, Entry{std::move(copy), bytes});
    bytes_ += bytes;
    evict(wanted);
}

const AVFrame* FrameCache::find(int number) const {
    const auto it = frames_.find(number);
    return it == frames_.end() ? nullptr : it->second.frame.get();
}

const AVFrame* FrameCache::nearest(int number, int* found) const {
    if (frames_.empty()) return nullptr;
    auto it = frames_.lower_bound(number);
    if (it == frames_.end() || (it->first != number && it != frames_.begin())) {
        auto below = std::prev(it);
        if (it == frames_.end() || number - below->first <= it->first - number) it = below;
    }
    *found = it->first;
    return it->second.frame.get();
}

void FrameCache::clear() {
    frames_.clear();
    bytes_ = 0;
}

void FrameCache::evict(int wanted) {
    // Frames after the wanted one go first: stepping back needs the ones before it, and
    // stepping on continues the decoder. Then the ones farthest back.
    while (bytes_ > byteLimit_ && frames_.size() > 1) {
        auto last = std::prev(frames_.end());
        auto victim = last->first > wanted ? last : frames_.begin();
        if (victim->first == wanted) break;
        bytes_ -= victim->second.bytes;
        frames_.erase(victim);
    }
}
