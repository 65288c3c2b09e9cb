#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

// A worker thread in the manner the system expects: created suspended, started or woken by
// Resume, put to sleep by its own body between units of work, and ended by StopThread, which the
// user interface thread may call while the worker is waiting in a synchronised call.
class TThread {
public:
    TThread();
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the body on the first call; later calls wake the body only if it is waiting in
    // Suspend. A request that finds the body busy is dropped.
    void Resume();
    // True before the first Resume and while the body waits in Suspend.
    bool Suspended() const;
    void Terminate();
    bool Terminated() const;
    // Requests termination, wakes the body and waits until it has returned, serving the body's
    // synchronised calls meanwhile. Subclasses call it first thing in their destructor, since
    // the body uses their members. Safe to call more than once.
    void StopThread();
    bool Finished() const;

protected:
    virtual void Execute() = 0;
    // Called by the body: waits until Resume or termination.
    void Suspend();
    // Runs work on the user interface thread and waits until it is done.
    static void Synchronize(const std::function<void()>& work);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_started = false;
    bool m_waiting = false;
    bool m_terminated = false;
    std::unique_ptr<QThread> m_thread;
};
