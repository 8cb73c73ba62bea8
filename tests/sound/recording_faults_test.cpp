// What a recording survives, against a private PulseAudio server: the server killed in the middle (the
// engine, and voxletter-cli record), "tempRecord" on a small tmpfs that fills up, and a save of
// "Sound.wav" that fails. Each keeps what was recorded until the fault, and says why it stopped.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <thread>

#include "pulse_server.h"
#include "sound/wave_recorder.h"

namespace fs = std::filesystem;
using vox::testing::PulseServer;
using Clock = std::chrono::steady_clock;

// As in the other server tests: the report of leaks must name the sound libraries.
extern "C" int dlclose(void*) { return 0; }

namespace {

class Watcher : public vox::WaveNotify {
public:
    void OnWaveProgress(uint32_t bytes, int kind) override {
        std::lock_guard<std::mutex> lock(m_mu);
        if (kind == vox::kWaveProgressCapture) m_lastProgress = bytes;
        m_cv.notify_all();
    }
    void OnWaveDone() override {
        std::lock_guard<std::mutex> lock(m_mu);
        m_done = true;
        m_doneAt = Clock::now();
        m_cv.notify_all();
    }
    void OnWaveError(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mu);
        m_errors.push_back(text);
    }
    bool WaitDone(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(m_mu);
        return m_cv.wait_for(lock, limit, [this] { return m_done; });
    }
    bool WaitProgress(uint32_t bytes, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(m_mu);
        return m_cv.wait_for(lock, limit, [&] { return m_lastProgress >= bytes; });
    }
    std::mutex m_mu;
    std::condition_variable m_cv;
    bool m_done = false;
    Clock::time_point m_doneAt;
    uint32_t m_lastProgress = 0;
    std::vector<std::string> m_errors;
};

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t DataSize(const std::vector<uint8_t>& wav) {
    return wav.size() < 46 ? 0 : uint32_t{wav[42]} | uint32_t{wav[43]} << 8 | uint32_t{wav[44]} << 16 | uint32_t{wav[45]} << 24;
}

struct Fault {
    const char* name;
    bool cli;                 // voxletter-cli record instead of the engine in this process
    size_t tmpfsBytes;        // > 0: "tempRecord" (or, with saveFails, "Sound.wav") on a tmpfs this big
    bool saveFails;           // the save lands on the full tmpfs, over an earlier "Sound.wav"
    bool killServer;          // the sound server is killed a second into the recording
    const char* wantError;    // what the recording says when it stops
};

class RecordingFaults : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vox_faults_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        std::string why;
        if (!m_server.Start(&why)) GTEST_SKIP() << "no private sound server: " << why;
        if (GetParam().tmpfsBytes > 0) {
            fs::create_directories(m_dir / "small");
            const std::string size = "size=" + std::to_string(GetParam().tmpfsBytes);
            if (::mount("tmpfs", (m_dir / "small").c_str(), "tmpfs", 0, size.c_str()) != 0)
                GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);
            m_mounted = true;
        }
    }
    void TearDown() override {
        m_server.Stop();
        if (m_mounted) ::umount((m_dir / "small").c_str());
        if (!m_dir.empty()) fs::remove_all(m_dir);
    }
    fs::path m_dir;
    PulseServer m_server;
    bool m_mounted = false;
};

TEST_P(RecordingFaults, KeepWhatWasRecorded) {
    const Fault& f = GetParam();
    // Sound keeps coming in: a tone played into the microphone for the whole test.
    const fs::path tone = m_dir / "tone.wav";
    ASSERT_EQ(PulseServer::Run({"sox", "-n", "-r", "8000", "-c", "1", "-b", "16", tone.string(), "synth", "30",
                                "sine", "440"}),
              0);
    const pid_t playing = m_server.StartPlay(tone, "mic");

    if (f.cli) {
        // The command line: its folder is the executable's, so the program's files are looked for where
        // it was built; a killed server must end the command within a few seconds with the recording saved.
        const fs::path saved = fs::path(VOX_CLI_PATH).parent_path() / "Sound.wav";
        fs::remove(saved);
        int pipefd[2];
        ASSERT_EQ(::pipe(pipefd), 0);
        const pid_t cli = ::fork();
        if (cli == 0) {
            ::dup2(pipefd[1], 1);
            ::dup2(pipefd[1], 2);
            // As in the other server tests: what libpulse keeps at exit shows up as an unnamed module.
            if (const char* asan = std::getenv("ASAN_OPTIONS")) {
                ::setenv("ASAN_OPTIONS", (std::string(asan) + ":detect_leaks=0").c_str(), 1);
            }
            ::execl(VOX_CLI_PATH, VOX_CLI_PATH, "record", "--seconds", "20", "--bits", "16", nullptr);
            ::_exit(127);
        }
        ::close(pipefd[1]);
        // The server goes once the size line has passed 16 KB (half a second), however slowly the
        // command started (it may be built with a sanitizer).
        std::string out;
        char buf[4096];
        const auto limit = Clock::now() + std::chrono::seconds(20);
        while (out.find("录音内容当前大小16KB") == std::string::npos && Clock::now() < limit) {
            const ssize_t n = ::read(pipefd[0], buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        const auto killed = Clock::now();
        m_server.Stop();
        for (ssize_t n; (n = ::read(pipefd[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
        ::close(pipefd[0]);
        int status = 0;
        ::waitpid(cli, &status, 0);
        const double took = std::chrono::duration<double>(Clock::now() - killed).count();
        ::kill(playing, SIGTERM);
        PulseServer::Wait(playing);
        ASSERT_TRUE(WIFEXITED(status)) << out;
        EXPECT_EQ(WEXITSTATUS(status), 1) << out;
        EXPECT_LT(took, 3.0) << out;
        EXPECT_NE(out.find(f.wantError), std::string::npos) << out;
        EXPECT_NE(out.find(saved.string() + "\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("ALSA lib"), std::string::npos) << out;
        EXPECT_EQ(out.find("pa_linux_alsa.c"), std::string::npos) << out;
        const std::vector<uint8_t> wav = ReadAll(saved);
        EXPECT_GT(DataSize(wav), 8000u) << "less than half a second kept";
        EXPECT_EQ(wav.size(), 46 + DataSize(wav));
        EXPECT_FALSE(fs::exists(saved.parent_path() / "tempRecord"));
        return;
    }

    Watcher watch;
    vox::CWaveRecorder rec;
    std::vector<std::string> shown;
    rec.SetMessageFunction([&](const std::string& text) { shown.push_back(text); });
    rec.SetNotifyWindow(&watch);
    const fs::path small = m_dir / "small";
    rec.SetTempFolder(f.tmpfsBytes > 0 && !f.saveFails ? small : m_dir);
    rec.SetFormat(1, 8000, 16);
    rec.SetMaxBytes(20 * 16000);
    ASSERT_EQ(rec.Open(), 0);
    rec.StartRecord();
    ASSERT_TRUE(watch.WaitProgress(16000, std::chrono::seconds(5))) << "nothing recorded";
    Clock::time_point killed;
    if (f.killServer) {
        killed = Clock::now();
        m_server.Stop();
    }
    if (f.wantError[0] != '\0') {
        ASSERT_TRUE(watch.WaitDone(std::chrono::seconds(10))) << "the recording never stopped";
        std::lock_guard<std::mutex> lock(watch.m_mu);
        ASSERT_EQ(watch.m_errors.size(), 1u);
        EXPECT_EQ(watch.m_errors[0].rfind(f.wantError, 0), 0u) << watch.m_errors[0];
        if (f.killServer) {
            EXPECT_LT(std::chrono::duration<double>(watch.m_doneAt - killed).count(), 1.0);
        }
        // The size line never counted what did not reach the file.
        EXPECT_EQ(watch.m_lastProgress, static_cast<uint32_t>(rec.GetRecordedBytes()));
        EXPECT_EQ(fs::file_size(rec.TempFilePath()), static_cast<uintmax_t>(rec.GetRecordedBytes()));
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        rec.StopRecord();
    }
    ::kill(playing, SIGTERM);
    PulseServer::Wait(playing);
    const int32_t recorded = rec.GetRecordedBytes();
    EXPECT_GT(recorded, 8000);
    EXPECT_EQ(recorded % 2, 0) << "a frame was cut";

    const fs::path wavPath = (f.saveFails ? small : m_dir) / "Sound.wav";
    std::vector<uint8_t> before;
    if (f.saveFails) {
        // An earlier recording, and the rest of the tmpfs taken: the new one cannot fit.
        before.assign(4000, 0x11);
        std::ofstream(wavPath, std::ios::binary).write(reinterpret_cast<const char*>(before.data()), 4000);
        std::ofstream fill(small / "fill", std::ios::binary);
        const std::vector<char> block(4096, 0);
        while (fill.write(block.data(), block.size()) && fill.flush()) {
        }
    }
    std::string why;
    const int result = rec.SaveWave(wavPath, &why);
    if (f.saveFails) {
        EXPECT_NE(result, 0);
        EXPECT_EQ(why, std::strerror(ENOSPC));
        EXPECT_EQ(ReadAll(wavPath), before) << "the earlier recording was damaged";
        EXPECT_TRUE(fs::exists(rec.TempFilePath())) << "the recording's raw data went with the failed save";
        ASSERT_EQ(rec.SaveWave(m_dir / "Sound.wav", &why), 0) << why;  // another place still takes it whole
    } else {
        ASSERT_EQ(result, 0) << why;
    }
    const std::vector<uint8_t> wav = ReadAll(m_dir / "Sound.wav");
    EXPECT_EQ(DataSize(wav), static_cast<uint32_t>(recorded));
    EXPECT_EQ(wav.size(), 46 + static_cast<size_t>(recorded));
    EXPECT_FALSE(fs::exists(rec.TempFilePath())) << "tempRecord stays after a successful save";
    rec.Close();
    EXPECT_TRUE(shown.empty()) << shown.front();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RecordingFaults,
    ::testing::Values(Fault{"ServerKilled", false, 0, false, true, "录音设备出错："},
                      Fault{"ServerKilledCli", true, 0, false, true, "录音设备出错："},
                      Fault{"TempRecordDiskFull", false, 48 * 1024, false, false, "无法写入录音数据："},
                      Fault{"SaveFails", false, 64 * 1024, true, false, ""}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

}  // namespace
