#pragma once
// A wave device for tests and benchmarks: blocks are filled and completed on a thread of its own, in
// the amounts the test allows, and any call can be made to fail with a chosen code.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/wave_device.h"

namespace vox::testing {

class ScriptedWaveDevice final : public WaveDevice {
public:
    static constexpr int kUnlimited = -1;
    static constexpr uint8_t kPartialByte = 0xEE;  // what a block handed back by a stop holds
    static constexpr int kBusy = 4;                 // opening a device that is already open

    ScriptedWaveDevice();
    ~ScriptedWaveDevice() override;

    // --- script (any thread) ---
    void SetHasInput(bool has) { m_hasInput = has; }
    // The call named op ("OpenInput", "AddInputBuffer" …) fails with code once it has succeeded `after`
    // times; every later call fails too.
    void FailCall(const std::string& op, int code, int after = 0);
    void ClearFailures();
    // Whether stops, resets and closes wait until the blocks they hand back have been delivered (as the
    // device contract asks); a careless device returns at once.
    void SetWaitForReturns(bool wait) { m_waitForReturns = wait; }
    // Lets n more capture blocks fill while capture runs (kUnlimited: as fast as they are queued).
    void CaptureBlocks(int n);
    // Holds written output blocks until CompleteOutput lets them finish (default: they finish at once).
    void HoldOutput(bool hold);
    void CompleteOutput(int n);
    // A stop hands back the block being filled with half its bytes (as a real device does).
    void SetPartialOnStop(bool partial) { m_partialOnStop = partial; }
    // Whether Played() keeps the bytes (benchmarks turn it off).
    void SetKeepPlayed(bool keep) { m_keepPlayed = keep; }
    // Waits until the thread has nothing it may do now.
    void WaitIdle();

    // --- observations ---
    std::vector<std::string> Calls();
    // Bytes of every finished output block and, while the input is echoed, of every block as it fills,
    // in order.
    std::vector<uint8_t> Played();
    size_t OutputQueued();
    size_t MaxOutputQueued();
    size_t InputQueued();
    uint64_t BlocksFilled();

    // --- WaveDevice ---
    bool HasInputDevice() override;
    int OpenInput(const WaveFormatEx& format, uint32_t blockBytes, WaveDeviceClient* client) override;
    int PrepareInput(WaveBlock*) override { return Call("PrepareInput"); }
    int UnprepareInput(WaveBlock*) override { return Call("UnprepareInput"); }
    int AddInputBuffer(WaveBlock* block) override;
    int StartInput() override;
    int StopInput() override;
    int ResetInput() override;
    int CloseInput() override;
    int OpenOutput(const WaveFormatEx& format, uint32_t blockBytes, WaveDeviceClient* client) override;
    int PrepareOutput(WaveBlock*) override { return Call("PrepareOutput"); }
    int UnprepareOutput(WaveBlock*) override { return Call("UnprepareOutput"); }
    int WriteOutput(WaveBlock* block) override;
    int ResetOutput() override;
    int CloseOutput() override;
    void EchoInput(bool on) override;
    std::string ErrorText(int code) override;

private:
    struct Failure {
        int code;
        int after;
    };
    int Call(const std::string& op);
    void Loop();
    bool HasWorkLocked() const;
    void WaitDeliveredLocked(std::unique_lock<std::mutex>& lock);

    std::mutex m_mu;
    std::condition_variable m_cv;
    std::thread m_thread;
    bool m_quit = false;
    bool m_busy = false;

    bool m_hasInput = true;
    bool m_partialOnStop = false;
    bool m_waitForReturns = true;
    bool m_keepPlayed = true;
    std::map<std::string, Failure> m_failures;
    std::map<std::string, int> m_counts;
    std::vector<std::string> m_calls;

    WaveDeviceClient* m_inClient = nullptr;
    WaveDeviceClient* m_outClient = nullptr;
    bool m_inOpen = false, m_outOpen = false, m_running = false, m_echo = false;
    std::deque<WaveBlock*> m_inQueue;
    std::deque<WaveBlock*> m_inReturns;
    std::deque<WaveBlock*> m_outQueue;
    std::deque<WaveBlock*> m_outReturns;
    int m_captureBudget = 0;
    bool m_holdOutput = false;
    int m_outputBudget = 0;
    uint64_t m_filled = 0;
    size_t m_maxOutQueued = 0;
    std::vector<uint8_t> m_played;
};

}  // namespace vox::testing
