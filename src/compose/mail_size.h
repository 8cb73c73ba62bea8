#pragma once
// The size check before a big mail goes out: many providers refuse mails over 25 MB, so a mail over
// 20 MB is announced first, with what the voice would weigh as Opus when it travels as WAV.

#include <cstddef>
#include <string>

#include "compose/mail_draft.h"

namespace vox {

inline constexpr std::size_t kMailWarnBytes = 20'000'000;     // MB of 1,000,000 bytes, as providers count
inline constexpr std::size_t kProviderLimitBytes = 25'000'000;

struct MailSizeCheck {
    bool tooBig = false;           // over kMailWarnBytes
    std::size_t bytes = 0;         // the assembled mail
    bool voiceIsWav = false;       // the sound went in as a WAV file
    std::size_t opusBytes = 0;     // the mail with the voice as Opus instead (an estimate), when voiceIsWav
};

// After assembly: draft.m_strMime is the mail and draft.m_strSound the sound's path.
MailSizeCheck CheckMailSize(const MailDraft& draft);

// "邮件大小为31.2 MB，很多邮件服务商拒收超过25 MB的邮件。" and, with a WAV voice,
// "声音改为Opus格式后约为1.4 MB。"
std::string MailSizeWarningText(const MailSizeCheck& check);

// The same for the command line's standard error, in English like its other messages.
std::string MailSizeWarningLine(const MailSizeCheck& check);

}  // namespace vox
