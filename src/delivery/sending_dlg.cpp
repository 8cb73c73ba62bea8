#include "delivery/sending_dlg.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <ctime>
#include <utility>

#include "delivery/outbox.h"
#include "dialogs/accessible_names.h"
#include "dialogs/dialog_units.h"
#include "dialogs/message_box.h"

namespace vox {

CSendingDlg::CSendingDlg(DeliveryRequest request, QWidget* parent)
    : QDialog(parent), m_nSteps(DeliveryStepRange(request.message ? request.message->size() : 0)) {
    const int recipientCount = static_cast<int>(request.recipients.size());
    m_work = [this, request = std::move(request)](DeliveryObserver& observer, const std::atomic<bool>& cancel,
                                                  FailureList& failures) mutable {
        // A retry reads the password again where this send had it: the account's keyring item, or the
        // relay settings file.
        OutboxRoute route;
        if (request.relay)
            route = {request.relay->host, request.relay->port, request.relay->user,
                     request.relayPasswordSource.empty() ? std::string("config") : request.relayPasswordSource,
                     request.relay->tlsMode};
        const std::shared_ptr<const std::string> message = request.message;
        const std::string sender = request.envelopeSender;
        DeliveryJob job(std::move(request), observer, cancel);
        job.RunDelivery();
        failures = job.Failures();
        m_portBlocked = job.PortBlocked();
        // Written here, on the worker, before the window learns the outcome: the report promises a retry.
        if (!Outbox().Keep(*message, sender, route, failures, std::time(nullptr)).empty())
            for (DeliveryFailure& f : failures) f.kind = FailureKind::Final;
    };
    BuildControls(recipientCount);
}

CSendingDlg::CSendingDlg(int recipientCount, int stepRange, Work work, QWidget* parent)
    : QDialog(parent), m_work(std::move(work)), m_nSteps(stepRange) {
    BuildControls(recipientCount);
}

CSendingDlg::~CSendingDlg() {
    // Only reached early if the window is destroyed while its worker still runs: stop the worker, release
    // it from any update it is waiting on, and wait for it before the controls go.
    m_bCancel = true;
    m_worker.Cut();
    m_worker.Join();
}

void CSendingDlg::BuildControls(int recipientCount) {
    setWindowTitle(QStringLiteral("正在发送..."));
    setFont(DialogFont());
    setFixedSize(Dlu(300), Dlu(89));

    // The template keeps its first 49 units free for a picture beside the lines and bars; without one
    // the window looks half empty. The program's icon stands there, centred in that margin beside the
    // two bars, as a message box shows its icon.
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(QIcon(QStringLiteral(":/voxletter.png")).pixmap(32, 32));
    icon->setGeometry((Dlu(49) - 32) / 2, (Dlu(7) + Dlu(58) - 32) / 2, 32, 32);

    m_recipientLine = new QLabel(this);
    m_recipientLine->setObjectName(QStringLiteral("1001"));
    m_recipientLine->setGeometry(DluRect(49, 7, 200, 12));
    m_recipientLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_recipientLine->setTextFormat(Qt::PlainText);

    // An empty range would turn the bar into a busy indicator; one unit keeps it an empty bar.
    m_ctlRecipientProgress = new QProgressBar(this);
    m_ctlRecipientProgress->setObjectName(QStringLiteral("1033"));
    m_ctlRecipientProgress->setGeometry(DluRect(49, 24, 200, 6));
    m_ctlRecipientProgress->setTextVisible(false);
    m_ctlRecipientProgress->setAccessibleName(AccessibleText(kNameRecipientProgress));
    m_ctlRecipientProgress->setRange(0, std::max(1, recipientCount));
    m_ctlRecipientProgress->setValue(0);

    m_stepLine = new QLabel(this);
    m_stepLine->setObjectName(QStringLiteral("1035"));
    m_stepLine->setGeometry(DluRect(49, 35, 200, 12));
    m_stepLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_stepLine->setTextFormat(Qt::PlainText);

    m_ctlStepProgress = new QProgressBar(this);
    m_ctlStepProgress->setObjectName(QStringLiteral("1034"));
    m_ctlStepProgress->setGeometry(DluRect(49, 52, 200, 6));
    m_ctlStepProgress->setTextVisible(false);
    m_ctlStepProgress->setAccessibleName(AccessibleText(kNameStepProgress));
    m_ctlStepProgress->setRange(0, std::max(1, m_nSteps));
    m_ctlStepProgress->setValue(0);

    m_btnCancel = new QPushButton(QStringLiteral("取消"), this);
    m_btnCancel->setObjectName(QStringLiteral("1036"));
    m_btnCancel->setGeometry(DluRect(124, 68, 50, 14));
    // Not a default button: Enter must not press Cancel by accident.
    m_btnCancel->setAutoDefault(false);
    connect(m_btnCancel, &QPushButton::clicked, this, &CSendingDlg::OnCancelSending);
}

void CSendingDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_started) StartWorker();
}

void CSendingDlg::StartWorker() {
    m_started = true;
    m_running = true;
    m_worker.Start([this] {
        m_work(*this, m_bCancel, m_failures);
        // The close is queued, not waited for: the worker touches nothing of the window after this.
        m_worker.Post([this] { OnWorkerDone(); });
    });
}

void CSendingDlg::OnWorkerDone() {
    m_worker.Join();  // it has nothing left to do but return
    m_running = false;
    QDialog::done(QDialog::Rejected);
}

void CSendingDlg::OnCancelSending() { m_bCancel = true; }

bool CSendingDlg::AskCancel() {
    return AskYesNo(this, QString::fromUtf8(kCancelSendQuestion), QStringLiteral("信息"));
}

void CSendingDlg::reject() {
    if (m_running) {
        if (!IsCancelled() && AskCancel()) OnCancelSending();
        return;
    }
    QDialog::reject();
}

void CSendingDlg::closeEvent(QCloseEvent* event) {
    if (m_running) {
        if (!IsCancelled() && AskCancel()) OnCancelSending();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CSendingDlg::SetRecipientText(const std::string& address) {
    m_worker.Call([this, &address] { m_recipientLine->setText(QString::fromStdString(address)); });
}

void CSendingDlg::StepRecipientBar() {
    m_worker.Call([this] {
        m_ctlRecipientProgress->setValue(
            std::min(m_ctlRecipientProgress->value() + 1, m_ctlRecipientProgress->maximum()));
    });
}

void CSendingDlg::SetStepBar(int position) {
    m_worker.Call([this, position] {
        m_ctlStepProgress->setValue(std::clamp(position, m_ctlStepProgress->minimum(), m_ctlStepProgress->maximum()));
    });
}

void CSendingDlg::StepStepBar() {
    m_worker.Call([this] {
        m_ctlStepProgress->setValue(std::min(m_ctlStepProgress->value() + 1, m_ctlStepProgress->maximum()));
    });
}

void CSendingDlg::SetStepLine(const std::string& text) {
    m_worker.Call([this, &text] { m_stepLine->setText(QString::fromStdString(text)); });
}

}  // namespace vox
