#include "engine/reader/FrameAhead.h"

#include "engine/reader/VideoTrack.h"

FrameAhead::FrameAhead(std::shared_ptr<const OpenedSource> source, int first)
    : next_(first), frameCount_(source->index().frameCount()) {
    worker_ = std::thread([this, source] { run(source); });
}

FrameAhead::~FrameAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void FrameAhead::run(std::shared_ptr<const OpenedSource> source) {
    std::unique_ptr<VideoTrack> track;
    try {
        track = std::make_unique<VideoTrack>(source, 0);  // no cache: each frame is taken once
    } catch (...) {
        std::lock_guard lock(mutex_);
        failed_ = true;
        changed_.notify_all();
        return;
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock,
                      [&] { return stop_ || restartAt_ > 0 || (ready_.size() < kDepth && next_ <= frameCount_); });
        if (stop_) return;
        if (restartAt_ > 0) {
            ready_.clear();
            next_ = std::exchange(restartAt_, 0);
            continue;
        }
        const int n = next_;
        lock.unlock();
        ffmpeg::Frame copy;
        bool failed = false;
        try {
            copy.reset(av_frame_clone(track->frame(n, n)));
            failed = !copy;
        } catch (...) {
            failed = true;
        }
        lock.lock();
        if (restartAt_ > 0) continue;  // the reader went elsewhere meanwhile
        if (failed) {
            failed_ = true;
            changed_.notify_all();
            return;
        }
        ready_.push_back({n, std::move(copy)});
        next_ = n + 1;
        changed_.notify_all();
    }
}

ffmpeg::Frame FrameAhead::take(int n) {
    std::unique_lock lock(mutex_);
    auto dropEarlier = [&] {
        while (!ready_.empty() && ready_.front().number < n) ready_.pop_front();
        changed_.notify_all();  // room for more
    };
    dropEarlier();
    // Decoded, or a few frames on from where the worker stands: wait for it. Anywhere else
    // (back, or far ahead) the worker starts afresh there.
    const bool coming = ready_.empty() ? next_ <= n && n - next_ < int(2 * kDepth) : ready_.front().number == n;
    if (!coming) {
        restartAt_ = n;
        changed_.notify_all();
    }
    for (;;) {
        dropEarlier();
        if (failed_) return {};
        if (restartAt_ == 0 && !ready_.empty() && ready_.front().number == n) break;
        changed_.wait(lock);
    }
    ffmpeg::Frame frame = std::move(ready_.front().frame);
    ready_.pop_front();
    changed_.notify_all();
    return frame;
}
