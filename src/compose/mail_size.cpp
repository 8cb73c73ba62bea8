#include "compose/mail_size.h"
#include "base/translate.h"

#include <cstdio>

#include "base/regular_file.h"
#include "compose/base64.h"
#include "voice/pcm_sound.h"
#include "voice/voice_format.h"

namespace vox {
namespace {

std::string Megabytes(std::size_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}  // namespace

MailSizeCheck CheckMailSize(const MailDraft& draft) {
    MailSizeCheck check;
    check.bytes = draft.m_strMime.size();
    check.tooBig = check.bytes > kMailWarnBytes;
    if (!check.tooBig || draft.m_strSound.empty() || draft.m_voice.format != VoiceFormat::Wav) return check;
    if (SoundFileKindOf(draft.m_strSound) != SoundFileKind::Wav) return check;
    const std::optional<RegularFile> file = RegularFile::Open(draft.m_strSound);
    SoundInfo info;
    if (!file || !ReadSoundInfo(draft.m_strSound, info)) return check;
    check.voiceIsWav = true;
    // Opus's average rate, its Ogg pages (about 1 %) and the header pages.
    const double seconds = info.rate > 0 ? static_cast<double>(info.frames) / info.rate : 0;
    const auto opus = static_cast<std::size_t>(seconds * VoiceBitRate(VoiceFormat::Opus, info.rate, info.channels) /
                                               8 * 1.01) + 4096;
    const std::size_t wavPart = Base64EncodedSize(static_cast<std::size_t>(file->Size()));
    check.opusBytes = check.bytes - std::min(check.bytes, wavPart) + Base64EncodedSize(opus);
    return check;
}

std::string MailSizeWarningText(const MailSizeCheck& check) {
    std::string text = Format(Tr("邮件大小为%s，很多邮件服务商拒收超过25 MB的邮件。"), Megabytes(check.bytes).c_str());
    if (check.voiceIsWav) text += Format(Tr("声音改为Opus格式后约为%s。"), Megabytes(check.opusBytes).c_str());
    return text;
}

std::string MailSizeWarningLine(const MailSizeCheck& check) {
    std::string text =
        Format(Tr("邮件大小为%s（1 MB = 1,000,000字节）；很多服务商拒收超过25 MB的邮件"),
               Megabytes(check.bytes).c_str());
    if (check.voiceIsWav)
        text += Format(Tr("；声音改为Opus（--voice-format opus）后约为%s"),
                       Megabytes(check.opusBytes).c_str());
    return text;
}

}  // namespace vox
