// Ten minutes of speech (espeak-ng, 44100 Hz 16-bit stereo: the recording window's largest format)
// encoded to Opus and to MP3 in process, against opusenc and lame on the same WAV with the same
// settings, in the same run. Both sides read the WAV file and produce the whole encoded file; the tools
// write theirs to /dev/null. Counters: the encoded bytes per minute of speech, and the size of a mail
// carrying one minute of it (header, page and the Base64 sound part, as assembly writes them).

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "compose/assembly.h"
#include "voice/pcm_sound.h"
#include "voice/voice_encoder.h"

namespace fs = std::filesystem;

namespace {

constexpr double kMinutes = 10.0;

struct Speech {
    fs::path dir;
    fs::path tenMinutes;
    fs::path oneMinute;
    std::string skip;
};

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

const Speech& TheSpeech() {
    static const Speech speech = [] {
        Speech s;
        char tmpl[] = "/tmp/vox_bench_voice_XXXXXX";
        if (mkdtemp(tmpl) == nullptr) {
            s.skip = "no temporary folder";
            return s;
        }
        s.dir = tmpl;
        const fs::path spoken = s.dir / "spoken.wav";
        s.tenMinutes = s.dir / "ten.wav";
        s.oneMinute = s.dir / "one.wav";
        const std::string text =
            "This is a voice letter. The weather has been cold this week, and the children are looking forward "
            "to the holidays. Please call me back when you have a moment, there is a lot to tell you. "
            "We will meet at seven on Saturday evening at the usual place, and I will bring the photographs.";
        // About twenty seconds of speech, made into the window's format and repeated to ten minutes.
        if (!Run("espeak-ng -w " + spoken.string() + " \"" + text + "\" >/dev/null 2>&1") ||
            !Run("sox " + spoken.string() + " -r 44100 -c 2 -b 16 " + (s.dir / "s.wav").string() +
                 " repeat 40 trim 0 600 2>/dev/null") ||
            !Run("sox " + (s.dir / "s.wav").string() + " " + s.tenMinutes.string() + " 2>/dev/null") ||
            !Run("sox " + s.tenMinutes.string() + " " + s.oneMinute.string() + " trim 0 60 2>/dev/null")) {
            s.skip = "espeak-ng or sox is missing (Debian espeak-ng, sox)";
        }
        return s;
    }();
    return speech;
}

bool Ready(benchmark::State& state) {
    if (!TheSpeech().skip.empty()) {
        state.SkipWithError(TheSpeech().skip.c_str());
        return false;
    }
    return true;
}

class NoSink : public vox::AssemblySink {
public:
    void Step() override {}
    void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

// The mail for one minute of the speech in that format, as voxletter-cli compose makes it.
double MailBytesPerMinute(vox::VoiceFormat format) {
    vox::MailDraft draft;
    draft.m_strFrom = "zs@example.org";
    draft.m_strTo = "ls@example.com";
    draft.m_strSubject = "Voice";
    draft.m_strBody = "Listen to this.";
    draft.m_strSound = TheSpeech().oneMinute.string();
    draft.m_voice.format = format;
    NoSink sink;
    vox::AssembleMessage(draft, TheSpeech().dir, sink);
    return static_cast<double>(draft.m_strMime.size());
}

void InProcess(benchmark::State& state, vox::VoiceFormat format) {
    if (!Ready(state)) return;
    std::size_t bytes = 0;
    for (auto _ : state) {
        vox::PcmSound sound;
        std::string encoded, error;
        if (!vox::ReadSound(TheSpeech().tenMinutes.string(), sound, error) ||
            !vox::EncodeVoice(format, sound, encoded, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        bytes = encoded.size();
        benchmark::DoNotOptimize(encoded.data());
    }
    state.counters["bytes_per_min"] = static_cast<double>(bytes) / kMinutes;
    state.counters["mail_bytes_1min"] = MailBytesPerMinute(format);
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The machine is shared: the tools' own CPU time (user + system, from the kernel's accounting of
// children) is what compares with the in-process benchmark's CPU time.
void Tool(benchmark::State& state, const std::string& command) {
    if (!Ready(state)) return;
    const fs::path out = TheSpeech().dir / "tool.out";
    const double cpuBefore = ChildrenCpuSeconds();
    for (auto _ : state) {
        if (!Run(command + " " + TheSpeech().tenMinutes.string() + " " + out.string() + " >/dev/null 2>&1")) {
            state.SkipWithError(("failed: " + command).c_str());
            return;
        }
    }
    state.counters["bytes_per_min"] = static_cast<double>(fs::file_size(out)) / kMinutes;
    state.counters["tool_cpu_s"] =
        benchmark::Counter((ChildrenCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations()));
}

void BM_Opus_InProcess(benchmark::State& state) { InProcess(state, vox::VoiceFormat::Opus); }
// The same settings: VBR at 40 kbit/s (44100 Hz stereo), complexity 10, tuned for speech.
void BM_Opus_opusenc(benchmark::State& state) {
    Tool(state, "opusenc --quiet --vbr --bitrate 40 --comp 10 --speech");
}
void BM_Mp3_InProcess(benchmark::State& state) { InProcess(state, vox::VoiceFormat::Mp3); }
// The same settings: CBR 96 kbit/s joint stereo, quality 3, the sample rate kept, no ReplayGain scan.
void BM_Mp3_lame(benchmark::State& state) {
    Tool(state, "lame --quiet --cbr -b 96 -m j -q 3 --resample 44.1 --noreplaygain");
}
void BM_Wav_Mail(benchmark::State& state) {
    if (!Ready(state)) return;
    for (auto _ : state) benchmark::DoNotOptimize(MailBytesPerMinute(vox::VoiceFormat::Wav));
    state.counters["bytes_per_min"] = static_cast<double>(fs::file_size(TheSpeech().oneMinute));
    state.counters["mail_bytes_1min"] = MailBytesPerMinute(vox::VoiceFormat::Wav);
}

}  // namespace

BENCHMARK(BM_Opus_InProcess)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Opus_opusenc)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_Mp3_InProcess)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Mp3_lame)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_Wav_Mail)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!TheSpeech().dir.empty()) fs::remove_all(TheSpeech().dir);
    return 0;
}
