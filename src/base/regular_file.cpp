#include "base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <utility>

namespace vox {

std::optional<RegularFile> RegularFile::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    return RegularFile(fd, static_cast<std::uint64_t>(st.st_size));
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(other.m_size) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_size = other.m_size;
    }
    return *this;
}

RegularFile::~RegularFile() {
    if (m_fd >= 0) ::close(m_fd);
}

bool IsReadableRegularFile(const std::string& path) {
    return RegularFile::Open(path).has_value();
}

ReadResult ReadRegularFile(const std::string& path, std::uint64_t limit, std::string& bytes) {
    const std::optional<RegularFile> file = RegularFile::Open(path);
    if (!file) return ReadResult::CannotOpen;
    if (file->Size() > limit) return ReadResult::TooLarge;
    std::string read;
    try {
        read.resize(static_cast<std::size_t>(file->Size()));
    } catch (const std::bad_alloc&) {
        return ReadResult::TooLarge;
    }
    // A file that grows while it is read keeps the size it had when it was opened.
    std::size_t done = 0;
    while (done < read.size()) {
        const ssize_t got = ::read(file->Descriptor(), read.data() + done, read.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return ReadResult::ReadError;
        if (got == 0) break;  // shrunk meanwhile
        done += static_cast<std::size_t>(got);
    }
    read.resize(done);
    bytes = std::move(read);
    return ReadResult::Ok;
}

}  // namespace vox
