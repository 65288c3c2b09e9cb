#include "platform/SynchronizedCall.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

namespace SynchronizedCall {

namespace {

struct Pending {
    std::function<void()> work;
    std::exception_ptr error;
    bool done = false;
};

std::mutex queueMutex;
std::condition_variable doneSignal;
std::deque<std::shared_ptr<Pending>> queue;

} // namespace

bool onUiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void run(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (onUiThread()) {
        work();
        return;
    }
    auto pending = std::make_shared<Pending>();
    pending->work = work;
    {
        std::lock_guard lock(queueMutex);
        queue.push_back(pending);
    }
    // One posted event per call: the user interface thread drains the queue when it gets there,
    // unless a blocking wait elsewhere drained it first through servePending().
    QMetaObject::invokeMethod(
        app, [] { servePending(); }, Qt::QueuedConnection);
    std::unique_lock lock(queueMutex);
    doneSignal.wait(lock, [&] { return pending->done; });
    if (pending->error)
        std::rethrow_exception(pending->error);
}

void servePending() {
    for (;;) {
        std::shared_ptr<Pending> next;
        {
            std::lock_guard lock(queueMutex);
            if (queue.empty())
                return;
            next = std::move(queue.front());
            queue.pop_front();
        }
        try {
            next->work();
        } catch (...) {
            next->error = std::current_exception();
        }
        {
            std::lock_guard lock(queueMutex);
            next->done = true;
        }
        doneSignal.notify_all();
    }
}

} // namespace SynchronizedCall
