#pragma once
// A private PulseAudio server for sound tests and benchmarks, in a temporary folder of its own.
//
// Two null sinks: "mic", whose monitor (remapped as "micsrc") is the default source, so whatever is
// played into "mic" is what the program records; and "spk", the default sink, whose monitor shows what
// the program plays (the echo). One parec per monitor runs all the time: without a reader a null sink
// runs ahead of real time and the first read stalls. The "spk" reader's samples (16-bit mono 8000 Hz)
// are kept in a file for the tests; a "both" sink plays into mic and spk at once, to line up the two.
//
// Start() exports PULSE_SERVER, PULSE_COOKIE, PULSE_CLIENTCONFIG and XDG_RUNTIME_DIR into this process,
// so PortAudio (through ALSA's pulse plugin) and every child find the server. Everything started is
// ended by pid.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vox::testing {

class PulseServer {
public:
    PulseServer() = default;
    ~PulseServer() { Stop(); }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // False, with the reason, when the server cannot run here (no pulseaudio, or it does not start).
    bool Start(std::string* why);
    void Stop();

    const std::filesystem::path& Folder() const { return m_dir; }

    // Points this process at a server that does not exist (the no-device case); Start() undoes it.
    static void ExportMissingServer(const std::filesystem::path& folder);

    // Plays a sound file into a sink ("mic", "spk" or "both") and waits until it has been played.
    bool Play(const std::filesystem::path& file, const std::string& sink);
    // Starts playing without waiting; Wait() for the pid later.
    pid_t StartPlay(const std::filesystem::path& file, const std::string& sink);
    static bool Wait(pid_t pid);

    // 16-bit mono 8000 Hz samples seen on a monitor ("spk" or "mic") since the server started.
    std::vector<int16_t> MonitorSamples(const std::string& sink) const;
    static constexpr int kMonitorRate = 8000;

    // Runs a program with this process's environment; its exit status, or -1. With output, what the
    // program wrote to stdout and stderr.
    static int Run(const std::vector<std::string>& argv, std::string* output = nullptr);

private:
    static pid_t Spawn(const std::vector<std::string>& argv, const std::filesystem::path& out,
                       bool withErrors = false);
    static void EndProcess(pid_t pid, bool ourChild);

    std::filesystem::path m_dir;
    pid_t m_server = -1;
    std::vector<pid_t> m_readers;
};

// RMS of 16-bit samples, 0 to 1.
double Rms(const std::vector<int16_t>& samples, size_t from = 0, size_t to = SIZE_MAX);

}  // namespace vox::testing
