#include "platform/thread/SynchronizedCall.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace SynchronizedCall {

namespace {

// Both sides sleep while they wait: the worker on doneSignal until its call has run, the user
// interface thread in its event loop until an event says a call is queued. A worker that hands
// over many small calls in a row must batch them (see the extractors): a thread round trip costs
// tens of microseconds, far more than the call itself, and spinning to save it would burn the
// core that the other thread, or another program, needs.
struct Pending {
    const std::function<void()>* work = nullptr;
    std::exception_ptr error;
    bool done = false;
};

std::mutex queueMutex;
std::condition_variable doneSignal;
std::deque<Pending*> queue;
// True while an event that will serve the queue is on its way to the user interface thread;
// further calls queued meanwhile ride on it instead of posting their own.
bool servePosted = false;

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
    Pending pending;
    pending.work = &work;
    bool post = false;
    {
        std::lock_guard lock(queueMutex);
        queue.push_back(&pending);
        post = !servePosted;
        servePosted = true;
    }
    if (post)
        postServe();
    {
        std::unique_lock lock(queueMutex);
        doneSignal.wait(lock, [&] { return pending.done; });
    }
    if (pending.error)
        std::rethrow_exception(pending.error);
}

void servePending() {
    std::deque<Pending*> batch;
    {
        std::lock_guard lock(queueMutex);
        servePosted = false;
        batch.swap(queue);
    }
    // Only what was queued on entry: a worker queues its next call as soon as this one is done,
    // and the user interface thread must get back to its event loop in between.
    for (Pending* next : batch) {
        try {
            (*next->work)();
        } catch (...) {
            next->error = std::current_exception();
        }
        {
            // Under the lock, so that a worker about to sleep cannot miss the notification. The
            // worker's `pending` lives on its stack: not a word of it after this point.
            std::lock_guard lock(queueMutex);
            next->done = true;
        }
        doneSignal.notify_all();
    }
}

} // namespace SynchronizedCall
