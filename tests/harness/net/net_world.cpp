#include "net_world.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vox::test {

namespace {

constexpr char kPython[] = "/usr/bin/python3";  // the system's, where python3-aiosmtpd lives

}  // namespace

std::string NetWorld::SkipReason() {
    if (std::getenv("VOX_NETNS") != nullptr) return "";
    return "needs a network namespace of its own: run through tests/harness/net/run_in_netns.sh as root "
           "(ctest does)";
}

NetWorld::NetWorld(const std::string& worldFile) {
    char dir[] = "/tmp/vox-net-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        m_error = "mkdtemp failed";
        return;
    }
    m_logDir = dir;

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        m_error = "pipe failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::string script = VOX_NET_WORLD_SCRIPT;
    std::vector<std::string> args{kPython, script, "--world", worldFile, "--log", m_logDir};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&m_pid, kPython, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        m_pid = -1;
        ::close(out[0]);
        m_error = "cannot start /usr/bin/python3";
        return;
    }

    // Wait for its "ready" line; a world that does not come up within a few seconds is broken.
    std::string got;
    pollfd pfd{out[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.find("ready\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        if (::poll(&pfd, 1, 100) <= 0) continue;
        char buf[256];
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    m_ready = got.find("ready\n") != std::string::npos;
    if (!m_ready) m_error = "net_world.py did not come up: " + got;
}

NetWorld::~NetWorld() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        // A world that does not leave within a few seconds is ended outright: a hung harness must not hang
        // the test run with it.
        int status;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (!m_logDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_logDir, ec);
    }
}

bool NetWorld::Exists(const std::string& relative) const { return std::filesystem::exists(Path(relative)); }

bool NetWorld::WaitForFile(const std::string& relative, double seconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!Exists(relative)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string NetWorld::Read(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> NetWorld::DnsQueries() const {
    std::vector<std::string> lines;
    std::istringstream in(Read("dns.log"));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

}  // namespace vox::test
