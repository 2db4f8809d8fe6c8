#pragma once
// Runs a job on a worker thread while the window's thread only shows it. The two go in step:
// after each pass the worker hands the window a turn (frames, progress, Cancel) and waits for
// it before the next pass, so a Cancel takes effect at the next pass, exactly as when the
// passes ran on the window's thread; while a pass runs, the window's event loop is free.
#include <QObject>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>

class JobThread {
public:
    JobThread() = default;
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;

    // Runs `step` on a worker thread until it returns false. After every step, `turn` runs on
    // the calling (window) thread with whether more passes follow; the worker waits for it.
    // Returns once the worker has ended, having run the window's event loop meanwhile. An
    // exception of step comes back here. `cancel` tells the job to end at its next pass; the
    // worker calls it when the run is abandoned. The worker, and the threads it starts, run
    // below the window's priority unless `belowWindow` is false (work that starts threads
    // which outlive it, such as a reader's decoders).
    void run(const std::function<bool()>& step, const std::function<void(bool more)>& turn,
             const std::function<void()>& cancel, bool belowWindow = true);

    // From the worker: runs `call` on the window's thread and waits for it. Throws MediaError
    // when the run was abandoned meanwhile.
    void onWindowThread(const std::function<void()>& call);

    // From the window's thread, while `run` is under way (its window is closing): the job is
    // cancelled, the worker's waits end, its calls to the window fail, and this returns once
    // the worker has ended.
    void abandon();

private:
    void workerLoop(const std::function<bool()>& step, const std::function<void(bool)>& turn);
    void waitForWindow(std::unique_lock<std::mutex>& lock);
    void abandonLocked(std::unique_lock<std::mutex>& lock);

    QObject receiver_;  // what the worker posts to the window's thread; its posts die with it
    std::mutex mutex_;
    std::condition_variable wake_;
    bool turnTaken_ = false;  // the window finished the turn the worker waits for
    bool abandoned_ = false;
    bool finished_ = false;  // the worker has ended
    std::function<void()> cancel_;
    std::exception_ptr failure_;
};
