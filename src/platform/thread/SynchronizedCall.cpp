#include "platform/thread/SynchronizedCall.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace SynchronizedCall {

namespace {

using Clock = std::chrono::steady_clock;

// A run sends one call per bucket, tens of thousands in a row. Putting a thread to sleep and
// waking it costs far more than the call itself (tens of microseconds on an idle machine, twice
// per call), so both sides first wait a little while awake: the worker for its answer, the user
// interface thread for the next call. Beyond these short spans they sleep as usual, and the user
// interface thread goes back to its event loop often enough to repaint.
constexpr auto kWorkerSpin = std::chrono::microseconds(300);
constexpr auto kUiSpin = std::chrono::microseconds(300);
constexpr auto kUiServeSlice = std::chrono::milliseconds(15);

struct Pending {
    std::function<void()> work;
    std::exception_ptr error;
    std::atomic<bool> done{false};
};

std::mutex queueMutex;
std::condition_variable doneSignal;
std::deque<std::shared_ptr<Pending>> queue;
// Set while the user interface thread serves the queue and will look at it again before it
// leaves; a worker then needs to post no event to wake it.
bool uiServing = false;
std::atomic<std::size_t> queued{0};

bool spinningPays() {
    return std::thread::hardware_concurrency() > 1;
}

void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Waits awake for a condition. After a few microseconds of pausing it yields the core at every
// turn, so that on a busy machine the waiting thread does not keep the other side of the call
// (or any other program) from running.
template <class Condition>
bool spinUntil(Condition condition, Clock::duration limit) {
    if (!spinningPays())
        return condition();
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + limit;
    const Clock::time_point yieldFrom = start + std::chrono::microseconds(20);
    while (!condition()) {
        const Clock::time_point now = Clock::now();
        if (now >= end)
            return false;
        if (now >= yieldFrom)
            std::this_thread::yield();
        else
            cpuRelax();
    }
    return true;
}

void postServe() {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { servePending(); }, Qt::QueuedConnection);
}

} // namespace

bool onUiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void run(const std::function<void()>& work) {
    if (onUiThread()) {
        work();
        return;
    }
    auto pending = std::make_shared<Pending>();
    pending->work = work;
    bool post = false;
    {
        std::lock_guard lock(queueMutex);
        queue.push_back(pending);
        queued = queue.size();
        post = !uiServing;
    }
    if (post)
        postServe();
    const auto isDone = [&] { return pending->done.load(std::memory_order_acquire); };
    if (!spinUntil(isDone, kWorkerSpin)) {
        std::unique_lock lock(queueMutex);
        doneSignal.wait(lock, isDone);
    }
    if (pending->error)
        std::rethrow_exception(pending->error);
}

void servePending() {
    {
        std::lock_guard lock(queueMutex);
        uiServing = true;
    }
    const Clock::time_point sliceEnd = Clock::now() + kUiServeSlice;
    for (;;) {
        std::shared_ptr<Pending> next;
        {
            std::lock_guard lock(queueMutex);
            if (!queue.empty()) {
                next = std::move(queue.front());
                queue.pop_front();
                queued = queue.size();
            } else if (Clock::now() >= sliceEnd) {
                uiServing = false;
                return;
            }
        }
        if (!next) {
            if (spinUntil([] { return queued.load(std::memory_order_relaxed) > 0; }, kUiSpin))
                continue;
            std::lock_guard lock(queueMutex);
            if (!queue.empty())
                continue;
            // Only under the lock: a worker that queues after this sees the flag clear and posts.
            uiServing = false;
            return;
        }
        try {
            next->work();
        } catch (...) {
            next->error = std::current_exception();
        }
        {
            // Under the lock, so that a worker about to sleep cannot miss the notification.
            std::lock_guard lock(queueMutex);
            next->done.store(true, std::memory_order_release);
        }
        doneSignal.notify_all();
        if (Clock::now() >= sliceEnd) {
            // Let the event loop repaint; whatever is still queued gets an event of its own.
            std::lock_guard lock(queueMutex);
            uiServing = false;
            if (!queue.empty())
                postServe();
            return;
        }
    }
}

} // namespace SynchronizedCall
