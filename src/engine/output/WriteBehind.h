#pragma once
// Writes a file's bytes on a thread of its own. Handing bytes to the system costs as much as
// making them when packets are only copied (the system copies them into its cache and pays
// for every page): with the write on another thread, the thread that reads and packs the
// packets goes on meanwhile. At most a bounded amount waits, so a slow disk holds the maker
// back instead of filling the memory.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WriteBehind {
public:
    // `write` writes all of its bytes or returns a negative error code (as FFmpeg's I/O
    // callbacks do); it runs on the writer's thread, one call at a time.
    using Write = std::function<int(const uint8_t* data, int size)>;
    explicit WriteBehind(Write write, size_t maxWaiting = 2 << 20);
    // Writes what waits, then ends the thread.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Queues a copy of the bytes, waiting while too much waits already. Returns size, or the
    // first error a write met (from then on nothing more is written).
    int write(const uint8_t* data, int size);
    // Waits until every byte queued is written (so the file may be seeked or closed); returns 0
    // or the first error a write met.
    int drain();

private:
    void run();

    Write write_;
    const size_t maxWaiting_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> waiting_;
    std::vector<std::vector<uint8_t>> spare_;  // written buffers, kept for reuse
    size_t waitingBytes_ = 0;
    bool writing_ = false;  // the thread holds a buffer it is writing
    bool stopping_ = false;
    int error_ = 0;
    std::thread thread_;
};
