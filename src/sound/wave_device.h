#pragma once
// The seam between the wave engine and the sound system: one input and one output device in the engine's
// format, fed with blocks the engine owns. The engine does all block arithmetic; a device only moves
// samples and hands blocks back.
//
// Every completion (OnInputDone / OnOutputDone) is delivered on one service thread that belongs to the
// device, never on the caller's thread and never inside a real-time audio callback. A completion handler
// may call back into the device (requeue a block, write an echo block, stop the input).

#include <cstdint>
#include <string>

namespace vox {

// The sound format in the order it is stored in a WAV file's "fmt " chunk (18 bytes).
struct WaveFormatEx {
    uint16_t wFormatTag = 1;  // PCM
    uint16_t nChannels = 2;
    uint32_t nSamplesPerSec = 22050;
    uint32_t nAvgBytesPerSec = 88200;
    uint16_t nBlockAlign = 4;
    uint16_t wBitsPerSample = 16;
    uint16_t cbSize = 18;
};

constexpr uint16_t kWaveFormatPcm = 1;

// One block travelling between the engine and a device (the engine's block header).
struct WaveBlock {
    uint8_t* pData = nullptr;
    uint32_t nLength = 0;          // bytes the block holds (capture) or carries (output)
    uint32_t nBytesRecorded = 0;   // capture: bytes filled when the block came back
    bool bPrepared = false;
    void* pUser = nullptr;         // free for the engine
};

// Completion handlers, called on the device's service thread.
class WaveDeviceClient {
public:
    virtual ~WaveDeviceClient() = default;
    // A capture block came back: full (nBytesRecorded == nLength), partly filled because the input was
    // stopped, or empty/partial because the input was reset.
    virtual void OnInputDone(WaveBlock* block) = 0;
    // An output block has been played, or was handed back by a reset.
    virtual void OnOutputDone(WaveBlock* block) = 0;
    // A running stream failed on its own (the sound server went away, the device was unplugged): text
    // says why. Reported once per failure; the stream moves no more sound until it is started again.
    virtual void OnDeviceError(const std::string& text) { (void)text; }
};

// Results: 0 for success, anything else is an error code whose text ErrorText() gives.
class WaveDevice {
public:
    virtual ~WaveDevice() = default;

    // Whether a default input device exists at all.
    virtual bool HasInputDevice() = 0;

    virtual int OpenInput(const WaveFormatEx& format, uint32_t blockBytes, WaveDeviceClient* client) = 0;
    virtual int PrepareInput(WaveBlock* block) = 0;
    virtual int UnprepareInput(WaveBlock* block) = 0;
    // Queues an empty block behind the ones already queued; blocks are filled in queue order.
    virtual int AddInputBuffer(WaveBlock* block) = 0;
    virtual int StartInput() = 0;
    // Stops capture. The block being filled comes back with the bytes it holds; the empty ones stay
    // queued. When called off the service thread, every block that was full before the stop has been
    // handed back by the time this returns.
    virtual int StopInput() = 0;
    // Stops capture and hands back every queued block; all have come back when this returns.
    virtual int ResetInput() = 0;
    virtual int CloseInput() = 0;

    virtual int OpenOutput(const WaveFormatEx& format, uint32_t blockBytes, WaveDeviceClient* client) = 0;
    virtual int PrepareOutput(WaveBlock* block) = 0;
    virtual int UnprepareOutput(WaveBlock* block) = 0;
    // Plays the block after those already written. Its memory must stay valid until it comes back.
    virtual int WriteOutput(WaveBlock* block) = 0;
    // Silences the output and hands back every written block; all have come back when this returns.
    virtual int ResetOutput() = 0;
    virtual int CloseOutput() = 0;

    // While on, the output also plays what the input captures, as it comes in and in the device's own
    // small pieces, not block by block: a person talking hears the echo without the block's delay. Both
    // sides must be open for it to sound; a playback block waiting for room goes first.
    virtual void EchoInput(bool on) = 0;

    // A short English text for an error code of this device.
    virtual std::string ErrorText(int code) = 0;
};

}  // namespace vox
