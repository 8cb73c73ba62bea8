// The delivery window driven by scripted workers: what each report shows, which keys end it, and that it
// never ends (or dies) under a running worker.

#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>
#include <thread>

#include "delivery/sending_dlg.h"
#include "dialogs/window_worker.h"
#include "ui_test_support.h"

using namespace vox;

namespace {

struct Snapshot {
    QString recipient;
    int recipientBar;
    QString step;
    int stepBar;
};

// Reads the window's state from the worker thread, the way a user would see it after each report.
Snapshot Look(CWindowWorker& line, CSendingDlg* dlg) {
    Snapshot s;
    line.Call([&] {
        s = {dlg->RecipientLine()->text(), dlg->RecipientBar()->value(), dlg->StepLine()->text(),
             dlg->StepBar()->value()};
    });
    return s;
}

// Work that runs until cancelled (or, as a safety net, for ten seconds).
void UntilCancelled(DeliveryObserver& observer, const std::atomic<bool>& cancel, FailureList& failures) {
    observer.SetStepLine("开始传输数据...");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!cancel && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    failures.push_back({"a@b.cn", "cut short"});
}

}  // namespace

class SendingDlgTest : public QObject {
    Q_OBJECT

private slots:
    void layoutAndRanges();
    void reportsAreShownInOrder();
    void endsWhenTheWorkerEnds();
    void keysDoNotEndItWhileRunning_data();
    void keysDoNotEndItWhileRunning();
    void destroyedWhileRunning();
};

void SendingDlgTest::layoutAndRanges() {
    const std::string message(5000, 'x');
    const std::vector<std::string> recipients = {"a@b.cn", "c@d.cn", "e@f.cn"};
    CSendingDlg dlg(DeliveryRequest{std::make_shared<const std::string>(message), recipients, "me@b.cn", std::nullopt});
    QCOMPARE(dlg.windowTitle(), QStringLiteral("正在发送..."));
    QCOMPARE(dlg.size(), QSize(450, 134));
    QCOMPARE(dlg.StepRange(), 10);  // 5000 / 2048 + 8
    QCOMPARE(dlg.StepBar()->maximum(), 10);
    QCOMPARE(dlg.RecipientBar()->maximum(), 3);
    QCOMPARE(dlg.CancelButton()->text(), QStringLiteral("取消"));
    QCOMPARE(dlg.CancelButton()->geometry(), QRect(186, 102, 75, 21));
    QVERIFY(!dlg.CancelButton()->autoDefault());
}

void SendingDlgTest::reportsAreShownInOrder() {
    std::vector<Snapshot> seen;
    CSendingDlg* self = nullptr;
    CWindowWorker probe;
    CSendingDlg dlg(2, 10, [&](DeliveryObserver& o, const std::atomic<bool>&, FailureList&) {
        o.SetRecipientText("甲@例子.中国");
        o.StepRecipientBar();
        o.SetStepBar(0);
        seen.push_back(Look(probe, self));
        o.SetStepLine("正在建立连接...");
        o.StepStepBar();
        o.StepStepBar();
        seen.push_back(Look(probe, self));
        o.SetStepBar(9);
        o.SetStepLine("结束数据传输...");
        seen.push_back(Look(probe, self));
        o.SetRecipientText("b@c.cn");
        o.StepRecipientBar();
        o.StepRecipientBar();  // one too many: the bar stays full
        o.SetStepBar(0);
        seen.push_back(Look(probe, self));
    });
    self = &dlg;
    dlg.exec();

    QCOMPARE(seen.size(), std::size_t{4});
    QCOMPARE(seen[0].recipient, QStringLiteral("甲@例子.中国"));
    QCOMPARE(seen[0].recipientBar, 1);
    QCOMPARE(seen[0].stepBar, 0);
    QCOMPARE(seen[1].step, QStringLiteral("正在建立连接..."));
    QCOMPARE(seen[1].stepBar, 2);
    QCOMPARE(seen[2].step, QStringLiteral("结束数据传输..."));
    QCOMPARE(seen[2].stepBar, 9);
    QCOMPARE(seen[3].recipient, QStringLiteral("b@c.cn"));
    QCOMPARE(seen[3].recipientBar, 2);
    QCOMPARE(seen[3].stepBar, 0);
    QVERIFY(!dlg.IsCancelled());
}

void SendingDlgTest::endsWhenTheWorkerEnds() {
    CSendingDlg dlg(1, 8, [](DeliveryObserver&, const std::atomic<bool>&, FailureList& failures) {
        failures.push_back({"x@y.cn", "无法获得邮件服务器"});
    });
    QElapsedTimer timer;
    timer.start();
    dlg.exec();
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(!dlg.IsWorkerRunning());
    QCOMPARE(dlg.Failures().size(), std::size_t{1});
    QCOMPARE(dlg.Failures()[0].szReason, std::string("无法获得邮件服务器"));
}

void SendingDlgTest::keysDoNotEndItWhileRunning_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("cancel button") << "button";
    QTest::newRow("escape") << "escape";
    QTest::newRow("close box") << "close";
}

void SendingDlgTest::keysDoNotEndItWhileRunning() {
    QFETCH(QString, how);
    // Escape and the close box ask first; a No leaves the send running, the Yes that follows cancels.
    test::QuestionScript questions;
    questions.answers = {false, true};
    CSendingDlg dlg(1, 8, UntilCancelled);
    bool visibleAfterEnter = false, cancelledByEnter = true, visibleAfterRequest = false;
    QTimer::singleShot(100, &dlg, [&] {
        QTest::keyClick(&dlg, Qt::Key_Return);
        QTest::keyClick(dlg.CancelButton(), Qt::Key_Enter);
        visibleAfterEnter = dlg.isVisible();
        cancelledByEnter = dlg.IsCancelled();
        const auto request = [&] {
            if (how == "button")
                dlg.CancelButton()->click();
            else if (how == "escape")
                QTest::keyClick(&dlg, Qt::Key_Escape);
            else
                dlg.close();
        };
        request();
        if (how != "button") {
            QVERIFY(!dlg.IsCancelled());  // answered No
            request();
        }
        // The request is noted, but the window waits for its worker.
        visibleAfterRequest = dlg.isVisible();
    });
    dlg.exec();
    QVERIFY(visibleAfterEnter);
    QVERIFY(!cancelledByEnter);
    QVERIFY(visibleAfterRequest);
    QVERIFY(dlg.IsCancelled());
    QVERIFY(!dlg.IsWorkerRunning());
    QCOMPARE(dlg.Failures().size(), std::size_t{1});
    const std::vector<QString> asked(how == "button" ? 0 : 2, QString::fromUtf8(kCancelSendQuestion));
    QCOMPARE(questions.asked, asked);
}

void SendingDlgTest::destroyedWhileRunning() {
    auto dlg = std::make_unique<CSendingDlg>(1, 8, [](DeliveryObserver& o, const std::atomic<bool>& cancel, FailureList&) {
        // Keeps reporting: the window goes away while a report may be waiting on it.
        for (int i = 0; i < 100000 && !cancel; ++i) o.StepStepBar();
    });
    dlg->show();
    QTest::qWait(50);
    QElapsedTimer timer;
    timer.start();
    dlg.reset();
    QVERIFY(timer.elapsed() < 5000);
}

QTEST_MAIN(SendingDlgTest)
#include "sending_dlg_test.moc"
