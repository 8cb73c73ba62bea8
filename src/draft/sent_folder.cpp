#include "draft/sent_folder.h"
#include "base/translate.h"

#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <system_error>

#include "base/program_folder.h"
#include "base/whole_file.h"

namespace vox {
namespace fs = std::filesystem;

namespace {

// The host part of a Maildir name: "/" and ":" cannot stand in it and are written as octal escapes.
std::string HostPart() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    std::string host;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c == '/')
            host += "\\057";
        else if (*c == ':')
            host += "\\072";
        else
            host += *c;
    }
    return host;
}

// "SECONDS.MmicrosPpidQcount.HOST": unique for every mail this process keeps, and across processes.
std::string UniqueName() {
    static std::atomic<unsigned> count{0};
    struct timeval now {};
    ::gettimeofday(&now, nullptr);
    return std::to_string(now.tv_sec) + ".M" + std::to_string(now.tv_usec) + "P" + std::to_string(::getpid()) +
           "Q" + std::to_string(++count) + "." + HostPart();
}

}  // namespace

fs::path DefaultSentFolder() {
    const fs::path folder = XdgProgramFolder("XDG_DATA_HOME", ".local/share");
    return folder.empty() ? folder : folder / "Sent";
}

SentCopy KeepSentCopy(const fs::path& folder, std::string_view mail) {
    SentCopy copy;
    if (folder.empty()) {
        copy.error = Tr("没有存放已发邮件的文件夹（$XDG_DATA_HOME和$HOME都未设置）");
        return copy;
    }
    std::error_code ec;
    for (const char* sub : {"cur", "new", "tmp"}) {
        fs::create_directories(folder / sub, ec);
        if (ec) {
            copy.error = (folder / sub).string() + ": " + ec.message();
            return copy;
        }
    }
    const std::string name = UniqueName();
    const fs::path staged = folder / "tmp" / name;
    copy.error = WriteWholeFile(staged, mail);
    if (!copy.error.empty()) return copy;
    const fs::path kept = folder / "cur" / (name + ":2,S");
    fs::rename(staged, kept, ec);
    if (ec) {
        copy.error = ec.message();
        fs::remove(staged, ec);
        return copy;
    }
    copy.path = kept;
    return copy;
}

std::string SentCopyLine(const SentCopy& copy) {
    if (copy.error.empty()) return Tr("已发邮件保存在：") + copy.path.string();
    return Tr("已发邮件未能保存：") + copy.error;
}

}  // namespace vox
