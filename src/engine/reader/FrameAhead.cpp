#include "engine/reader/FrameAhead.h"

#include <algorithm>
#include <chrono>

#include "engine/reader/VideoTrack.h"

int nextGroupStart(const PacketIndex& index, int frame) {
    const int start = index.startPacketFor(frame);
    for (int f = frame + 1; f <= index.frameCount(); ++f)
        if (index.startPacketFor(f) > start) return f;
    return 0;
}

CatchUp catchUpFor(int behind, double decodeMs, double periodMs) {
    if (behind <= 0) return CatchUp::None;
    const double rate = decodeMs / periodMs;  // decoding time per time of video
    const bool far = behind > FrameAhead::kBehindFrames;
    if (rate >= 1) return far ? CatchUp::GoToNextKeyFrame : CatchUp::LeaveOutUnreferenced;
    const double catchUpMs = behind * decodeMs / (1 - rate);
    if (catchUpMs <= 2 * periodMs) return CatchUp::None;
    return catchUpMs <= 1000 || !far ? CatchUp::LeaveOutUnreferenced : CatchUp::GoToNextKeyFrame;
}

FrameAhead::FrameAhead(std::shared_ptr<const OpenedSource> source, int first, std::unique_ptr<VideoTrack> track)
    : next_(first), lastTaken_(first - 1), frameCount_(source->index().frameCount()), track_(std::move(track)) {
    worker_ = std::thread([this, source] { run(source); });
}

FrameAhead::~FrameAhead() { stop(); }

void FrameAhead::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
}

std::unique_ptr<VideoTrack> FrameAhead::handBack(int64_t cacheBytes) {
    stop();
    if (!track_) return nullptr;
    track_->setSkipNonReference(false);
    track_->setCacheLimit(cacheBytes);
    if (!caughtUp_)
        for (const Decoded& d : ready_)
            if (d.frame) track_->keepFrame(d.number, d.frame.get());
    return std::move(track_);
}

void FrameAhead::run(std::shared_ptr<const OpenedSource> source) {
    if (!track_) {
        try {
            track_ = std::make_unique<VideoTrack>(source, 0);  // no cache: each frame is taken once
        } catch (...) {
            std::lock_guard lock(mutex_);
            failed_ = true;
            changed_.notify_all();
            return;
        }
    }
    VideoTrack* const track = track_.get();
    const double periodMs = 1000 / source->nominalFrameRate();
    double decodeMs = 0;
    std::unique_lock lock(mutex_);
    bool skipping = false;
    for (;;) {
        changed_.wait(lock,
                      [&] { return stop_ || restartAt_ > 0 || (ready_.size() < kDepth && next_ <= frameCount_); });
        if (stop_) return;
        if (restartAt_ > 0) {
            ready_.clear();
            next_ = std::exchange(restartAt_, 0);
            lastTaken_ = next_ - 1;
            continue;
        }
        const CatchUp catchUp = aim_ > 0 ? catchUpFor(aim_ - next_, decodeMs, periodMs) : CatchUp::None;
        if (catchUp == CatchUp::GoToNextKeyFrame) {
            const int aim = aim_;
            lock.unlock();
            const int jump = nextGroupStart(source->index(), aim);
            lock.lock();
            if (restartAt_ > 0) continue;
            if (jump > next_) {
                ready_.clear();
                next_ = jump;
            }
        }
        const int n = next_;
        const bool skip = catchUp != CatchUp::None;
        caughtUp_ = caughtUp_ || skip;
        lock.unlock();
        if (skip != skipping) track->setSkipNonReference(skipping = skip);
        // Recent decoding time per picture, as the machine gives it now. A long run-up to n
        // (from its key frame) is given up when the clock runs away meanwhile.
        auto lastPicture = std::chrono::steady_clock::now();
        auto measure = [&] {
            const auto now = std::chrono::steady_clock::now();
            const double ms = std::chrono::duration<double, std::milli>(now - std::exchange(lastPicture, now)).count();
            decodeMs = decodeMs > 0 ? 0.8 * decodeMs + 0.2 * ms : ms;
        };
        bool gaveUp = false;
        auto goOn = [&] {
            measure();
            std::unique_lock guard(mutex_);
            const int aim = aim_;
            gaveUp = stop_ || restartAt_ > 0;
            guard.unlock();
            if (!gaveUp && aim > 0 && catchUpFor(aim - n, decodeMs, periodMs) == CatchUp::GoToNextKeyFrame)
                gaveUp = nextGroupStart(source->index(), aim) > n;
            return !gaveUp;
        };
        Decoded decoded;
        bool failed = false;
        try {
            const AVFrame* frame = track->frameFrom(n, &decoded.number, goOn);
            decoded.frame.reset(frame ? av_frame_clone(frame) : nullptr);
            failed = !decoded.frame;
        } catch (...) {
            failed = true;
        }
        if (!failed) measure();
        lock.lock();
        if (restartAt_ > 0 || gaveUp) continue;  // the reader went elsewhere, or the clock ran away
        if (failed) {
            failed_ = true;
            changed_.notify_all();
            return;
        }
        next_ = decoded.number + 1;
        ready_.push_back(std::move(decoded));
        changed_.notify_all();
    }
}

bool FrameAhead::ended() const { return restartAt_ == 0 && next_ > frameCount_; }

bool FrameAhead::onTheWay(int n) const {
    return restartAt_ == 0 && n > lastTaken_ && n < next_ + int(2 * kDepth);
}

FrameAhead::Decoded FrameAhead::take(int n) {
    std::unique_lock lock(mutex_);
    auto dropEarlier = [&] {
        while (!ready_.empty() && ready_.front().number < n) ready_.pop_front();
        changed_.notify_all();  // room for more
    };
    dropEarlier();
    // On from the last frame taken and at most a few frames beyond what is decoded: wait for
    // it. Anywhere else (back, or far ahead) the worker starts afresh there.
    if (!onTheWay(n)) {
        restartAt_ = n;
        changed_.notify_all();
    }
    for (;;) {
        dropEarlier();
        if (failed_ || (ended() && ready_.empty())) return {};
        if (restartAt_ == 0 && !ready_.empty()) break;
        changed_.wait(lock);
    }
    Decoded decoded = std::move(ready_.front());
    ready_.pop_front();
    lastTaken_ = decoded.number;
    changed_.notify_all();
    return decoded;
}

bool FrameAhead::ready(int n) {
    std::lock_guard lock(mutex_);
    if (failed_ || ended() || !onTheWay(n)) return true;
    const auto first = std::find_if(ready_.begin(), ready_.end(), [n](const Decoded& d) { return d.number >= n; });
    if (first != ready_.end()) return aim_ == 0 || first->number <= std::max(n, aim_ + 1);
    return false;
}

void FrameAhead::aim(int frame) {
    std::lock_guard lock(mutex_);
    aim_ = frame;
    changed_.notify_all();
}
