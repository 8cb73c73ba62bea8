// A worker's line to the window thread: what it runs and in which order, and that cutting it or destroying
// the worker never runs a function for a window that is going, never leaves a worker waiting, and never
// returns before the worker's thread has ended.

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "dialogs/window_worker.h"

using namespace vox;
using namespace std::chrono_literals;

class WindowWorkerTest : public QObject {
    Q_OBJECT

private slots:
    void cutAndJoin_data();
    void cutAndJoin();
};

void WindowWorkerTest::cutAndJoin_data() {
    QTest::addColumn<bool>("cutFirst");  // cut before the work starts
    QTest::addColumn<bool>("serve");     // the window thread turns its event loop while the worker runs
    QTest::addColumn<QList<int>>("ran");
    QTest::addColumn<bool>("called");

    QTest::newRow("served in order") << false << true << QList<int>{1, 2, 3} << true;
    QTest::newRow("cut before any call") << true << true << QList<int>{} << false;
    QTest::newRow("destroyed while a call waits") << false << false << QList<int>{} << false;
}

void WindowWorkerTest::cutAndJoin() {
    QFETCH(bool, cutFirst);
    QFETCH(bool, serve);
    QFETCH(QList<int>, ran);
    QFETCH(bool, called);

    QList<int> seen;  // window thread only
    std::atomic<bool> calling{false}, finished{false};
    bool callResult = !called;
    auto worker = std::make_unique<CWindowWorker>();
    if (cutFirst) worker->Cut();
    worker->Start([&, line = worker.get()] {
        line->Post([&] { seen << 1; });
        calling = true;
        callResult = line->Call([&] { seen << 2; });
        line->Post([&] { seen << 3; });
        // Late enough that a destructor which did not wait for the thread would already have returned.
        std::this_thread::sleep_for(50ms);
        finished = true;
    });

    if (serve) {
        QTRY_VERIFY(finished && seen.size() == ran.size());
    } else {
        while (!calling) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);  // the call is queued; nothing serves it
    }
    worker.reset();
    QVERIFY(finished);
    QCoreApplication::processEvents();  // whatever was still queued must not run now
    QCOMPARE(seen, ran);
    QCOMPARE(callResult, called);
}

QTEST_GUILESS_MAIN(WindowWorkerTest)
#include "window_worker_test.moc"
