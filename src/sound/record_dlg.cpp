#include "sound/record_dlg.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <utility>

#include "dialogs/accessible_names.h"
#include "dialogs/data_exchange.h"
#include "dialogs/dialog_units.h"
#include "dialogs/message_box.h"
#include "base/program_folder.h"
#include "sound/record_values.h"

namespace vox {

namespace {

constexpr uint32_t kRates[] = {8000, 11025, 22050, 44100};
const QString kAdvancedMore = QStringLiteral("高级>>");
const QString kAdvancedLess = QStringLiteral("高级<<");

// A bar position for a byte count: never past the end (the last block may overshoot the limit).
int BarPosition(const QProgressBar* bar, uint32_t bytes, int scale) {
    const uint32_t pos = bytes / static_cast<uint32_t>(std::max(1, scale));
    return static_cast<int>(std::min<uint32_t>(pos, static_cast<uint32_t>(bar->maximum())));
}

// Range 0 to limit / scale. A limit under one scale step still gets a range of 1: a bar whose range is
// 0 to 0 shows a busy animation instead of progress.
void SetBarRange(QProgressBar* bar, int32_t limit, int scale) {
    bar->setRange(0, std::max(1, limit / std::max(1, scale)));
    bar->setValue(0);
}

}  // namespace

// Lives as long as the window; the engine calls it on its service thread. Each report is queued for the
// window thread with the values of the moment, so the engine never waits for the window, and reports
// arrive in the order the engine made them.
class CRecordDlg::Relay : public WaveNotify {
public:
    explicit Relay(CRecordDlg* window) : m_window(window) {}
    void OnWaveProgress(uint32_t bytes, int kind) override {
        m_window->PostToWindow([w = m_window, bytes, kind] { w->OnWaveProgress(bytes, kind); });
    }
    void OnWaveDone() override {
        m_window->PostToWindow([w = m_window] { w->OnWaveDone(); });
    }
    void OnWaveLevel(uint32_t peak) override {
        m_window->PostToWindow([w = m_window, peak] { w->OnWaveLevel(peak); });
    }
    void OnWaveError(const std::string& text) override {
        m_window->PostToWindow([w = m_window, text] { w->OnWaveError(text); });
    }

private:
    CRecordDlg* m_window;
};

CRecordDlg::CRecordDlg(QWidget* parent) : CRecordDlg(std::make_unique<CWaveRecorder>(), parent) {}

CRecordDlg::CRecordDlg(std::unique_ptr<CWaveRecorder> recorder, QWidget* parent)
    : QDialog(parent), m_recorder(std::move(recorder)), m_relay(std::make_unique<Relay>(this)) {
    setWindowTitle(QStringLiteral("录音"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    BuildControls();
    // The template's radio buttons are narrow: keep the gap between the mark and its text small, so
    // that captions such as "44100Hz" fit in them.
    setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; }"));

    // OnInitDialog: the members into the controls, the collapsed size, and the engine reports here.
    m_grpRate->button(m_nRate)->setChecked(true);
    m_grpBits->button(m_nBits)->setChecked(true);
    m_grpChannels->button(m_nChannels)->setChecked(true);
    WriteUnsignedEdit(m_editSeconds, m_nSeconds);
    setFixedSize(kCollapsedWidth, kCollapsedHeight);
    m_recorder->SetNotifyWindow(m_relay.get());
    m_recorder->SetMessageFunction([this](const std::string& text) {
        ShowMessage(this, QString::fromStdString(text), ApplicationTitle(), MessageIcon::Stop);
    });
    m_bListening = true;
}

CRecordDlg::~CRecordDlg() {
    // The engine goes before the relay it reports to; after Close no report is made at all. A window
    // being destroyed shows no box: what Close might still say goes to standard error.
    m_bListening = false;
    m_recorder->SetMessageFunction(nullptr);
    m_recorder->Close();
    m_recorder.reset();
}

void CRecordDlg::PostToWindow(std::function<void()> fn) {
    // The line hands the values over under its own lock, and drops what is still queued when the window
    // goes.
    m_line.Post(std::move(fn));
}

void CRecordDlg::BuildControls() {
    // Created in the template's tab order: the focus chain follows creation order.
    auto button = [this](int id, const QString& text, const QRect& rect) {
        auto* btn = MakeControl<QPushButton>(this, id, rect, text);
        btn->setAutoDefault(false);
        return btn;
    };
    auto bar = [this](int id, const QRect& rect) {
        auto* progress = MakeControl<QProgressBar>(this, id, rect);
        progress->setTextVisible(false);
        progress->setRange(0, 100);
        progress->setValue(0);
        return progress;
    };
    auto label = [this](const QString& text, const QRect& rect) {
        auto* l = new QLabel(text, this);
        l->setGeometry(rect);
        return l;
    };
    auto group = [this](const QString& text, const QRect& rect) {
        auto* g = new QGroupBox(text, this);
        g->setGeometry(rect);
        return g;
    };
    auto radio = [this](int id, const QString& text, const QRect& rect, QButtonGroup* grp, int index) {
        auto* r = MakeControl<QRadioButton>(this, id, rect, text);
        grp->addButton(r, index);
        return r;
    };

    m_btnAttach = button(1, QStringLiteral("附加"), DluRect(76, 69, 50, 14));
    m_btnAttach->setDefault(true);
    m_btnAttach->setEnabled(false);
    m_btnClose = button(2, QStringLiteral("关闭"), DluRect(130, 69, 50, 14));
    m_progRecord = bar(1023, DluRect(18, 10, 150, 6));
    m_progRecord->setAccessibleName(AccessibleText(kNameRecordProgress));
    m_progPlay = bar(1024, DluRect(18, 20, 150, 6));
    m_progPlay->setAccessibleName(AccessibleText(kNamePlayProgress));
    m_progPlay->hide();
    m_btnRecord = button(1016, QStringLiteral("录音"), DluRect(32, 41, 40, 12));
    m_btnStop = button(1021, QStringLiteral("停止"), DluRect(74, 41, 40, 12));
    m_btnStop->setEnabled(false);
    m_btnPlay = button(1022, QStringLiteral("播放"), DluRect(116, 41, 40, 12));
    m_btnPlay->setEnabled(false);
    m_btnAdvanced = button(3, kAdvancedMore, DluRect(7, 69, 50, 14));
    QLabel* lengthLabel = label(QStringLiteral("录音长度"), DluRect(18, 97, 40, 12));
    m_editSeconds = new QLineEdit(this);
    m_editSeconds->setObjectName(QStringLiteral("1015"));
    m_editSeconds->setGeometry(DluRect(18, 117, 30, 12));
    lengthLabel->setBuddy(m_editSeconds);
    group(QStringLiteral("采样位数"), DluRect(68, 97, 50, 35));
    group(QStringLiteral("声道"), DluRect(130, 97, 50, 35));
    group(QStringLiteral("采样频率"), DluRect(18, 144, 150, 40));
    label(QStringLiteral("秒"), DluRect(51, 117, 12, 12));
    m_grpBits = new QButtonGroup(this);
    m_grpChannels = new QButtonGroup(this);
    m_grpRate = new QButtonGroup(this);
    // The template's radio buttons are too narrow for their captions in the CJK font ("11025Hz" is cut
    // in 40 units, "单声道" in 35): each takes the room left to its group's right edge or to the next
    // column (bits 68 to 118, channels 130 to 180, rates 18 to 168 with columns at 26 and 90), and stays
    // where the template puts it.
    radio(1017, QStringLiteral("8bits"), DluRect(76, 107, 40, 9), m_grpBits, 0);
    radio(1018, QStringLiteral("16bits"), DluRect(76, 120, 40, 9), m_grpBits, 1);
    radio(1019, QStringLiteral("单声道"), DluRect(135, 107, 43, 9), m_grpChannels, 0);
    radio(1025, QStringLiteral("立体声"), DluRect(135, 120, 43, 9), m_grpChannels, 1);
    radio(1026, QStringLiteral("8000Hz"), DluRect(26, 157, 60, 9), m_grpRate, 0);
    radio(1027, QStringLiteral("11025Hz"), DluRect(26, 169, 60, 9), m_grpRate, 1);
    radio(1028, QStringLiteral("22050Hz"), DluRect(90, 157, 60, 9), m_grpRate, 2);
    radio(1029, QStringLiteral("44100Hz"), DluRect(90, 169, 60, 9), m_grpRate, 3);
    m_sizeLine = label(QString(), DluRect(32, 28, 124, 11));
    m_sizeLine->setObjectName(QStringLiteral("1043"));
    m_sizeLine->setAlignment(Qt::AlignCenter);

    // The level meter: a thin upright bar in the free margin left of the two bars, clear of every
    // control of the template. It only shows while capture runs.
    m_levelMeter = new QProgressBar(this);
    m_levelMeter->setObjectName(QStringLiteral("level"));
    m_levelMeter->setOrientation(Qt::Vertical);
    m_levelMeter->setTextVisible(false);
    m_levelMeter->setRange(0, 32768);
    m_levelMeter->setValue(0);
    m_levelMeter->setGeometry(DluRect(9, 10, 4, 29));
    m_levelMeter->setFocusPolicy(Qt::NoFocus);
    m_levelMeter->setToolTip(AccessibleText(kNameInputLevel));
    m_levelMeter->setAccessibleName(AccessibleText(kNameInputLevel));

    connect(m_btnAttach, &QPushButton::clicked, this, &CRecordDlg::accept);
    connect(m_btnClose, &QPushButton::clicked, this, &CRecordDlg::reject);
    connect(m_btnRecord, &QPushButton::clicked, this, &CRecordDlg::OnRecord);
    connect(m_btnStop, &QPushButton::clicked, this, &CRecordDlg::OnStop);
    connect(m_btnPlay, &QPushButton::clicked, this, &CRecordDlg::OnPlay);
    connect(m_btnAdvanced, &QPushButton::clicked, this, &CRecordDlg::OnAdvanced);
}

QWidget* CRecordDlg::Control(int id) const { return FindControl(this, id); }

bool CRecordDlg::UpdateData() {
    m_nRate = std::max(0, m_grpRate->checkedId());
    m_nBits = std::max(0, m_grpBits->checkedId());
    m_nChannels = std::max(0, m_grpChannels->checkedId());
    return ReadUnsignedEdit(this, m_editSeconds, m_nSeconds);
}

void CRecordDlg::SetButtons(bool record, bool stop, bool play, bool attach) {
    m_btnRecord->setEnabled(record);
    m_btnStop->setEnabled(stop);
    m_btnPlay->setEnabled(play);
    m_btnAttach->setEnabled(attach);
}

void CRecordDlg::RecordEnabledByLimit() {
    m_btnRecord->setEnabled(m_recorder->GetRecordedBytes() < m_recorder->GetMaxBytes());
}

void CRecordDlg::OnAdvanced() {
    const bool expand = m_btnAdvanced->text() == kAdvancedMore;
    setFixedSize(kCollapsedWidth, expand ? kExpandedHeight : kCollapsedHeight);
    m_btnAdvanced->setText(expand ? kAdvancedLess : kAdvancedMore);
}

void CRecordDlg::OnRecord() {
    if (!m_bOpened) {
        if (!UpdateData()) return;
        const uint32_t rate = kRates[std::clamp(m_nRate, 0, 3)];
        const uint32_t bits = m_nBits == 1 ? 16 : 8;
        const uint32_t channels = m_nChannels == 1 ? 2 : 1;
        const std::optional<int32_t> limit = RecordLimitBytes(m_nSeconds, rate, bits, channels);
        if (!limit) {
            // The byte limit would wrap round in 32 bits and record a fraction of what was asked.
            const QString text = QStringLiteral("录音长度太长：在此格式下最多可录%1秒。")
                                     .arg(static_cast<qulonglong>(MaxRecordSeconds(rate, bits, channels)));
            ShowMessage(this, text, ApplicationTitle(), MessageIcon::Exclamation);
            m_editSeconds->setFocus(Qt::OtherFocusReason);
            m_editSeconds->selectAll();
            return;
        }
        m_recorder->SetFormat(static_cast<uint16_t>(channels), rate, static_cast<uint16_t>(bits));
        m_recorder->SetMaxBytes(*limit);
        // The engine has shown why when this fails; the next press tries again with the controls as
        // they are then.
        if (m_recorder->Open() != 0) return;
        m_bOpened = true;
    }
    m_nScale = ProgressScale(m_recorder->GetMaxBytes());
    SetBarRange(m_progRecord, m_recorder->GetMaxBytes(), m_nScale);
    m_recorder->StartRecord();
    SetButtons(false, true, false, false);
    m_btnAdvanced->setEnabled(false);
    setFixedSize(kCollapsedWidth, kCollapsedHeight);
    m_nState = 1;
}

void CRecordDlg::OnStop() {
    if (m_nState == 1) {
        m_recorder->StopRecord();
    } else if (m_nState == 2) {
        m_recorder->StopPlay();
        m_progPlay->hide();
    } else {
        return;
    }
    m_levelMeter->setValue(0);
    m_btnPlay->setEnabled(true);
    m_nState = 0;
    RecordEnabledByLimit();
    m_btnStop->setEnabled(false);
    m_btnAttach->setEnabled(true);
}

void CRecordDlg::OnPlay() {
    // Buttons and state first: a recording with nothing in it reports its end at once.
    SetButtons(false, true, false, false);
    m_nState = 2;
    SetBarRange(m_progPlay, m_recorder->GetMaxBytes(), m_nScale);
    m_progPlay->show();
    m_recorder->Play();
}

void CRecordDlg::OnWaveDone() {
    if (!m_bListening) return;
    m_nState = 0;
    RecordEnabledByLimit();
    m_btnStop->setEnabled(false);
    m_btnPlay->setEnabled(true);
    m_btnAttach->setEnabled(true);
    m_progPlay->hide();
    m_levelMeter->setValue(0);
}

void CRecordDlg::OnWaveProgress(uint32_t bytes, int kind) {
    if (!m_bListening) return;
    if (kind == kWaveProgressCapture)
        m_progRecord->setValue(BarPosition(m_progRecord, bytes, m_nScale));
    else if (kind == kWaveProgressPlayback)
        m_progPlay->setValue(BarPosition(m_progPlay, bytes, m_nScale));
    if (m_nState == 1) m_sizeLine->setText(QString::fromStdString(RecordSizeText(bytes)));
}

void CRecordDlg::OnWaveLevel(uint32_t peak) {
    if (!m_bListening || m_nState != 1) return;
    m_levelMeter->setValue(static_cast<int>(std::min<uint32_t>(peak, 32768)));
}

void CRecordDlg::OnWaveError(const std::string& text) {
    if (!m_bListening) return;
    ShowMessage(this, QString::fromStdString(text), ApplicationTitle(), MessageIcon::Stop);
}

void CRecordDlg::CloseEngine() {
    m_recorder->Close();
    // Reports queued before Close returned may still be on their way; they no longer count.
    m_bListening = false;
}

void CRecordDlg::accept() {
    if (!m_btnAttach->isEnabled()) return;  // Enter while recording or playing attaches nothing
    const std::filesystem::path path = m_soundPath.empty() ? RecordingPath() : m_soundPath;
    std::string why;
    if (m_recorder->SaveWave(path, &why) != 0) {
        // Nothing is lost: the engine stays open with the recording, the window stays, and the earlier
        // file is as it was.
        ShowMessage(this,
                    QStringLiteral("无法保存录音文件“%1”：%2")
                        .arg(QString::fromStdString(path.string()), QString::fromStdString(why)),
                    ApplicationTitle(), MessageIcon::Stop);
        return;
    }
    CloseEngine();
    if (!UpdateData()) return;
    QDialog::accept();
}

void CRecordDlg::reject() {
    CloseEngine();
    QDialog::reject();
}

void CRecordDlg::closeEvent(QCloseEvent* event) {
    // The close box is Close, also while recording or playing.
    event->ignore();
    reject();
}

}  // namespace vox
