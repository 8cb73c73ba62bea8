#include "scripted_wave_device.h"

#include <algorithm>
#include <cstring>

namespace vox::testing {

// Started in the body: every member the loop reads must exist first.
ScriptedWaveDevice::ScriptedWaveDevice() { m_thread = std::thread([this] { Loop(); }); }

ScriptedWaveDevice::~ScriptedWaveDevice() {
    if (m_outOpen) CloseOutput();
    if (m_inOpen) CloseInput();
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_quit = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

void ScriptedWaveDevice::FailCall(const std::string& op, int code, int after) {
    std::lock_guard<std::mutex> lock(m_mu);
    m_failures[op] = {code, after};
}

void ScriptedWaveDevice::ClearFailures() {
    std::lock_guard<std::mutex> lock(m_mu);
    m_failures.clear();
}

int ScriptedWaveDevice::Call(const std::string& op) {
    std::lock_guard<std::mutex> lock(m_mu);
    m_calls.push_back(op);
    const int n = m_counts[op]++;
    auto it = m_failures.find(op);
    if (it != m_failures.end() && n >= it->second.after) return it->second.code;
    return 0;
}

void ScriptedWaveDevice::CaptureBlocks(int n) {
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_captureBudget = (n == kUnlimited || m_captureBudget == kUnlimited) ? n : m_captureBudget + n;
    }
    m_cv.notify_all();
}

void ScriptedWaveDevice::HoldOutput(bool hold) {
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_holdOutput = hold;
    }
    m_cv.notify_all();
}

void ScriptedWaveDevice::CompleteOutput(int n) {
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_outputBudget += n;
    }
    m_cv.notify_all();
}

bool ScriptedWaveDevice::HasWorkLocked() const {
    if (!m_inReturns.empty() || !m_outReturns.empty()) return true;
    if (!m_outQueue.empty() && (!m_holdOutput || m_outputBudget > 0)) return true;
    return m_running && !m_inQueue.empty() && m_captureBudget != 0;
}

void ScriptedWaveDevice::WaitIdle() {
    std::unique_lock<std::mutex> lock(m_mu);
    m_cv.wait(lock, [this] { return !m_busy && !HasWorkLocked(); });
}

void ScriptedWaveDevice::WaitDeliveredLocked(std::unique_lock<std::mutex>& lock) {
    if (std::this_thread::get_id() == m_thread.get_id()) return;  // the loop hands them back next
    if (!m_waitForReturns) {
        m_cv.notify_all();
        return;
    }
    m_cv.notify_all();
    m_cv.wait(lock, [this] { return !m_busy && m_inReturns.empty() && m_outReturns.empty(); });
}

void ScriptedWaveDevice::Loop() {
    std::unique_lock<std::mutex> lock(m_mu);
    for (;;) {
        m_cv.wait(lock, [this] { return m_quit || HasWorkLocked(); });
        if (m_quit) return;
        m_busy = true;
        WaveBlock* block = nullptr;
        bool input = false;
        if (!m_inReturns.empty()) {
            block = m_inReturns.front();
            m_inReturns.pop_front();
            input = true;
        } else if (!m_outReturns.empty()) {
            block = m_outReturns.front();
            m_outReturns.pop_front();
        } else if (!m_outQueue.empty() && (!m_holdOutput || m_outputBudget > 0)) {
            block = m_outQueue.front();
            m_outQueue.pop_front();
            if (m_holdOutput) --m_outputBudget;
            if (m_keepPlayed) m_played.insert(m_played.end(), block->pData, block->pData + block->nLength);
        } else {
            block = m_inQueue.front();
            m_inQueue.pop_front();
            ++m_filled;
            // Every block holds its number, so a test can see which blocks were kept and in what order.
            std::memset(block->pData, static_cast<int>(m_filled & 0xFF), block->nLength);
            block->nBytesRecorded = block->nLength;
            if (m_echo && m_outOpen && m_keepPlayed)
                m_played.insert(m_played.end(), block->pData, block->pData + block->nLength);
            if (m_captureBudget > 0) --m_captureBudget;
            input = true;
        }
        WaveDeviceClient* client = input ? m_inClient : m_outClient;
        lock.unlock();
        if (input)
            client->OnInputDone(block);
        else
            client->OnOutputDone(block);
        lock.lock();
        m_busy = false;
        m_cv.notify_all();
    }
}

bool ScriptedWaveDevice::HasInputDevice() {
    Call("HasInputDevice");
    return m_hasInput;
}

int ScriptedWaveDevice::OpenInput(const WaveFormatEx&, uint32_t, WaveDeviceClient* client) {
    if (int code = Call("OpenInput")) return code;
    std::lock_guard<std::mutex> lock(m_mu);
    if (m_inOpen) return kBusy;
    m_inClient = client;
    m_inOpen = true;
    return 0;
}

int ScriptedWaveDevice::AddInputBuffer(WaveBlock* block) {
    if (int code = Call("AddInputBuffer")) return code;
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_inQueue.push_back(block);
    }
    m_cv.notify_all();
    return 0;
}

int ScriptedWaveDevice::StartInput() {
    if (int code = Call("StartInput")) return code;
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_running = true;
    }
    m_cv.notify_all();
    return 0;
}

int ScriptedWaveDevice::StopInput() {
    if (int code = Call("StopInput")) return code;
    std::unique_lock<std::mutex> lock(m_mu);
    m_running = false;
    if (m_partialOnStop && !m_inQueue.empty()) {
        WaveBlock* b = m_inQueue.front();
        m_inQueue.pop_front();
        std::memset(b->pData, kPartialByte, b->nLength / 2);
        b->nBytesRecorded = b->nLength / 2;
        m_inReturns.push_back(b);
    }
    WaitDeliveredLocked(lock);
    return 0;
}

int ScriptedWaveDevice::ResetInput() {
    if (int code = Call("ResetInput")) return code;
    std::unique_lock<std::mutex> lock(m_mu);
    m_running = false;
    for (WaveBlock* b : m_inQueue) {
        b->nBytesRecorded = 0;
        m_inReturns.push_back(b);
    }
    m_inQueue.clear();
    WaitDeliveredLocked(lock);
    return 0;
}

int ScriptedWaveDevice::CloseInput() {
    if (int code = Call("CloseInput")) return code;
    std::unique_lock<std::mutex> lock(m_mu);
    m_running = false;
    for (WaveBlock* b : m_inQueue) m_inReturns.push_back(b);
    m_inQueue.clear();
    WaitDeliveredLocked(lock);
    m_inOpen = false;
    return 0;
}

int ScriptedWaveDevice::OpenOutput(const WaveFormatEx&, uint32_t, WaveDeviceClient* client) {
    if (int code = Call("OpenOutput")) return code;
    std::lock_guard<std::mutex> lock(m_mu);
    if (m_outOpen) return kBusy;
    m_outClient = client;
    m_outOpen = true;
    return 0;
}

int ScriptedWaveDevice::WriteOutput(WaveBlock* block) {
    if (int code = Call("WriteOutput")) return code;
    {
        std::lock_guard<std::mutex> lock(m_mu);
        m_outQueue.push_back(block);
        m_maxOutQueued = std::max(m_maxOutQueued, m_outQueue.size());
    }
    m_cv.notify_all();
    return 0;
}

int ScriptedWaveDevice::ResetOutput() {
    if (int code = Call("ResetOutput")) return code;
    std::unique_lock<std::mutex> lock(m_mu);
    for (WaveBlock* b : m_outQueue) m_outReturns.push_back(b);
    m_outQueue.clear();
    WaitDeliveredLocked(lock);
    return 0;
}

int ScriptedWaveDevice::CloseOutput() {
    if (int code = Call("CloseOutput")) return code;
    std::unique_lock<std::mutex> lock(m_mu);
    for (WaveBlock* b : m_outQueue) m_outReturns.push_back(b);
    m_outQueue.clear();
    WaitDeliveredLocked(lock);
    m_outOpen = false;
    return 0;
}

void ScriptedWaveDevice::EchoInput(bool on) {
    Call("EchoInput");
    std::lock_guard<std::mutex> lock(m_mu);
    m_echo = on;
}

std::string ScriptedWaveDevice::ErrorText(int code) {
    return "The scripted sound device refused this call with code " + std::to_string(code);
}

std::vector<std::string> ScriptedWaveDevice::Calls() {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_calls;
}

std::vector<uint8_t> ScriptedWaveDevice::Played() {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_played;
}

size_t ScriptedWaveDevice::OutputQueued() {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_outQueue.size();
}

size_t ScriptedWaveDevice::MaxOutputQueued() {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_maxOutQueued;
}

size_t ScriptedWaveDevice::InputQueued() {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_inQueue.size();
}

uint64_t ScriptedWaveDevice::BlocksFilled() {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_filled;
}

}  // namespace vox::testing
