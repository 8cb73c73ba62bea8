#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scripted_wave_device.h"
#include "sound/record_values.h"
#include "sound/wav_file.h"
#include "sound/wave_recorder.h"

namespace fs = std::filesystem;
using vox::CWaveRecorder;
using vox::testing::ScriptedWaveDevice;

namespace {

struct Event {
    bool done;
    uint32_t bytes;
    int kind;
    bool operator==(const Event&) const = default;
};

Event Progress(uint32_t bytes, int kind) { return {false, bytes, kind}; }
Event Done() { return {true, 0, 0}; }

void PrintTo(const Event& e, std::ostream* os) {
    if (e.done)
        *os << "done";
    else
        *os << "progress(" << e.bytes << "," << e.kind << ")";
}

class Recorder : public vox::WaveNotify {
public:
    void OnWaveProgress(uint32_t bytes, int kind) override {
        std::lock_guard<std::mutex> lock(m_mu);
        m_events.push_back(Progress(bytes, kind));
    }
    void OnWaveDone() override {
        std::lock_guard<std::mutex> lock(m_mu);
        m_events.push_back(Done());
    }
    std::vector<Event> Take() {
        std::lock_guard<std::mutex> lock(m_mu);
        return std::exchange(m_events, {});
    }

private:
    std::mutex m_mu;
    std::vector<Event> m_events;
};

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<Event> CaptureEvents(uint32_t block, int blocks) {
    std::vector<Event> events;
    for (int i = 1; i <= blocks; ++i) events.push_back(Progress(block * i, vox::kWaveProgressCapture));
    return events;
}

class WaveRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vox_wave_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_messages.clear();
        m_notify.Take();
        auto device = std::make_unique<ScriptedWaveDevice>();
        m_dev = device.get();
        m_rec = std::make_unique<CWaveRecorder>(std::move(device));
        m_rec->SetTempFolder(m_dir);
        m_rec->SetNotifyWindow(&m_notify);
        m_rec->SetMessageFunction([this](const std::string& text) { m_messages.push_back(text); });
    }
    void TearDown() override {
        m_rec.reset();
        fs::remove_all(m_dir);
    }

    // The first Record press of the window: format, limit, Open, StartRecord.
    void OpenAndRecord(uint32_t rate, uint16_t bits, uint16_t channels, int32_t limit) {
        m_rec->SetFormat(channels, rate, bits);
        m_rec->SetMaxBytes(limit);
        ASSERT_EQ(m_rec->Open(), 0);
        m_rec->StartRecord();
    }
    // Records exactly n blocks (8000 Hz, 8-bit mono: 400 bytes each) and lets capture end at its limit.
    void RecordBlocks(int n) {
        OpenAndRecord(8000, 8, 1, 400 * n);
        m_dev->CaptureBlocks(ScriptedWaveDevice::kUnlimited);
        m_dev->WaitIdle();
        m_notify.Take();
    }
    std::vector<uint8_t> TempBytes() { return ReadAll(m_dir / "tempRecord"); }

    fs::path m_dir;
    ScriptedWaveDevice* m_dev = nullptr;
    std::unique_ptr<CWaveRecorder> m_rec;
    Recorder m_notify;
    std::vector<std::string> m_messages;
};

TEST(WaveFormat, DerivesChannelsRateBitsAndBlockSize) {
    struct Case {
        uint16_t channels;
        uint32_t rate;
        uint16_t bits;
        uint16_t wantChannels;
        uint32_t wantRate;
        uint16_t wantBits;
        uint32_t avg;
        uint16_t align;
        uint32_t block;
    };
    const Case cases[] = {
        {0, 0, 0, 1, 8000, 8, 8000, 1, 400},          {1, 8001, 8, 1, 11025, 8, 11025, 1, 551},
        {1, 22050, 16, 1, 22050, 16, 44100, 2, 2205}, {2, 22051, 8, 2, 44100, 8, 88200, 2, 4410},
        {3, 11025, 16, 2, 11025, 16, 44100, 4, 2205}, {1, 44100, 12, 1, 44100, 16, 88200, 2, 4410},
        {2, 44100, 16, 2, 44100, 16, 176400, 4, 8820}, {2, 8000, 16, 2, 8000, 16, 32000, 4, 1600},
        {2, 99999, 8, 2, 44100, 8, 88200, 2, 4410},
    };
    for (const Case& c : cases) {
        CWaveRecorder rec(std::make_unique<ScriptedWaveDevice>());
        rec.SetFormat(c.channels, c.rate, c.bits);
        const vox::WaveFormatEx& f = rec.GetFormat();
        SCOPED_TRACE(testing::Message() << c.channels << " ch " << c.rate << " Hz " << c.bits << " bits");
        EXPECT_EQ(f.wFormatTag, 1);
        EXPECT_EQ(f.nChannels, c.wantChannels);
        EXPECT_EQ(f.nSamplesPerSec, c.wantRate);
        EXPECT_EQ(f.wBitsPerSample, c.wantBits);
        EXPECT_EQ(f.nAvgBytesPerSec, c.avg);
        EXPECT_EQ(f.nBlockAlign, c.align);
        EXPECT_EQ(f.cbSize, 18);
        EXPECT_EQ(rec.GetBlockSize(), c.block);
    }
}

// Capture up to the limit: whole blocks, one progress per kept block, one done, and the WAV file.
TEST_F(WaveRecorderTest, CaptureEndsAtTheFirstBlockBoundaryPastTheLimit) {
    struct Case {
        uint32_t rate;
        uint16_t bits, channels;
        int32_t limit;
        uint32_t block;
        int blocks;
        uint32_t riffSize;
        size_t fileSize;
    };
    const Case cases[] = {
        {8000, 8, 1, 0, 400, 1, 438, 446},                      // a limit of 0 still records one block
        {11025, 8, 1, 110250, 551, 201, 110790, 110798},        // odd data: one pad byte
        {8000, 8, 1, 80000, 400, 200, 80038, 80046},
        {22050, 16, 1, 22051, 2205, 11, 24294, 24302},          // 24255 bytes, not whole frames: padded
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        TearDown();
        SetUp();
        m_dev->SetPartialOnStop(true);
        OpenAndRecord(c.rate, c.bits, c.channels, c.limit);
        m_dev->CaptureBlocks(ScriptedWaveDevice::kUnlimited);
        m_dev->WaitIdle();

        std::vector<Event> want = CaptureEvents(c.block, c.blocks);
        want.push_back(Done());
        EXPECT_EQ(m_notify.Take(), want);
        EXPECT_EQ(m_rec->GetRecordedBytes(), static_cast<int32_t>(c.block * c.blocks));
        EXPECT_EQ(m_dev->BlocksFilled(), static_cast<uint64_t>(c.blocks));
        EXPECT_TRUE(m_messages.empty());

        const std::vector<uint8_t> data = TempBytes();
        ASSERT_EQ(data.size(), size_t{c.block} * c.blocks);
        for (int i = 0; i < c.blocks; ++i) ASSERT_EQ(data[size_t{c.block} * i], (i + 1) & 0xFF) << i;
        // Every kept block was echoed, in order.
        EXPECT_EQ(m_dev->Played(), data);

        const fs::path wav = m_dir / "Sound.wav";
        ASSERT_EQ(m_rec->SaveWave(wav), 0);
        const std::vector<uint8_t> file = ReadAll(wav);
        ASSERT_EQ(file.size(), c.fileSize);
        EXPECT_EQ(Le32(file, 4), c.riffSize);
        EXPECT_EQ(Le32(file, 42), data.size());
        EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 46));
        if (data.size() % 2 == 1) {
            EXPECT_EQ(file.back(), 0);
        }
        EXPECT_EQ(m_rec->Close(), 0);
    }
}

TEST_F(WaveRecorderTest, WavHeaderIsExact) {
    vox::WaveFormatEx f;
    f.nChannels = 2;
    f.nSamplesPerSec = 44100;
    f.nAvgBytesPerSec = 176400;
    f.nBlockAlign = 4;
    f.wBitsPerSample = 16;
    const std::vector<uint8_t> want = {
        'R', 'I', 'F', 'F', 0x62, 0x00, 0x00, 0x00, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        18,  0,   0,   0,   1,    0,    2,    0,    0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0,
        4,   0,   16,  0,   18,   0,    'd',  'a',  't',  'a',  0x3B, 0, 0, 0};
    EXPECT_EQ(vox::WavHeader(f, 59), want);  // 59 data bytes + pad: RIFF size 38 + 60 = 98

    const std::vector<uint8_t> data(59, 0x7F);
    ASSERT_EQ(vox::WriteWavFile(m_dir / "x.wav", f, data.data(), 59), "");
    const std::vector<uint8_t> file = ReadAll(m_dir / "x.wav");
    ASSERT_EQ(file.size(), 46u + 59 + 1);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), file.begin()));
    EXPECT_EQ(file.back(), 0);
    EXPECT_NE(vox::WriteWavFile(m_dir / "missing" / "x.wav", f, data.data(), 59), "");
}

TEST_F(WaveRecorderTest, StopAndStartAgainAppendsAndKeepsCounting) {
    m_dev->SetPartialOnStop(true);
    OpenAndRecord(8000, 8, 1, 80000);
    m_dev->CaptureBlocks(3);
    m_dev->WaitIdle();
    m_rec->StopRecord();  // hands back a half-filled block, which is not kept
    m_dev->WaitIdle();
    EXPECT_EQ(m_notify.Take(), CaptureEvents(400, 3));
    EXPECT_EQ(m_dev->InputQueued(), 8u) << "every block goes back to the queue across a stop";

    m_rec->StartRecord();
    m_dev->CaptureBlocks(2);
    m_dev->WaitIdle();
    m_rec->StopRecord();
    m_dev->WaitIdle();
    const std::vector<Event> got = m_notify.Take();
    EXPECT_EQ(got, (std::vector<Event>{Progress(1600, 0), Progress(2000, 0)}));
    EXPECT_EQ(m_rec->GetRecordedBytes(), 2000);

    const std::vector<uint8_t> data = TempBytes();
    ASSERT_EQ(data.size(), 2000u);
    EXPECT_EQ(std::count(data.begin(), data.end(), ScriptedWaveDevice::kPartialByte), 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(data[400 * i], i + 1);
    EXPECT_EQ(m_dev->Played(), data);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(WaveRecorderTest, PlaybackSendsOneProgressPerBlockThenDoneWithTwoBlocksQueued) {
    for (int n : {1, 2, 5}) {
        SCOPED_TRACE(n);
        TearDown();
        SetUp();
        RecordBlocks(n);
        const std::vector<uint8_t> echo = m_dev->Played();
        m_rec->Play();
        m_dev->WaitIdle();
        std::vector<Event> want;
        for (int i = 1; i <= n; ++i) want.push_back(Progress(400 * i, vox::kWaveProgressPlayback));
        want.push_back(Done());
        EXPECT_EQ(m_notify.Take(), want);
        EXPECT_LE(m_dev->MaxOutputQueued(), 2u);
        const std::vector<uint8_t> played = m_dev->Played();
        const std::vector<uint8_t> data = TempBytes();
        EXPECT_TRUE(std::equal(played.begin() + static_cast<std::ptrdiff_t>(echo.size()), played.end(),
                               data.begin(), data.end()));
    }
}

TEST_F(WaveRecorderTest, StopPlayLetsQueuedBlocksSoundWithoutNotifications) {
    RecordBlocks(6);
    m_dev->HoldOutput(true);
    const size_t echoed = m_dev->Played().size();
    m_rec->Play();
    m_dev->CompleteOutput(1);
    m_dev->WaitIdle();
    EXPECT_EQ(m_notify.Take(), (std::vector<Event>{Progress(400, 1)}));
    m_rec->StopPlay();
    m_dev->CompleteOutput(100);
    m_dev->WaitIdle();
    EXPECT_TRUE(m_notify.Take().empty());
    EXPECT_EQ(m_dev->Played().size() - echoed, 3u * 400) << "the first block and the two queued after it";
}

TEST_F(WaveRecorderTest, PlayAgainIgnoresBlocksOfTheStoppedPlaybackAndKeepsTheirMemory) {
    RecordBlocks(4);
    m_dev->HoldOutput(true);
    m_rec->Play();
    m_rec->StopPlay();
    m_rec->Play();  // replaces the copy while two blocks of the first playback are still queued
    m_rec->SaveWave(m_dir / "Sound.wav");  // and replaces it once more
    m_dev->CompleteOutput(100);
    m_dev->WaitIdle();
    std::vector<Event> want;
    for (int i = 1; i <= 4; ++i) want.push_back(Progress(400 * i, 1));
    want.push_back(Done());
    EXPECT_EQ(m_notify.Take(), want);
}

TEST_F(WaveRecorderTest, PlayOfAnEmptyRecordingStillEndsInDone) {
    OpenAndRecord(8000, 8, 1, 80000);
    m_rec->StopRecord();
    m_rec->Play();
    m_dev->WaitIdle();
    EXPECT_EQ(m_notify.Take(), (std::vector<Event>{Done()}));
    EXPECT_EQ(m_rec->Close(), 0);
}

TEST_F(WaveRecorderTest, CloseResetsOutputThenInputAndASecondCloseDoesNothing) {
    OpenAndRecord(8000, 8, 1, 80000);
    m_dev->HoldOutput(true);  // echo blocks stay queued until Close hands them back
    m_dev->CaptureBlocks(3);
    m_dev->WaitIdle();
    m_notify.Take();
    const size_t before = m_dev->Calls().size();
    EXPECT_EQ(m_rec->Close(), 0);
    std::vector<std::string> calls = m_dev->Calls();
    calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(before));
    EXPECT_EQ(calls, (std::vector<std::string>{"ResetOutput", "CloseOutput", "StopInput", "ResetInput",
                                               "CloseInput"}));
    EXPECT_EQ(m_rec->Close(), 0);
    EXPECT_EQ(m_dev->Calls().size(), before + calls.size());
    m_dev->CompleteOutput(10);
    m_dev->WaitIdle();
    EXPECT_TRUE(m_notify.Take().empty());
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(WaveRecorderTest, DestroyingAnOpenEngineReleasesEverything) {
    OpenAndRecord(8000, 8, 1, 80000);
    m_dev->HoldOutput(true);
    m_dev->CaptureBlocks(4);
    m_dev->WaitIdle();
    m_rec->Play();
    m_rec.reset();  // no Close: the device hands back its blocks, the sanitizers check nothing leaks
}

// Each failing device call: what Open or Close returns, what is shown, what else was called.
TEST_F(WaveRecorderTest, FailingDeviceCallsAreShownAndReturned) {
    const std::string deviceText = std::string("The scripted sound device refused this call with code 7").substr(0, 39);
    struct Case {
        const char* op;
        int after;
        bool atClose;
        int result;
        std::string message;
        const char* alsoCalled;  // nullptr: nothing required
        const char* notCalled;
        int reopen;  // what Open returns once the device works again
    };
    // A failing step of Close does not keep the others from running: a device left open would refuse
    // every later Open. Only a device that refuses to close stays busy.
    const int busy = ScriptedWaveDevice::kBusy;
    const Case cases[] = {
        {"OpenInput", 0, false, 7, deviceText, nullptr, "AddInputBuffer", 0},
        {"AddInputBuffer", 3, false, 7, deviceText, "CloseInput", "OpenOutput", 0},
        {"PrepareInput", 0, false, 7, deviceText, "CloseInput", "OpenOutput", 0},
        {"OpenOutput", 0, false, 7, deviceText, "CloseInput", "StartInput", 0},
        {"ResetOutput", 0, true, 7, deviceText, "CloseInput", nullptr, 0},
        {"CloseOutput", 0, true, 7, deviceText, "CloseInput", nullptr, busy},
        {"StopInput", 0, true, 7, deviceText, "CloseInput", nullptr, 0},
        {"ResetInput", 0, true, 7, deviceText, "CloseInput", nullptr, 0},
        {"CloseInput", 0, true, 7, deviceText, nullptr, nullptr, busy},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        TearDown();
        SetUp();
        m_dev->FailCall(c.op, 7, c.after);
        m_rec->SetFormat(1, 8000, 8);
        int result = m_rec->Open();
        if (c.atClose) {
            ASSERT_EQ(result, 0);
            result = m_rec->Close();
        }
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(m_messages, std::vector<std::string>{c.message});
        const std::vector<std::string> calls = m_dev->Calls();
        if (c.alsoCalled) {
            EXPECT_NE(std::find(calls.begin(), calls.end(), c.alsoCalled), calls.end());
        }
        if (c.notCalled) {
            EXPECT_EQ(std::find(calls.begin(), calls.end(), c.notCalled), calls.end());
        }
        // Open failed or Close already began: the engine counts as closed, a further Close does nothing.
        const size_t n = calls.size();
        EXPECT_EQ(m_rec->Close(), 0);
        EXPECT_EQ(m_dev->Calls().size(), n);
        m_rec->StartRecord();
        EXPECT_EQ(m_dev->Calls().size(), n) << "no capture on a device that is not open";
        m_dev->ClearFailures();
        m_messages.clear();
        EXPECT_EQ(m_rec->Open(), c.reopen);
    }
}

// Every report goes through the notification interface and none arrives once Close has returned, even
// from a device that hands blocks back without waiting for them to be delivered.
TEST_F(WaveRecorderTest, NoNotificationAfterCloseReturns) {
    class SlowWatcher : public vox::WaveNotify {
    public:
        void OnWaveProgress(uint32_t, int) override { Note(); }
        void OnWaveDone() override { Note(); }
        void OnWaveLevel(uint32_t) override { Note(); }
        void OnWaveError(const std::string&) override { Note(); }
        std::atomic<bool> closed{false};
        std::atomic<int> late{0}, seen{0};

    private:
        void Note() {
            ++seen;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a report under way as Close starts
            if (closed) ++late;
        }
    };
    for (int round = 0; round < 20; ++round) {
        TearDown();
        SetUp();
        SlowWatcher watcher;
        m_rec->SetNotifyWindow(&watcher);
        m_dev->SetWaitForReturns(false);
        OpenAndRecord(8000, 8, 1, 8000000);
        m_dev->CaptureBlocks(ScriptedWaveDevice::kUnlimited);
        while (watcher.seen < 1 + round % 5) std::this_thread::yield();
        ASSERT_EQ(m_rec->Close(), 0);
        watcher.closed = true;
        m_dev->WaitIdle();
        m_rec.reset();
        EXPECT_EQ(watcher.late, 0) << round;
    }
}

TEST_F(WaveRecorderTest, AStopFailingAtTheLimitIsReportedThroughTheNotifications) {
    class Errors : public Recorder {
    public:
        void OnWaveError(const std::string& text) override { texts.push_back(text); }
        std::vector<std::string> texts;
    } errors;
    m_rec->SetNotifyWindow(&errors);
    m_dev->FailCall("StopInput", 9);
    OpenAndRecord(8000, 8, 1, 800);
    m_dev->CaptureBlocks(ScriptedWaveDevice::kUnlimited);
    m_dev->WaitIdle();
    EXPECT_EQ(errors.Take().back(), Done());
    EXPECT_EQ(errors.texts.size(), 1u);
    EXPECT_TRUE(m_messages.empty()) << "the message function is for the window thread only";
}

TEST(RecordValues, BlockPeak) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t bits;
        uint32_t peak;
    };
    const Case cases[] = {
        {{128, 128, 128}, 8, 0},
        {{128, 0, 200}, 8, 32768},           // 0 is the loudest 8-bit sample
        {{128, 255}, 8, 127 << 8},
        {{0x00, 0x80, 0x10, 0x00}, 16, 32768},  // -32768
        {{0xFF, 0x7F}, 16, 32767},
        {{0xFF, 0xFF, 0x05}, 16, 1},         // -1, and a trailing byte that is not a sample
        {{}, 16, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(vox::BlockPeak(c.bytes.data(), c.bytes.size(), c.bits), c.peak);
}

TEST_F(WaveRecorderTest, NoInputDeviceAndNoTempFileAreShown) {
    m_dev->SetHasInput(false);
    EXPECT_EQ(m_rec->Open(), 1);
    EXPECT_EQ(m_messages, std::vector<std::string>{"没有录音设备"});
    EXPECT_FALSE(fs::exists(m_dir / "tempRecord"));

    TearDown();
    SetUp();
    m_rec->SetTempFolder(m_dir / "no" / "such" / "folder");
    EXPECT_EQ(m_rec->Open(), 1);
    EXPECT_EQ(m_messages, std::vector<std::string>{"打开临时保存文件失败"});
    EXPECT_EQ(m_rec->Close(), 0);
}

TEST_F(WaveRecorderTest, StartAndStopFailuresAreShownAndTheFlagFollowsAnyway) {
    m_dev->FailCall("StopInput", 9);
    OpenAndRecord(8000, 8, 1, 80000);
    m_dev->CaptureBlocks(1);
    m_dev->WaitIdle();
    m_rec->StopRecord();
    EXPECT_EQ(m_messages.size(), 1u);
    m_dev->CaptureBlocks(1);  // the device still runs, but the engine no longer keeps blocks
    m_dev->WaitIdle();
    EXPECT_EQ(m_rec->GetRecordedBytes(), 400);
}

TEST(RecordValues, LimitScaleAndSizeLine) {
    EXPECT_EQ(vox::RecordLimitBytes(10, 8000, 8, 1), 80000);
    EXPECT_EQ(vox::ProgressScale(80000), 100);
    EXPECT_EQ(vox::RecordLimitBytes(10, 44100, 16, 2), 1764000);
    EXPECT_EQ(vox::ProgressScale(1764000), 10000);
    EXPECT_EQ(vox::ProgressScale(0), 1);
    EXPECT_EQ(vox::ProgressScale(1000), 1);
    EXPECT_EQ(vox::ProgressScale(1001), 10);
    EXPECT_EQ(vox::RecordLimitBytes(0, 44100, 16, 2), 0);
    EXPECT_EQ(vox::RecordLimitBytes(3043, 44100, 16, 2), 536785200);
    EXPECT_EQ(vox::RecordLimitBytes(3044, 44100, 16, 2), std::nullopt);
    EXPECT_EQ(vox::MaxRecordSeconds(44100, 16, 2), 3043u);
    EXPECT_EQ(vox::MaxRecordSeconds(8000, 8, 1), 67108u);
    EXPECT_EQ(vox::RecordLimitBytes(67108, 8000, 8, 1), 536864000);
    EXPECT_EQ(vox::RecordLimitBytes(67109, 8000, 8, 1), std::nullopt);

    EXPECT_EQ(vox::RecordSizeText(80000), "录音内容当前大小78KB");
    EXPECT_EQ(vox::RecordSizeText(1023), "录音内容当前大小0KB");
    EXPECT_EQ(vox::RecordSizeText(1048576), "录音内容当前大小1024KB");
    EXPECT_EQ(vox::RecordSizeText(1048577), "录音内容当前大小1.00MB");
    EXPECT_EQ(vox::RecordSizeText(1764000), "录音内容当前大小1.68MB");
}

}  // namespace
