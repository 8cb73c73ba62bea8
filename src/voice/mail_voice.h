#pragma once
// What the mail carries for the voice: the sound file's own bytes, or a copy made for the mail (Opus,
// MP3, or a loudness-corrected WAV). Runs on the assembly worker; it may take a second per minute of
// sound.

#include <string>

#include "voice/voice_format.h"

namespace vox {

struct MailVoice {
    // True: bytes hold the copy, named fileName and typed contentType. False: the file itself goes into
    // the mail, as it always did.
    bool encoded = false;
    std::string bytes;
    std::string fileName;
    std::string contentType;
    // Why the copy could not be made (the file then goes in as it is); empty when nothing failed.
    std::string error;
};

// A WAV (a recording or a picked file) becomes the chosen format; with normalizing on, its loudness is
// corrected first, and WAV then means a new 16-bit WAV. Files that are already Ogg or MP3 go in as they
// are, whatever was chosen, and so does everything that is no WAV. A WAV chosen as WAV without
// normalizing also goes in untouched, byte for byte.
MailVoice PrepareMailVoice(const std::string& path, const VoiceOptions& options);

// "声音编码失败，邮件中附上原来的声音：" and the reason.
std::string VoiceEncodeFailedText(const std::string& reason);

}  // namespace vox
