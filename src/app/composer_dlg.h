#pragma once
// The composer window: sender, recipient lists, subject, body, attachments, and Send. It keeps the composed
// message for the life of the process; a send works on a copy taken when Send is pressed.

#include <QDialog>
#include <QIcon>
#include <QPixmap>
#include <QPointer>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "account/account_dlg.h"
#include "account/account_route.h"
#include "account/dmarc.h"
#include "account/keyring.h"
#include "compose/mail_draft.h"
#include "controls/body_edit.h"
#include "delivery/delivery_failure.h"
#include "delivery/delivery_request.h"
#include "delivery/outbox.h"
#include "controls/hover_button.h"
#include "draft/draft_store.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QTimer;

namespace vox {

class CSendingDlg;
class CWindowWorker;

// The DMARC look-up before a direct send; tests that must not ask the network put their own in place.
using DmarcLookupFunction = std::function<std::optional<DmarcPolicy>(const std::string& domain)>;
// Replaces it (an empty function puts LookupDmarc back); returns the previous replacement.
DmarcLookupFunction SetDmarcLookupFunction(DmarcLookupFunction replacement);

class CComposerDlg : public QDialog {
    Q_OBJECT
public:
    enum class SizeType { Restored, Minimized, Maximized };

    // Where the window keeps what the user wrote: the draft folder and the Sent Maildir. Empty paths keep
    // nothing (the program passes DefaultDraftFolder() and DefaultSentFolder()).
    struct KeptFolders {
        std::filesystem::path drafts;
        std::filesystem::path sent;
    };
    // The longest a change waits before the draft is saved.
    static constexpr int kDraftSaveDelayMs = 1000;

    explicit CComposerDlg(QWidget* parent = nullptr, KeptFolders kept = {});
    ~CComposerDlg() override;

    // Command handlers.
    void OnAddAttachment();
    void OnRemoveAttachment();
    void OnSound();
    void OnFont();
    void OnFormat();
    void OnBackground();
    void OnSend();
    void OnOtherWorks();
    void OnAbout();
    // The window 发件账户 for the address in 发件人; the route link is brought up to date afterwards.
    void OnAccount();
    // "新邮件": the restored letter is given up; the window starts a new, empty one.
    void OnNewLetter();
    // Writes the draft now (the timer does it within kDraftSaveDelayMs of every change).
    void SaveDraft();
    // One assembly step done; the last one of a send runs delivery and the report.
    void OnAssemblyStep();
    // Retries the outbox's due recipients on a worker, then shows in the information pane how many still
    // wait and reports those given up. Runs once the window is up and then every kOutboxIntervalMs; a round
    // still under way is not doubled.
    void RunOutboxRound();
    static constexpr int kOutboxIntervalMs = 60 * 1000;
    bool IsOutboxRoundRunning() const { return m_outboxRunning; }
    std::size_t WaitingRecipients() const { return m_waiting; }
    // Lays out the body and the progress bar for a client area of cx by cy pixels (0 by 0 when minimised).
    void OnSize(SizeType type, int cx, int cy);

    // The control with a template id (1000..1039), or null.
    QWidget* Control(int id) const;
    QLineEdit* Field(int id) const;
    CBodyEdit* Body() const { return m_body; }
    QListWidget* AttachmentList() const { return m_attachments; }
    QProgressBar* Progress() const { return m_progress; }
    QPushButton* SendButton() const { return m_btnSend; }
    QLabel* HelpPane() const { return m_helpPane; }
    QLabel* InfoPane() const { return m_infoPane; }
    // The link that says how mail from 发件人 goes: "直接投递" or the server's name.
    QLabel* RouteLink() const { return m_routeLink; }
    QString RouteName() const;
    QPushButton* NewLetterButton() const { return m_btnNewLetter; }

    // The composed message as the window keeps it (texts as of the last Send; formats captured at Send).
    const MailDraft& Draft() const { return m_draft; }
    MailDraft& Draft() { return m_draft; }
    bool IsSending() const { return m_sending; }

    // How the delivery window is made for a finished message (tests put a scripted job in its place).
    using SendingDlgFactory =
        std::function<std::unique_ptr<CSendingDlg>(const DeliveryRequest& request, QWidget* parent)>;
    void SetSendingDlgFactory(SendingDlgFactory factory) { m_makeSendingDlg = std::move(factory); }
    // Where account passwords are read (tests put a scripted keyring in place of the desktop's).
    void SetKeyring(std::shared_ptr<Keyring> keyring) { m_keyring = std::move(keyring); }
    // Asks for the password of an account whose keyring holds none; nothing is Cancel.
    using PasswordPrompt = std::function<std::optional<QString>(QWidget* parent, const QString& prompt)>;
    void SetPasswordPrompt(PasswordPrompt prompt) { m_askPassword = std::move(prompt); }
    // What the window 发件账户 talks to (tests give scripted discovery, login and keyring).
    void SetAccountServices(AccountServices services) { m_accountServices = std::move(services); }
    // The report of a send: a report that says port 25 seems blocked offers the window 发件账户 beside 确定.
    void ShowReport(const DeliveryReport& report);

    void done(int result) override;

signals:
    // The window has been closed and no send of it is at work any more: nothing of it keeps the program
    // running. Closed during a send, it ends when that send has run out.
    void ended();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildControls();
    void InitPanes();
    void InitButtonColors();
    void PullTexts(MailDraft& draft) const;
    void PullTexts() { PullTexts(m_draft); }
    void NoteChange();
    void RestoreDraft();
    void ShowLetter(const MailDraft& letter);
    void SetDraftNote(const QString& note);
    void AddSentCopy(const DeliveryRequest& request, const FailureList& failures, std::string& report);
    void CaptureFormats();
    void ShowRefusal(int field, bool hasSelection, std::size_t selStart, std::size_t selEnd,
                     const std::string& message);
    void FinishSend();
    void UpdateRouteLink();
    // Worker side, before the assembly: the route of this send, and the DMARC warning of a direct one.
    // False when the send is not to go on (the window has been told).
    bool ChooseRoute(CWindowWorker& worker);
    // The size warning for a mail over 20 MB: true to send it as it is. Switching the voice to Opus
    // starts the send again.
    bool MailSizeAccepted(const MailDraft& sent);
    void OnAssemblyFailed(const QString& reason);

    CHoverButton* m_btnOtherWorks = nullptr;  // 1021
    CHoverButton* m_btnRemove = nullptr;      // 1013
    CHoverButton* m_btnFormat = nullptr;      // 1011
    CHoverButton* m_btnFont = nullptr;        // 1007
    CHoverButton* m_btnBackground = nullptr;  // 1008
    CHoverButton* m_btnAdd = nullptr;         // 1012
    CHoverButton* m_btnSound = nullptr;       // 1006
    CHoverButton* m_btnSend = nullptr;        // 1009
    QProgressBar* m_progress = nullptr;      // 1032
    CBodyEdit* m_body = nullptr;             // 1005
    QListWidget* m_attachments = nullptr;    // 1010
    QLineEdit* m_editFrom = nullptr;         // 1000
    QLineEdit* m_editTo = nullptr;           // 1001
    QLineEdit* m_editCc = nullptr;           // 1002
    QLineEdit* m_editBcc = nullptr;          // 1003
    QLineEdit* m_editSubject = nullptr;      // 1004
    QLabel* m_infoPane = nullptr;            // 1038
    QLabel* m_helpPane = nullptr;            // 1039
    QLabel* m_routeLink = nullptr;
    QPushButton* m_btnNewLetter = nullptr;   // under the information pane while a restored letter is shown
    QString m_infoText;                      // the pane's own text, before the outbox line and the draft's note
    QString m_draftNote;                     // said while a restored letter is shown

    QIcon m_hIcon;
    QPixmap m_pTileBitmap;
    QPixmap m_deviceTile;  // m_pTileBitmap at the window's device pixels, made at the first painting

    MailDraft m_draft;
    int m_nStepsDone = 0;  // step notifications of the current send

    // The send under way: the worker's own copy of the draft (assembly writes the mail into it; the window
    // reads it only while the worker waits on a step) and the worker with its line to this window.
    MailDraft m_sent;
    std::unique_ptr<CWindowWorker> m_assembler;
    bool m_sending = false;
    bool m_closing = false;
    QPointer<CSendingDlg> m_sendingDlg;

    void OnOutboxRound(const RetryOutcome& outcome, std::size_t waiting);
    void ShowInfoPane();
    void ShowHeldReport();
    std::size_t m_waiting = 0;  // recipients in the outbox, as the last round found them
    QTimer* m_outboxTimer = nullptr;
    std::unique_ptr<CWindowWorker> m_outboxWorker;
    std::atomic<bool> m_outboxCancel{false};
    bool m_outboxRunning = false;
    QString m_heldReport;  // recipients given up while a send was under way, shown after it
    SendingDlgFactory m_makeSendingDlg;
    std::shared_ptr<Keyring> m_keyring;
    PasswordPrompt m_askPassword;
    std::optional<AccountServices> m_accountServices;  // none: RealAccountServices()
    // The send's route as the worker chose it (read by the window once the worker waits on a step).
    std::optional<AccountRoute> m_accountRoute;
    std::optional<RelaySettings> m_relay;
    std::set<std::string> m_dmarcWarned;  // sender addresses told of their domain's policy in this run

    // The draft: saved by m_saveTimer after a change; "sent" while nothing has changed since a send that
    // reached every recipient.
    KeptFolders m_kept;
    std::optional<DraftStore> m_draftStore;
    QTimer* m_saveTimer = nullptr;
    unsigned m_changes = 0;
    unsigned m_changesAtSend = 0;
    bool m_letterSent = false;
    bool m_restoring = false;
};

}  // namespace vox
