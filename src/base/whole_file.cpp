#include "base/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace vox {

namespace {

// A rename is only durable once the folder that holds the name is flushed too.
void SyncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

WholeFileWriter::WholeFileWriter(std::filesystem::path target) : m_target(std::move(target)) {
    std::string pattern = m_target.string() + ".XXXXXX.tmp";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    m_fd = ::mkstemps(name.data(), 4);
    if (m_fd < 0) {
        Fail(errno);
        return;
    }
    m_tmpPath.assign(name.data());
    // mkstemps makes the file private (0600); a kept file gets the ordinary mode the umask allows.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(m_fd, 0666 & ~mask);
}

WholeFileWriter::~WholeFileWriter() {
    if (!m_committed) Discard();
}

void WholeFileWriter::Fail(int err) {
    if (m_error.empty()) m_error = std::strerror(err != 0 ? err : EIO);
}

void WholeFileWriter::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tmpPath.empty()) {
        ::unlink(m_tmpPath.c_str());
        m_tmpPath.clear();
    }
}

bool WholeFileWriter::Write(const void* data, std::size_t size) {
    if (!Ok() || m_fd < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
            return false;
        }
        if (n == 0) {
            Fail(ENOSPC);
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        m_written += static_cast<std::size_t>(n);
    }
    return true;
}

bool WholeFileWriter::Commit() {
    if (m_committed) return true;
    if (Ok() && m_fd >= 0) {
        // Delayed allocation reports a full disk only here, so both results count.
        if (::fsync(m_fd) != 0) Fail(errno);
        if (::close(m_fd) != 0 && Ok()) Fail(errno);
        m_fd = -1;
        if (Ok() && ::rename(m_tmpPath.c_str(), m_target.c_str()) != 0) Fail(errno);
    }
    if (!Ok()) {
        Discard();
        return false;
    }
    m_tmpPath.clear();
    m_committed = true;
    SyncFolder(m_target.parent_path());
    return true;
}

std::string WriteWholeFile(const std::filesystem::path& target, std::string_view bytes) {
    WholeFileWriter writer(target);
    writer.Write(bytes);
    writer.Commit();
    return writer.Error();
}

}  // namespace vox
