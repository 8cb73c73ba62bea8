#include "sound/add_sound_dlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTimer>

#include "compose/mail_draft.h"
#include "dialogs/accessible_names.h"
#include "dialogs/data_exchange.h"
#include "dialogs/dialog_units.h"
#include "dialogs/file_chooser.h"
#include "base/program_folder.h"
#include "dialogs/message_box.h"
#include "sound/record_dlg.h"
#include "sound/sound_player.h"

namespace vox {

namespace {

// Display text and pattern; several patterns are separated by commas.
struct FilterEntry {
    const char* text;
    const char* patterns;
};
constexpr FilterEntry kSoundFilter[] = {
    {"MIDI Files (*.mid)", "*.mid"},
    {"wave Files (*.wav)", "*.wav"},
    {"Audio Files (*.au)", "*.au"},
    {"Sound Files (*.snd)", "*.snd"},
    {"RAM Files (*.ram,*.ra)", "*.ram,*.ra"},
    {"AIF Files(*.aif,*.aifc,*.aiff)", "*.aif,*.aifc,*.aiff"},
    {"All Files (*.*)", "*.*"},
};

}  // namespace

QString SoundFileFilter() {
    // The chooser reads the patterns inside the last parentheses, separated by blanks: an entry with
    // several comma-separated patterns gets them once more in that form behind its display text.
    QStringList entries;
    for (const FilterEntry& e : kSoundFilter) {
        const QString text = QString::fromUtf8(e.text);
        const QString patterns = QString::fromUtf8(e.patterns);
        entries << (patterns.contains(QLatin1Char(','))
                        ? QStringLiteral("%1 (%2)").arg(text, QString(patterns).replace(QLatin1Char(','), QLatin1Char(' ')))
                        : text);
    }
    return entries.join(QStringLiteral(";;"));
}

CAddSoundDlg::CAddSoundDlg(const std::string& sound, uint32_t count, QWidget* parent, const VoiceOptions& voice)
    : QDialog(parent), m_nRepeat(count > 0 ? 1 : 0), m_nCount(count), m_strSound(sound), m_voice(voice) {
    setWindowTitle(QStringLiteral("添加声音"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // The voice's rows sit between the repeats and the buttons, which move down by their height.
    setFixedSize(Dlu(187), Dlu(132));
    BuildControls();

    // OnInitDialog: members into the controls; the count edit follows the radio, "+" and "-" the sound.
    m_grpRepeat->button(m_nRepeat)->setChecked(true);
    WriteUnsignedEdit(m_editCount, m_nCount);
    m_editCount->setEnabled(m_nRepeat == 1);
    ShowSound(QString::fromStdString(m_strSound));
    m_comboFormat->setCurrentIndex(static_cast<int>(m_voice.format));
    m_checkNormalize->setChecked(m_voice.normalize);
}

CAddSoundDlg::~CAddSoundDlg() = default;

void CAddSoundDlg::BuildControls() {
    auto button = [this](int id, const QString& text, const QRect& rect) {
        auto* btn = MakeControl<QPushButton>(this, id, rect, text);
        btn->setAutoDefault(false);
        return btn;
    };
    auto edit = [this](int id, const QRect& rect) { return MakeControl<QLineEdit>(this, id, rect); };

    m_btnOk = button(1, QStringLiteral("确定"), DluRect(36, 111, 50, 14));
    m_btnOk->setDefault(true);
    QPushButton* cancel = button(2, QStringLiteral("取消"), DluRect(100, 111, 50, 14));
    m_editSound = edit(1015, DluRect(21, 13, 96, 12));
    m_editSound->setReadOnly(true);
    m_editSound->setAccessibleName(AccessibleText(kNameSound));
    m_btnAdd = button(1012, QStringLiteral("+"), DluRect(120, 13, 12, 12));
    m_btnAdd->setAccessibleName(AccessibleText(kNameChooseSoundFile));
    m_btnRemove = button(1013, QStringLiteral("-"), DluRect(133, 13, 12, 12));
    m_btnRemove->setAccessibleName(AccessibleText(kNameRemoveSound));
    m_btnRecord = button(1016, QStringLiteral("录音"), DluRect(147, 13, 20, 12));
    (new QGroupBox(QStringLiteral("重复次数"), this))->setGeometry(DluRect(21, 28, 146, 46));
    m_grpRepeat = new QButtonGroup(this);
    auto* endless = new QRadioButton(QStringLiteral("无限次(&I)"), this);
    endless->setObjectName(QStringLiteral("1017"));
    endless->setGeometry(DluRect(31, 40, 50, 12));
    m_grpRepeat->addButton(endless, 0);
    auto* counted = new QRadioButton(QStringLiteral("有限次(&F)"), this);
    counted->setObjectName(QStringLiteral("1018"));
    counted->setGeometry(DluRect(31, 56, 50, 12));
    m_grpRepeat->addButton(counted, 1);
    m_editCount = edit(1019, DluRect(85, 56, 60, 12));
    m_editCount->setAccessibleName(AccessibleText(kNameRepeatCount));
    auto* formatLabel = new QLabel(QStringLiteral("邮件中的声音格式"), this);
    formatLabel->setGeometry(DluRect(21, 79, 66, 12));
    m_comboFormat = MakeControl<QComboBox>(this, 1044, DluRect(88, 78, 40, 14));
    // In VoiceFormat's order: the index is the format.
    m_comboFormat->addItems({QStringLiteral("WAV"), QStringLiteral("Opus"), QStringLiteral("MP3")});
    formatLabel->setBuddy(m_comboFormat);
    m_checkNormalize = MakeControl<QCheckBox>(this, 1045, DluRect(21, 94, 80, 12), QStringLiteral("音量标准化"));
    m_btnListen = button(1046, QStringLiteral("试听"), DluRect(131, 78, 36, 14));
    m_listenTimer = new QTimer(this);
    m_listenTimer->setInterval(100);
    connect(m_listenTimer, &QTimer::timeout, this, [this] {
        if (!m_player || !m_player->Playing()) StopListening();
    });
    connect(m_btnListen, &QPushButton::clicked, this, &CAddSoundDlg::OnListen);

    connect(m_btnOk, &QPushButton::clicked, this, &CAddSoundDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CAddSoundDlg::reject);
    connect(m_btnAdd, &QPushButton::clicked, this, &CAddSoundDlg::OnAddSound);
    connect(m_btnRemove, &QPushButton::clicked, this, &CAddSoundDlg::OnRemoveSound);
    connect(m_btnRecord, &QPushButton::clicked, this, &CAddSoundDlg::OnRecord);
    connect(endless, &QRadioButton::clicked, this, &CAddSoundDlg::OnInfinite);
    connect(counted, &QRadioButton::clicked, this, &CAddSoundDlg::OnFinite);
}

QWidget* CAddSoundDlg::Control(int id) const { return FindControl(this, id); }

void CAddSoundDlg::ShowSound(const QString& text) {
    m_editSound->setText(text);
    m_editSound->setCursorPosition(text.size());  // the file name, at the end, is what tells paths apart
    m_btnRemove->setEnabled(!text.isEmpty());
    m_btnAdd->setEnabled(text.isEmpty());
    StopListening();
    m_btnListen->setEnabled(!text.isEmpty());
}

void CAddSoundDlg::StopListening() {
    if (m_player) m_player->Stop();
    m_listenTimer->stop();
    m_btnListen->setText(QStringLiteral("试听"));
}

void CAddSoundDlg::OnListen() {
    if (m_listenTimer->isActive()) {
        StopListening();
        return;
    }
    const std::string text = m_editSound->text().toStdString();
    if (text.empty()) return;
    const std::string path = text == kRecordingMarker ? RecordingPath().string() : text;
    if (!m_player) m_player = m_makePlayer ? m_makePlayer() : std::make_unique<CSoundPlayer>();
    std::string why;
    if (!m_player->Play(path, why)) {
        ShowMessage(this, QString::fromStdString("无法试听：" + why), QStringLiteral("错误"), MessageIcon::Exclamation);
        return;
    }
    m_btnListen->setText(QStringLiteral("停止"));
    m_listenTimer->start();
}

void CAddSoundDlg::OnAddSound() {
    const QString path = ChooseOpenFile(this, QString(), SoundFileFilter());
    if (path.isEmpty()) return;
    ShowSound(path);
}

void CAddSoundDlg::OnRemoveSound() { ShowSound(QString()); }

void CAddSoundDlg::OnRecord() {
    std::unique_ptr<CRecordDlg> record = m_makeRecordDlg ? m_makeRecordDlg(this) : std::make_unique<CRecordDlg>(this);
    if (record->exec() == QDialog::Rejected) return;
    ShowSound(QString::fromUtf8(kRecordingMarker));
}

void CAddSoundDlg::reject() {
    StopListening();
    QDialog::reject();
}

void CAddSoundDlg::OnInfinite() { m_editCount->setEnabled(false); }

void CAddSoundDlg::OnFinite() { m_editCount->setEnabled(true); }

void CAddSoundDlg::accept() {
    // UpdateData: the radio, then the count (read in both modes), then the sound text.
    m_nRepeat = std::max(0, m_grpRepeat->checkedId());
    if (!ReadUnsignedEdit(this, m_editCount, m_nCount)) return;
    m_strSound = m_editSound->text().toStdString();
    m_voice.format = static_cast<VoiceFormat>(std::max(0, m_comboFormat->currentIndex()));
    m_voice.normalize = m_checkNormalize->isChecked();
    StopListening();
    QDialog::accept();
}

}  // namespace vox
