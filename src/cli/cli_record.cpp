// voxletter-cli record: the recording window without the window. It drives the engine exactly as the
// window's first Record press and its Attach button do, and prints the window's size line as it changes.

#include <signal.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "base/program_folder.h"
#include "cli/cli_commands.h"
#include "cli/interrupt_watch.h"
#include "sound/record_values.h"
#include "sound/wave_recorder.h"

namespace vox::cli {

namespace {

// The record format as the recording window offers it.
struct RecordRequest {
    uint32_t seconds = 10;
    uint32_t rate = 8000;
    uint32_t bits = 8;
    uint32_t channels = 1;
};

// The engine's notifications, queued with their values for the main thread, as the window queues them
// for its own thread.
class NotifyQueue : public WaveNotify {
public:
    struct Event {
        bool done;
        uint32_t bytes;
        int kind;
        std::string error;  // a failure that ends the recording (a done follows), or a device's complaint
    };

    void OnWaveProgress(uint32_t bytes, int kind) override { Push({false, bytes, kind, {}}); }
    void OnWaveDone() override { Push({true, 0, 0, {}}); }
    void OnWaveError(const std::string& text) override { Push({false, 0, -1, text}); }

    // Waits up to a tenth of a second for the next event.
    bool Next(Event& event) {
        std::unique_lock<std::mutex> lock(m_mu);
        if (!m_cv.wait_for(lock, std::chrono::milliseconds(100), [this] { return !m_events.empty(); }))
            return false;
        event = m_events.front();
        m_events.pop_front();
        return true;
    }

private:
    void Push(const Event& event) {
        {
            std::lock_guard<std::mutex> lock(m_mu);
            m_events.push_back(event);
        }
        m_cv.notify_one();
    }

    std::mutex m_mu;
    std::condition_variable m_cv;
    std::deque<Event> m_events;
};

int RunRecord(const RecordRequest& req) {
    const uint32_t r = req.rate, b = req.bits, c = req.channels;
    const std::optional<int32_t> limit = RecordLimitBytes(req.seconds, r, b, c);
    if (!limit) {
        Complain("record", Format(Tr("%u秒太长；以%u Hz、%u位、%u声道录音，最长只能录%u秒"), req.seconds, r, b, c,
                                  static_cast<unsigned>(MaxRecordSeconds(r, b, c))));
        return kExitRefused;
    }
    // Said before the device is opened: there would be nowhere to put what is recorded.
    if (RecordingPath().empty()) {
        Complain("record", Tr(kNoProgramFolderText));
        return kExitFailed;
    }
    NotifyQueue notify;
    CWaveRecorder recorder;
    recorder.SetMessageFunction([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    recorder.SetNotifyWindow(&notify);

    // The first Record press.
    recorder.SetFormat(static_cast<uint16_t>(c), r, static_cast<uint16_t>(b));
    recorder.SetMaxBytes(*limit);
    if (recorder.Open() != 0) return 1;  // the engine has said why

    // Ctrl+C stops and attaches; a second one ends the program the usual way.
    const InterruptWatch interrupt({SIGINT, SIGTERM});
    recorder.StartRecord();
    std::string shown;
    bool failed = false;
    for (;;) {
        NotifyQueue::Event event{};
        if (notify.Next(event)) {
            if (!event.error.empty()) {
                // The recording stopped on its own: what it holds is saved all the same, and the exit
                // status says it ended early.
                std::fprintf(stderr, "%s\n", event.error.c_str());
                failed = true;
                continue;
            }
            if (event.done) break;  // the limit (or a failure): the window goes idle, Attach is next
            if (event.kind == kWaveProgressCapture) {
                const std::string text = RecordSizeText(event.bytes);
                if (text != shown) {
                    std::printf("%s\n", text.c_str());
                    std::fflush(stdout);
                    shown = text;
                }
            }
        }
        if (interrupt.Raised()) {
            recorder.StopRecord();  // Stop, then Attach
            break;
        }
    }

    // Attach.
    const std::filesystem::path path = RecordingPath();
    std::string why;
    const int saved = recorder.SaveWave(path, &why);
    recorder.Close();
    if (saved != 0) {
        Complain("record", Format(Tr("无法写入%s：%s"), path.c_str(), why.c_str()));
        return 1;
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    return failed ? 1 : 0;
}

}  // namespace

void AddRecordCommand(CommandLine& cli) {
    auto req = std::make_shared<RecordRequest>();
    CLI::App& command =
        cli.AddCommand("record", N_("从默认输入设备录音，保存为程序文件夹中的Sound.wav。"),
                       [req] { return RunRecord(*req); });
    command
        .add_option("--seconds", req->seconds,
                    Tr("录音秒数，0或以上（默认10；0录二十分之一秒）"))
        ->type_name("N")
        ->transform(WholeNumber(0, UINT32_MAX, Tr("从0起的整数")));
    command.add_option("--rate", req->rate, Tr("每秒采样数：8000（默认）、11025、22050或44100"))
        ->type_name("HZ")
        ->transform(OneOf({8000, 11025, 22050, 44100}, Tr("8000、11025、22050或44100")));
    command.add_option("--bits", req->bits, Tr("每个采样的位数：8（默认）或16"))
        ->type_name("N")
        ->transform(OneOf({8, 16}, Tr("8或16")));
    command.add_option("--channels", req->channels, Tr("1（单声道，默认）或2（立体声）"))
        ->type_name("N")
        ->transform(OneOf({1, 2}, Tr("1或2")));
    command.footer(
        Tr("录音时在默认输出设备上同时回放，直到录满时长或按下Ctrl+C；然后写入程序文件夹中的\n"
           "Sound.wav并输出它的路径。\n"
           "退出状态：0 已写入；1 没有录音设备、无法写入文件，或录音提前结束（设备出错，或无法写入\n"
           "tempRecord：已录下的内容照样保存并输出路径）；2 选项被拒绝（原因见标准错误）。"));
}

}  // namespace vox::cli
