#include "pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace vox::testing {

namespace fs = std::filesystem;

namespace {

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
    return false;
}

void WriteText(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

std::string Tail(const fs::path& file) {
    std::ifstream in(file);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return all.size() > 600 ? all.substr(all.size() - 600) : all;
}

bool WaitChild(pid_t pid, std::chrono::milliseconds limit, int* status) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const pid_t r = ::waitpid(pid, status, WNOHANG);
        if (r == pid) return true;
        if (r < 0) return false;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

pid_t PulseServer::Spawn(const std::vector<std::string>& argv, const fs::path& out, bool withErrors) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.empty() ? "/dev/null" : out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (withErrors)
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int err = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return err == 0 ? pid : -1;
}

void PulseServer::EndProcess(pid_t pid, bool ourChild) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    if (ourChild) {
        if (!WaitChild(pid, std::chrono::seconds(5), &status)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        return;
    }
    // The daemon is not our child: watch for it to go.
    for (int i = 0; i < 500 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::kill(pid, 0) == 0) ::kill(pid, SIGKILL);
}

int PulseServer::Run(const std::vector<std::string>& argv, std::string* output) {
    fs::path out;
    if (output != nullptr) {
        char tmpl[] = "/tmp/vox_run_XXXXXX";
        const int fd = mkstemp(tmpl);
        if (fd < 0) return -1;
        ::close(fd);
        out = tmpl;
    }
    const pid_t pid = Spawn(argv, out, output != nullptr);
    int status = 0;
    const bool ran = pid > 0 && ::waitpid(pid, &status, 0) == pid;
    if (output != nullptr) {
        std::ifstream in(out, std::ios::binary);
        output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        fs::remove(out);
    }
    return ran && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void PulseServer::ExportMissingServer(const fs::path& folder) {
    WriteText(folder / "client.conf", "autospawn = no\n");
    setenv("PULSE_SERVER", ("unix:" + (folder / "no-server").string()).c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", (folder / "client.conf").c_str(), 1);
    setenv("PULSE_COOKIE", (folder / "cookie").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

bool PulseServer::Start(std::string* why) {
    for (const char* program : {"pulseaudio", "parec", "paplay"}) {
        if (!OnPath(program)) {
            *why = std::string(program) + " is not installed (Debian pulseaudio, pulseaudio-utils)";
            return false;
        }
    }
    char tmpl[] = "/tmp/vox_pulse_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        *why = "no temporary folder";
        return false;
    }
    m_dir = tmpl;
    const std::string socket = (m_dir / "native").string();
    WriteText(m_dir / "server.pa",
              "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket + "\n"
              "load-module module-null-sink sink_name=mic\n"
              "load-module module-null-sink sink_name=spk\n"
              "load-module module-remap-source source_name=micsrc master=mic.monitor\n"
              "load-module module-combine-sink sink_name=both slaves=mic,spk\n"
              "set-default-source micsrc\n"
              "set-default-sink spk\n");
    ExportMissingServer(m_dir);  // client.conf and the variables; the server is real from here on
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);

    // As root the server runs (with a warning) as long as its home and runtime folders are its own, so
    // it gets the temporary folder as home for its cookie and state.
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    setenv("HOME", m_dir.c_str(), 1);
    const pid_t starter = Spawn({"pulseaudio", "-D", "-n", "-F", (m_dir / "server.pa").string(),
                                 "--exit-idle-time=-1", "--log-target=file:" + (m_dir / "log").string()},
                                {});
    if (home.empty())
        unsetenv("HOME");
    else
        setenv("HOME", home.c_str(), 1);
    int status = 0;
    if (starter < 0 || !WaitChild(starter, std::chrono::seconds(15), &status) || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        if (starter > 0) EndProcess(starter, true);
        *why = "pulseaudio did not start: " + Tail(m_dir / "log");
        return false;
    }
    std::ifstream pidFile(m_dir / "pulse" / "pid");
    if (!(pidFile >> m_server)) {
        *why = "pulseaudio wrote no pid file";
        m_server = -1;
        return false;
    }
    for (const char* sink : {"mic", "spk"}) {
        const pid_t reader = Spawn({"parec", "--latency-msec=10", "-d", std::string(sink) + ".monitor", "--raw",
                                    "--format=s16le", "--rate=8000", "--channels=1"},
                                   m_dir / (std::string(sink) + ".raw"));
        if (reader < 0) {
            *why = "parec did not start";
            return false;
        }
        m_readers.push_back(reader);
    }
    return true;
}

void PulseServer::Stop() {
    for (pid_t reader : m_readers) EndProcess(reader, true);
    m_readers.clear();
    EndProcess(m_server, false);
    m_server = -1;
    if (!m_dir.empty()) {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
        m_dir.clear();
    }
}

pid_t PulseServer::StartPlay(const fs::path& file, const std::string& sink) {
    return Spawn({"paplay", "-d", sink, file.string()}, {});
}

bool PulseServer::Wait(pid_t pid) {
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool PulseServer::Play(const fs::path& file, const std::string& sink) { return Wait(StartPlay(file, sink)); }

std::vector<int16_t> PulseServer::MonitorSamples(const std::string& sink) const {
    std::ifstream in(m_dir / (sink + ".raw"), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
    return samples;
}

double Rms(const std::vector<int16_t>& samples, size_t from, size_t to) {
    to = std::min(to, samples.size());
    if (from >= to) return 0;
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(to - from)) / 32768.0;
}

}  // namespace vox::testing
