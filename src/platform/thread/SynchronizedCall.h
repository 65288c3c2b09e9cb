#pragma once

#include <functional>

// Runs work on the user interface thread on behalf of a worker thread, which sleeps until the
// work is done; an exception thrown by the work is raised again in the worker. Called on the
// user interface thread itself, the work simply runs. Each call is one event of the user
// interface thread's loop, which therefore keeps repainting and firing timers between calls.
namespace SynchronizedCall {

void run(const std::function<void()>& work);

// Runs the calls that workers have queued. The user interface thread calls this while it blocks
// waiting for a worker (a window closing while its extractor still runs), so that a worker
// waiting in run() can finish instead of deadlocking both threads.
void servePending();

// True on the thread that owns the application object (or when there is none yet).
bool onUiThread();

} // namespace SynchronizedCall
