#pragma once
// Files that are either there whole or not changed at all. Everything the program writes for the user
// to keep (the recording, a mail written out, drafts, the outbox, sent copies) goes through here: the
// bytes go to "NAME.XXXXXX.tmp" in the same folder, are flushed to the disk with fsync, and only then
// renamed over NAME. A killed program, a full disk or a failed write leaves the old file as it was and
// at most a stray *.tmp beside it, never a half-written NAME.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace vox {

class WholeFileWriter {
public:
    // Creates the temporary file beside `target`. Check Ok() (and Error()) before writing.
    explicit WholeFileWriter(std::filesystem::path target);
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;
    // Removes the temporary file unless Commit() succeeded.
    ~WholeFileWriter();

    bool Ok() const { return m_error.empty(); }
    // The system's text for the first failure (strerror), empty while all is well.
    const std::string& Error() const { return m_error; }

    // Appends bytes; after a failure further writes do nothing and Commit() fails.
    bool Write(const void* data, std::size_t size);
    bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
    // The number of bytes written so far (only what really reached the file).
    std::size_t Written() const { return m_written; }

    // fsync, close, rename over the target, fsync the folder. False (with Error()) leaves the target
    // untouched and removes the temporary file.
    bool Commit();

    const std::filesystem::path& Target() const { return m_target; }

private:
    void Fail(int err);
    void Discard();

    std::filesystem::path m_target;
    std::string m_tmpPath;
    std::string m_error;
    std::size_t m_written = 0;
    int m_fd = -1;
    bool m_committed = false;
};

// The whole of `bytes` as `target`, by the rules above. Empty on success, else the system's reason.
std::string WriteWholeFile(const std::filesystem::path& target, std::string_view bytes);

}  // namespace vox
