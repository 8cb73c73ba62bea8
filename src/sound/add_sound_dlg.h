#pragma once
// The sound selection window: a sound file from disk, a recording made on the spot, or no sound, and how
// often the recipient's mail reader repeats it.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "voice/voice_format.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QTimer;
class QLineEdit;
class QPushButton;

namespace vox {

class CRecordDlg;
class CSoundPlayer;

// The Open File filter of "+", as display text and pattern pairs.
QString SoundFileFilter();

class CAddSoundDlg : public QDialog {
    Q_OBJECT
public:
    // sound: empty, the recording marker or a file's full path; count: 0 for endless; voice: the form
    // of the sound's copy in the mail.
    CAddSoundDlg(const std::string& sound, uint32_t count, QWidget* parent = nullptr,
                 const VoiceOptions& voice = {});
    ~CAddSoundDlg() override;

    void OnAddSound();
    void OnRemoveSound();
    void OnRecord();
    void OnInfinite();
    void OnFinite();
    // 试听 (1046): plays the chosen sound, file or recording; pressed again ("停止") it stops.
    void OnListen();
    void accept() override;
    void reject() override;

    // Read after IDOK: the sound text, and the repeat count (0 for endless).
    const std::string& Sound() const { return m_strSound; }
    uint32_t RepeatCount() const { return m_nRepeat == 1 ? m_nCount : 0; }
    const VoiceOptions& Voice() const { return m_voice; }

    // How each recording window is made (tests give it a scripted engine).
    using RecordDlgFactory = std::function<std::unique_ptr<CRecordDlg>(QWidget* parent)>;
    void SetRecordDlgFactory(RecordDlgFactory factory) { m_makeRecordDlg = std::move(factory); }
    // How the player is made (tests give it a scripted device); made at the first 试听.
    using PlayerFactory = std::function<std::unique_ptr<CSoundPlayer>()>;
    void SetPlayerFactory(PlayerFactory factory) { m_makePlayer = std::move(factory); }

    // The control with a template id, or null.
    QWidget* Control(int id) const;

    int m_nRepeat = 0;      // radio group 1017: 0 endless, 1 counted
    uint32_t m_nCount = 0;  // edit 1019
    std::string m_strSound; // edit 1015
    VoiceOptions m_voice;   // combo 1044 ("邮件中的声音格式"), check box 1045 ("音量标准化")

private:
    void BuildControls();
    void ShowSound(const QString& text);
    void StopListening();

    QPushButton* m_btnOk = nullptr;
    QLineEdit* m_editSound = nullptr;   // 1015
    QPushButton* m_btnAdd = nullptr;    // 1012
    QPushButton* m_btnRemove = nullptr; // 1013
    QPushButton* m_btnRecord = nullptr; // 1016
    QButtonGroup* m_grpRepeat = nullptr;
    QLineEdit* m_editCount = nullptr;   // 1019
    QComboBox* m_comboFormat = nullptr; // 1044
    QCheckBox* m_checkNormalize = nullptr; // 1045
    QPushButton* m_btnListen = nullptr;  // 1046
    QTimer* m_listenTimer = nullptr;     // notices the end of the sound
    RecordDlgFactory m_makeRecordDlg;
    PlayerFactory m_makePlayer;
    std::unique_ptr<CSoundPlayer> m_player;
};

}  // namespace vox
