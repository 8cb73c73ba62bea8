#include "app/composer_dlg.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QShortcut>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTimer>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <ctime>
#include <exception>
#include <limits>
#include <utility>
#include <new>

#include "account/account_dlg.h"
#include "account/accounts_file.h"
#include "app/about_dlg.h"
#include "app/maker_info.h"
#include "app/app_resources.h"
#include "base/program_folder.h"
#include "compose/address_list.h"
#include "compose/assembly.h"
#include "compose/mail_address.h"
#include "controls/body_edit.h"
#include "controls/hover_button.h"
#include "controls/text_format.h"
#include "delivery/delivery_job.h"
#include "delivery/sending_dlg.h"
#include "dialogs/accessible_names.h"
#include "draft/sent_folder.h"
#include "dialogs/align_dlg.h"
#include "dialogs/background_dlg.h"
#include "dialogs/dialog_units.h"
#include "dialogs/file_chooser.h"
#include "dialogs/font_dlg.h"
#include "dialogs/message_box.h"
#include "dialogs/screen_fit.h"
#include "dialogs/window_worker.h"
#include "sound/add_sound_dlg.h"
#include "voice/voice_settings.h"
#include "compose/mail_size.h"

namespace vox {

namespace {

const char kHelpText[] =
    "    帮助：\r\n    本程序无需提供邮件发送账号，邮件直接投递。发件人可任意填写，但一定要是正确的邮件地址。"
    "收件人、抄送和暗送可填写多个，中间用英文标点';'分号分割。你可以在邮件中添加声音和背景图片，可以编辑简单的"
    "超文本。本软件最具特点的功能是，可以将你的语音放入邮件中，对方一打开邮件便会听到你的声音。";

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

DmarcLookupFunction& DmarcReplacement() {
    static DmarcLookupFunction replacement;
    return replacement;
}

// The address proper of what 发件人 holds ("名字 <me@example.com>" gives me@example.com).
std::string SenderAddress(const QString& field) {
    const std::string text = field.toStdString();
    MailAddress address;
    ParseMailAddress(text, address);
    return address.address.empty() ? text : address.address;
}

std::optional<QString> AskPasswordInBox(QWidget* parent, const QString& prompt) {
    bool ok = false;
    const QString password =
        QInputDialog::getText(parent, QStringLiteral("发件账户"), prompt, QLineEdit::Password, QString(), &ok);
    if (!ok) return std::nullopt;
    return password;
}

// A byte offset into a field's UTF-8 text as a position in its QString.
int QtPosition(const std::string& utf8, std::size_t byteOffset) {
    byteOffset = std::min(byteOffset, utf8.size());
    return static_cast<int>(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(byteOffset)).size());
}

QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& rect) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(rect);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

}  // namespace

namespace {

// Assembly's reports, each carried to the window on its thread while the worker waits. The window cuts the
// worker's line before it goes, so the window is alive whenever one of these runs.
class ComposerSink : public AssemblySink {
public:
    ComposerSink(CWindowWorker& worker, CComposerDlg* window) : m_worker(worker), m_window(window) {}

    void Step() override {
        m_worker.Call([this] { m_window->OnAssemblyStep(); });
    }

    void ShowError(const std::string& text) override {
        m_worker.Call(
            [this, &text] { ShowMessage(m_window, FromUtf8(text), QStringLiteral("错误"), MessageIcon::Exclamation); });
    }

private:
    CWindowWorker& m_worker;
    CComposerDlg* m_window;
};

}  // namespace

CComposerDlg::CComposerDlg(QWidget* parent, KeptFolders kept) : QDialog(parent), m_kept(std::move(kept)) {
    LoadUiResources();
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    m_hIcon = QIcon(QStringLiteral(":/voxletter.png"));
    m_pTileBitmap = QPixmap(QStringLiteral(":/tile.png"));
    resize(Dlu(320), Dlu(301));
    // The restored size is the template's unless the screen is smaller; maximised, as the window starts,
    // it takes the whole screen anyway (where a window manager maximises it).
    FitToScreen(this);

    m_keyring = std::make_shared<SecretServiceKeyring>();
    m_askPassword = AskPasswordInBox;
    BuildControls();
    InitPanes();
    InitButtonColors();
    m_draft.m_voice = LoadVoiceSettings();  // what the sound window chose last time

    setWindowIcon(m_hIcon);
    setWindowTitle(QString::fromUtf8(kProductTitle));
    m_editFrom->setFocus();
    setWindowState(Qt::WindowMaximized);

    // Mail that waits from an earlier run is tried as soon as the loop runs, then every minute.
    m_outboxWorker = std::make_unique<CWindowWorker>();
    m_outboxTimer = new QTimer(this);
    m_outboxTimer->setInterval(kOutboxIntervalMs);
    connect(m_outboxTimer, &QTimer::timeout, this, &CComposerDlg::RunOutboxRound);
    m_outboxTimer->start();
    QTimer::singleShot(0, this, &CComposerDlg::RunOutboxRound);
    // Every change of the letter is saved within a second; the timer is not pushed back by further
    // typing, so that steady typing is saved too.
    m_saveTimer = new QTimer(this);
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(kDraftSaveDelayMs);
    connect(m_saveTimer, &QTimer::timeout, this, &CComposerDlg::SaveDraft);
    for (QLineEdit* edit : {m_editFrom, m_editTo, m_editCc, m_editBcc, m_editSubject})
        connect(edit, &QLineEdit::textChanged, this, &CComposerDlg::NoteChange);
    connect(m_body, &QTextEdit::textChanged, this, &CComposerDlg::NoteChange);
    connect(m_attachments->model(), &QAbstractItemModel::rowsInserted, this, &CComposerDlg::NoteChange);
    connect(m_attachments->model(), &QAbstractItemModel::rowsRemoved, this, &CComposerDlg::NoteChange);
    if (!m_kept.drafts.empty()) {
        m_draftStore.emplace(m_kept.drafts, RecordingPath());
        RestoreDraft();
    }
}

CComposerDlg::~CComposerDlg() {
    // A send may still be assembling: its worker is cut off (no further report reaches this window, and a
    // worker waiting on one is let go) and waited for before anything of the window goes.
    m_assembler.reset();
    // A retry under way stops at its next wait; what it settled is on disk already.
    m_outboxCancel = true;
    m_outboxWorker->Cut();
    m_outboxWorker->Join();  // before the pointer goes: the worker holds the object, not the pointer
    m_outboxWorker.reset();
}

namespace {

// The outbox's rounds show no progress: the pane's count and the report of those given up are enough.
class SilentProgress : public DeliveryObserver {
public:
    void SetRecipientText(const std::string&) override {}
    void StepRecipientBar() override {}
    void SetStepBar(int) override {}
    void StepStepBar() override {}
    void SetStepLine(const std::string&) override {}
};

}  // namespace

void CComposerDlg::RunOutboxRound() {
    if (m_outboxRunning || m_closing) return;
    m_outboxRunning = true;
    m_outboxWorker->Join();
    CWindowWorker* worker = m_outboxWorker.get();
    // Taken here, on the window's thread, where a test may put its own in place.
    worker->Start([this, worker, keyring = m_keyring] {
        // Never on the window's thread: a retry may wait on exchangers for minutes.
        SilentProgress progress;
        Outbox outbox;
        outbox.SetKeyringReader(OutboxKeyringReader(keyring));
        RetryOutcome outcome = outbox.Retry(std::time(nullptr), true, progress, m_outboxCancel);
        const std::size_t waiting = outbox.Count();
        worker->Post([this, outcome = std::move(outcome), waiting] { OnOutboxRound(outcome, waiting); });
    });
}

void CComposerDlg::OnOutboxRound(const RetryOutcome& outcome, std::size_t waiting) {
    m_outboxWorker->Join();  // it has nothing left to do but return
    m_outboxRunning = false;
    m_waiting = waiting;
    ShowInfoPane();
    // Those still waiting are counted in the pane; those given up (refused for good, or two days past)
    // are reported as a send's failures are.
    FailureList givenUp;
    for (const DeliveryFailure& f : outcome.failures)
        if (f.kind == FailureKind::Final) givenUp.push_back(f);
    if (givenUp.empty()) return;
    m_heldReport += FromUtf8(BuildReport(givenUp).text);
    if (!m_sending) ShowHeldReport();
}

void CComposerDlg::ShowHeldReport() {
    if (m_heldReport.isEmpty() || m_closing) return;
    const QString report = std::exchange(m_heldReport, QString());
    ShowMessage(this, report, QStringLiteral("信息"), MessageIcon::Exclamation);
}

void CComposerDlg::ShowInfoPane() {
    QString text = m_infoText;
    if (m_waiting > 0)
        text += QStringLiteral("\n\n    发件箱：%1个收件人等待自动重试。").arg(static_cast<qulonglong>(m_waiting));
    if (!m_draftNote.isEmpty()) text += QStringLiteral("\n\n    ") + m_draftNote;
    m_infoPane->setText(text);
    m_infoPane->setGeometry(710, 10, 300, std::max(160, m_infoPane->heightForWidth(300)));
    m_routeLink->setGeometry(710, m_infoPane->geometry().bottom() + 6, 300, 20);
    m_btnNewLetter->setGeometry(710, m_routeLink->geometry().bottom() + 4, 80, 20);
    m_btnNewLetter->setVisible(!m_draftNote.isEmpty());
}

void CComposerDlg::BuildControls() {
    // Created in the template's tab order: the focus chain follows creation order.
    auto field = [this](int id, const QRect& rect) {
        auto* edit = MakeControl<QLineEdit>(this, id, rect);
        // A line edit silently cuts its text at 32,767 characters; an address list of a few thousand
        // entries is longer, and a cut one would send to a cut address.
        edit->setMaxLength(std::numeric_limits<int>::max());
        return edit;
    };
    auto button = [this](int id, const QString& text, const QRect& rect) {
        auto* btn = MakeControl<CHoverButton>(this, id, rect, text);
        btn->setAutoDefault(false);
        return btn;
    };

    MakeLabel(this, QStringLiteral("发件人(&F)"), DluRect(7, 7, 35, 12))->setBuddy(m_editFrom = field(1000, DluRect(46, 7, 120, 12)));
    MakeLabel(this, QStringLiteral("收件人(&T)"), DluRect(7, 25, 35, 12))->setBuddy(m_editTo = field(1001, DluRect(46, 25, 120, 12)));
    MakeLabel(this, QStringLiteral("抄送(&C)"), DluRect(7, 43, 35, 12))->setBuddy(m_editCc = field(1002, DluRect(46, 43, 120, 12)));
    MakeLabel(this, QStringLiteral("暗送(&B)"), DluRect(7, 61, 35, 12))->setBuddy(m_editBcc = field(1003, DluRect(46, 61, 120, 12)));
    MakeLabel(this, QStringLiteral("主题(&S)"), DluRect(7, 79, 35, 12))->setBuddy(m_editSubject = field(1004, DluRect(46, 79, 120, 12)));

    QLabel* attachLabel = MakeLabel(this, QStringLiteral("附件(&A)"), DluRect(173, 7, 33, 12));
    m_attachments = new QListWidget(this);
    m_attachments->setObjectName(QStringLiteral("1010"));
    m_attachments->setGeometry(DluRect(173, 25, 140, 66));
    m_attachments->setSelectionMode(QAbstractItemView::MultiSelection);  // a click toggles one item
    m_attachments->setSortingEnabled(true);
    m_attachments->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    attachLabel->setBuddy(m_attachments);
    // A list takes no name from its buddy label.
    m_attachments->setAccessibleName(SpokenCaption(attachLabel->text()));
    m_btnAdd = button(1012, QStringLiteral("+"), DluRect(213, 7, 12, 12));
    m_btnAdd->setAccessibleName(AccessibleText(kNameAddAttachment));
    m_btnRemove = button(1013, QStringLiteral("-"), DluRect(228, 7, 12, 12));
    m_btnRemove->setAccessibleName(AccessibleText(kNameRemoveAttachment));

    QLabel* bodyLabel = MakeLabel(this, QStringLiteral("邮件正文(&X)"), DluRect(7, 97, 45, 12));
    m_body = new CBodyEdit(this);
    m_body->setObjectName(QStringLiteral("1005"));
    m_body->setGeometry(DluRect(7, 114, 306, 180));
    m_body->setAcceptRichText(false);  // one format for the whole body
    // The mail's default format, which the command-line tool starts from as well.
    m_body->setFont(QtFont(CharFormat{}));
    m_body->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_body->setTabChangesFocus(true);
    bodyLabel->setBuddy(m_body);

    m_btnSound = button(1006, QStringLiteral("声音"), DluRect(60, 97, 40, 12));
    m_btnFont = button(1007, QStringLiteral("字体"), DluRect(113, 97, 40, 12));
    m_btnFormat = button(1011, QStringLiteral("格式"), DluRect(166, 97, 40, 12));
    m_btnBackground = button(1008, QStringLiteral("背景"), DluRect(219, 97, 40, 12));
    m_btnSend = button(1009, QStringLiteral("发送"), DluRect(293, 93, 20, 20));
    m_btnSend->setDefault(true);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("1032"));
    m_progress->setGeometry(DluRect(7, 295, 306, 6));
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(AccessibleText(kNameSendProgress));
    m_progress->hide();

    m_infoPane = MakeLabel(this, QStringLiteral("*"), DluRect(102, 98, 8, 8));
    m_infoPane->setObjectName(QStringLiteral("1038"));
    m_helpPane = MakeLabel(this, QStringLiteral("?"), DluRect(156, 98, 8, 8));
    m_helpPane->setObjectName(QStringLiteral("1039"));
    m_btnOtherWorks = button(1021, QString::fromUtf8(kMakerName) + QStringLiteral("的其他作品"), DluRect(265, 99, 20, 10));
    m_btnNewLetter = button(0, QStringLiteral("新邮件"), QRect(710, 180, 80, 20));
    m_btnNewLetter->setObjectName(QStringLiteral("newLetter"));
    m_btnNewLetter->hide();

    // Labels and panes are see-through with black text, so the tiled picture shows behind them.
    for (QLabel* label : findChildren<QLabel*>()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
        label->setAutoFillBackground(false);
    }

    connect(m_btnAdd, &QPushButton::clicked, this, &CComposerDlg::OnAddAttachment);
    connect(m_btnRemove, &QPushButton::clicked, this, &CComposerDlg::OnRemoveAttachment);
    connect(m_btnSound, &QPushButton::clicked, this, &CComposerDlg::OnSound);
    connect(m_btnFont, &QPushButton::clicked, this, &CComposerDlg::OnFont);
    connect(m_btnFormat, &QPushButton::clicked, this, &CComposerDlg::OnFormat);
    connect(m_btnBackground, &QPushButton::clicked, this, &CComposerDlg::OnBackground);
    connect(m_btnSend, &QPushButton::clicked, this, &CComposerDlg::OnSend);
    connect(m_btnOtherWorks, &QPushButton::clicked, this, &CComposerDlg::OnOtherWorks);

    // Send has no mnemonic of its own; Ctrl+Return (and Ctrl+Enter on the keypad) press it from any field,
    // the body included, as in other mail composers. A disabled Send (a send under way) takes no press.
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (m_btnSend->isEnabled()) m_btnSend->click();
        });
    }
    connect(m_btnNewLetter, &QPushButton::clicked, this, &CComposerDlg::OnNewLetter);
}

void CComposerDlg::SetDraftNote(const QString& note) {
    m_draftNote = note;
    ShowInfoPane();
}

void CComposerDlg::NoteChange() {
    if (m_restoring) return;
    ++m_changes;
    m_letterSent = false;
    if (m_draftStore && !m_saveTimer->isActive()) m_saveTimer->start();
}

void CComposerDlg::SaveDraft() {
    m_saveTimer->stop();
    if (!m_draftStore) return;
    MailDraft letter = m_draft;
    PullTexts(letter);
    letter.m_charFormat = CharFormatFromQt(m_body->currentCharFormat(), m_body->font());
    letter.m_paraFormat = ParaFormatFromQt(m_body->alignment());
    // A draft that cannot be written is tried again with the next change; the letter is still in the
    // window, and a box every second would make the window unusable.
    m_draftStore->Save(letter, m_letterSent);
}

void CComposerDlg::ShowLetter(const MailDraft& letter) {
    m_restoring = true;
    m_draft = letter;
    m_editFrom->setText(FromUtf8(letter.m_strFrom));
    m_editTo->setText(FromUtf8(letter.m_strTo));
    m_editCc->setText(FromUtf8(letter.m_strCc));
    m_editBcc->setText(FromUtf8(letter.m_strBcc));
    m_editSubject->setText(FromUtf8(letter.m_strSubject));
    m_attachments->clear();
    for (const std::string& path : letter.m_attachments) m_attachments->addItem(FromUtf8(path));
    m_body->setPlainText(FromUtf8(letter.m_strBody).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    // The body's one format, as the font and alignment windows give it: to all of the text.
    QTextCursor cursor(m_body->document());
    cursor.select(QTextCursor::Document);
    const QTextCharFormat format = QtCharFormat(QtFont(letter.m_charFormat), FromColorRef(letter.m_charFormat.crTextColor));
    cursor.setCharFormat(format);
    QTextBlockFormat block;
    block.setAlignment(QtAlignment(letter.m_paraFormat.wAlignment));
    cursor.mergeBlockFormat(block);
    m_body->setCurrentCharFormat(format);
    m_body->moveCursor(QTextCursor::Start);
    if (letter.m_nBackgroundMode == 1)
        m_body->SetBackgroundPicture(FromUtf8(letter.m_strPicture));
    else
        m_body->SetBackgroundColor(FromColorRef(letter.m_crBackground));
    m_restoring = false;
}

void CComposerDlg::RestoreDraft() {
    const DraftStore::Loaded loaded = m_draftStore->Load();
    switch (loaded.found) {
    case DraftStore::Found::Nothing:
    case DraftStore::Found::Sent:
        return;
    case DraftStore::Found::Damaged:
        ShowMessage(this,
                    QStringLiteral("草稿无法读取（") + FromUtf8(loaded.error) + QStringLiteral("），已另存为") +
                        FromUtf8(loaded.damagedAs.string()) + QStringLiteral("。"),
                    QStringLiteral("错误"), MessageIcon::Exclamation);
        return;
    case DraftStore::Found::Unsent:
        break;
    }
    ShowLetter(loaded.draft);
    SetDraftNote(QStringLiteral("已恢复上次未发送的邮件（草稿保存在") + FromUtf8(m_draftStore->Folder().string()) +
                 QStringLiteral("）。要写新邮件，请按“新邮件”。"));
}

void CComposerDlg::OnNewLetter() {
    ShowLetter(MailDraft{});
    if (m_draftStore) m_draftStore->Clear();
    m_saveTimer->stop();
    m_letterSent = false;
    SetDraftNote(QString());
}

void CComposerDlg::InitPanes() {
    // The panes and the other-works button sit right of the restored client area (480 pixels wide): they
    // appear when the window is wider than that, as it is at start, maximised.
    // The CJK font's lines are taller than the template font's: a pane grows downwards until its whole text
    // fits, and the other-works button stays below the help pane.
    m_helpPane->setTextFormat(Qt::PlainText);
    m_helpPane->setWordWrap(true);
    m_helpPane->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_helpPane->setText(QString::fromUtf8(kHelpText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    m_helpPane->setGeometry(480, 10, 220, std::max(120, m_helpPane->heightForWidth(220)));

    m_infoPane->setTextFormat(Qt::PlainText);
    m_infoPane->setWordWrap(true);
    m_infoPane->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Mail goes through the user's relay whenever its settings file exists; the pane says so.
    std::string relayNote;
    std::string relayProblem;
    const std::string relayPath = RelayConfigPath();
    if (const auto relay = LoadRelayConfig(relayPath, &relayProblem))
        relayNote = "\n\n    发信中继：邮件经" + relay->host + ":" + std::to_string(relay->port) + "发送（" + relayPath + "）。";
    else if (!relayProblem.empty())
        relayNote = "\n\n    发信中继设置无法使用：" + relayProblem;
    // Below the information, always: how the next mail from 发件人 goes, and the way to change it (placed
    // by ShowInfoPane, under the pane's text as it grows).
    m_routeLink = new QLabel(this);
    m_routeLink->setTextFormat(Qt::RichText);
    m_routeLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(m_routeLink, &QLabel::linkActivated, this, [this] { OnAccount(); });
    connect(m_editFrom, &QLineEdit::textChanged, this, [this] { UpdateRouteLink(); });
    UpdateRouteLink();
    m_infoText = QString::fromUtf8(kProductInformation) + QString::fromStdString(relayNote);
    SetDraftNote(QString());

    // Just below the help pane, and never into the body, which starts at y 171.
    const int worksY = std::clamp(m_helpPane->geometry().bottom() + 3, 145, 149);
    m_btnOtherWorks->setGeometry(480, worksY, 220, 20);
}

void CComposerDlg::InitButtonColors() {
    // Top and bottom of the normal ring; the buttons not listed keep the default blue.
    const struct {
        CHoverButton* button;
        COLORREF top, bottom;
    } rings[] = {
        {m_btnOtherWorks, 0xE6EBEC, 0xFBFCFC},
        {m_btnSend, 0xC7FAE2, 0x24EA91},
        {m_btnAdd, 0xF1C7F4, 0xD03994},
        {m_btnRemove, 0xF1C7F4, 0xD03994},
    };
    for (const auto& ring : rings) ring.button->SetColors(ring.top, ring.bottom);
}

QWidget* CComposerDlg::Control(int id) const { return FindControl(this, id); }

QLineEdit* CComposerDlg::Field(int id) const {
    switch (id) {
    case 1000: return m_editFrom;
    case 1001: return m_editTo;
    case 1002: return m_editCc;
    case 1003: return m_editBcc;
    case 1004: return m_editSubject;
    default: return nullptr;
    }
}

void CComposerDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_pTileBitmap.isNull()) return;
    // The tile is pixel art: it is drawn at device pixels, each of its pixels as a whole square of them
    // (2 by 2 at scale 2; 1 by 1 at 1.5, where a pixel and a half would blur or come out uneven).
    const qreal ratio = devicePixelRatioF();
    if (m_deviceTile.isNull() || m_deviceTile.devicePixelRatio() != ratio) {
        const int unit = std::max(1, static_cast<int>(ratio + 1e-6));
        m_deviceTile = m_pTileBitmap.scaled(m_pTileBitmap.size() * unit, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        m_deviceTile.setDevicePixelRatio(ratio);
    }
    painter.drawTiledPixmap(rect(), m_deviceTile);  // the tile repeats from the client origin
}

void CComposerDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (isMinimized()) return;
    OnSize(isMaximized() ? SizeType::Maximized : SizeType::Restored, event->size().width(), event->size().height());
}

void CComposerDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    if (isMinimized())
        OnSize(SizeType::Minimized, 0, 0);
    else
        OnSize(isMaximized() ? SizeType::Maximized : SizeType::Restored, width(), height());
}

void CComposerDlg::OnSize(SizeType, int cx, int cy) {
    if (m_body) m_body->resize(std::max(0, cx - 21), std::max(0, cy - 182));
    if (m_progress) m_progress->setGeometry(11, cy - 10, std::max(0, cx - 21), 8);
}

void CComposerDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The window's own menu: there is no system menu of the program's own to extend here.
    QMenu menu(this);
    connect(menu.addAction(QStringLiteral("发件账户…")), &QAction::triggered, this, &CComposerDlg::OnAccount);
    connect(menu.addAction(QStringLiteral("关于 VoxLetter(&A)...")), &QAction::triggered, this,
            &CComposerDlg::OnAbout);
    menu.exec(event->globalPos());
}

void CComposerDlg::OnAccount() {
    CAccountDlg account(FromUtf8(SenderAddress(m_editFrom->text())),
                        m_accountServices ? *m_accountServices : RealAccountServices(), this);
    account.exec();
    UpdateRouteLink();
}

QString CComposerDlg::RouteName() const {
    // Files only, no keyring: the same order as the send's own choice.
    std::vector<Account> accounts;
    std::string why;
    if (LoadAccounts(AccountsFilePath(), accounts, &why))
        if (const Account* account = FindAccount(accounts, SenderAddress(m_editFrom->text())))
            return FromUtf8(account->server.host);
    if (const auto relay = LoadRelayConfig(RelayConfigPath(), &why)) return FromUtf8(relay->host);
    return QStringLiteral("直接投递");
}

void CComposerDlg::UpdateRouteLink() {
    if (!m_routeLink) return;
    m_routeLink->setText(QStringLiteral("    发送方式：<a href=\"account\">") + RouteName().toHtmlEscaped() +
                         QStringLiteral("</a>"));
}

DmarcLookupFunction SetDmarcLookupFunction(DmarcLookupFunction replacement) {
    return std::exchange(DmarcReplacement(), std::move(replacement));
}

bool CComposerDlg::ChooseRoute(CWindowWorker& worker) {
    // m_sent holds still for the worker; the route members are read by the window only in a later step.
    const std::string address = m_sent.m_fromAddress.address;
    std::string why;
    m_accountRoute = AccountRouteFor(address, *m_keyring, &why);
    std::string problem;
    if (!why.empty()) problem = "发件账户设置无法使用：" + why;
    m_relay.reset();
    if (problem.empty() && !m_accountRoute) {
        m_relay = LoadRelayConfig(RelayConfigPath(), &why);
        // Settings the user wrote but that cannot be used must not silently turn into direct delivery.
        if (!why.empty()) problem = "发信中继设置无法使用：" + why;
    }
    if (!problem.empty()) {
        worker.Call([this, problem] {
            ShowMessage(this, FromUtf8(problem), QStringLiteral("错误"), MessageIcon::Exclamation);
            FinishSend();
        });
        return false;
    }
    if (m_accountRoute || m_relay) return true;

    // Direct: receivers that follow the sender domain's DMARC policy refuse, or file as spam, what this
    // machine sends under it. Said once per address and run; a failed look-up says nothing.
    std::string key = address;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    bool warned = true;
    if (!worker.Call([&] { warned = m_dmarcWarned.count(key) > 0; })) return false;
    if (warned) return true;
    const std::string domain = m_sent.m_fromAddress.domain;
    const std::optional<DmarcPolicy> policy =
        DmarcReplacement() ? DmarcReplacement()(domain) : LookupDmarc(domain);
    if (!policy || (*policy != DmarcPolicy::Reject && *policy != DmarcPolicy::Quarantine)) return true;
    bool go = false;
    worker.Call([&] {
        m_dmarcWarned.insert(key);
        const QString text = FromUtf8(
            domain + " 公布的DMARC策略为“" + DmarcPolicyName(*policy) + "”：从本机以 " + address +
            " 的名义直接投递的邮件，大多数收件服务器会" +
            (*policy == DmarcPolicy::Reject ? "拒收" : "当作垃圾邮件") +
            "。\n\n设置发件账户后，邮件经你的邮箱服务商发送，就不会这样。");
        const int choice = AskMessage(this, text, QStringLiteral("发件账户"), MessageIcon::Exclamation,
                                      {QStringLiteral("设置发件账户…"), QStringLiteral("仍然发送"), QStringLiteral("停止")});
        go = choice == 1;
        if (go) return;
        FinishSend();
        if (choice == 0) OnAccount();
    });
    return go;
}

void CComposerDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CComposerDlg::OnAddAttachment() {
    const QStringList picked = ChooseOpenFiles(this, QString(), QStringLiteral("All Files (*)"));
    for (const QString& path : picked) {
        bool present = false;
        for (int i = 0; i < m_attachments->count() && !present; ++i)
            present = m_attachments->item(i)->text() == path;  // exact, case-sensitive
        if (!present) m_attachments->addItem(path);           // the list keeps itself sorted
    }
}

void CComposerDlg::OnRemoveAttachment() {
    std::vector<int> rows;
    for (const QListWidgetItem* item : m_attachments->selectedItems()) rows.push_back(m_attachments->row(item));
    std::sort(rows.begin(), rows.end());
    // Deleting from the front shifts the later items up by one each time.
    for (std::size_t k = 0; k < rows.size(); ++k) delete m_attachments->takeItem(rows[k] - static_cast<int>(k));
}

void CComposerDlg::OnFont() {
    QTextCharFormat current = m_body->currentCharFormat();
    QFont font = m_body->font().resolve(current.font());
    QColor color = current.hasProperty(QTextFormat::ForegroundBrush) ? current.foreground().color() : QColor(Qt::black);
    if (!ChooseFont(this, font, color)) return;

    // The body has one format: the choice goes to all of it, which stays selected.
    const QTextCharFormat chosen = QtCharFormat(font, color);
    QTextCursor cursor(m_body->document());
    cursor.select(QTextCursor::Document);
    cursor.setCharFormat(chosen);
    m_body->setTextCursor(cursor);
    m_body->setCurrentCharFormat(chosen);
    NoteChange();
}

void CComposerDlg::OnSound() {
    CAddSoundDlg sound(m_draft.m_strSound, static_cast<uint32_t>(std::max(0, m_draft.m_nSoundLoops)), this,
                       m_draft.m_voice);
    if (sound.exec() != QDialog::Accepted) return;
    m_draft.m_strSound = sound.Sound();
    m_draft.m_nSoundLoops = static_cast<int>(std::min<uint32_t>(sound.RepeatCount(), INT32_MAX));
    const VoiceOptions& voice = sound.Voice();
    if (voice.format != m_draft.m_voice.format || voice.normalize != m_draft.m_voice.normalize) {
        m_draft.m_voice = voice;
        // Remembered for the next run; a choice that cannot be kept still holds for this one.
        const std::string problem = SaveVoiceSettings(voice);
        if (!problem.empty()) {
            ShowMessage(this, FromUtf8("无法保存声音设置：" + problem), QStringLiteral("错误"), MessageIcon::Exclamation);
        }
    }
    NoteChange();
}

void CComposerDlg::OnFormat() {
    CAlignDlg dlg(ParaFormatFromQt(m_body->alignment()).wAlignment, this);
    if (dlg.exec() != QDialog::Accepted) return;
    // The body has one alignment: every paragraph gets it, whatever was selected, and all of it stays
    // selected.
    QTextCursor cursor(m_body->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat format;
    format.setAlignment(QtAlignment(dlg.m_nAlignment));
    cursor.mergeBlockFormat(format);
    m_body->setTextCursor(cursor);
    NoteChange();
}

void CComposerDlg::OnBackground() {
    CBackgroundDlg dlg(m_draft.m_nBackgroundMode, m_draft.m_crBackground,
                       QString::fromStdString(m_draft.m_strPicture), this);
    if (dlg.exec() != QDialog::Accepted) return;
    m_draft.m_nBackgroundMode = dlg.m_nMode;
    m_draft.m_crBackground = dlg.m_crColor;
    m_draft.m_strPicture = dlg.m_strPicture.toStdString();
    if (dlg.m_nMode == CBackgroundDlg::kColorMode) {
        m_body->SetBackgroundColor(FromColorRef(m_draft.m_crBackground));
    } else if (dlg.m_nMode == CBackgroundDlg::kPictureMode) {
        // A picture that does not load has said so in its own message; the choice stays stored, and the
        // field check refuses the send while the file cannot be read.
        m_body->SetBackgroundPicture(dlg.m_strPicture);
    }
    NoteChange();
}

void CComposerDlg::OnOtherWorks() { QDesktopServices::openUrl(QUrl(QString::fromUtf8(kOtherWorksUrl))); }

void CComposerDlg::PullTexts(MailDraft& draft) const {
    draft.m_strFrom = m_editFrom->text().toStdString();
    draft.m_strTo = m_editTo->text().toStdString();
    draft.m_strCc = m_editCc->text().toStdString();
    draft.m_strBcc = m_editBcc->text().toStdString();
    draft.m_strSubject = m_editSubject->text().toStdString();
    draft.m_strBody = m_body->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toStdString();
    draft.m_attachments.clear();
    for (int i = 0; i < m_attachments->count(); ++i)
        draft.m_attachments.push_back(m_attachments->item(i)->text().toStdString());
}

void CComposerDlg::CaptureFormats() {
    m_draft.m_charFormat = CharFormatFromQt(m_body->currentCharFormat(), m_body->font());
    m_draft.m_paraFormat = ParaFormatFromQt(m_body->alignment());
}

void CComposerDlg::ShowRefusal(int field, bool hasSelection, std::size_t selStart, std::size_t selEnd,
                               const std::string& message) {
    ShowMessage(this, FromUtf8(message), QStringLiteral("错误"), MessageIcon::Exclamation);
    QLineEdit* edit = Field(field);
    if (!edit) return;
    edit->setFocus();
    if (!hasSelection) return;
    const std::string text = edit->text().toStdString();
    const int start = QtPosition(text, selStart);
    const int end = QtPosition(text, std::max(selStart, selEnd));
    // Selecting leaves the caret at the end of the entry, which scrolls it into view.
    if (end > start)
        edit->setSelection(start, end - start);
    else
        edit->setCursorPosition(start);
}

void CComposerDlg::OnSend() {
    if (IsSending()) return;
    PullTexts();
    const DraftCheck check = ValidateDraft(m_draft, RecordingPath());
    if (!check.ok) {
        ShowRefusal(check.focusField, check.hasSelection, check.selStart, check.selEnd, check.message);
        if (check.followUp == FollowUp::OpenSound) OnSound();
        if (check.followUp == FollowUp::OpenBackground) OnBackground();
        return;
    }
    CaptureFormats();
    m_draft.m_nExpectedSteps = static_cast<int>(m_draft.m_attachments.size()) + 6;

    m_nStepsDone = 0;
    m_progress->setRange(0, m_draft.m_nExpectedSteps);
    m_progress->setValue(0);
    m_progress->show();
    m_btnSend->setEnabled(false);

    // The previous worker returned right after its last step; it is gone before a new one starts.
    m_assembler.reset();
    m_sent = m_draft;  // the worker's copy: editing during the send changes nothing in it
    m_changesAtSend = m_changes;
    m_sending = true;
    m_closing = false;
    m_assembler = std::make_unique<CWindowWorker>();
    m_assembler->Start([this, worker = m_assembler.get(), folder = ProgramFolder()] {
        if (!ChooseRoute(*worker)) return;
        ComposerSink sink(*worker, this);
        try {
            AssembleMessage(m_sent, folder, sink);
        } catch (const std::bad_alloc&) {
            std::string().swap(m_sent.m_strMime);
            worker->Call([this] { OnAssemblyFailed(FromUtf8(kMailTooLargeText)); });
        } catch (const std::exception& e) {
            // Without its remaining steps the send would never end: let the window give up on it.
            worker->Call([this, reason = std::string(e.what())] { OnAssemblyFailed(FromUtf8(reason)); });
        }
    });
}

void CComposerDlg::OnAssemblyFailed(const QString& reason) {
    ShowMessage(this, reason, QStringLiteral("错误"), MessageIcon::Exclamation);
    FinishSend();
}

void CComposerDlg::OnAssemblyStep() {
    if (!m_sending) return;
    m_progress->setValue(std::min(m_progress->value() + 1, m_progress->maximum()));
    if (++m_nStepsDone != m_draft.m_nExpectedSteps) return;

    m_progress->hide();
    const MailDraft& sent = m_sent;  // the worker waits in this step: its copy holds still
    // The recording marker, once replaced by the recording's path, stays replaced.
    if (m_draft.m_strSound == kRecordingMarker) m_draft.m_strSound = sent.m_strSound;

    if (!m_closing && !MailSizeAccepted(sent)) {
        FinishSend();
        return;
    }
    if (!m_closing) {
        // Runs modally here, while the assembly worker waits for this step to be taken.
        DeliveryRequest request;
        request.recipients = sent.m_recipients;
        request.envelopeSender = sent.m_fromAddress.envelope;
        request.message = std::make_shared<const std::string>(std::move(m_sent.m_strMime));
        request.relay = m_relay;
        if (m_accountRoute) {
            RelaySettings relay = m_accountRoute->relay;
            relay.tlsMode = m_accountRoute->tls;
            if (!m_accountRoute->havePassword) {
                // Asked at each send, and kept nowhere: there is no keyring to keep it in.
                const std::optional<QString> password = m_askPassword(
                    this, FromUtf8("发件账户 " + m_accountRoute->account.address + " 在 " +
                                   m_accountRoute->account.server.Name() + " 的密码（" + m_accountRoute->note + "）："));
                if (!password) {
                    FinishSend();
                    return;
                }
                relay.password = password->toStdString();
            }
            request.relay = std::move(relay);
            // Never the password itself: a retry asks the keyring again for this account's item.
            request.relayPasswordSource = kPasswordFromKeyring + m_accountRoute->account.address;
        }
        const DeliveryRequest sentRequest = request;  // the message is shared, not copied
        std::unique_ptr<CSendingDlg> sending = m_makeSendingDlg ? m_makeSendingDlg(request, this)
                                                                : std::make_unique<CSendingDlg>(std::move(request), this);
        m_sendingDlg = sending.get();
        sending->exec();
        const FailureList failures = sending->Failures();
        const bool portBlocked = sending->PortBlocked();
        sending.reset();

        DeliveryReport report = BuildReport(failures, portBlocked);
        AddSentCopy(sentRequest, failures, report.text);
        // The letter as it was sent has reached everyone: it is no longer one to bring back, unless it
        // has changed since Send was pressed.
        if (report.allDelivered && m_changes == m_changesAtSend) {
            m_letterSent = true;
            SaveDraft();
        }
        if (!m_closing) ShowReport(report);
    }
    FinishSend();
}

void CComposerDlg::ShowReport(const DeliveryReport& report) {
    const QString text = FromUtf8(report.text);
    const MessageIcon icon = report.allDelivered ? MessageIcon::Information : MessageIcon::Exclamation;
    if (!report.portBlocked) {
        ShowMessage(this, text, QStringLiteral("信息"), icon);
        return;
    }
    // The report ends by advising the sender's own provider: the window that sets it up is one button
    // away. Closing the box is 确定.
    const int choice =
        AskMessage(this, text, QStringLiteral("信息"), icon, {QStringLiteral("发件账户…"), QStringLiteral("确定")});
    if (choice == 0) QTimer::singleShot(0, this, &CComposerDlg::OnAccount);
}

bool CComposerDlg::MailSizeAccepted(const MailDraft& sent) {
    const MailSizeCheck size = CheckMailSize(sent);
    if (!size.tooBig) return true;
    QStringList choices;
    if (size.voiceIsWav) choices << QStringLiteral("改用Opus");
    choices << QStringLiteral("照样发送") << QStringLiteral("停止");
    const int choice = AskMessage(this, FromUtf8(MailSizeWarningText(size)), QStringLiteral("信息"),
                                  MessageIcon::Exclamation, choices);
    const QString& answer = choices[choice];
    if (answer == QStringLiteral("照样发送")) return true;
    if (answer == QStringLiteral("改用Opus")) {
        // This mail goes as Opus; the same draft is assembled once more after this send has wound down
        // (its worker is still waiting inside this step).
        m_draft.m_voice.format = VoiceFormat::Opus;
        QTimer::singleShot(0, this, &CComposerDlg::OnSend);
    }
    return false;
}

void CComposerDlg::AddSentCopy(const DeliveryRequest& request, const FailureList& failures, std::string& report) {
    // Kept when the mail reached at least one recipient; the report says where.
    if (m_kept.sent.empty() || !request.message || failures.size() >= request.recipients.size()) return;
    report += "\r\n\r\n" + SentCopyLine(vox::KeepSentCopy(m_kept.sent, *request.message));
}

void CComposerDlg::FinishSend() {
    m_nStepsDone = 0;
    m_sending = false;
    m_progress->hide();
    m_btnSend->setEnabled(true);
    if (m_closing) {
        emit ended();
        return;
    }
    ShowHeldReport();
    // The send may have left recipients waiting: the pane counts them.
    RunOutboxRound();
}

void CComposerDlg::keyPressEvent(QKeyEvent* event) {
    // Escape would end the window with everything in it: it is no way to close the composer.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CComposerDlg::done(int result) {
    if (m_sending && !m_closing) {
        // Closing during a send gives it up only when the user says so; the window then stops a delivery
        // under way and shows no report.
        if (!AskYesNo(this, QString::fromUtf8(kCancelSendQuestion), QStringLiteral("信息"))) return;
        m_closing = true;
        if (m_sendingDlg) m_sendingDlg->OnCancelSending();
    }
    m_outboxCancel = true;
    // The letter as it is now, for the next start.
    SaveDraft();
    QDialog::done(result);
    if (!m_sending) emit ended();
}

}  // namespace vox
