// The engine on PortAudio against a private PulseAudio server: speech played into the "mic" sink is
// recorded, saved and measured, and its echo is looked for on the "spk" sink.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "pulse_server.h"
#include "sound/record_values.h"
#include "sound/wave_recorder.h"

namespace fs = std::filesystem;
using vox::testing::PulseServer;

// PortAudio's terminate has ALSA unload its plugins, and with them the sound libraries behind them; what
// those keep to the end would then be reported as leaks of an unnamed module that no suppression can
// match. This program keeps every library loaded, so the report names them.
extern "C" int dlclose(void*) { return 0; }

namespace {

class DoneWaiter : public vox::WaveNotify {
public:
    void OnWaveProgress(uint32_t, int kind) override {
        std::lock_guard<std::mutex> lock(m_mu);
        if (kind == vox::kWaveProgressCapture) ++m_captured;
        m_cv.notify_all();
    }
    void OnWaveDone() override {
        std::lock_guard<std::mutex> lock(m_mu);
        m_done = true;
        m_cv.notify_all();
    }
    bool WaitDone(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(m_mu);
        return m_cv.wait_for(lock, limit, [this] { return m_done; });
    }
    bool WaitCaptured(int blocks, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(m_mu);
        return m_cv.wait_for(lock, limit, [&] { return m_captured >= blocks; });
    }

private:
    std::mutex m_mu;
    std::condition_variable m_cv;
    bool m_done = false;
    int m_captured = 0;
};

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// sox's own measure of the file.
double SoxRms(const fs::path& wav) {
    std::string out;
    PulseServer::Run({"sox", wav.string(), "-n", "stat"}, &out);
    const size_t at = out.find("RMS     amplitude:");
    return at == std::string::npos ? -1 : std::atof(out.c_str() + at + 18);
}

// Speech is smooth from one sample to the next; bytes read one off their frame are not. Mean
// sample-to-sample change over mean size.
double Roughness(const std::vector<int16_t>& samples, size_t from = 0) {
    double change = 0, size = 0;
    for (size_t i = from; i < samples.size(); ++i) {
        if (i > from) change += std::abs(samples[i] - samples[i - 1]);
        size += std::abs(samples[i]);
    }
    return size > 0 ? change / size : 0;
}

// The first channel of 16-bit frames.
std::vector<int16_t> FirstChannel(const std::vector<uint8_t>& data, unsigned channels) {
    std::vector<int16_t> samples(data.size() / (2 * channels));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(Le16(data, 2 * channels * i));
    return samples;
}

// voxletter-cli with its arguments. Under the sanitizers the child's leak check is left out: PortAudio
// unloads the pulse plugin at exit, and what libpulse keeps shows up as an unnamed module (the
// in-process tests keep it loaded and check leaks there).
std::vector<std::string> Cli(std::vector<std::string> env, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"env"};
    if (const char* asan = std::getenv("ASAN_OPTIONS")) env.push_back(std::string("ASAN_OPTIONS=") + asan + ":detect_leaks=0");
    argv.insert(argv.end(), env.begin(), env.end());
    argv.push_back(VOX_CLI_PATH);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

class SoundServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new PulseServer;
        if (!s_server->Start(&s_skip)) return;
        s_speech = s_server->Folder() / "speech.wav";
        if (PulseServer::Run({"espeak-ng", "-s", "190", "-w", s_speech.string(),
                              "Hello, this is the voice letter recorder, speaking slowly and clearly."}) != 0)
            s_skip = "espeak-ng cannot speak here (Debian espeak-ng)";
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override {
        if (!s_skip.empty()) GTEST_SKIP() << "no private sound server: " << s_skip;
        char tmpl[] = "/tmp/vox_rec_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        if (!m_dir.empty()) fs::remove_all(m_dir);
    }

    static PulseServer* s_server;
    static std::string s_skip;
    static fs::path s_speech;
    fs::path m_dir;
};

PulseServer* SoundServerTest::s_server = nullptr;
std::string SoundServerTest::s_skip;
fs::path SoundServerTest::s_speech;

struct Format {
    uint32_t rate;
    uint16_t bits;
    uint16_t channels;
};

class SoundServerFormats : public SoundServerTest, public ::testing::WithParamInterface<Format> {};

TEST_P(SoundServerFormats, RecordsSpeechSavesItAndEchoesIt) {
    const Format f = GetParam();
    std::vector<std::string> messages;
    DoneWaiter waiter;
    const size_t echoFrom = s_server->MonitorSamples("spk").size();
    {
        vox::CWaveRecorder rec;
        rec.SetTempFolder(m_dir);
        rec.SetNotifyWindow(&waiter);
        rec.SetMessageFunction([&](const std::string& text) { messages.push_back(text); });
        rec.SetFormat(f.channels, f.rate, f.bits);
        const int32_t limit = *vox::RecordLimitBytes(1, f.rate, f.bits, f.channels) * 3 / 2;  // 1.5 s
        rec.SetMaxBytes(limit);
        const pid_t speaking = s_server->StartPlay(s_speech, "mic");
        ASSERT_EQ(rec.Open(), 0) << (messages.empty() ? "" : messages[0]);
        rec.StartRecord();
        ASSERT_TRUE(waiter.WaitDone(std::chrono::seconds(10)));
        ASSERT_EQ(rec.SaveWave(m_dir / "Sound.wav"), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the last echo blocks sound
        EXPECT_EQ(rec.Close(), 0);
        EXPECT_TRUE(messages.empty()) << messages[0];
        EXPECT_EQ(rec.GetRecordedBytes() % rec.GetBlockSize(), 0u);
        EXPECT_GE(rec.GetRecordedBytes(), limit);
        EXPECT_LT(rec.GetRecordedBytes(), limit + static_cast<int32_t>(rec.GetBlockSize()));
        ::kill(speaking, SIGTERM);
        PulseServer::Wait(speaking);
    }

    const std::vector<uint8_t> file = ReadAll(m_dir / "Sound.wav");
    ASSERT_GE(file.size(), 46u);
    const uint32_t n = Le32(file, 42);
    EXPECT_EQ(file.size(), 46 + n + n % 2);
    EXPECT_EQ(Le32(file, 4), file.size() - 8);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(file, 16), 18u);
    EXPECT_EQ(Le16(file, 20), 1);
    EXPECT_EQ(Le16(file, 22), f.channels);
    EXPECT_EQ(Le32(file, 24), f.rate);
    EXPECT_EQ(Le32(file, 28), f.rate * f.bits * f.channels / 8);
    EXPECT_EQ(Le16(file, 32), f.bits * f.channels / 8);
    EXPECT_EQ(Le16(file, 34), f.bits);
    EXPECT_EQ(Le16(file, 36), 18);
    EXPECT_EQ(std::string(file.begin() + 38, file.begin() + 42), "data");

    EXPECT_GT(SoxRms(m_dir / "Sound.wav"), 0.02) << "sox hears no speech in the recording";
    if (f.bits == 16) {
        const std::vector<uint8_t> data(file.begin() + 46, file.begin() + 46 + n);
        EXPECT_LT(Roughness(FirstChannel(data, f.channels)), 0.8) << "samples out of step with their frames";
    }
    // The echo is passed on in pieces of the device's own size: it must still be the speech, frame by frame.
    const std::vector<int16_t> spk = s_server->MonitorSamples("spk");
    EXPECT_GT(vox::testing::Rms(spk, echoFrom), 0.01) << "no echo on the speaker";
    EXPECT_LT(Roughness(spk, echoFrom), 0.8) << "the echo is out of step with its frames";
}

INSTANTIATE_TEST_SUITE_P(Formats, SoundServerFormats,
                         ::testing::Values(Format{44100, 16, 2}, Format{8000, 8, 1}, Format{22050, 16, 1},
                                           Format{11025, 16, 2}),
                         [](const ::testing::TestParamInfo<Format>& info) {
                             return std::to_string(info.param.rate) + "Hz" + std::to_string(info.param.bits) +
                                    "bit" + (info.param.channels == 2 ? "Stereo" : "Mono");
                         });

// 2205-byte blocks are 1102.5 frames of 16-bit mono: stopping after an odd number of them and going on
// must still give whole frames in sequence. Bytes one off their frame would make the whole rest of the
// recording rough, so one measure over all of it shows a slip at any stop.
TEST_F(SoundServerTest, StopAndContinueKeepsFramesWhole) {
    std::vector<std::string> messages;
    DoneWaiter waiter;
    vox::CWaveRecorder rec;
    rec.SetTempFolder(m_dir);
    rec.SetNotifyWindow(&waiter);
    rec.SetMessageFunction([&](const std::string& text) { messages.push_back(text); });
    rec.SetFormat(1, 22050, 16);
    rec.SetMaxBytes(22050 * 2 * 3);
    const pid_t speaking = s_server->StartPlay(s_speech, "mic");
    ASSERT_EQ(rec.Open(), 0);
    rec.StartRecord();
    // Stop and go on until a stop has fallen after an odd number of blocks (inside a frame).
    std::vector<int32_t> stops;
    for (int blocks = 4; blocks <= 40 && (stops.empty() || stops.back() % 2 == 0); blocks += 5) {
        ASSERT_TRUE(waiter.WaitCaptured(blocks, std::chrono::seconds(10)));
        rec.StopRecord();
        stops.push_back(rec.GetRecordedBytes());
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        rec.StartRecord();
    }
    ASSERT_TRUE(waiter.WaitDone(std::chrono::seconds(10)));
    ASSERT_EQ(rec.SaveWave(m_dir / "Sound.wav"), 0);
    EXPECT_EQ(rec.Close(), 0);
    ::kill(speaking, SIGTERM);
    PulseServer::Wait(speaking);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(stops.back() % 2, 1) << "no stop fell inside a frame";

    const std::vector<uint8_t> file = ReadAll(m_dir / "Sound.wav");
    ASSERT_GT(file.size(), 46u);
    const std::vector<uint8_t> data(file.begin() + 46, file.begin() + 46 + Le32(file, 42));
    const std::vector<uint8_t> after(data.begin() + stops.back() + 1, data.end());
    EXPECT_LT(Roughness(FirstChannel(data, 1)), 0.8) << "out of step after one of the stops";
    EXPECT_LT(Roughness(FirstChannel(after, 1)), 0.8) << "out of step after the stop inside a frame";
}

TEST_F(SoundServerTest, CliRecordsAndSavesSoundWav) {
    std::string out;
    const pid_t speaking = s_server->StartPlay(s_speech, "mic");
    const int status = PulseServer::Run(Cli({}, {"record", "--seconds", "1", "--rate", "11025"}), &out);
    ::kill(speaking, SIGTERM);
    PulseServer::Wait(speaking);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("录音内容当前大小"), std::string::npos) << out;
    const fs::path saved = fs::path(VOX_CLI_PATH).parent_path() / "Sound.wav";
    EXPECT_NE(out.find(saved.string() + "\n"), std::string::npos) << out;
    const std::vector<uint8_t> file = ReadAll(saved);
    ASSERT_GE(file.size(), 46u);
    EXPECT_EQ(Le32(file, 42), 11025u + 551 - 11025 % 551);  // whole 551-byte blocks up to the limit
}

TEST(SoundNoServer, CliReportsNoRecordingDevice) {
    std::ifstream cards("/proc/asound/cards");
    std::string line;
    if (std::getline(cards, line) && line.find("no soundcards") == std::string::npos)
        GTEST_SKIP() << "this machine has a sound card, so there is always a recording device";
    char tmpl[] = "/tmp/vox_nosrv_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string out;
    const int status = PulseServer::Run(Cli({std::string("PULSE_SERVER=unix:") + tmpl + "/none",
                                             std::string("XDG_RUNTIME_DIR=") + tmpl, "PULSE_COOKIE=/nonexistent"},
                                            {"record", "--seconds", "1"}),
                                        &out);
    fs::remove_all(tmpl);
    EXPECT_EQ(status, 1) << out;
    EXPECT_EQ(out, "没有录音设备\n");
}

}  // namespace
