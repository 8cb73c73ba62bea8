// The account window with scripted discovery, test login and keyring: what it shows after each step,
// Cancel in the middle of a search, a test login that fails, and what 确定 keeps (accounts.conf, keyring).

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <condition_variable>
#include <map>
#include <mutex>

#include "account/account_dlg.h"
#include "account/accounts_file.h"
#include "memory_keyring.h"
#include "ui_test_support.h"

using namespace vox;
using vox::test::MemoryKeyring;

namespace {

// Discovery that answers when the test releases it, or returns at once on cancel, as the real one does.
struct ScriptedDiscovery {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    std::atomic<int> runs{0};
    std::vector<Candidate> answer;

    std::vector<Candidate> Run(const std::atomic<bool>& cancel) {
        std::unique_lock<std::mutex> lock(mutex);
        ++runs;
        while (!released && !cancel) changed.wait_for(lock, std::chrono::milliseconds(5));
        return cancel ? std::vector<Candidate>{} : answer;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
};

Candidate Found(const char* host, int port, Security security, const char* where) {
    Candidate c;
    c.server = {host, port, security};
    c.user = "me@example.test";
    c.foundBy = FoundBy::Srv;
    c.where = where;
    return c;
}

}  // namespace

class AccountDlgTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyring> m_keyring;
    std::shared_ptr<ScriptedDiscovery> m_discovery;
    std::vector<std::string> m_logins;  // "user password" of each test login

    AccountServices Services() {
        AccountServices services;
        services.discover = [d = m_discovery](const std::string&, const std::atomic<bool>& cancel) { return d->Run(cancel); };
        services.testLogin = [this](const Account& account, const std::string& password, const std::atomic<bool>&) {
            m_logins.push_back(account.user + " " + password);
            LoginResult r;
            r.ok = password == "right horse";
            r.answer = r.ok ? "235 2.7.0 Authentication successful\r\n"
                            : "534 5.7.9 Application-specific password required\r\n";
            r.wantsAppPassword = !r.ok;
            return r;
        };
        services.keyring = m_keyring;
        services.accountsFile = (m_dir.path() + "/accounts.conf").toStdString();
        return services;
    }
    static bool Idle(CAccountDlg& dlg) {
        return QTest::qWaitFor([&] { return dlg.FindButton()->isEnabled() || !dlg.ProviderChoice()->isChecked(); }, 5000);
    }

private slots:
    void init() {
        m_keyring = std::make_shared<MemoryKeyring>();
        m_discovery = std::make_shared<ScriptedDiscovery>();
        m_logins.clear();
        QFile::remove(m_dir.path() + "/accounts.conf");
    }

    // Find, a failing test, a passing test, OK: each step's view, and what is kept.
    void findTestAndSave() {
        test::MessageRecorder messages;
        m_discovery->answer = {Found("smtp.example.test", 587, Security::StartTls, "SRV _submission._tcp.example.test"),
                               Found("other.example.test", 465, Security::Tls, "guess")};
        CAccountDlg dlg(QStringLiteral("me@example.test"), Services());
        QVERIFY(dlg.DirectChoice()->isChecked());
        QVERIFY(!dlg.Host()->isEnabled());
        QVERIFY(!dlg.FindButton()->isEnabled());
        QCOMPARE(dlg.User()->text(), QStringLiteral("me@example.test"));

        dlg.ProviderChoice()->setChecked(true);
        QVERIFY(dlg.FindButton()->isEnabled());
        dlg.FindButton()->click();
        QVERIFY(dlg.Busy());
        QCOMPARE(dlg.Status()->text(), QStringLiteral("正在查找发件服务器..."));
        QVERIFY(!dlg.OkButton()->isEnabled());
        m_discovery->Release();
        QVERIFY(QTest::qWaitFor([&] { return !dlg.Busy(); }, 5000));
        QCOMPARE(dlg.Host()->text(), QStringLiteral("smtp.example.test"));
        QCOMPARE(dlg.Port()->value(), 587);
        QCOMPARE(dlg.SecurityChoice()->currentText(), QStringLiteral("STARTTLS"));
        QCOMPARE(dlg.Status()->text(),
                 QStringLiteral("找到 smtp.example.test:587 STARTTLS，来自 SRV _submission._tcp.example.test"));

        dlg.Password()->setText(QStringLiteral("usual"));
        dlg.TestButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return !dlg.Busy(); }, 5000));
        QVERIFY2(dlg.Status()->text().startsWith(
                     QStringLiteral("登录失败。smtp.example.test:587 的回答：534 5.7.9 Application-specific")),
                 qPrintable(dlg.Status()->text()));
        QVERIFY(dlg.Status()->text().contains(QStringLiteral("专用密码")));
        QVERIFY(Idle(dlg));
        dlg.Password()->setText(QStringLiteral("right horse"));
        dlg.TestButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return dlg.Status()->text().startsWith(QStringLiteral("登录成功。")); }, 5000));
        QCOMPARE(m_logins, (std::vector<std::string>{"me@example.test usual", "me@example.test right horse"}));

        QVERIFY(Idle(dlg));
        dlg.OkButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return dlg.result() == QDialog::Accepted; }, 5000));
        QVERIFY(messages.messages.empty());
        std::vector<Account> accounts;
        std::string why;
        QVERIFY(LoadAccounts(Services().accountsFile, accounts, &why));
        QCOMPARE(accounts.size(), std::size_t(1));
        QCOMPARE(accounts[0].server.Name(), std::string("smtp.example.test:587"));
        QVERIFY(accounts[0].server.security == Security::StartTls);
        QCOMPARE(m_keyring->items["me@example.test smtp.example.test:587"], std::string("right horse"));

        // Opened again: the account and its password are shown; direct delivery then removes both.
        CAccountDlg again(QStringLiteral("me@example.test"), Services());
        QVERIFY(again.ProviderChoice()->isChecked());
        QCOMPARE(again.Host()->text(), QStringLiteral("smtp.example.test"));
        QVERIFY(QTest::qWaitFor([&] { return again.Password()->text() == QStringLiteral("right horse"); }, 5000));
        QVERIFY(Idle(again));
        again.DirectChoice()->setChecked(true);
        again.OkButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return again.result() == QDialog::Accepted; }, 5000));
        QVERIFY(LoadAccounts(Services().accountsFile, accounts, &why));
        QVERIFY(accounts.empty());
        QVERIFY(m_keyring->items.empty());
    }

    // Cancel during a search stops it at once: the window stays, nothing found is filled in later.
    void cancelStopsTheSearch() {
        m_discovery->answer = {Found("late.example.test", 465, Security::Tls, "guess")};
        CAccountDlg dlg(QStringLiteral("me@example.test"), Services());
        dlg.show();
        dlg.ProviderChoice()->setChecked(true);
        dlg.FindButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return m_discovery->runs == 1; }, 5000));
        QElapsedTimer timer;
        timer.start();
        dlg.reject();  // Esc or 取消
        QVERIFY(timer.elapsed() < 500);
        QVERIFY(!dlg.Busy());
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.Status()->text(), QStringLiteral("已取消。"));
        QVERIFY(QTest::qWaitFor([&] { return dlg.FindButton()->isEnabled(); }, 5000));
        QCOMPARE(dlg.Host()->text(), QString());
    }

    // No Secret Service: 确定 keeps the server, says so, and keeps the password nowhere.
    void withoutKeyring() {
        test::MessageRecorder messages;
        m_keyring->unavailable = true;
        CAccountDlg dlg(QStringLiteral("me@example.test"), Services());
        dlg.ProviderChoice()->setChecked(true);
        dlg.Host()->setText(QStringLiteral("smtp.example.test"));
        dlg.Port()->setValue(465);
        dlg.Password()->setText(QStringLiteral("secret"));
        dlg.OkButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return dlg.result() == QDialog::Accepted; }, 5000));
        QCOMPARE(messages.messages.size(), std::size_t(1));
        QVERIFY(messages.messages[0].text.contains(QStringLiteral("每次发送时会询问密码")));
        const std::string conf = test::ReadAll(Services().accountsFile);
        QVERIFY(conf.find("host = smtp.example.test") != std::string::npos);
        QVERIFY(conf.find("secret") == std::string::npos);
    }
};

QTEST_MAIN(AccountDlgTest)
#include "account_dlg_test.moc"
