#include "sound/sound_player.h"
#include "base/translate.h"

#include <algorithm>
#include <cmath>

#include "sound/port_audio_device.h"
#include "voice/pcm_sound.h"

namespace vox {

CSoundPlayer::CSoundPlayer() : CSoundPlayer(std::make_unique<PortAudioDevice>()) {}

CSoundPlayer::CSoundPlayer(std::unique_ptr<WaveDevice> device) : m_pDevice(std::move(device)) {}

CSoundPlayer::~CSoundPlayer() { CloseDevice(); }

void CSoundPlayer::CloseDevice() {
    if (!m_bOpen) return;
    m_pDevice->CloseOutput();  // hands every block back first
    m_bOpen = false;
}

void CSoundPlayer::Stop() {
    ++m_nGeneration;
    if (m_bOpen) m_pDevice->ResetOutput();
    m_nPending = 0;
}

bool CSoundPlayer::Play(const std::string& path, std::string& error) {
    Stop();
    PcmSound sound;
    if (!ReadSound(path, sound, error)) return false;
    if (sound.channels < 1 || sound.channels > 2) {
        error = std::to_string(sound.channels) + " channels";
        return false;
    }
    WaveFormatEx format;
    format.nChannels = static_cast<uint16_t>(sound.channels);
    format.nSamplesPerSec = static_cast<uint32_t>(sound.rate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<uint16_t>(2 * sound.channels);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    // A twentieth of a second per block, whole frames.
    const uint32_t block = std::max<uint32_t>(format.nBlockAlign, format.nAvgBytesPerSec / 20 / format.nBlockAlign *
                                                                    format.nBlockAlign);
    if (m_bOpen && (format.nChannels != m_format.nChannels || format.nSamplesPerSec != m_format.nSamplesPerSec)) {
        CloseDevice();
    }
    if (!m_bOpen) {
        const int code = m_pDevice->OpenOutput(format, block, this);
        if (code != 0) {
            error = m_pDevice->ErrorText(code);
            return false;
        }
        m_bOpen = true;
        m_format = format;
    }
    m_pcm.resize(sound.samples.size() * 2);
    for (std::size_t i = 0; i < sound.samples.size(); ++i) {
        const auto v = static_cast<int16_t>(std::lround(std::clamp(sound.samples[i], -1.0f, 1.0f) * 32767.0f));
        m_pcm[2 * i] = static_cast<uint8_t>(v & 0xFF);
        m_pcm[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
    const std::size_t count = (m_pcm.size() + block - 1) / block;
    m_blocks.assign(count, WaveBlock{});
    m_bFailed = false;
    const uintptr_t generation = ++m_nGeneration;
    m_nPending = static_cast<int>(count);
    for (std::size_t i = 0; i < count; ++i) {
        WaveBlock& b = m_blocks[i];
        b.pData = m_pcm.data() + i * block;
        b.nLength = static_cast<uint32_t>(std::min<std::size_t>(block, m_pcm.size() - i * block));
        b.pUser = reinterpret_cast<void*>(generation);
        if (m_pDevice->PrepareOutput(&b) != 0 || m_pDevice->WriteOutput(&b) != 0) {
            error = Tr("输出设备不接受这个声音");
            Stop();
            return false;
        }
    }
    return true;
}

void CSoundPlayer::OnOutputDone(WaveBlock* block) {
    m_pDevice->UnprepareOutput(block);
    // A block of an earlier, stopped sound does not count for this one.
    if (reinterpret_cast<uintptr_t>(block->pUser) == m_nGeneration.load() && m_nPending > 0) --m_nPending;
}

void CSoundPlayer::OnDeviceError(const std::string&) { m_bFailed = true; }

}  // namespace vox
