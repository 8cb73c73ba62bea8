#pragma once
// The sound engine of the recording window: captures from the default input device in blocks of one
// twentieth of a second into the raw file "tempRecord", has the device echo the captured sound to the
// default output device as it comes in, plays the finished recording back two blocks at a time, and writes it out as a WAV file.
//
// Threads: every operation except the two completion handlers is called on the window's thread. The
// handlers run on the device's service thread; they report to the window through WaveNotify, whose
// implementation must not wait for the window thread (the recording window queues the calls with their
// values). Notifications arrive in block order: a block's progress always comes before a done that
// follows it. Every notification goes through WaveNotify, and none is made once Close() has returned
// (nor during or after destruction), so a window may go away right after closing its engine.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sound/wave_device.h"

namespace vox {

constexpr int kWaveProgressCapture = 0;
constexpr int kWaveProgressPlayback = 1;

// Where the engine's notifications go (the recording window).
class WaveNotify {
public:
    virtual ~WaveNotify() = default;
    // bytes: the recorded total after a kept capture block (kind 0), or the played position after a
    // finished playback block (kind 1).
    virtual void OnWaveProgress(uint32_t bytes, int kind) = 0;
    // Capture reached its limit, or playback reached the end of the recording.
    virtual void OnWaveDone() = 0;
    // How loud a kept capture block was, 0 to 32768 (BlockPeak), just before its progress. Optional.
    virtual void OnWaveLevel(uint32_t peak) { (void)peak; }
    // A device error met on the service thread (the input could not be stopped at the limit), with the
    // device's text, or a failure that ended the recording or the playback: "无法写入录音数据：" and the
    // system's text, or "录音设备出错：" and the device's. A failure is followed by OnWaveDone; what was
    // recorded until then stays. Without an override the text goes to standard error.
    virtual void OnWaveError(const std::string& text);
};

// Shows one of the engine's error texts ("没有录音设备", "打开临时保存文件失败" or a device's text).
// The recording window plugs in its message box (stop icon); the command-line tool prints to stderr.
// It is only called on the window thread, from inside the engine's operations; errors met on the service
// thread go to WaveNotify::OnWaveError instead.
using WaveMessageFunction = std::function<void(const std::string& text)>;

class CWaveRecorder : private WaveDeviceClient {
public:
    static constexpr int kCaptureBlocks = 8;

    // With the system's default devices (PortAudio).
    CWaveRecorder();
    // With any device; the engine owns it.
    explicit CWaveRecorder(std::unique_ptr<WaveDevice> device);
    virtual ~CWaveRecorder();

    CWaveRecorder(const CWaveRecorder&) = delete;
    CWaveRecorder& operator=(const CWaveRecorder&) = delete;

    void SetNotifyWindow(WaveNotify* notify) { m_hNotifyWnd = notify; }
    void SetMessageFunction(WaveMessageFunction show) { m_showMessage = std::move(show); }
    // Where "tempRecord" lives; the program folder unless set before Open.
    void SetTempFolder(const std::filesystem::path& folder) { m_tempFolder = folder; }

    void SetFormat(uint16_t channels, uint32_t samplesPerSec, uint16_t bitsPerSample);
    void SetMaxBytes(int32_t maxBytes) { m_nMaxBytes = maxBytes; }
    int32_t GetMaxBytes() const { return m_nMaxBytes; }
    int32_t GetRecordedBytes() const { return m_nRecorded; }
    const WaveFormatEx& GetFormat() const { return m_wfx; }
    uint32_t GetBlockSize() const { return m_nBlockSize; }
    std::filesystem::path TempFilePath() const;

    // 0 on success; 1 when there is no input device or "tempRecord" cannot be created; otherwise the
    // device's error code.
    int Open();
    void StartRecord();
    void StopRecord();
    void Play();
    void StopPlay() { m_bPlaying = false; }
    // Writes the recording as a WAV file, whole: a failure leaves an existing file as it was. 0 on
    // success, and "tempRecord" is removed (the engine keeps the recording for playing and saving
    // again); otherwise an errno value, with the system's text in *why when given.
    int SaveWave(const std::filesystem::path& path, std::string* why = nullptr);
    // Closes both devices. 0, or the error code of the first failing device call.
    int Close();

private:
    // A playback block, keeping alive the copy it points into.
    struct OutBlock {
        WaveBlock hdr;
        uint32_t playGen = 0;
        std::shared_ptr<const std::vector<uint8_t>> keep;
    };

    void OnInputDone(WaveBlock* block) override { WaveInProc(block); }
    void OnOutputDone(WaveBlock* block) override { WaveOutProc(block); }
    void OnDeviceError(const std::string& text) override;
    // Ends capture and playback from the service thread after a failure, and says why.
    void FailFromService(const std::string& text);
    // Appends a kept block to "tempRecord"; the bytes that reached it (whole frames), and errno.
    uint32_t AppendToTempFile(const uint8_t* data, uint32_t size, int& error);
    void WaveInProc(WaveBlock* block);
    void WaveOutProc(WaveBlock* block);

    void ReportError(int code);
    void ShowText(const std::string& text);
    // Stops capture; fromService: called by the input handler at the limit.
    void StopCapture(bool fromService);
    // Opens or closes the gate every notification passes; closing waits for one under way.
    void SetNotifying(bool on);
    bool QueuePlayBlock(const std::shared_ptr<const std::vector<uint8_t>>& copy, uint32_t gen, uint32_t offset);
    void NotifyProgress(uint32_t bytes, int kind);
    void NotifyDone();
    void NotifyLevel(uint32_t peak);
    // A fresh copy of the whole temporary file.
    std::shared_ptr<const std::vector<uint8_t>> ReadTempFile() const;

    std::atomic<int32_t> m_nPlayPos{0};
    std::atomic<int32_t> m_nRecorded{0};
    std::atomic<int32_t> m_nMaxBytes{882000};
    std::atomic<bool> m_bPlaying{false};
    WaveNotify* m_hNotifyWnd = nullptr;
    std::atomic<bool> m_bOpen{false};
    std::atomic<bool> m_bRecording{false};
    std::atomic<bool> m_bOutputOpen{false};  // the output handle is held
    uint32_t m_nBlockSize = 4410;
    WaveBlock m_hdrIn[kCaptureBlocks] = {};
    std::unique_ptr<uint8_t[]> m_pBlocks[kCaptureBlocks];
    std::shared_ptr<const std::vector<uint8_t>> m_pPlayData;
    int m_fileTemp = -1;  // file descriptor of "tempRecord"
    WaveFormatEx m_wfx;
    std::atomic<bool> m_bInputOpen{false};  // the input handle is held (read by the limit's stop)

    // Playback: which Play the queued blocks belong to, and how many bytes this playback covers.
    std::atomic<uint32_t> m_nPlayGen{0};
    std::atomic<int32_t> m_nPlayLen{0};
    // Held while Play queues its first two blocks, so that a completion cannot queue the third before
    // the second.
    std::mutex m_playMutex;
    // Notifications pass only while m_bNotify is set; Close clears it under the lock, so one under way
    // has finished by the time Close returns and none starts afterwards.
    std::mutex m_notifyMutex;
    bool m_bNotify = false;
    std::filesystem::path m_tempFolder;
    WaveMessageFunction m_showMessage;
    std::unique_ptr<WaveDevice> m_pDevice;
};

}  // namespace vox
