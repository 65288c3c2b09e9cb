#include "platform/thread/Thread.h"

#include "platform/thread/SynchronizedCall.h"

#include <QDeadlineTimer>
#include <QThread>

TThread::TThread() = default;

TThread::~TThread() {
    StopThread();
}

void TThread::Resume() {
    std::unique_lock lock(m_mutex);
    if (!m_started) {
        m_started = true;
        m_thread.reset(QThread::create([this] { Execute(); }));
        m_thread->start();
        return;
    }
    if (m_waiting) {
        m_waiting = false;
        m_wake.notify_all();
    }
}

bool TThread::Suspended() const {
    std::lock_guard lock(m_mutex);
    return !m_started || m_waiting;
}

void TThread::Terminate() {
    std::lock_guard lock(m_mutex);
    m_terminated = true;
}

bool TThread::Terminated() const {
    std::lock_guard lock(m_mutex);
    return m_terminated;
}

bool TThread::Finished() const {
    std::lock_guard lock(m_mutex);
    return m_started && m_thread && m_thread->isFinished();
}

void TThread::Suspend() {
    std::unique_lock lock(m_mutex);
    if (m_terminated)
        return;
    m_waiting = true;
    m_wake.wait(lock, [this] { return !m_waiting || m_terminated; });
    m_waiting = false;
}

void TThread::StopThread() {
    QThread* thread = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_terminated = true;
        m_waiting = false;
        m_wake.notify_all();
        thread = m_thread.get();
    }
    if (!thread)
        return;
    // The body may be blocked in a synchronised call that only this thread can serve.
    while (!thread->wait(QDeadlineTimer(5)))
        SynchronizedCall::servePending();
    SynchronizedCall::servePending();
}

void TThread::Synchronize(const std::function<void()>& work) {
    SynchronizedCall::run(work);
}
