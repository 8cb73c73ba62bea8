#include "account/account_dlg.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdlib>

#include "account/accounts_file.h"
#include "delivery/delivery_failure.h"
#include "dialogs/message_box.h"
#include "dialogs/window_worker.h"

namespace vox {
namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

// Authorities to trust instead of the system's, by OpenSSL's own convention, as the command line does.
std::string TrustFile() {
    const char* file = std::getenv("SSL_CERT_FILE");
    return file != nullptr ? file : "";
}

QString Trimmed(std::string answer) {
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    return FromUtf8(answer);
}

}  // namespace

AccountServices RealAccountServices() {
    AccountServices services;
    services.discover = [](const std::string& address, const std::atomic<bool>& cancel) {
        DiscoveryOptions options;
        options.trustFile = TrustFile();
        options.cancel = &cancel;
        CAccountDiscovery discovery(options);
        return discovery.Run(address);
    };
    services.testLogin = [](const Account& account, const std::string& password, const std::atomic<bool>& cancel) {
        ProbeOptions options;
        options.trustFile = TrustFile();
        options.cancel = &cancel;
        return TestLogin(account, password, options);
    };
    services.keyring = std::make_shared<SecretServiceKeyring>();
    services.accountsFile = AccountsFilePath();
    return services;
}

CAccountDlg::CAccountDlg(const QString& address, AccountServices services, QWidget* parent)
    : QDialog(parent), m_address(address.trimmed()), m_services(std::move(services)),
      m_worker(std::make_unique<CWindowWorker>()) {
    setWindowTitle(QStringLiteral("发件账户"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("发件人：") + m_address, this));
    m_direct = new QRadioButton(QStringLiteral("直接投递（无需账户）"), this);
    m_provider = new QRadioButton(QStringLiteral("通过我的邮箱服务商发送"), this);
    layout->addWidget(m_direct);
    layout->addWidget(m_provider);

    auto* form = new QFormLayout;
    auto* hostRow = new QHBoxLayout;
    m_host = new QLineEdit(this);
    m_find = new QPushButton(QStringLiteral("查找"), this);
    hostRow->addWidget(m_host, 1);
    hostRow->addWidget(m_find);
    form->addRow(QStringLiteral("服务器："), hostRow);
    auto* portRow = new QHBoxLayout;
    m_port = new QSpinBox(this);
    m_port->setRange(1, 65535);
    m_port->setValue(465);
    m_security = new QComboBox(this);
    m_security->addItem(QStringLiteral("TLS"), static_cast<int>(Security::Tls));
    m_security->addItem(QStringLiteral("STARTTLS"), static_cast<int>(Security::StartTls));
    portRow->addWidget(m_port);
    portRow->addWidget(new QLabel(QStringLiteral("加密："), this));
    portRow->addWidget(m_security, 1);
    form->addRow(QStringLiteral("端口："), portRow);
    m_user = new QLineEdit(this);
    form->addRow(QStringLiteral("用户名："), m_user);
    auto* passwordRow = new QHBoxLayout;
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_test = new QPushButton(QStringLiteral("测试"), this);
    passwordRow->addWidget(m_password, 1);
    passwordRow->addWidget(m_test);
    form->addRow(QStringLiteral("密码："), passwordRow);
    layout->addLayout(form);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setMinimumHeight(48);
    layout->addWidget(m_status);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_ok = new QPushButton(QStringLiteral("确定"), this);
    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    m_ok->setDefault(true);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    connect(m_find, &QPushButton::clicked, this, &CAccountDlg::OnFind);
    connect(m_test, &QPushButton::clicked, this, &CAccountDlg::OnTest);
    connect(m_ok, &QPushButton::clicked, this, &CAccountDlg::OnOk);
    connect(m_cancelButton, &QPushButton::clicked, this, &CAccountDlg::OnCancel);
    connect(m_direct, &QRadioButton::toggled, this, &CAccountDlg::UpdateEnabled);

    // The address's account as accounts.conf holds it; its password is read from the keyring on the worker.
    std::vector<Account> accounts;
    std::string why;
    const std::string addressText = m_address.toStdString();
    const Account* account = nullptr;
    if (LoadAccounts(m_services.accountsFile, accounts, &why)) account = FindAccount(accounts, addressText);
    else m_status->setText(FromUtf8("账户设置无法读取：" + why));
    m_hadAccount = account != nullptr;
    m_user->setText(m_address);
    if (account) {
        m_provider->setChecked(true);
        m_host->setText(FromUtf8(account->server.host));
        m_port->setValue(account->server.port);
        m_security->setCurrentIndex(account->server.security == Security::Tls ? 0 : 1);
        m_user->setText(FromUtf8(account->user.empty() ? account->address : account->user));
        const Account known = *account;
        RunStep([this, known](const Flag&) {
            std::optional<std::string> password;
            const KeyringResult looked = m_services.keyring->Lookup(known.address, known.server, password);
            m_worker->Post([this, looked, password] {
                if (password) m_password->setText(FromUtf8(*password));
                if (!looked.ok) m_status->setText(FromUtf8("密码无法从密钥环读取：" + looked.error));
            });
        });
    } else {
        m_direct->setChecked(true);
    }
    UpdateEnabled();
}

CAccountDlg::~CAccountDlg() {
    if (m_cancel) *m_cancel = true;
    m_worker.reset();  // cuts the line, then waits for the step to return
}

Account CAccountDlg::Entered() const {
    Account account;
    account.address = m_address.toStdString();
    account.server.host = m_host->text().trimmed().toStdString();
    account.server.port = m_port->value();
    account.server.security = m_security->currentIndex() == 0 ? Security::Tls : Security::StartTls;
    account.user = m_user->text().trimmed().toStdString();
    if (account.user.empty()) account.user = account.address;
    return account;
}

void CAccountDlg::SetBusy(bool busy) {
    m_busy = busy;
    UpdateEnabled();
}

void CAccountDlg::UpdateEnabled() {
    const bool provider = m_provider->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_host, m_port, m_security, m_user, m_password})
        w->setEnabled(provider && !m_busy);
    // A new step waits until the thread of the last one has returned, even after its Cancel.
    const bool idle = !m_busy && !m_cancel;
    m_find->setEnabled(provider && idle && m_address.contains(QLatin1Char('@')));
    m_test->setEnabled(provider && idle);
    m_ok->setEnabled(idle);
    m_direct->setEnabled(!m_busy);
    m_provider->setEnabled(!m_busy);
}

void CAccountDlg::RunStep(std::function<void(const Flag& flag)> work) {
    m_worker->Join();
    Flag flag = m_cancel = std::make_shared<std::atomic<bool>>(false);
    SetBusy(true);
    m_worker->Start([this, flag, work = std::move(work)] {
        work(flag);
        // The step is over once its thread has nothing more to do; then the buttons come back.
        m_worker->Post([this, flag] {
            if (m_cancel != flag) return;
            m_cancel.reset();
            SetBusy(false);
        });
    });
}

void CAccountDlg::ShowFound(const std::vector<Candidate>& found) {
    if (found.empty()) {
        m_status->setText(QStringLiteral("未找到发件服务器：请在邮箱服务商的帮助页面查到后填写。"));
        return;
    }
    const Candidate& best = found.front();
    m_host->setText(FromUtf8(best.server.host));
    m_port->setValue(best.server.port);
    m_security->setCurrentIndex(best.server.security == Security::Tls ? 0 : 1);
    if (!best.user.empty()) m_user->setText(FromUtf8(best.user));
    m_status->setText(FromUtf8("找到 " + best.server.Name() + " " + SecurityName(best.server.security) + "，来自 " +
                               best.where));
}

void CAccountDlg::OnFind() {
    if (m_busy || m_cancel) return;
    m_status->setText(QStringLiteral("正在查找发件服务器..."));
    const std::string address = m_address.toStdString();
    RunStep([this, address](const Flag& flag) {
        std::vector<Candidate> found = m_services.discover(address, *flag);
        m_worker->Post([this, flag, found = std::move(found)] {
            if (!*flag) ShowFound(found);
        });
    });
}

void CAccountDlg::OnTest() {
    if (m_busy || m_cancel) return;
    const Account account = Entered();
    if (account.server.host.empty()) {
        m_status->setText(QStringLiteral("请先填写服务器，或按“查找”。"));
        return;
    }
    const std::string password = m_password->text().toStdString();
    m_status->setText(FromUtf8("正在登录 " + account.server.Name() + "..."));
    RunStep([this, account, password](const Flag& flag) {
        const LoginResult result = m_services.testLogin(account, password, *flag);
        m_worker->Post([this, flag, result, name = account.server.Name()] {
            if (*flag) return;
            QString text = (result.ok ? QStringLiteral("登录成功。") : QStringLiteral("登录失败。")) +
                           FromUtf8(name + " 的回答：") + Trimmed(result.answer);
            if (result.wantsAppPassword) text += QStringLiteral("\n") + QString::fromUtf8(kReasonAppPassword);
            m_status->setText(text);
        });
    });
}

void CAccountDlg::OnOk() {
    if (m_busy || m_cancel) return;
    const bool provider = m_provider->isChecked();
    const Account account = Entered();
    if (provider && !m_address.contains(QLatin1Char('@'))) {
        // An account belongs to a sender address; without one it would never be found again.
        ShowMessage(this, QStringLiteral("请先在发件人中填写邮件地址。"), QStringLiteral("发件账户"),
                    MessageIcon::Exclamation);
        return;
    }
    if (provider && account.server.host.empty()) {
        ShowMessage(this, QStringLiteral("请填写发件服务器，或按“查找”。"), QStringLiteral("发件账户"),
                    MessageIcon::Exclamation);
        return;
    }
    const std::string password = m_password->text().toStdString();
    m_status->setText(QStringLiteral("正在保存..."));
    RunStep([this, provider, account, password](const Flag& flag) {
        std::string problem;  // the settings were not saved
        std::string notice;   // they were, but the password was not kept
        std::vector<Account> accounts;
        if (!LoadAccounts(m_services.accountsFile, accounts, &problem)) {
            problem = "账户设置无法读取：" + problem;
        } else if (provider) {
            KeyringResult stored{true, false, ""};
            if (!password.empty()) stored = m_services.keyring->Store(account.address, account.server, password);
            if (!stored.ok)
                notice = stored.unavailable ? "没有运行中的密钥环（Secret Service），密码没有保存：每次发送时会询问密码。"
                                            : "密码无法存入密钥环（" + stored.error + "）：每次发送时会询问密码。";
            // The old server's item would otherwise stay behind under a name nothing reads any more.
            if (const Account* old = FindAccount(accounts, account.address); old && !(old->server == account.server))
                m_services.keyring->Forget(old->address, old->server);
            PutAccount(accounts, account);
            problem = SaveAccounts(m_services.accountsFile, accounts);
        } else if (const Account* old = FindAccount(accounts, account.address)) {
            m_services.keyring->Forget(old->address, old->server);
            RemoveAccount(accounts, account.address);
            problem = SaveAccounts(m_services.accountsFile, accounts);
        }
        m_worker->Post([this, flag, problem, notice] {
            if (*flag) return;
            m_cancel.reset();
            SetBusy(false);
            if (!problem.empty()) {
                m_status->setText(FromUtf8(problem));
                ShowMessage(this, FromUtf8(problem), QStringLiteral("发件账户"), MessageIcon::Exclamation);
                return;
            }
            if (!notice.empty()) ShowMessage(this, FromUtf8(notice), QStringLiteral("发件账户"), MessageIcon::Information);
            accept();
        });
    });
}

void CAccountDlg::OnCancel() {
    if (m_busy && m_cancel) {
        // The worker returns at once; what it may still deliver is dropped by the step's flag.
        *m_cancel = true;
        m_busy = false;
        m_status->setText(QStringLiteral("已取消。"));
        UpdateEnabled();
        return;
    }
    if (m_cancel) *m_cancel = true;
    QDialog::reject();
}

}  // namespace vox
