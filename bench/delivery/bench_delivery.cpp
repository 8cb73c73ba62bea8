// Throughput of one delivery of a 50 MiB message to a minimal SMTP sink on loopback, ours against curl's
// SMTP upload of the same message to the same sink, in the same run.

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "delivery/delivery_job.h"
#include "delivery/smtp_session.h"

extern char** environ;

namespace {

constexpr std::size_t kMessageSize = 50u << 20;

// Base64-like lines of 76 characters, as the mail's attachments are: nothing for dot-stuffing to do.
const std::shared_ptr<const std::string>& Message() {
    static const std::shared_ptr<const std::string> message = std::make_shared<const std::string>([] {
        std::string m = "Subject: bench\r\nMIME-Version: 1.0\r\n\r\n";
        m.reserve(kMessageSize + 80);
        static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::size_t k = 0;
        while (m.size() < kMessageSize) {
            for (int i = 0; i < 76; ++i) m += alphabet[(k++ * 7) % 64];
            m += "\r\n";
        }
        return m;
    }());
    return message;
}

// Accepts connections one after the other and plays a server that takes everything: greeting, 250 to any
// command, 354 to DATA, then swallows data until the end-of-data line.
class Sink {
public:
    Sink() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listen, 8);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~Sink() {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        m_thread.join();
    }
    int Port() const { return m_port; }
    std::size_t LastDataBytes() const { return m_lastData; }

private:
    static void Put(int fd, const char* text) { (void)!::send(fd, text, std::strlen(text), MSG_NOSIGNAL); }

    void Serve() {
        while (!m_stop) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            Converse(fd);
            ::close(fd);
        }
    }

    void Converse(int fd) {
        std::vector<char> buf(1 << 18);
        std::string line;
        Put(fd, "220 sink ready\r\n");
        for (;;) {
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0) return;
            line.append(buf.data(), static_cast<std::size_t>(n));
            std::size_t end;
            while ((end = line.find("\r\n")) != std::string::npos) {
                const std::string cmd = line.substr(0, 4);
                line.erase(0, end + 2);
                if (cmd == "QUIT") {
                    Put(fd, "221 bye\r\n");
                    return;
                }
                if (cmd != "DATA") {
                    Put(fd, "250 ok\r\n");
                    continue;
                }
                Put(fd, "354 go ahead\r\n");
                if (!SwallowData(fd, buf, line)) return;
                Put(fd, "250 taken\r\n");
            }
        }
    }

    // Reads until "\r\n.\r\n"; what follows it stays in `rest`.
    bool SwallowData(int fd, std::vector<char>& buf, std::string& rest) {
        std::string tail = "\r\n" + rest;  // the message may be empty
        std::size_t total = rest.size();
        for (;;) {
            const std::size_t at = tail.find("\r\n.\r\n");
            if (at != std::string::npos) {
                rest = tail.substr(at + 5);
                m_lastData = total - rest.size();
                return true;
            }
            tail.erase(0, tail.size() > 4 ? tail.size() - 4 : 0);
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0) return false;
            total += static_cast<std::size_t>(n);
            tail.append(buf.data(), static_cast<std::size_t>(n));
        }
    }

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_lastData{0};
    std::thread m_thread;
};

Sink& TheSink() {
    static Sink sink;
    return sink;
}

class QuietObserver : public vox::DeliveryObserver {
public:
    void SetRecipientText(const std::string&) override {}
    void StepRecipientBar() override {}
    void SetStepBar(int) override {}
    void StepStepBar() override {}
    void SetStepLine(const std::string& text) override { benchmark::DoNotOptimize(text.data()); }
};

void BM_VoxDelivery(benchmark::State& state) {
    const std::shared_ptr<const std::string>& message = Message();
    const int port = TheSink().Port();
    const std::vector<std::string> recipients{"someone@sink.test"};
    for (auto _ : state) {
        QuietObserver observer;
        std::atomic<bool> cancel{false};
        vox::DeliveryRoute route;
        route.deliverToRecipient = [](const std::string& address, const vox::ExchangerAttempt& attempt) {
            return attempt("127.0.0.1", address);
        };
        route.openSession = [port](const vox::SessionOptions& options) {
            vox::SessionOptions o = options;
            o.port = port;
            return std::make_unique<vox::CSmtpSession>(10, o);
        };
        route.helloName = "bench.test";
        vox::DeliveryJob job({message, recipients, "bench@bench.test", std::nullopt}, observer, cancel,
                             route);
        job.RunDelivery();
        if (!job.Failures().empty()) state.SkipWithError(job.Failures()[0].szReason.c_str());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message->size()));
}

// The session alone with 64 KiB sends and no progress reporting: the ceiling for the job above.
void BM_SessionLargeSends(benchmark::State& state) {
    const std::string& message = *Message();
    const int port = TheSink().Port();
    constexpr int kLarge = 64 * 1024;
    for (auto _ : state) {
        vox::SessionOptions options;
        options.port = port;
        vox::CSmtpSession session(10, options);
        bool ok = session.Connect("127.0.0.1") && session.Greet("bench.test") &&
                  session.MailFrom("bench@bench.test", 0) && session.RcptTo("someone@sink.test") &&
                  session.Data();
        for (std::size_t at = 0; ok && at < message.size(); at += kLarge) {
            const int n = static_cast<int>(std::min<std::size_t>(kLarge, message.size() - at));
            ok = session.SendRaw(message.data() + at, n) == n;
        }
        if (!ok || !session.EndData()) state.SkipWithError(session.GetErrorText().c_str());
        session.Quit();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}

void BM_CurlSmtpUpload(benchmark::State& state) {
    const std::string& message = *Message();
    const std::string file = "/tmp/vox-bench-message-" + std::to_string(::getpid()) + ".eml";
    std::ofstream(file, std::ios::binary).write(message.data(), static_cast<std::streamsize>(message.size()));
    const std::string url = "smtp://127.0.0.1:" + std::to_string(TheSink().Port()) + "/bench";
    std::vector<std::string> args{"curl",
                                  "-s",
                                  "-S",
                                  "--url",
                                  url,
                                  "--mail-from",
                                  "bench@bench.test",
                                  "--mail-rcpt",
                                  "someone@sink.test",
                                  "-T",
                                  file};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto _ : state) {
        pid_t pid;
        if (::posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("curl cannot be started");
            break;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    std::remove(file.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * message.size()));
}

BENCHMARK(BM_VoxDelivery)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SessionLargeSends)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_CurlSmtpUpload)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
