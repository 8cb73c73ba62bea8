#pragma once
// Plays a sound file once on the default output device: the sound window's 试听 (listen). Reads every
// format the mail can carry (WAV, Ogg Opus and Vorbis, MP3, and what else the sound library reads).

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sound/wave_device.h"

namespace vox {

class CSoundPlayer : private WaveDeviceClient {
public:
    // With the system's default output (PortAudio), or any device; the player owns it.
    CSoundPlayer();
    explicit CSoundPlayer(std::unique_ptr<WaveDevice> device);
    ~CSoundPlayer() override;

    CSoundPlayer(const CSoundPlayer&) = delete;
    CSoundPlayer& operator=(const CSoundPlayer&) = delete;

    // Stops what plays, then plays the file from its start. False, with the reason, when the file cannot
    // be read or the device refuses it.
    bool Play(const std::string& path, std::string& error);
    void Stop();
    // Until the last block has been played, Stop, or a device failure.
    bool Playing() const { return m_nPending.load() > 0 && !m_bFailed.load(); }

private:
    void OnInputDone(WaveBlock*) override {}
    void OnOutputDone(WaveBlock* block) override;
    void OnDeviceError(const std::string& text) override;
    void CloseDevice();

    std::unique_ptr<WaveDevice> m_pDevice;
    bool m_bOpen = false;
    WaveFormatEx m_format;
    std::vector<uint8_t> m_pcm;     // the whole sound as 16-bit PCM, which the blocks point into
    std::vector<WaveBlock> m_blocks;
    std::atomic<int> m_nPending{0};
    std::atomic<uintptr_t> m_nGeneration{0};  // which Play a returning block belongs to (its pUser)
    std::atomic<bool> m_bFailed{false};
};

}  // namespace vox
