#include "platform/thread/SynchronizedCall.h"
#include "platform/thread/Thread.h"

#include <QtTest>

#include <atomic>
#include <stdexcept>

namespace {

// A worker whose body records what happened on which thread, one unit of work per Resume.
class Worker : public TThread {
public:
    ~Worker() override { StopThread(); }

    std::atomic<int> runs{0};
    std::atomic<int> uiCalls{0};
    std::atomic<bool> sawError{false};
    std::atomic<bool> blockInUiCall{false};
    std::function<void()> extra;

protected:
    void Execute() override {
        while (!Terminated()) {
            ++runs;
            Synchronize([this] {
                if (QThread::currentThread() == qApp->thread())
                    ++uiCalls;
            });
            try {
                Synchronize([] { throw std::runtime_error("from the user interface thread"); });
            } catch (const std::runtime_error&) {
                sawError = true;
            }
            if (extra)
                extra();
            Suspend();
        }
    }
};

} // namespace

class TestThread : public QObject {
    Q_OBJECT

private slots:
    void createdSuspendedAndRunsOnResume() {
        Worker worker;
        QVERIFY(worker.Suspended());
        QCOMPARE(worker.runs.load(), 0);
        worker.Resume();
        QVERIFY(QTest::qWaitFor([&] { return worker.runs == 1 && worker.Suspended(); }, 10000));
        QCOMPARE(worker.uiCalls.load(), 1);
        QVERIFY(worker.sawError.load());
    }

    void resumeWhileBusyIsDropped() {
        Worker worker;
        std::atomic<bool> release{false};
        std::atomic<bool> inside{false};
        worker.extra = [&] {
            inside = true;
            while (!release)
                QThread::msleep(1);
        };
        worker.Resume();
        QVERIFY(QTest::qWaitFor([&] { return inside.load(); }, 10000));
        worker.Resume(); // busy: dropped
        release = true;
        QVERIFY(QTest::qWaitFor([&] { return worker.Suspended(); }, 10000));
        QTest::qWait(50);
        QCOMPARE(worker.runs.load(), 1);
    }

    void stopWhileWorkerWaitsInSynchronisedCall() {
        // The user interface thread does not run its event loop here: only StopThread can serve the
        // worker's pending call, or both threads would wait for each other for ever.
        Worker worker;
        std::atomic<bool> served{false};
        worker.Resume();
        QVERIFY(QTest::qWaitFor([&] { return worker.Suspended() && worker.runs == 1; }, 10000));
        worker.extra = [&] { SynchronizedCall::run([&] { served = true; }); };
        worker.Resume();
        QThread::msleep(50); // the worker is now blocked in its first synchronised call
        worker.StopThread();
        QVERIFY(worker.Finished());
        QVERIFY(served.load());
    }

    void floodOfCallsLeavesEventLoopRunning() {
        // A run sends one call per bucket back to back; the user interface thread serves them
        // without sleeping in between, but must still get back to its event loop to repaint.
        Worker worker;
        std::atomic<int> served{0};
        std::atomic<int> ticks{0};
        // Calls back to back until the loop has shown that it still runs, whatever the machine's
        // pace; a starved loop keeps the flood going to the end of a minute and fails.
        worker.extra = [&] {
            QElapsedTimer flood;
            flood.start();
            while (ticks < 5 && flood.elapsed() < 60000)
                SynchronizedCall::run([&] { ++served; });
        };
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(10);
        worker.Resume();
        QVERIFY(QTest::qWaitFor([&] { return worker.Suspended() && worker.runs == 1; }, 90000));
        QVERIFY(served > 0);
        QVERIFY2(ticks >= 5,
                 qPrintable(QStringLiteral("the event loop ran %1 timer ticks").arg(ticks.load())));
    }
};

QTEST_MAIN(TestThread)
#include "tst_thread.moc"
