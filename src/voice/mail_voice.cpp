#include "voice/mail_voice.h"
#include "base/translate.h"

#include "voice/loudness.h"
#include "voice/pcm_sound.h"
#include "voice/voice_encoder.h"

namespace vox {

std::string VoiceEncodeFailedText(const std::string& reason) {
    return Tr("声音编码失败，邮件中附上原来的声音：") + reason;
}

MailVoice PrepareMailVoice(const std::string& path, const VoiceOptions& options) {
    MailVoice voice;
    if (options.format == VoiceFormat::Wav && !options.normalize) return voice;
    if (SoundFileKindOf(path) != SoundFileKind::Wav) return voice;

    PcmSound sound;
    std::string error;
    if (!ReadSound(path, sound, error) || (options.normalize && !NormalizeLoudness(sound, error)) ||
        !EncodeVoice(options.format, sound, voice.bytes, error)) {
        voice.bytes.clear();
        voice.error = error.empty() ? std::string(Tr("未知错误")) : error;
        return voice;
    }
    voice.encoded = true;
    voice.fileName = VoiceFileName(options.format);
    voice.contentType = VoiceContentType(options.format);
    return voice;
}

}  // namespace vox
