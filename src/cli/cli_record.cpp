// voxletter-cli record: the recording window without the window. It drives the engine exactly as the
// window's first Record press and its Attach button do, and prints the window's size line as it changes.

#include <signal.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>

#include "cli/cli_commands.h"
#include "sound/program_folder.h"
#include "sound/record_values.h"
#include "sound/wave_recorder.h"

namespace vox::cli {

namespace {

const char kRecordUsage[] =
    "usage: voxletter-cli record [--seconds 10] [--rate 8000] [--bits 8] [--channels 1]\n"
    "  Records from the default input device, echoing to the default output device, until the length is\n"
    "  reached or Ctrl+C; then writes Sound.wav in the program folder and prints its path.\n"
    "  --seconds N   record length, 0 or more (0 records one twentieth of a second)\n"
    "  --rate HZ     8000, 11025, 22050 or 44100\n"
    "  --bits N      8 or 16\n"
    "  --channels N  1 (mono) or 2 (stereo)\n";

volatile sig_atomic_t g_bInterrupted = 0;

void OnInterrupt(int) { g_bInterrupted = 1; }

// The engine's notifications, queued with their values for the main thread, as the window queues them
// for its own thread.
class NotifyQueue : public WaveNotify {
public:
    struct Event {
        bool done;
        uint32_t bytes;
        int kind;
    };

    void OnWaveProgress(uint32_t bytes, int kind) override { Push({false, bytes, kind}); }
    void OnWaveDone() override { Push({true, 0, 0}); }

    // Waits up to a tenth of a second for the next event.
    bool Next(Event& event) {
        std::unique_lock<std::mutex> lock(m_mu);
        if (!m_cv.wait_for(lock, std::chrono::milliseconds(100), [this] { return !m_events.empty(); })) return false;
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

bool ParseNumber(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

}  // namespace

int RunRecord(const Args& args) {
    uint64_t seconds = 10, rate = 8000, bits = 8, channels = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kRecordUsage, stdout);
            return 0;
        }
        uint64_t* target = opt == "--seconds"    ? &seconds
                           : opt == "--rate"     ? &rate
                           : opt == "--bits"     ? &bits
                           : opt == "--channels" ? &channels
                                                 : nullptr;
        if (target == nullptr) {
            std::fprintf(stderr, "voxletter-cli record: unknown option \"%s\"\n%s", opt.c_str(), kRecordUsage);
            return 2;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "voxletter-cli record: %s needs a value\n", opt.c_str());
            return 2;
        }
        if (!ParseNumber(args[++i], *target)) {
            std::fprintf(stderr, "voxletter-cli record: %s wants a whole number, not \"%s\"\n", opt.c_str(),
                         args[i].c_str());
            return 2;
        }
    }
    if (rate != 8000 && rate != 11025 && rate != 22050 && rate != 44100) {
        std::fprintf(stderr, "voxletter-cli record: --rate must be 8000, 11025, 22050 or 44100\n");
        return 2;
    }
    if (bits != 8 && bits != 16) {
        std::fprintf(stderr, "voxletter-cli record: --bits must be 8 or 16\n");
        return 2;
    }
    if (channels != 1 && channels != 2) {
        std::fprintf(stderr, "voxletter-cli record: --channels must be 1 or 2\n");
        return 2;
    }
    const auto r = static_cast<uint32_t>(rate), b = static_cast<uint32_t>(bits), c = static_cast<uint32_t>(channels);
    const std::optional<int32_t> limit = RecordLimitBytes(seconds, r, b, c);
    if (!limit) {
        std::fprintf(stderr,
                     "voxletter-cli record: %llu seconds is too long; at %u Hz, %u bits, %u channel(s) a recording "
                     "can last at most %llu seconds\n",
                     static_cast<unsigned long long>(seconds), r, b, c,
                     static_cast<unsigned long long>(MaxRecordSeconds(r, b, c)));
        return 2;
    }

    NotifyQueue notify;
    CWaveRecorder recorder;
    recorder.SetMessageFunction([](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
    recorder.SetNotifyWindow(&notify);

    // The first Record press.
    recorder.SetFormat(static_cast<uint16_t>(c), r, static_cast<uint16_t>(b));
    recorder.SetMaxBytes(*limit);
    if (recorder.Open() != 0) return 1;  // the engine has said why

    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sa.sa_flags = SA_RESETHAND;  // a second Ctrl+C ends the program the usual way
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    recorder.StartRecord();
    std::string shown;
    for (;;) {
        NotifyQueue::Event event{};
        if (notify.Next(event)) {
            if (event.done) break;  // the limit: the window goes idle and Attach is the next press
            if (event.kind == kWaveProgressCapture) {
                const std::string text = RecordSizeText(event.bytes);
                if (text != shown) {
                    std::printf("%s\n", text.c_str());
                    std::fflush(stdout);
                    shown = text;
                }
            }
        }
        if (g_bInterrupted) {
            recorder.StopRecord();  // Stop, then Attach
            break;
        }
    }

    // Attach.
    const std::filesystem::path path = RecordingPath();
    const int saved = recorder.SaveWave(path);
    recorder.Close();
    if (saved != 0) {
        std::fprintf(stderr, "voxletter-cli record: could not write %s\n", path.c_str());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    return 0;
}

}  // namespace vox::cli
