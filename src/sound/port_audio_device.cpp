#include "sound/port_audio_device.h"
#include "base/translate.h"

#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>
#include <pthread.h>
#include <sched.h>
#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace vox {

namespace {

// Each block is moved by the real-time callbacks in this many pieces (2 ms at a 50 ms block), and the
// streams ask for little latency. While the input is echoed, every piece wakes the service thread,
// which passes it straight on to the output: the echo lags its voice by a few pieces, not by a block.
// Otherwise the callbacks wake the service thread only when a block is complete. The output keeps a few
// milliseconds more than the input: on a busy machine less than about 14 ms lets the sound system run
// short now and then, which the listener hears as a click.
constexpr unsigned long kPiecesPerBlock = 25;
constexpr double kInputLatency = 0.003;
constexpr double kOutputLatency = 0.014;
// Silence in front of sound that starts on an empty output, in milliseconds: it covers the jitter with
// which captured pieces and written blocks come in.
constexpr uint64_t kPrimeMs = 8;
// A running stream whose callbacks bring nothing for this long has lost its device. A sound server
// that stalls this long is gone in all but name; any shorter and a loaded machine would cry wolf. With
// the service thread's 20 ms wake-ups the failure is reported well within a second.
constexpr auto kStallTime = std::chrono::milliseconds(600);

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

// PortAudio probes every ALSA card and a JACK server when it starts and lets both libraries print dozens
// of lines about what is missing. Those lines say nothing to our user: the only thing that matters, no
// input device, gets our own message.
class QuietSoundLibraries {
public:
    QuietSoundLibraries() {
        snd_lib_error_set_handler(QuietAlsa);
        using SetFn = void (*)(void (*)(const char*));
        for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
            if (auto set = reinterpret_cast<SetFn>(dlsym(RTLD_DEFAULT, name))) set(QuietJack);
        }
    }
};

}  // namespace

// PortAudio's ALSA layer reports every failed call of a stream that lost its device with a line
// "Expression '…' failed in 'src/hostapi/alsa/pa_linux_alsa.c', line: …" on standard error, a dozen
// when the sound server goes away, and offers no exported way to turn that off. Those lines go through
// vfprintf with the literal text as the format; this definition, in the program itself, is found
// before the C library's by every library the program loads, drops exactly them and passes everything
// else on unchanged. The user hears about the failure once, in our own words.
extern "C" int vfprintf(FILE* stream, const char* format, va_list args) {
    using Fn = int (*)(FILE*, const char*, va_list);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "vfprintf"));
    if (stream == stderr && format != nullptr && std::strncmp(format, "Expression '", 12) == 0 &&
        std::strstr(format, "' failed in '") != nullptr) {
        return static_cast<int>(std::strlen(format));
    }
    return real(stream, format, args);
}

namespace {


PaSampleFormat SampleFormat(const WaveFormatEx& format) { return format.wBitsPerSample == 8 ? paUInt8 : paInt16; }

int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The silence in front of an echo that starts on an empty output: enough to cover the jitter with which
// capture blocks arrive, whole frames.
size_t PrimeBytes(const WaveFormatEx& format, uint32_t align) {
    const size_t bytes = static_cast<size_t>(uint64_t{format.nAvgBytesPerSec} * kPrimeMs / 1000);
    return bytes - bytes % align;
}

}  // namespace

// ---- ByteRing ------------------------------------------------------------------------------------------

void PortAudioDevice::ByteRing::Allocate(size_t capacity) {
    m_buf.assign(capacity, 0);
    Reset();
}

void PortAudioDevice::ByteRing::Write(const uint8_t* data, size_t n) {
    const size_t w = m_write.load(std::memory_order_relaxed);
    const size_t at = w % m_buf.size();
    const size_t first = std::min(n, m_buf.size() - at);
    std::memcpy(m_buf.data() + at, data, first);
    std::memcpy(m_buf.data(), data + first, n - first);
    m_write.store(w + n, std::memory_order_release);
}

void PortAudioDevice::ByteRing::Fill(uint8_t value, size_t n) {
    const size_t w = m_write.load(std::memory_order_relaxed);
    const size_t at = w % m_buf.size();
    const size_t first = std::min(n, m_buf.size() - at);
    std::memset(m_buf.data() + at, value, first);
    std::memset(m_buf.data(), value, n - first);
    m_write.store(w + n, std::memory_order_release);
}

void PortAudioDevice::ByteRing::Peek(size_t pos, uint8_t* out, size_t n) const {
    const size_t at = pos % m_buf.size();
    const size_t first = std::min(n, m_buf.size() - at);
    std::memcpy(out, m_buf.data() + at, first);
    std::memcpy(out + first, m_buf.data(), n - first);
}

void PortAudioDevice::ByteRing::Read(uint8_t* out, size_t n) {
    const size_t r = m_read.load(std::memory_order_relaxed);
    Peek(r, out, n);
    m_read.store(r + n, std::memory_order_release);
}

// ---- set-up ---------------------------------------------------------------------------------------------

PortAudioDevice::PortAudioDevice() { sem_init(&m_wake, 0, 0); }

PortAudioDevice::~PortAudioDevice() {
    // Everything still queued goes back to its owner before the thread ends.
    if (m_outStream != nullptr) CloseOutput();
    if (m_inStream != nullptr) CloseInput();
    if (m_service.joinable()) {
        m_quit = true;
        Wake();
        m_service.join();
    }
    sem_destroy(&m_wake);
    if (m_bInitialized) {
        Pa_Terminate();
        snd_lib_error_set_handler(nullptr);
    }
}

int PortAudioDevice::Initialize() {
    if (m_bInitialized) return paNoError;
    // Never wait for a JACK server to be started on our behalf.
    setenv("JACK_NO_START_SERVER", "1", 0);
    // ALSA's own complaints (an underrun recovered, a device gone) stay quiet for as long as the device
    // lives, not only while it starts: our messages say what matters.
    QuietSoundLibraries quiet;
    const PaError err = Pa_Initialize();
    if (err != paNoError) return err;
    m_bInitialized = true;
    return paNoError;
}

bool PortAudioDevice::HasInputDevice() {
    return Initialize() == paNoError && Pa_GetDefaultInputDevice() != paNoDevice;
}

PaError PortAudioDevice::OpenStream(PaStream** stream, bool input, const WaveFormatEx& format, uint32_t blockBytes) {
    PaError err = Initialize();
    if (err != paNoError) return err;
    const PaDeviceIndex dev = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    if (dev == paNoDevice) return paDeviceUnavailable;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(dev);
    PaStreamParameters params{};
    params.device = dev;
    params.channelCount = format.nChannels;
    params.sampleFormat = SampleFormat(format);
    // The echo waits for nothing but the block itself: both streams move small pieces at the device's
    // low latency, so a block is handed over as soon as its last frame is in, and its sound reaches the
    // speaker right behind the little silence that primes the output (PrimeBytes).
    const unsigned long frames = blockBytes / std::max<uint32_t>(1, format.nBlockAlign);
    const unsigned long framesPerBuffer = std::max<unsigned long>(1, frames / kPiecesPerBlock);
    params.suggestedLatency = input ? kInputLatency : kOutputLatency;
    QuietSoundLibraries quiet;
    err = Pa_OpenStream(stream, input ? &params : nullptr, input ? nullptr : &params, format.nSamplesPerSec,
                        framesPerBuffer, paClipOff, input ? InputCallback : OutputCallback, this);
    // With buffers this small, a busy machine would starve the callbacks now and then: ask for real-time
    // scheduling where the system grants it (the request simply fails elsewhere).
    const PaHostApiInfo* api = info != nullptr ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    if (err == paNoError && api != nullptr && api->type == paALSA) PaAlsa_EnableRealtimeScheduling(*stream, 1);
    return err;
}

void PortAudioDevice::StartService() {
    if (m_service.joinable()) return;
    m_service = std::thread([this] { ServiceLoop(); });
    // The service thread hands over every echo block: below the callbacks, above everything else.
    sched_param param{};
    param.sched_priority = 1;
    pthread_setschedparam(m_service.native_handle(), SCHED_FIFO, &param);
}

std::string PortAudioDevice::ErrorText(int code) {
    if (code == paUnanticipatedHostError) {
        const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
        if (info != nullptr && info->errorText != nullptr && info->errorText[0] != '\0') return info->errorText;
    }
    const char* text = Pa_GetErrorText(code);
    return text != nullptr ? text : Tr("未知的声音设备错误");
}

// ---- real-time callbacks: bytes only ------------------------------------------------------------------

int PortAudioDevice::InputCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                                   PaStreamCallbackFlags, void* self) {
    auto* dev = static_cast<PortAudioDevice*>(self);
    const size_t bytes = frames * dev->m_inAlign;
    // A callback's buffer is whole frames; dropping it whole keeps the stream aligned.
    if (input != nullptr && dev->m_inRing.Writable() >= bytes)
        dev->m_inRing.Write(static_cast<const uint8_t*>(input), bytes);
    else
        dev->m_inOverruns.fetch_add(1, std::memory_order_relaxed);
    if (dev->m_inRing.WritePos() >= dev->m_inWakeAt.load(std::memory_order_acquire)) dev->Wake();
    return paContinue;
}

int PortAudioDevice::OutputCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                                    PaStreamCallbackFlags flags, void* self) {
    auto* dev = static_cast<PortAudioDevice*>(self);
    dev->m_outCallbacks.fetch_add(1, std::memory_order_relaxed);
    auto* out = static_cast<uint8_t*>(output);
    const size_t bytes = frames * dev->m_outAlign;
    size_t take = std::min(bytes, dev->m_outRing.Readable());
    take -= take % dev->m_outAlign;  // a frame split between two blocks waits for the second
    dev->m_outRing.Read(out, take);
    std::memset(out + take, dev->m_silence, bytes - take);
    dev->m_outPlayed.fetch_add(take, std::memory_order_release);
    // The moment the sound ran out; a block that follows within a block's time came too late.
    if (take < bytes && dev->m_outPlayed.load(std::memory_order_relaxed) > 0 &&
        dev->m_dryAt.load(std::memory_order_relaxed) == 0)
        dev->m_dryAt.store(NowMicros(), std::memory_order_relaxed);
    // The sound system ran short while sound was flowing (not while it played silence anyway).
    if ((flags & paOutputUnderflow) && dev->m_outPlayed.load(std::memory_order_relaxed) > 0 &&
        dev->m_dryAt.load(std::memory_order_relaxed) == 0)
        dev->m_hostUnderflows.fetch_add(1, std::memory_order_relaxed);
    // The service thread hands a block back once it has been played.
    if (dev->m_outPlayed.load(std::memory_order_relaxed) >= dev->m_outWakeAt.load(std::memory_order_acquire))
        dev->Wake();
    return paContinue;
}

// ---- service thread -------------------------------------------------------------------------------------

void PortAudioDevice::ServiceLoop() {
    while (!m_quit) {
        bool timed = false;
        {
            std::lock_guard<std::mutex> lock(m_mu);
            // A running input is watched for stalls, so it needs the wake-ups too.
            timed = m_outStream != nullptr || m_inRunning;
        }
        if (!timed) {
            // Nothing runs on time without an output: sleep until a callback or a call wakes us.
            while (sem_wait(&m_wake) != 0 && errno == EINTR) {
            }
        } else {
            // The timeout lets a lone split frame at the end of the output be completed (PumpOutputLocked).
            // It runs on the monotonic clock: a change of the wall clock must not stall the output.
            timespec until{};
            clock_gettime(CLOCK_MONOTONIC, &until);
            until.tv_nsec += 20 * 1000 * 1000;
            if (until.tv_nsec >= 1000000000L) {
                until.tv_sec += 1;
                until.tv_nsec -= 1000000000L;
            }
            while (sem_clockwait(&m_wake, CLOCK_MONOTONIC, &until) != 0 && errno == EINTR) {
            }
        }
        // Several wake-ups may have piled up; one pass serves them all.
        while (sem_trywait(&m_wake) == 0) {
        }
        std::string failure;
        WaveDeviceClient* client = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mu);
            if (m_inStream != nullptr) PumpInputLocked();
            if (m_outStream != nullptr) PumpOutputLocked();
            failure = CheckStallLocked();
            client = m_inClient != nullptr ? m_inClient : m_outClient;
        }
        DeliverDone();
        if (!failure.empty() && client != nullptr) client->OnDeviceError(failure);
    }
}

std::string PortAudioDevice::CheckStallLocked() {
    const auto now = std::chrono::steady_clock::now();
    const auto why = [](PaStream* stream) -> std::string {
        const PaError active = Pa_IsStreamActive(stream);
        if (active < 0) return Pa_GetErrorText(active);
        if (active == 0) return Tr("声音流已停止");
        return Tr("0.6秒没有声音：声音服务器没有应答");
    };
    if (m_inStream != nullptr && m_inRunning && !m_inFailed) {
        const size_t pos = m_inRing.WritePos();
        if (pos != m_inSeenPos) {
            m_inSeenPos = pos;
            m_inSeenAt = now;
        } else if (now - m_inSeenAt >= kStallTime || Pa_IsStreamActive(m_inStream) != 1) {
            m_inFailed = true;
            return why(m_inStream);
        }
    }
    if (m_outStream != nullptr && m_outRunning && !m_outFailed) {
        const uint64_t calls = m_outCallbacks.load(std::memory_order_relaxed);
        if (calls != m_outSeenCallbacks) {
            m_outSeenCallbacks = calls;
            m_outSeenAt = now;
        } else if (now - m_outSeenAt >= kStallTime || Pa_IsStreamActive(m_outStream) != 1) {
            m_outFailed = true;
            return why(m_outStream);
        }
    }
    return {};
}

void PortAudioDevice::DeliverDone() {
    for (;;) {
        std::deque<WaveBlock*> in, out;
        {
            std::lock_guard<std::mutex> lock(m_mu);
            if (m_inDone.empty() && m_outDone.empty()) {
                m_delivering = false;
                m_cvDelivered.notify_all();
                return;
            }
            m_delivering = true;
            in.swap(m_inDone);
            out.swap(m_outDone);
        }
        for (WaveBlock* b : in) m_inClient->OnInputDone(b);
        for (WaveBlock* b : out) m_outClient->OnOutputDone(b);
    }
}

void PortAudioDevice::FlushDone(std::unique_lock<std::mutex>& lock) {
    // On the service thread we are inside DeliverDone, whose loop hands these back next.
    if (OnServiceThread()) return;
    Wake();
    m_cvDelivered.wait(lock, [this] { return m_inDone.empty() && m_outDone.empty() && !m_delivering; });
}

void PortAudioDevice::PumpInputLocked() {
    EchoLocked();
    while (!m_inQueue.empty()) {
        WaveBlock* head = m_inQueue.front();
        if (m_inFill == 0 && !m_carry.empty()) {
            const size_t n = std::min<size_t>(m_carry.size(), head->nLength);
            std::memcpy(head->pData, m_carry.data(), n);
            m_carry.erase(m_carry.begin(), m_carry.begin() + static_cast<std::ptrdiff_t>(n));
            m_inFill = static_cast<uint32_t>(n);
        }
        const size_t n = std::min<size_t>(m_inRing.Readable(), head->nLength - m_inFill);
        m_inRing.Read(head->pData + m_inFill, n);
        m_inFill += static_cast<uint32_t>(n);
        if (m_inFill < head->nLength) break;
        head->nBytesRecorded = head->nLength;
        m_inKept += head->nLength;
        m_inFill = 0;
        m_inQueue.pop_front();
        m_inDone.push_back(head);
    }
    SetInputWakeLocked();
}

void PortAudioDevice::SetInputWakeLocked() {
    // The input callback wakes the service thread when the ring holds what completes the block being
    // filled (or a whole block's worth while none is queued).
    size_t need = m_inBlock;
    if (!m_inQueue.empty()) {
        const size_t carried = m_inFill == 0 ? m_carry.size() : 0;
        const size_t missing = m_inQueue.front()->nLength - m_inFill;
        need = missing > carried ? missing - carried : 1;
    }
    size_t at = m_inRing.ReadPos() + std::max<size_t>(need, 1);
    // An echo goes out piece by piece: the next callback wakes the service thread.
    if (m_echo) at = std::min(at, m_echoAt + 1);
    m_inWakeAt.store(at, std::memory_order_release);
}

void PortAudioDevice::ReturnInputLocked(bool all) {
    if (!m_inQueue.empty() && m_inFill > 0) {
        m_inQueue.front()->nBytesRecorded = m_inFill;
        m_inDone.push_back(m_inQueue.front());
        m_inQueue.pop_front();
    }
    m_inFill = 0;
    if (all) {
        for (WaveBlock* b : m_inQueue) {
            b->nBytesRecorded = 0;
            m_inDone.push_back(b);
        }
        m_inQueue.clear();
    }
}

void PortAudioDevice::SetOutputWakeLocked() {
    // The output callback wakes the service thread when the oldest block in the ring has been played.
    uint64_t at = UINT64_MAX;
    if (!m_outQueue.empty()) at = m_outQueue.front().end - m_outQueue.front().end % m_outAlign;
    m_outWakeAt.store(at, std::memory_order_release);
}

void PortAudioDevice::PumpOutputLocked() {
    const uint64_t played = m_outPlayed.load(std::memory_order_acquire);
    while (!m_outQueue.empty()) {
        const uint64_t end = m_outQueue.front().end;
        if (played < end - end % m_outAlign) break;
        m_outDone.push_back(m_outQueue.front().block);
        m_outQueue.pop_front();
    }
    SetOutputWakeLocked();

    const auto now = std::chrono::steady_clock::now();
    while (!m_outPending.empty()) {
        WaveBlock* b = m_outPending.front();
        if (m_pendingOff == 0 && !PrimeOutputLocked(b->nLength)) return;
        const size_t n = std::min<size_t>(m_outRing.Writable(), b->nLength - m_pendingOff);
        m_outRing.Write(b->pData + m_pendingOff, n);
        m_outWritten += n;
        m_pendingOff += static_cast<uint32_t>(n);
        if (m_pendingOff < b->nLength) return;
        m_pendingOff = 0;
        m_outPending.pop_front();
        m_outQueue.push_back({b, m_outWritten});
        m_lastWrite = now;
        SetOutputWakeLocked();
    }

    // A block that ends inside a frame leaves that frame's first bytes waiting for the next block. When no
    // block follows for a whole block's time, the stream has ended there: complete the frame with silence
    // so that the next sound starts on a frame boundary.
    const size_t left = m_outRing.Readable();
    if (left > 0 && left < m_outAlign && now - m_lastWrite >= m_blockTime) CompleteSplitFrameLocked();
}

void PortAudioDevice::CompleteSplitFrameLocked() {
    const size_t pad = (m_outAlign - m_outWritten % m_outAlign) % m_outAlign;
    m_outRing.Fill(m_silence, pad);
    m_outWritten += pad;
}

bool PortAudioDevice::PrimeOutputLocked(size_t next) {
    // Sound that starts on an empty output gets a little silence in front, so that what follows may come
    // a little late without the output running dry. Sound that comes within a block's time after the
    // output ran dry came too late: the listener heard a gap.
    if (m_outRing.Readable() != 0) return true;
    if (m_outRing.Writable() < m_prime + next) return false;
    const int64_t dry = m_dryAt.exchange(0, std::memory_order_relaxed);
    if (dry != 0 && NowMicros() - dry < m_blockTime.count()) ++m_underruns;
    m_outRing.Fill(m_silence, m_prime);
    m_outWritten += m_prime;
    return true;
}

void PortAudioDevice::EchoLocked() {
    const size_t end = m_inRing.WritePos();
    size_t from = m_echoAt;
    m_echoAt = end;
    // A playback block waiting for room goes first: echo in the middle of it would split it.
    if (!m_echo || from == end || m_outStream == nullptr || !m_outPending.empty()) return;
    if (StartOutputLocked() != paNoError) return;
    // Callbacks write whole frames, so the echo is whole frames too; it starts on a frame of its own.
    CompleteSplitFrameLocked();
    // The echo never lags its voice by more than a block: when the output already holds that much (this
    // thread was held up), the oldest of the new sound is left out.
    const size_t most = m_prime + m_outBlock;
    const size_t held = m_outRing.Readable();
    if (held + (end - from) > most) {
        size_t skip = held + (end - from) - most;
        skip += (m_outAlign - skip % m_outAlign) % m_outAlign;
        from = std::min(end, from + skip);
    }
    const size_t n = end - from;
    if (n == 0 || !PrimeOutputLocked(n)) return;
    if (m_echoBuf.size() < n) m_echoBuf.resize(n);
    m_inRing.Peek(from, m_echoBuf.data(), n);
    m_outRing.Write(m_echoBuf.data(), n);
    m_outWritten += n;
    m_lastWrite = std::chrono::steady_clock::now();
}

void PortAudioDevice::EchoInput(bool on) {
    std::lock_guard<std::mutex> lock(m_mu);
    m_echo = on;
    m_echoAt = m_inRing.WritePos();
    SetInputWakeLocked();
}

// ---- input ---------------------------------------------------------------------------------------------

int PortAudioDevice::OpenInput(const WaveFormatEx& format, uint32_t blockBytes, WaveDeviceClient* client) {
    {
        std::lock_guard<std::mutex> lock(m_mu);
        if (m_inStream != nullptr) return paDeviceUnavailable;
    }
    // The stream is opened aside and published under the lock with everything the service thread
    // reads: that thread may already be running for the output.
    PaStream* stream = nullptr;
    const PaError err = OpenStream(&stream, true, format, blockBytes);
    if (err != paNoError) return err;
    const uint32_t align = std::max<uint32_t>(1, format.nBlockAlign);
    // A second of sound, or 16 blocks if more: room for the service thread to fall behind a little.
    size_t capacity = std::max<size_t>(format.nAvgBytesPerSec, 16u * blockBytes);
    capacity -= capacity % align;
    std::lock_guard<std::mutex> lock(m_mu);
    m_inAlign = align;
    m_inBlock = blockBytes;
    m_inRing.Allocate(capacity);
    m_echoAt = 0;
    m_inClient = client;
    m_inQueue.clear();
    m_inFill = 0;
    m_inKept = 0;
    m_carry.clear();
    SetInputWakeLocked();
    m_inStream = stream;
    StartService();
    return paNoError;
}

int PortAudioDevice::PrepareInput(WaveBlock* block) {
    block->bPrepared = true;
    return paNoError;
}

int PortAudioDevice::UnprepareInput(WaveBlock* block) {
    block->bPrepared = false;
    return paNoError;
}

int PortAudioDevice::AddInputBuffer(WaveBlock* block) {
    std::lock_guard<std::mutex> lock(m_mu);
    if (m_inStream == nullptr) return paBadStreamPtr;
    block->nBytesRecorded = 0;
    m_inQueue.push_back(block);
    if (m_inQueue.size() == 1) SetInputWakeLocked();
    return paNoError;
}

int PortAudioDevice::StartInput() {
    // Stream calls happen under the lock: the window thread and the service thread (a stop at the
    // limit) both make them. The callbacks never take it.
    std::lock_guard<std::mutex> lock(m_mu);
    if (m_inStream == nullptr) return paBadStreamPtr;
    if (m_inRunning) return paNoError;
    ResetInputRingLocked();
    SetInputWakeLocked();
    const PaError err = Pa_StartStream(m_inStream);
    if (err == paNoError) {
        m_inRunning = true;
        m_inFailed = false;
        m_inSeenPos = 0;
        m_inSeenAt = std::chrono::steady_clock::now();
        Wake();  // the service thread's waits become timed: the watch has begun
    }
    return err;
}

int PortAudioDevice::StopInput() {
    std::unique_lock<std::mutex> lock(m_mu);
    if (m_inStream == nullptr) return paBadStreamPtr;
    PaError err = paNoError;
    if (m_inRunning) {
        // A stream whose device is gone is not waited for.
        err = m_inFailed ? Pa_AbortStream(m_inStream) : Pa_StopStream(m_inStream);
        m_inRunning = false;
    }
    PumpInputLocked();
    // What was captured after the last full block is dropped, except the bytes that finish the frame the
    // last full block began: they open the next block, so the recording stays whole frames in sequence.
    const size_t need = (m_inAlign - m_inKept % m_inAlign) % m_inAlign;
    std::vector<uint8_t> rest = std::move(m_carry);
    if (!m_inQueue.empty()) rest.insert(rest.end(), m_inQueue.front()->pData, m_inQueue.front()->pData + m_inFill);
    if (rest.size() < need) {
        const size_t at = rest.size();
        rest.resize(at + std::min(m_inRing.Readable(), need - at));
        m_inRing.Read(rest.data() + at, rest.size() - at);
    }
    rest.resize(std::min(rest.size(), need));
    m_carry = std::move(rest);
    ResetInputRingLocked();
    ReturnInputLocked(false);
    SetInputWakeLocked();
    FlushDone(lock);
    return err;
}

int PortAudioDevice::ResetInput() {
    std::unique_lock<std::mutex> lock(m_mu);
    if (m_inStream == nullptr) return paBadStreamPtr;
    PaError err = paNoError;
    if (m_inRunning) {
        err = Pa_AbortStream(m_inStream);
        m_inRunning = false;
    }
    ResetInputRingLocked();
    m_carry.clear();
    ReturnInputLocked(true);
    SetInputWakeLocked();
    FlushDone(lock);
    return err;
}

int PortAudioDevice::CloseInput() {
    if (m_inStream == nullptr) return paBadStreamPtr;
    ResetInput();
    std::lock_guard<std::mutex> lock(m_mu);
    const PaError err = Pa_CloseStream(m_inStream);
    m_inStream = nullptr;
    return err;
}

// ---- output --------------------------------------------------------------------------------------------

int PortAudioDevice::OpenOutput(const WaveFormatEx& format, uint32_t blockBytes, WaveDeviceClient* client) {
    {
        std::lock_guard<std::mutex> lock(m_mu);
        if (m_outStream != nullptr) return paDeviceUnavailable;
    }
    // As for the input: the service thread runs already (it serves the input) and reads the stream, the
    // ring and the silence value under the lock, so they are set only there, all at once.
    PaStream* stream = nullptr;
    const PaError err = OpenStream(&stream, false, format, blockBytes);
    if (err != paNoError) return err;
    const uint32_t align = std::max<uint32_t>(1, format.nBlockAlign);
    // Two seconds, or 32 blocks if more: echo and playback never queue nearly that much.
    size_t capacity = std::max<size_t>(2u * format.nAvgBytesPerSec, 32u * blockBytes);
    capacity -= capacity % align;
    const uint64_t avg = format.nAvgBytesPerSec;
    std::lock_guard<std::mutex> lock(m_mu);
    m_outAlign = align;
    m_outBlock = blockBytes;
    m_silence = format.wBitsPerSample == 8 ? 0x80 : 0x00;
    m_blockTime = std::chrono::microseconds(avg > 0 ? uint64_t{blockBytes} * 1000000u / avg : 50000u);
    m_prime = PrimeBytes(format, align);
    m_outRing.Allocate(capacity);
    m_outClient = client;
    m_outPending.clear();
    m_outQueue.clear();
    m_pendingOff = 0;
    m_outWritten = 0;
    m_outPlayed = 0;
    m_dryAt = 0;
    m_outWakeAt = UINT64_MAX;
    // The stream plays silence from the start: the sound system fills its own buffer now, not out of
    // the first echo block, which would leave the output short right after it.
    const PaError started = Pa_StartStream(stream);
    if (started != paNoError) {
        Pa_CloseStream(stream);
        return started;
    }
    m_outRunning = true;
    m_outFailed = false;
    m_outSeenCallbacks = m_outCallbacks.load();
    m_outSeenAt = std::chrono::steady_clock::now();
    m_outStream = stream;
    StartService();
    return paNoError;
}

int PortAudioDevice::PrepareOutput(WaveBlock* block) {
    block->bPrepared = true;
    return paNoError;
}

int PortAudioDevice::UnprepareOutput(WaveBlock* block) {
    block->bPrepared = false;
    return paNoError;
}

int PortAudioDevice::WriteOutput(WaveBlock* block) {
    std::lock_guard<std::mutex> lock(m_mu);
    if (m_outStream == nullptr) return paBadStreamPtr;
    const PaError err = StartOutputLocked();
    if (err != paNoError) return err;
    m_outPending.push_back(block);
    PumpOutputLocked();
    return paNoError;
}

PaError PortAudioDevice::StartOutputLocked() {
    // Normally running since the open; after a reset it starts again with the next sound.
    if (m_outRunning) return paNoError;
    const PaError err = Pa_StartStream(m_outStream);
    if (err == paNoError) {
        m_outRunning = true;
        m_outFailed = false;
        m_outSeenCallbacks = m_outCallbacks.load();
        m_outSeenAt = std::chrono::steady_clock::now();
    }
    return err;
}

int PortAudioDevice::ResetOutput() {
    std::unique_lock<std::mutex> lock(m_mu);
    if (m_outStream == nullptr) return paBadStreamPtr;
    PaError err = paNoError;
    if (m_outRunning) {
        err = Pa_AbortStream(m_outStream);
        m_outRunning = false;
    }
    for (const Written& w : m_outQueue) m_outDone.push_back(w.block);
    for (WaveBlock* b : m_outPending) m_outDone.push_back(b);
    m_outQueue.clear();
    m_outPending.clear();
    m_pendingOff = 0;
    m_outRing.Reset();
    m_outWritten = 0;
    m_outPlayed = 0;
    m_dryAt = 0;
    m_outWakeAt = UINT64_MAX;
    FlushDone(lock);
    return err;
}

int PortAudioDevice::CloseOutput() {
    if (m_outStream == nullptr) return paBadStreamPtr;
    ResetOutput();
    std::lock_guard<std::mutex> lock(m_mu);
    const PaError err = Pa_CloseStream(m_outStream);
    m_outStream = nullptr;
    return err;
}

}  // namespace vox
