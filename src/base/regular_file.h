#pragma once
// A file opened for reading only when it is a regular file. Attaching, the field check and the size
// estimate of a mail must agree on which files can be read: a FIFO would hang the open (hence
// O_NONBLOCK, which does not change reading a regular file), and a device such as /dev/zero never ends.

#include <cstdint>
#include <optional>
#include <string>

namespace vox {

class RegularFile {
public:
    // Nothing when the path cannot be opened for reading or is not a regular file.
    static std::optional<RegularFile> Open(const std::string& path);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    int Descriptor() const { return m_fd; }
    std::uint64_t Size() const { return m_size; }  // when it was opened

private:
    RegularFile(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}

    int m_fd = -1;
    std::uint64_t m_size = 0;
};

// RegularFile::Open succeeds.
bool IsReadableRegularFile(const std::string& path);

// The whole content of a regular file, for texts and pictures that are read at once.
enum class ReadResult { Ok, CannotOpen, TooLarge, ReadError };
// CannotOpen also for what is not a regular file (a FIFO, a folder, a device); TooLarge for a file of
// more than limit bytes, or one that cannot be held in memory, before anything of it is kept.
ReadResult ReadRegularFile(const std::string& path, std::uint64_t limit, std::string& bytes);

}  // namespace vox
