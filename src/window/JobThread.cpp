#include "window/JobThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <memory>

#include "engine/common/MediaError.h"
#include "engine/platform/Platform.h"

void JobThread::run(const std::function<bool()>& step, const std::function<void(bool)>& turn,
                    const std::function<void()>& cancel, bool belowWindow) {
    cancel_ = cancel;
    QEventLoop loop;
    auto windowTurn = [this, &turn, &loop](bool more) {
        turn(more);
        std::lock_guard lock(mutex_);
        turnTaken_ = true;
        wake_.notify_all();
        if (!more) loop.quit();
    };
    std::unique_ptr<QThread> worker(QThread::create([&] {
        if (belowWindow) runBelowWindow();  // the job and the encoders' and decoders' threads it starts
        workerLoop(step, [&](bool more) {
            QMetaObject::invokeMethod(
                &receiver_, [windowTurn, more] { windowTurn(more); }, Qt::QueuedConnection);
        });
    }));
    worker->start();
    loop.exec();
    // The loop also ends when the program is told to quit: the job is then ended at its next pass.
    std::unique_lock lock(mutex_);
    if (!finished_) abandonLocked(lock);
    lock.unlock();
    worker->wait();
    QCoreApplication::removePostedEvents(&receiver_);
    if (failure_) std::rethrow_exception(failure_);
}

void JobThread::workerLoop(const std::function<bool()>& step, const std::function<void(bool)>& turn) {
    for (;;) {
        bool more = false;
        try {
            more = step();
        } catch (...) {
            failure_ = std::current_exception();
        }
        std::unique_lock lock(mutex_);
        turnTaken_ = false;
        lock.unlock();
        turn(more);
        if (!more) break;
        lock.lock();
        waitForWindow(lock);
        const bool abandoned = abandoned_;
        lock.unlock();
        if (abandoned) cancel_();
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    wake_.notify_all();
}

void JobThread::waitForWindow(std::unique_lock<std::mutex>& lock) {
    wake_.wait(lock, [this] { return turnTaken_ || abandoned_; });
}

void JobThread::onWindowThread(const std::function<void()>& call) {
    if (QThread::currentThread() == receiver_.thread()) return call();
    auto done = std::make_shared<bool>(false);
    auto error = std::make_shared<std::exception_ptr>();
    QMetaObject::invokeMethod(
        &receiver_,
        [this, call, done, error] {
            {
                std::lock_guard lock(mutex_);
                if (abandoned_) return;
            }
            try {
                call();
            } catch (...) {
                *error = std::current_exception();
            }
            std::lock_guard lock(mutex_);
            *done = true;
            wake_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return *done || abandoned_; });
    if (!*done) throw MediaError(QStringLiteral("The window was closed"));
    lock.unlock();
    if (*error) std::rethrow_exception(*error);
}

void JobThread::abandon() {
    std::unique_lock lock(mutex_);
    abandonLocked(lock);
}

void JobThread::abandonLocked(std::unique_lock<std::mutex>& lock) {
    abandoned_ = true;
    wake_.notify_all();
    wake_.wait(lock, [this] { return finished_; });
}
