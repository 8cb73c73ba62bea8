// A whole mail with a 64 MiB attachment: assembly time, and peak memory as a multiple of the attachment,
// against Python's email package building the same kind of message in the same run.
//
// Peak memory is measured in a fresh process per figure (this program started again with --child, or the
// Python peer): the process prints the high-water mark of its own resident set (VmHWM) at its end, and the
// figure is that less the same process's mark when it assembles a mail without the attachment. (wait4's
// ru_maxrss would not do: a spawned child inherits the parent's mark across exec.)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "compose/address_list.h"
#include "compose/assembly.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;

constexpr std::size_t kAttachmentBytes = 64u << 20;

const char kPythonPeer[] = R"(
import sys
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.mime.application import MIMEApplication
msg = MIMEMultipart()
msg['From'] = 'me@x.org'
msg['To'] = 'a@b.com'
msg['Subject'] = 'bench'
msg.attach(MIMEText('<HTML><BODY>hello</BODY></HTML>', 'html', 'gb2312'))
if len(sys.argv) > 1:
    with open(sys.argv[1], 'rb') as f:
        part = MIMEApplication(f.read())
    part.add_header('Content-Disposition', 'attachment', filename='big.bin')
    msg.attach(part)
text = msg.as_bytes()
print([l for l in open('/proc/self/status') if l.startswith('VmHWM:')][0].split()[1])
)";

class NullSink : public vox::AssemblySink {
public:
    void Step() override {}
    void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

const fs::path& AttachmentPath() {
    static const fs::path path = [] {
        fs::path p = fs::temp_directory_path() / "vox_bench_attachment_64MiB.bin";
        std::error_code ec;
        if (fs::file_size(p, ec) != kAttachmentBytes) {
            std::vector<std::uint64_t> data(kAttachmentBytes / 8);
            std::mt19937_64 rng(1);
            for (auto& v : data) v = rng();
            std::ofstream(p, std::ios::binary)
                .write(reinterpret_cast<const char*>(data.data()), kAttachmentBytes);
        }
        return p;
    }();
    return path;
}

vox::MailDraft Draft(bool withAttachment) {
    vox::MailDraft d;
    d.m_strFrom = "me@x.org";
    d.m_strTo = "a@b.com";
    d.m_strSubject = "bench";
    d.m_strBody = "hello";
    if (withAttachment) d.m_attachments.push_back(AttachmentPath().string());
    vox::ParseSender(d);  // the field check's parsed addresses, which the header is written from
    vox::ParseRecipients(d);
    return d;
}

struct ChildResult {
    double seconds = 0;
    double peakBytes = 0;
};

// The high-water mark of this process's resident set, in bytes.
long long PeakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    }
    return 0;
}

// Runs argv to its end; its wall time and the peak it printed (in KiB) on standard output.
ChildResult RunChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    char buf[256];
    for (ssize_t n; rc == 0 && (n = read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    if (rc != 0) return {};
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "child %s failed\n", argv[0]);
    return {seconds, std::atof(out.c_str()) * 1024.0};
}

std::string Self() {
    return fs::read_symlink("/proc/self/exe").string();
}

void SetMemoryCounters(benchmark::State& state, const ChildResult& with, const ChildResult& without) {
    state.counters["peak_MiB"] = with.peakBytes / (1 << 20);
    state.counters["peak_net_MiB"] = (with.peakBytes - without.peakBytes) / (1 << 20);
    state.counters["peak_x_attachment"] = (with.peakBytes - without.peakBytes) / kAttachmentBytes;
}

void BM_Ours_Assemble64MiB(benchmark::State& state) {
    NullSink sink;
    for (auto _ : state) {
        vox::MailDraft d = Draft(true);
        vox::AssembleMessage(d, fs::temp_directory_path(), sink);
        benchmark::DoNotOptimize(d.m_strMime.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kAttachmentBytes));
    SetMemoryCounters(state, RunChild({Self(), "--child", "1"}), RunChild({Self(), "--child", "0"}));
}

void BM_PythonEmail_Assemble64MiB(benchmark::State& state) {
    const std::string python = "/usr/bin/python3";
    ChildResult with;
    for (auto _ : state) {
        with = RunChild({python, "-c", kPythonPeer, AttachmentPath().string()});
        state.SetIterationTime(with.seconds);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kAttachmentBytes));
    SetMemoryCounters(state, with, RunChild({python, "-c", kPythonPeer}));
}

BENCHMARK(BM_Ours_Assemble64MiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_PythonEmail_Assemble64MiB)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) {
        NullSink sink;
        vox::MailDraft d = Draft(argv[2][0] == '1');
        vox::AssembleMessage(d, fs::temp_directory_path(), sink);
        std::printf("%lld\n", PeakResidentBytes() / 1024);
        return d.m_strMime.empty() ? 1 : 0;
    }
    AttachmentPath();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    vox::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nthroughput of whole-message assembly as a multiple of Python's email package:\n");
    reporter.PrintRatio("BM_Ours_Assemble64MiB/iterations:5/real_time",
                        "BM_PythonEmail_Assemble64MiB/iterations:1/manual_time");
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove(AttachmentPath(), ec);
    return 0;
}
