#include "engine/output/WriteBehind.h"

#include <algorithm>

namespace {

// Buffers kept for reuse: enough for the queue to turn over without allocating.
constexpr size_t kSpareBuffers = 16;

}  // namespace

WriteBehind::WriteBehind(Write write, size_t maxWaiting)
    : write_(std::move(write)), maxWaiting_(maxWaiting), thread_([this] { run(); }) {}

WriteBehind::~WriteBehind() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

int WriteBehind::write(const uint8_t* data, int size) {
    std::unique_lock<std::mutex> lock(mutex_);
    // One buffer larger than the bound still goes, alone.
    changed_.wait(lock,
                  [&] { return error_ < 0 || waitingBytes_ == 0 || waitingBytes_ + size_t(size) <= maxWaiting_; });
    if (error_ < 0) return error_;
    std::vector<uint8_t> buffer;
    if (!spare_.empty()) {
        buffer = std::move(spare_.back());
        spare_.pop_back();
    }
    buffer.assign(data, data + size);
    waiting_.push_back(std::move(buffer));
    waitingBytes_ += size_t(size);
    lock.unlock();
    changed_.notify_all();
    return size;
}

int WriteBehind::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return error_ < 0 || (waiting_.empty() && !writing_); });
    return error_;
}

void WriteBehind::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
        if (waiting_.empty()) return;  // stopping, with everything written
        std::vector<uint8_t> buffer = std::move(waiting_.front());
        waiting_.pop_front();
        writing_ = true;
        const bool failed = error_ < 0;  // after a failure the rest is dropped
        lock.unlock();
        const int result = failed ? 0 : write_(buffer.data(), int(buffer.size()));
        lock.lock();
        writing_ = false;
        waitingBytes_ -= buffer.size();
        if (result < 0 && error_ == 0) error_ = result;
        if (spare_.size() < kSpareBuffers) spare_.push_back(std::move(buffer));
        changed_.notify_all();
    }
}
