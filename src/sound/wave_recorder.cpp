#include "sound/wave_recorder.h"
#include "base/translate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/program_folder.h"
#include "base/text_rules.h"
#include "sound/port_audio_device.h"
#include "sound/record_values.h"
#include "sound/wav_file.h"

namespace vox {

namespace {

// Device texts are shown the way the wave services return them: at most 39 bytes, cut at a character.
std::string ShortErrorText(std::string text) {
    TruncateUtf8(text, 39);
    return text;
}

}  // namespace

void WaveNotify::OnWaveError(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

CWaveRecorder::CWaveRecorder() : CWaveRecorder(std::make_unique<PortAudioDevice>()) {}

CWaveRecorder::CWaveRecorder(std::unique_ptr<WaveDevice> device) : m_pDevice(std::move(device)) {}

CWaveRecorder::~CWaveRecorder() {
    // The device goes first: it may still hand back output blocks, which the handler releases, and no
    // completion may arrive once the buffers below are gone.
    SetNotifying(false);
    m_bOpen = false;
    m_pDevice.reset();
    if (m_fileTemp >= 0) ::close(m_fileTemp);
}

std::filesystem::path CWaveRecorder::TempFilePath() const {
    // No program folder: no temporary file either (opening the empty path fails), never one in the
    // current folder.
    const std::filesystem::path folder = m_tempFolder.empty() ? ProgramFolder() : m_tempFolder;
    return folder.empty() ? std::filesystem::path() : folder / "tempRecord";
}

void CWaveRecorder::SetFormat(uint16_t channels, uint32_t samplesPerSec, uint16_t bitsPerSample) {
    const uint32_t ch = channels > 1 ? 2 : 1;
    uint32_t rate = 44100;
    if (samplesPerSec <= 8000)
        rate = 8000;
    else if (samplesPerSec <= 11025)
        rate = 11025;
    else if (samplesPerSec <= 22050)
        rate = 22050;
    const uint32_t bits = bitsPerSample > 8 ? 16 : 8;
    m_wfx.wFormatTag = kWaveFormatPcm;
    m_wfx.nChannels = static_cast<uint16_t>(ch);
    m_wfx.nSamplesPerSec = rate;
    m_wfx.nAvgBytesPerSec = ch * bits * rate / 8;
    m_wfx.nBlockAlign = static_cast<uint16_t>(ch * bits / 8);
    m_wfx.wBitsPerSample = static_cast<uint16_t>(bits);
    m_wfx.cbSize = 18;
    m_nBlockSize = ch * bits * rate / 160;
}

void CWaveRecorder::ShowText(const std::string& text) {
    if (m_showMessage)
        m_showMessage(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

void CWaveRecorder::ReportError(int code) { ShowText(ShortErrorText(m_pDevice->ErrorText(code))); }

void CWaveRecorder::SetNotifying(bool on) {
    std::lock_guard<std::mutex> lock(m_notifyMutex);
    m_bNotify = on;
}

void CWaveRecorder::NotifyProgress(uint32_t bytes, int kind) {
    std::lock_guard<std::mutex> lock(m_notifyMutex);
    if (m_bNotify && m_hNotifyWnd != nullptr) m_hNotifyWnd->OnWaveProgress(bytes, kind);
}

void CWaveRecorder::NotifyLevel(uint32_t peak) {
    std::lock_guard<std::mutex> lock(m_notifyMutex);
    if (m_bNotify && m_hNotifyWnd != nullptr) m_hNotifyWnd->OnWaveLevel(peak);
}

void CWaveRecorder::NotifyDone() {
    std::lock_guard<std::mutex> lock(m_notifyMutex);
    if (m_bNotify && m_hNotifyWnd != nullptr) m_hNotifyWnd->OnWaveDone();
}

int CWaveRecorder::Open() {
    if (m_bOpen) return 0;
    if (!m_pDevice->HasInputDevice()) {
        ShowText(Tr("没有录音设备"));
        return 1;
    }

    if (m_fileTemp >= 0) ::close(m_fileTemp);
    m_fileTemp = ::open(TempFilePath().c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (m_fileTemp < 0) {
        ShowText(Tr("打开临时保存文件失败"));
        return 1;
    }
    m_nRecorded = 0;  // the file is empty again, and its length is the recorded count

    int code = m_pDevice->OpenInput(m_wfx, m_nBlockSize, this);
    if (code != 0) {
        ReportError(code);
        return code;
    }
    m_bInputOpen = true;

    for (int i = 0; i < kCaptureBlocks; ++i) {
        if (!m_pBlocks[i] || m_hdrIn[i].nLength != m_nBlockSize) m_pBlocks[i].reset(new uint8_t[m_nBlockSize]);
        m_hdrIn[i] = WaveBlock{};
        m_hdrIn[i].pData = m_pBlocks[i].get();
        m_hdrIn[i].nLength = m_nBlockSize;
        code = m_pDevice->PrepareInput(&m_hdrIn[i]);
        if (code == 0) code = m_pDevice->AddInputBuffer(&m_hdrIn[i]);
        if (code != 0) {
            const std::string text = ShortErrorText(m_pDevice->ErrorText(code));
            m_pDevice->CloseInput();
            m_bInputOpen = false;
            ShowText(text);
            return code;
        }
    }

    code = m_pDevice->OpenOutput(m_wfx, m_nBlockSize, this);
    if (code != 0) {
        m_pDevice->CloseInput();
        m_bInputOpen = false;
        ReportError(code);
        return code;
    }
    m_bOutputOpen = true;
    // The speaker repeats what the microphone hears while it records. The device passes it on as it comes
    // in: waiting for each block to fill would put the echo a block behind the voice, too late to talk over.
    m_pDevice->EchoInput(true);
    SetNotifying(true);
    m_bOpen = true;
    return 0;
}

void CWaveRecorder::StartRecord() {
    // Capture never starts on a device that is not open (a failed Open leaves the engine closed).
    if (!m_bOpen) return;
    m_bRecording = true;
    const int code = m_pDevice->StartInput();
    if (code != 0) ReportError(code);
}

void CWaveRecorder::StopRecord() { StopCapture(false); }

void CWaveRecorder::StopCapture(bool fromService) {
    if (m_bInputOpen) {
        const int code = m_pDevice->StopInput();
        if (code != 0) {
            const std::string text = ShortErrorText(m_pDevice->ErrorText(code));
            if (!fromService) {
                ShowText(text);
            } else {
                // The service thread must not wait for a message box: the window queues this one.
                std::lock_guard<std::mutex> lock(m_notifyMutex);
                if (m_bNotify && m_hNotifyWnd != nullptr) m_hNotifyWnd->OnWaveError(text);
            }
        }
    }
    m_bRecording = false;
}

void CWaveRecorder::WaveInProc(WaveBlock* block) {
    if (!m_bOpen) return;
    if (m_pDevice->UnprepareInput(block) != 0) return;  // the block leaves the queue

    // Only a full block counts: the partly filled one that a stop hands back is treated like any block
    // that comes back while capture is stopped.
    const bool kept = m_bRecording && block->nBytesRecorded == block->nLength;
    if (kept) {
        int error = 0;
        const uint32_t written = AppendToTempFile(block->pData, block->nLength, error);
        // Only what reached the file counts, so the size line and the saved file agree.
        m_nRecorded += static_cast<int32_t>(written);
        if (written > 0) {
            NotifyLevel(BlockPeak(block->pData, written, m_wfx.wBitsPerSample));
            NotifyProgress(static_cast<uint32_t>(m_nRecorded.load()), kWaveProgressCapture);
        }
        if (error != 0) {
            // A full disk or a file that is gone: go on and the voice would be lost while the window
            // seemed to record. Stop at once; what was written stays and can be saved.
            FailFromService(Tr("无法写入录音数据：") + std::string(std::strerror(error)));
        }
    }

    if (m_nRecorded < m_nMaxBytes) {
        block->nBytesRecorded = 0;
        if (m_pDevice->PrepareInput(block) == 0) m_pDevice->AddInputBuffer(block);
    } else if (kept) {
        // Only the block that reached the limit ends the capture; blocks handed back after it stay out.
        NotifyDone();
        StopCapture(true);
    }
}

uint32_t CWaveRecorder::AppendToTempFile(const uint8_t* data, uint32_t size, int& error) {
    // A removed file still takes writes through its descriptor, but nothing would find them again.
    struct stat st {};
    if (::fstat(m_fileTemp, &st) == 0 && st.st_nlink == 0) {
        error = ENOENT;
        return 0;
    }
    uint32_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fileTemp, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    if (error == 0) return done;
    // A frame cut by the failure is taken back, so that the file stays whole frames.
    const uint32_t align = std::max<uint32_t>(1, m_wfx.nBlockAlign);
    const uint32_t keep = done - done % align;
    if (keep != done && ::ftruncate(m_fileTemp, static_cast<off_t>(m_nRecorded.load()) + keep) != 0) return done;
    return keep;
}

void CWaveRecorder::OnDeviceError(const std::string& text) {
    if (!m_bOpen) return;
    FailFromService(Tr("录音设备出错：") + text);
}

void CWaveRecorder::FailFromService(const std::string& text) {
    const bool recording = m_bRecording.exchange(false);
    bool playing = false;
    {
        std::lock_guard<std::mutex> lock(m_playMutex);
        playing = m_bPlaying.exchange(false);
    }
    if (!recording && !playing) return;  // idle: nothing ends, and the next start reports again
    if (recording && m_bInputOpen) m_pDevice->StopInput();
    std::lock_guard<std::mutex> lock(m_notifyMutex);
    if (m_bNotify && m_hNotifyWnd != nullptr) {
        m_hNotifyWnd->OnWaveError(text);
        m_hNotifyWnd->OnWaveDone();
    }
}

std::shared_ptr<const std::vector<uint8_t>> CWaveRecorder::ReadTempFile() const {
    auto copy = std::make_shared<std::vector<uint8_t>>();
    struct stat st {};
    if (m_fileTemp < 0 || ::fstat(m_fileTemp, &st) != 0 || st.st_size <= 0) return copy;
    copy->resize(static_cast<size_t>(std::min<off_t>(st.st_size, INT32_MAX)));
    size_t got = 0;
    while (got < copy->size()) {
        const ssize_t n = ::pread(m_fileTemp, copy->data() + got, copy->size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    copy->resize(got);
    return copy;
}

bool CWaveRecorder::QueuePlayBlock(const std::shared_ptr<const std::vector<uint8_t>>& copy, uint32_t gen,
                                   uint32_t offset) {
    const uint32_t len = static_cast<uint32_t>(m_nPlayLen.load());
    if (offset >= len) return false;
    auto* out = new OutBlock;
    out->keep = copy;
    out->playGen = gen;
    out->hdr.pData = const_cast<uint8_t*>(copy->data()) + offset;
    out->hdr.nLength = std::min(m_nBlockSize, len - offset);
    out->hdr.pUser = out;
    if (m_pDevice->PrepareOutput(&out->hdr) != 0 || m_pDevice->WriteOutput(&out->hdr) != 0) {
        delete out;
        return false;
    }
    return true;
}

void CWaveRecorder::Play() {
    // The blocks of an earlier playback may still be queued on the old copy; each keeps its copy alive.
    auto copy = ReadTempFile();
    m_pPlayData = copy;

    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(m_playMutex);
        const int32_t len = std::min<int32_t>(m_nRecorded, static_cast<int32_t>(copy->size()));
        m_nPlayLen = len;
        const uint32_t gen = m_nPlayGen + 1;
        m_nPlayGen = gen;
        m_nPlayPos = 0;
        m_bPlaying = true;
        if (m_bOpen && len > 0) {
            queued = QueuePlayBlock(copy, gen, 0);
            if (queued && static_cast<int32_t>(m_nBlockSize) < len) QueuePlayBlock(copy, gen, m_nBlockSize);
        }
        if (!queued) m_bPlaying = false;
    }
    // Nothing to play (capture stopped before its first block): the window still hears that playback
    // is over, so it returns to idle.
    if (!queued) NotifyDone();
}

void CWaveRecorder::WaveOutProc(WaveBlock* block) {
    auto* out = static_cast<OutBlock*>(block->pUser);
    if (!m_bOpen) {  // handed back by Close's reset, or after it: only the header goes
        delete out;
        return;
    }
    m_pDevice->UnprepareOutput(block);
    const uint32_t gen = out->playGen;
    const std::shared_ptr<const std::vector<uint8_t>> copy = std::move(out->keep);
    delete out;

    // Blocks of a playback that was stopped or replaced report nothing.
    std::lock_guard<std::mutex> lock(m_playMutex);
    if (!m_bPlaying || gen != m_nPlayGen) return;

    const int32_t pos = m_nPlayPos += static_cast<int32_t>(m_nBlockSize);
    NotifyProgress(static_cast<uint32_t>(pos), kWaveProgressPlayback);
    if (pos >= m_nPlayLen) {
        m_bPlaying = false;
        NotifyDone();
    } else if (pos + static_cast<int32_t>(m_nBlockSize) < m_nPlayLen) {
        QueuePlayBlock(copy, gen, static_cast<uint32_t>(pos) + m_nBlockSize);
    }
}

int CWaveRecorder::SaveWave(const std::filesystem::path& path, std::string* why) {
    auto copy = ReadTempFile();
    m_pPlayData = copy;
    const std::string error = WriteWavFile(path, m_wfx, copy->data(), static_cast<uint32_t>(copy->size()));
    if (!error.empty()) {
        if (why != nullptr) *why = error;
        return EIO;
    }
    // The recording is safe in the WAV file now; the engine keeps reading its open descriptor.
    ::unlink(TempFilePath().c_str());
    return 0;
}

int CWaveRecorder::Close() {
    if (!m_bOpen) return 0;
    // No notification after this: one under way finishes first, and the handlers ignore everything
    // the resets hand back.
    SetNotifying(false);
    m_bOpen = false;
    // Every step is tried even after one fails: a device left open would refuse the next Open. The
    // first failure is the one reported and returned.
    int first = 0;
    auto step = [&](int code) {
        if (code != 0 && first == 0) first = code;
    };
    if (m_bOutputOpen) {
        step(m_pDevice->ResetOutput());
        step(m_pDevice->CloseOutput());
        m_bOutputOpen = false;
    }
    if (m_bInputOpen) {
        step(m_pDevice->StopInput());
        step(m_pDevice->ResetInput());
        step(m_pDevice->CloseInput());
        m_bInputOpen = false;
    }
    m_bRecording = false;
    m_bPlaying = false;
    if (first != 0) ReportError(first);
    return first;
}

}  // namespace vox
