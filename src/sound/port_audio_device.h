#pragma once
// The system's default input and output devices through PortAudio.
//
// The real-time callbacks only move bytes: capture into an input ring, playback out of an output ring,
// and wake the service thread. The service thread (one per device object) cuts the captured byte stream
// into the queued blocks in order, feeds written blocks into the output ring, and calls the completion
// handlers. Because blocks are cut from one continuous stream, a block that is not a whole number of
// frames (2205 bytes of 16-bit mono) simply ends inside a frame that the next block continues; across a
// stop, the bytes that complete the last kept frame are carried over to the next start.

#include <portaudio.h>
#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "sound/wave_device.h"

namespace vox {

class PortAudioDevice final : public WaveDevice {
public:
    PortAudioDevice();
    ~PortAudioDevice() override;

    PortAudioDevice(const PortAudioDevice&) = delete;
    PortAudioDevice& operator=(const PortAudioDevice&) = delete;

    bool HasInputDevice() override;

    int OpenInput(const WaveFormatEx& format, uint32_t blockBytes, WaveDeviceClient* client) override;
    int PrepareInput(WaveBlock* block) override;
    int UnprepareInput(WaveBlock* block) override;
    int AddInputBuffer(WaveBlock* block) override;
    int StartInput() override;
    int StopInput() override;
    int ResetInput() override;
    int CloseInput() override;

    int OpenOutput(const WaveFormatEx& format, uint32_t blockBytes, WaveDeviceClient* client) override;
    int PrepareOutput(WaveBlock* block) override;
    int UnprepareOutput(WaveBlock* block) override;
    int WriteOutput(WaveBlock* block) override;
    int ResetOutput() override;
    int CloseOutput() override;

    void EchoInput(bool on) override;

    std::string ErrorText(int code) override;

    // Callback buffers that found the input ring full (the service thread fell behind).
    uint64_t InputOverruns() const { return m_inOverruns.load(); }
    // Echo or playback blocks that came after the output had run dry in the middle of a stream (a gap
    // the listener hears), and callbacks in which the sound system itself reported an underflow.
    uint64_t OutputUnderruns() const { return m_underruns.load(); }
    uint64_t HostUnderflows() const { return m_hostUnderflows.load(); }

private:
    // Single producer, single consumer; positions only grow. Reset only while no callback runs.
    class ByteRing {
    public:
        void Allocate(size_t capacity);
        size_t Readable() const { return m_write.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire); }
        size_t Writable() const { return m_buf.size() - Readable(); }
        void Write(const uint8_t* data, size_t n);
        void Fill(uint8_t value, size_t n);
        void Read(uint8_t* out, size_t n);
        // Copies n bytes from stream position pos (still held: between the read and write positions).
        void Peek(size_t pos, uint8_t* out, size_t n) const;
        size_t ReadPos() const { return m_read.load(std::memory_order_acquire); }
        size_t WritePos() const { return m_write.load(std::memory_order_acquire); }
        void Reset() {
            m_read = 0;
            m_write = 0;
        }

    private:
        std::vector<uint8_t> m_buf;
        std::atomic<size_t> m_read{0};
        std::atomic<size_t> m_write{0};
    };

    struct Written {
        WaveBlock* block;
        uint64_t end;  // stream position just after the block
    };

    int Initialize();
    PaError OpenStream(PaStream** stream, bool input, const WaveFormatEx& format, uint32_t blockBytes);
    void StartService();
    void ServiceLoop();
    void PumpInputLocked();
    void PumpOutputLocked();
    void ReturnInputLocked(bool all);
    void SetInputWakeLocked();
    void SetOutputWakeLocked();
    void EchoLocked();
    PaError StartOutputLocked();
    void ResetInputRingLocked() {
        m_inRing.Reset();
        m_echoAt = 0;
    }
    bool PrimeOutputLocked(size_t next);
    void CompleteSplitFrameLocked();
    void DeliverDone();
    // A running stream that stopped moving sound, or that the library says has failed: the reason, once
    // per failure; empty while all is well.
    std::string CheckStallLocked();
    // Hands back what is waiting: inline on the service thread, otherwise waits until it has.
    void FlushDone(std::unique_lock<std::mutex>& lock);
    void Wake() { sem_post(&m_wake); }
    bool OnServiceThread() const { return std::this_thread::get_id() == m_service.get_id(); }

    static int InputCallback(const void* input, void* output, unsigned long frames,
                             const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags, void* self);
    static int OutputCallback(const void* input, void* output, unsigned long frames,
                              const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags, void* self);

    bool m_bInitialized = false;
    sem_t m_wake;
    std::thread m_service;
    std::atomic<bool> m_quit{false};

    std::mutex m_mu;
    std::condition_variable m_cvDelivered;
    bool m_delivering = false;
    std::deque<WaveBlock*> m_inDone;
    std::deque<WaveBlock*> m_outDone;

    // Input: stream, ring, queued blocks (the first one being filled).
    PaStream* m_inStream = nullptr;
    bool m_inRunning = false;
    WaveDeviceClient* m_inClient = nullptr;
    uint32_t m_inAlign = 1;
    uint32_t m_inBlock = 1;
    std::atomic<size_t> m_inWakeAt{0};  // input ring position at which the service thread is woken
    ByteRing m_inRing;
    std::deque<WaveBlock*> m_inQueue;
    uint32_t m_inFill = 0;
    uint64_t m_inKept = 0;           // bytes handed back in full blocks since the input was opened
    std::vector<uint8_t> m_carry;    // the rest of a frame split by the last full block before a stop
    std::atomic<uint64_t> m_inOverruns{0};
    // The stall watch: the last ring position (input) and callback count (output) seen moving, and when.
    size_t m_inSeenPos = 0;
    std::chrono::steady_clock::time_point m_inSeenAt;
    bool m_inFailed = false;
    std::atomic<uint64_t> m_outCallbacks{0};
    uint64_t m_outSeenCallbacks = 0;
    std::chrono::steady_clock::time_point m_outSeenAt;
    bool m_outFailed = false;
    bool m_echo = false;
    size_t m_echoAt = 0;              // input ring position up to which the captured sound was echoed
    std::vector<uint8_t> m_echoBuf;   // one pass of echo on its way from one ring to the other

    // Output: stream, ring, blocks waiting for room in the ring, blocks in the ring.
    PaStream* m_outStream = nullptr;
    bool m_outRunning = false;
    WaveDeviceClient* m_outClient = nullptr;
    uint32_t m_outAlign = 1;
    uint32_t m_outBlock = 0;
    uint8_t m_silence = 0;
    ByteRing m_outRing;
    std::deque<WaveBlock*> m_outPending;
    uint32_t m_pendingOff = 0;
    std::deque<Written> m_outQueue;
    uint64_t m_outWritten = 0;
    std::atomic<uint64_t> m_outPlayed{0};
    std::atomic<uint64_t> m_outWakeAt{UINT64_MAX};  // played position at which the service thread is woken
    std::chrono::steady_clock::time_point m_lastWrite;
    std::chrono::microseconds m_blockTime{50000};
    size_t m_prime = 0;                        // bytes of silence in front of a stream
    std::atomic<int64_t> m_dryAt{0};          // when the output last ran dry (microseconds), 0: not dry
    std::atomic<uint64_t> m_underruns{0};
    std::atomic<uint64_t> m_hostUnderflows{0};
};

}  // namespace vox
