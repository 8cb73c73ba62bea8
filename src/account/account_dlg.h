#pragma once
// The window "发件账户": how mail from one sender address goes out. Directly to each recipient's
// exchangers, or through the user's own provider, whose server is found from the address (查找), tried
// with a login that sends nothing (测试) and kept in accounts.conf with the password in the keyring (确定).
// Every step that talks to the network or the keyring runs on a worker; the window stays responsive and
// its Cancel stops a search at once.

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "account/discovery.h"
#include "account/keyring.h"
#include "account/submission_probe.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace vox {

class CWindowWorker;

// What the window talks to; tests put scripted ones in place. Each function runs on the worker and
// returns soon after cancel turns true.
struct AccountServices {
    std::function<std::vector<Candidate>(const std::string& address, const std::atomic<bool>& cancel)> discover;
    std::function<LoginResult(const Account& account, const std::string& password, const std::atomic<bool>& cancel)>
        testLogin;
    std::shared_ptr<Keyring> keyring;
    std::string accountsFile;
};

// Discovery, the test login and the desktop's keyring as they are; accounts.conf at its usual place.
AccountServices RealAccountServices();

class CAccountDlg : public QDialog {
    Q_OBJECT
public:
    CAccountDlg(const QString& address, AccountServices services, QWidget* parent = nullptr);
    ~CAccountDlg() override;

    void OnFind();
    void OnTest();
    void OnOk();
    // Stops the step under way (the window stays), or closes the window when none runs.
    void OnCancel();

    bool Busy() const { return m_busy; }
    QRadioButton* DirectChoice() const { return m_direct; }
    QRadioButton* ProviderChoice() const { return m_provider; }
    QLineEdit* Host() const { return m_host; }
    QSpinBox* Port() const { return m_port; }
    QComboBox* SecurityChoice() const { return m_security; }
    QLineEdit* User() const { return m_user; }
    QLineEdit* Password() const { return m_password; }
    QLabel* Status() const { return m_status; }
    QPushButton* FindButton() const { return m_find; }
    QPushButton* TestButton() const { return m_test; }
    QPushButton* OkButton() const { return m_ok; }

    void reject() override { OnCancel(); }

private:
    Account Entered() const;
    void SetBusy(bool busy);
    void UpdateEnabled();
    void ShowFound(const std::vector<Candidate>& found);
    // Runs work on the worker with the step's own cancel flag; the buttons come back when it has returned.
    using Flag = std::shared_ptr<std::atomic<bool>>;
    void RunStep(std::function<void(const Flag& flag)> work);

    QString m_address;
    AccountServices m_services;
    std::unique_ptr<CWindowWorker> m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel;  // the step under way's own flag: a new step gets a new one
    bool m_busy = false;
    bool m_hadAccount = false;

    QRadioButton* m_direct = nullptr;
    QRadioButton* m_provider = nullptr;
    QLineEdit* m_host = nullptr;
    QSpinBox* m_port = nullptr;
    QComboBox* m_security = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_find = nullptr;
    QPushButton* m_test = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancelButton = nullptr;
};

}  // namespace vox
