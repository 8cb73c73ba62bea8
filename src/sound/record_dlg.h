#pragma once
// The recording window: choose the format and the length, record with a bar, a size line and a level
// meter, stop, continue, play back, and attach the recording as "Sound.wav" (IDOK) or close without it
// (IDCANCEL). All sound work is done by the window's own engine.

#include <QDialog>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "sound/wave_recorder.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace vox {

class CRecordDlg : public QDialog {
    Q_OBJECT
public:
    // The two sizes of the window, 290 × 160 and 290 × 315 pixels with its frame. Qt sizes the client
    // area, so the frame of a captioned dialog (3 pixels each side, a 19-pixel caption) comes off: the
    // collapsed window ends just below the Attach row, the expanded one just below the template.
    static constexpr int kCollapsedWidth = 290 - 6;
    static constexpr int kCollapsedHeight = 160 - 25;
    static constexpr int kExpandedHeight = 315 - 25;

    // With the system's default sound devices.
    explicit CRecordDlg(QWidget* parent = nullptr);
    // With any engine (tests give it a scripted device); the window owns it.
    explicit CRecordDlg(std::unique_ptr<CWaveRecorder> recorder, QWidget* parent = nullptr);
    ~CRecordDlg() override;

    void OnAdvanced();
    void OnRecord();
    void OnStop();
    void OnPlay();
    // Attach (1) and Close (2, Esc, the close box).
    void accept() override;
    void reject() override;

    // The engine's notifications, on the window thread.
    void OnWaveDone();
    void OnWaveProgress(uint32_t bytes, int kind);
    void OnWaveLevel(uint32_t peak);
    void OnWaveError(const std::string& text);

    // Where Attach writes; "Sound.wav" in the program folder unless set.
    void SetSoundPath(const std::filesystem::path& path) { m_soundPath = path; }

    // The control with a template id, or null.
    QWidget* Control(int id) const;
    QProgressBar* RecordBar() const { return m_progRecord; }
    QProgressBar* PlayBar() const { return m_progPlay; }
    QLabel* SizeLine() const { return m_sizeLine; }
    QProgressBar* LevelMeter() const { return m_levelMeter; }
    int State() const { return m_nState; }
    int Scale() const { return m_nScale; }
    const CWaveRecorder& Recorder() const { return *m_recorder; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    // Reads the controls into the members; false (the message shown) when the length is not a number.
    bool UpdateData();
    void SetButtons(bool record, bool stop, bool play, bool attach);
    void RecordEnabledByLimit();
    // Stops every engine report from reaching this window (engine closed, window ending).
    void CloseEngine();
    // Runs fn on the window thread, after what is already queued (dropped if the window is gone).
    void PostToWindow(std::function<void()> fn);

    // The engine's reports, taken on its service thread and queued for this window with their values.
    class Relay;

    QProgressBar* m_progPlay = nullptr;    // 1024
    QProgressBar* m_progRecord = nullptr;  // 1023
    int m_nRate = 0;                       // radio group 1026: 8000, 11025, 22050, 44100 Hz
    int m_nBits = 0;                       // radio group 1017: 8, 16
    int m_nChannels = 0;                   // radio group 1019: mono, stereo
    uint32_t m_nSeconds = 10;              // edit 1015
    bool m_bOpened = false;
    int m_nState = 0;                      // 0 idle, 1 recording, 2 playing
    int m_nScale = 1;
    std::unique_ptr<CWaveRecorder> m_recorder;

    QPushButton* m_btnAttach = nullptr;    // 1
    QPushButton* m_btnClose = nullptr;     // 2
    QPushButton* m_btnRecord = nullptr;    // 1016
    QPushButton* m_btnStop = nullptr;      // 1021
    QPushButton* m_btnPlay = nullptr;      // 1022
    QPushButton* m_btnAdvanced = nullptr;  // 3
    QLineEdit* m_editSeconds = nullptr;    // 1015
    QButtonGroup* m_grpBits = nullptr;
    QButtonGroup* m_grpChannels = nullptr;
    QButtonGroup* m_grpRate = nullptr;
    QLabel* m_sizeLine = nullptr;          // 1043
    QProgressBar* m_levelMeter = nullptr;  // no id: not part of the template
    std::filesystem::path m_soundPath;
    bool m_bListening = false;             // engine reports are taken
    std::unique_ptr<Relay> m_relay;
};

}  // namespace vox
