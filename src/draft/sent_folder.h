#pragma once
// Copies of the mails sent, exactly as they went out, in a Maildir that any mail program opens:
// $XDG_DATA_HOME/voxletter/Sent (~/.local/share/voxletter/Sent), each mail in cur/ as
// "TIME.UNIQUE.HOST:2,S" (already seen), written to tmp/ first and moved into cur/ when whole.

#include <filesystem>
#include <string>
#include <string_view>

namespace vox {

// $XDG_DATA_HOME/voxletter/Sent, or ~/.local/share/voxletter/Sent. Empty when neither is set.
std::filesystem::path DefaultSentFolder();

struct SentCopy {
    std::filesystem::path path;  // the copy in cur/, when written
    std::string error;           // why not, else empty
};

// Keeps `mail` byte for byte (CR LF and all) in the Maildir at `folder`, creating cur/, new/ and tmp/.
SentCopy KeepSentCopy(const std::filesystem::path& folder, std::string_view mail);

// The report's line about the copy: where it is, or why there is none.
std::string SentCopyLine(const SentCopy& copy);

}  // namespace vox
