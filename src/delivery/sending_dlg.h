#pragma once
// The delivery window: shown modally while a worker thread delivers the finished mail, with the recipient
// being delivered, the protocol step under way, a bar for each, and Cancel.

#include <QDialog>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "delivery/delivery_job.h"
#include "dialogs/window_worker.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vox {

// Asked before a send under way is given up by closing a window.
inline constexpr char kCancelSendQuestion[] = "邮件正在发送，要取消发送并退出吗？";

class CSendingDlg : public QDialog, private DeliveryObserver {
    Q_OBJECT
public:
    // What the worker thread runs: report through observer, watch cancel, leave the failures in failures.
    using Work = std::function<void(DeliveryObserver& observer, const std::atomic<bool>& cancel,
                                    FailureList& failures)>;

    // Delivers the request with a DeliveryJob, which owns it.
    explicit CSendingDlg(DeliveryRequest request, QWidget* parent = nullptr);
    // Runs other work in the same window (tests drive the window this way).
    CSendingDlg(int recipientCount, int stepRange, Work work, QWidget* parent = nullptr);
    ~CSendingDlg() override;

    // Cancel (control 1036): asks the worker to stop; the window stays until the worker has ended.
    void OnCancelSending();

    // Read after the window has ended.
    bool IsCancelled() const { return m_bCancel.load(); }
    const FailureList& Failures() const { return m_failures; }
    // No exchanger of any recipient could be connected to (the report then says so).
    bool PortBlocked() const { return m_portBlocked; }
    // For work given to the second constructor: what it found out about port 25, set before it returns.
    void SetPortBlocked(bool blocked) { m_portBlocked = blocked; }

    bool IsWorkerRunning() const { return m_running; }
    int StepRange() const { return m_nSteps; }
    QLabel* RecipientLine() const { return m_recipientLine; }         // 1001
    QProgressBar* RecipientBar() const { return m_ctlRecipientProgress; }  // 1033
    QLabel* StepLine() const { return m_stepLine; }                   // 1035
    QProgressBar* StepBar() const { return m_ctlStepProgress; }       // 1034
    QPushButton* CancelButton() const { return m_btnCancel; }         // 1036

    // Escape and the close box ask kCancelSendQuestion while the worker runs, and count as Cancel only on
    // Yes; the window ends only with the worker.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls(int recipientCount);
    void StartWorker();
    void OnWorkerDone();
    // The question before a close cancels; true when the send is to be cancelled.
    bool AskCancel();

    // DeliveryObserver, called on the worker thread: each change is shown before the call returns.
    void SetRecipientText(const std::string& address) override;
    void StepRecipientBar() override;
    void SetStepBar(int position) override;
    void StepStepBar() override;
    void SetStepLine(const std::string& text) override;

    std::atomic<bool> m_bCancel{false};
    FailureList m_failures;  // written by the worker, read after it has ended
    bool m_portBlocked = false;  // the same
    Work m_work;
    int m_nSteps = 8;
    bool m_started = false;
    bool m_running = false;

    QLabel* m_recipientLine = nullptr;
    QProgressBar* m_ctlRecipientProgress = nullptr;
    QLabel* m_stepLine = nullptr;
    QProgressBar* m_ctlStepProgress = nullptr;
    QPushButton* m_btnCancel = nullptr;

    CWindowWorker m_worker;
};

}  // namespace vox
