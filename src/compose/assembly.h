#pragma once
// Turning a checked draft into the finished mail, one step at a time. The caller chooses the thread: the
// composer runs it on its assembly worker, the command-line tool on its main thread.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "base/translate.h"
#include "compose/mail_draft.h"
#include "base/translate.h"

namespace vox {

// How assembly reports. Step() is called exactly draft.m_attachments.size() + 6 times per send, once after
// each step, whether or not that step's part could be written; the last call comes after draft.m_strMime
// holds the finished mail. ShowError() carries the failure texts ("添加背景失败", "添加声音失败",
// "文件%s附加失败") and returns when the user has seen them; assembly then goes on. ShowNotice() carries
// what the user should know although the mail is whole (a voice that could not be encoded goes as its
// original file); by default it is shown like an error.
class AssemblySink {
public:
    virtual ~AssemblySink() = default;
    virtual void Step() = 0;
    virtual void ShowError(const std::string& text) = 0;
    virtual void ShowNotice(const std::string& text) { ShowError(text); }
};

// The draft must have passed the field check (ValidateDraft), whose parsed addresses the header takes.
// Builds the page, writes header, HTML part, picture, sound and attachment parts and the closing boundary
// into draft.m_strMime. A recording marker in draft.m_strSound is replaced, lastingly, by
// programFolder / "Sound.wav".
void AssembleMessage(MailDraft& draft, const std::filesystem::path& programFolder, AssemblySink& sink);

// The time the Date header is taken from, and the unique part of the Message-ID (random when not given);
// the overload above uses the system clock. Tests pass fixed ones so that whole messages can be compared
// byte for byte.
using MailClock = std::function<std::time_t()>;
using MessageIdSource = std::function<std::string()>;
void AssembleMessage(MailDraft& draft, const std::filesystem::path& programFolder, AssemblySink& sink,
                     const MailClock& clock, const MessageIdSource& uniqueId = {});

// The largest mail the program builds: 2 GiB. One that would pass it is refused by the field check with
// kMailTooLargeText, as is one whose memory cannot be had while it is built.
inline constexpr std::uint64_t kMaxMailSize = std::uint64_t(2) << 30;
inline constexpr char kMailTooLargeText[] = N_("邮件太大，无法发送");

// At least the size of the mail assembly would build from the draft as its files are now (the recording
// marker standing for `recording`); what assembly reserves at once.
std::uint64_t EstimatedMailSize(const MailDraft& draft, const std::filesystem::path& recording);

// "文件%s附加失败" with the attachment's path in it.
std::string AttachFailedText(const std::string& path);

}  // namespace vox
