// What the sound engine costs.
//
// Capture: CPU time of the whole process per second of 44100 Hz 16-bit stereo capture, the scripted device
// filling blocks as fast as the engine takes them (the echo is the device's own work; its cost shows in
// the capture on the real server below). The peer is the least any
// recorder must do with that second: append its 176400 bytes to a file in the same 8820-byte blocks.
//
// Echo: on a private PulseAudio server, how long after a click reaches the "mic" sink its echo reaches
// the "spk" sink. The peer is PulseAudio's own module-loopback from the same source to the same sink.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "pulse_server.h"
#include "scripted_wave_device.h"
#include "sound/port_audio_device.h"
#include "sound/wave_recorder.h"

namespace fs = std::filesystem;
using vox::CWaveRecorder;
using vox::testing::PulseServer;
using vox::testing::ScriptedWaveDevice;

namespace {

constexpr int kBlocksPerSecond = 20;
constexpr uint32_t kBlock = 8820;  // 44100 Hz, 16-bit stereo

fs::path TempFolder() {
    char tmpl[] = "/tmp/vox_bench_XXXXXX";
    return mkdtemp(tmpl) != nullptr ? fs::path(tmpl) : fs::temp_directory_path();
}

void BM_EngineCapture(benchmark::State& state) {
    const fs::path dir = TempFolder();
    constexpr int32_t kLimit = 176400 * 60;  // a new recording after a minute, so the file stays small
    ScriptedWaveDevice* dev = nullptr;
    std::unique_ptr<CWaveRecorder> rec;
    auto fresh = [&] {
        rec.reset();
        auto device = std::make_unique<ScriptedWaveDevice>();
        dev = device.get();
        dev->SetKeepPlayed(false);
        rec = std::make_unique<CWaveRecorder>(std::move(device));
        rec->SetTempFolder(dir);
        rec->SetFormat(2, 44100, 16);
        rec->SetMaxBytes(kLimit);
        return rec->Open() == 0;
    };
    if (!fresh()) {
        state.SkipWithError("open failed");
        return;
    }
    int64_t seconds = 0;
    for (auto _ : state) {
        if (rec->GetRecordedBytes() + 176400 > kLimit) {
            state.PauseTiming();
            rec->Close();
            fresh();
            state.ResumeTiming();
        }
        rec->StartRecord();
        dev->CaptureBlocks(kBlocksPerSecond);
        dev->WaitIdle();
        rec->StopRecord();
        seconds += rec->GetRecordedBytes() > 0 ? 1 : 0;
    }
    rec->Close();
    rec.reset();
    fs::remove_all(dir);
    state.SetBytesProcessed(seconds * 176400);
    state.SetLabel("one iteration = one second of sound");
}
BENCHMARK(BM_EngineCapture)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

void BM_PlainAppendPeer(benchmark::State& state) {
    const fs::path dir = TempFolder();
    const fs::path file = dir / "raw";
    std::vector<uint8_t> block(kBlock, 0x55);
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    int seconds = 0;
    for (auto _ : state) {
        if (++seconds > 60) {
            ::ftruncate(fd, 0);
            seconds = 0;
        }
        for (int i = 0; i < kBlocksPerSecond; ++i) benchmark::DoNotOptimize(::write(fd, block.data(), block.size()));
    }
    ::close(fd);
    fs::remove_all(dir);
    state.SetBytesProcessed(state.iterations() * 176400);
}
BENCHMARK(BM_PlainAppendPeer)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

// ---- echo latency on a real server --------------------------------------------------------------------

PulseServer* g_server = nullptr;  // one server for the echo benchmarks
std::string g_skip;
fs::path g_click;
long g_offset = 0;  // mic-monitor index minus spk-monitor index of the same instant

// First sample at or after `from` louder than a quarter of full scale; -1 if none.
long Onset(const std::vector<int16_t>& s, size_t from) {
    for (size_t i = from; i < s.size(); ++i)
        if (std::abs(s[i]) > 8000) return static_cast<long>(i);
    return -1;
}

bool StartServer() {
    if (g_server != nullptr) return g_skip.empty();
    g_server = new PulseServer;
    if (!g_server->Start(&g_skip)) return false;
    g_click = g_server->Folder() / "click.wav";
    if (PulseServer::Run({"sox", "-n", "-r", "44100", "-c", "1", "-b", "16", g_click.string(), "synth", "0.03", "sine",
                          "1000", "vol", "0.9"}) != 0) {
        g_skip = "sox cannot make the click";
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // The two monitor readers started at different moments: a click played into both sinks at once
    // tells how their sample positions line up.
    const size_t mic0 = g_server->MonitorSamples("mic").size(), spk0 = g_server->MonitorSamples("spk").size();
    g_server->Play(g_click, "both");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long m = Onset(g_server->MonitorSamples("mic"), mic0), s = Onset(g_server->MonitorSamples("spk"), spk0);
    if (m < 0 || s < 0) {
        g_skip = "the calibration click was not heard";
        return false;
    }
    g_offset = m - s;
    return true;
}

// Plays clicks into "mic" while `echo` runs and reports the mean delay of their arrival on "spk".
template <typename Echo>
void MeasureEcho(benchmark::State& state, Echo&& startEcho) {
    if (!StartServer()) {
        state.SkipWithError(("no private sound server: " + g_skip).c_str());
        return;
    }
    auto stop = startEcho();
    if (!stop) {
        state.SkipWithError("the echo did not start");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double total = 0;
    int heard = 0;
    for (auto _ : state) {
        for (int k = 0; k < 5; ++k) {
            const size_t mic0 = g_server->MonitorSamples("mic").size(), spk0 = g_server->MonitorSamples("spk").size();
            g_server->Play(g_click, "mic");
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            const long m = Onset(g_server->MonitorSamples("mic"), mic0);
            const long s = Onset(g_server->MonitorSamples("spk"), spk0);
            if (m < 0 || s < 0) continue;
            const double ms = double(s + g_offset - m) * 1000.0 / PulseServer::kMonitorRate;
            total += ms;
            ++heard;
        }
        state.SetIterationTime(heard > 0 ? total / heard / 1000.0 : 0);
    }
    stop();
    state.counters["echo_ms"] = heard > 0 ? total / heard : -1;
    state.counters["clicks_heard"] = heard;
}

void BM_EchoLatencyEngine(benchmark::State& state) {
    std::unique_ptr<CWaveRecorder> rec;
    vox::PortAudioDevice* device = nullptr;
    const fs::path dir = TempFolder();
    MeasureEcho(state, [&]() -> std::function<void()> {
        auto owned = std::make_unique<vox::PortAudioDevice>();
        device = owned.get();
        rec = std::make_unique<CWaveRecorder>(std::move(owned));
        rec->SetTempFolder(dir);
        rec->SetFormat(2, 44100, 16);
        rec->SetMaxBytes(176400 * 60);
        if (rec->Open() != 0) return {};
        rec->StartRecord();
        return [&] {
            state.counters["underruns"] = static_cast<double>(device->OutputUnderruns());
            state.counters["host_underflows"] = static_cast<double>(device->HostUnderflows());
            rec->StopRecord();
            rec->Close();
            rec.reset();
            fs::remove_all(dir);
        };
    });
}
BENCHMARK(BM_EchoLatencyEngine)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same second of capture with echo through PortAudio on the server: the engine, the device layer's
// service thread and the sound libraries' own threads, all in this process.
void BM_RealCaptureWithEcho(benchmark::State& state) {
    if (!StartServer()) {
        state.SkipWithError(("no private sound server: " + g_skip).c_str());
        return;
    }
    const fs::path dir = TempFolder();
    auto rec = std::make_unique<CWaveRecorder>();
    rec->SetTempFolder(dir);
    rec->SetFormat(2, 44100, 16);
    rec->SetMaxBytes(176400 * 60);
    if (rec->Open() != 0) {
        state.SkipWithError("open failed");
        return;
    }
    rec->StartRecord();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (auto _ : state) std::this_thread::sleep_for(std::chrono::seconds(1));
    rec->StopRecord();
    rec->Close();
    rec.reset();
    fs::remove_all(dir);
    state.SetLabel("one iteration = one second of sound");
}
BENCHMARK(BM_RealCaptureWithEcho)->Iterations(3)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

// A minute of speech recorded with echo, as a user records a message: does the echo ever run dry?
void BM_EchoUnderrunsOverAMinute(benchmark::State& state) {
    if (!StartServer()) {
        state.SkipWithError(("no private sound server: " + g_skip).c_str());
        return;
    }
    const fs::path dir = TempFolder();
    const fs::path speech = dir / "speech.wav";
    if (PulseServer::Run({"espeak-ng", "-v", "zh", "-s", "150", "-w", speech.string(),
                          "你好，这是一段一分钟的语音留言，用来检查回声在整个录音里是否一直连续。"}) != 0) {
        state.SkipWithError("espeak-ng cannot speak");
        return;
    }
    auto owned = std::make_unique<vox::PortAudioDevice>();
    vox::PortAudioDevice* device = owned.get();
    auto rec = std::make_unique<CWaveRecorder>(std::move(owned));
    rec->SetTempFolder(dir);
    rec->SetFormat(2, 44100, 16);
    rec->SetMaxBytes(176400 * 61);
    if (rec->Open() != 0) {
        state.SkipWithError("open failed");
        return;
    }
    rec->StartRecord();
    for (auto _ : state) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) g_server->Play(speech, "mic");
    }
    rec->StopRecord();
    state.counters["seconds"] = rec->GetRecordedBytes() / 176400.0;
    state.counters["underruns"] = static_cast<double>(device->OutputUnderruns());
    state.counters["host_underflows"] = static_cast<double>(device->HostUnderflows());
    state.counters["input_overruns"] = static_cast<double>(device->InputOverruns());
    rec->Close();
    rec.reset();
    fs::remove_all(dir);
}
BENCHMARK(BM_EchoUnderrunsOverAMinute)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

void BM_EchoLatencyPulseLoopbackPeer(benchmark::State& state) {
    MeasureEcho(state, []() -> std::function<void()> {
        std::string out;
        if (PulseServer::Run({"pactl", "load-module", "module-loopback", "source=micsrc", "sink=spk",
                              "latency_msec=1"},
                             &out) != 0)
            return {};
        const std::string module = out.substr(0, out.find('\n'));
        return [module] { PulseServer::Run({"pactl", "unload-module", module}); };
    });
}
BENCHMARK(BM_EchoLatencyPulseLoopbackPeer)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete g_server;
    return 0;
}
