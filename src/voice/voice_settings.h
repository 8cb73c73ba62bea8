#pragma once
// The voice options the sound window remembers between runs: voice.conf in the settings folder
// ($XDG_CONFIG_HOME/voxletter), lines "format=wav|opus|mp3" and "normalize=0|1".

#include <filesystem>
#include <string>

#include "voice/voice_format.h"

namespace vox {

std::filesystem::path VoiceSettingsPath();

// The options in the file; the defaults (WAV, not normalized) for a missing file and for every line
// that is not understood.
VoiceOptions LoadVoiceSettings(const std::filesystem::path& path = VoiceSettingsPath());

// Written whole (the folder is created when missing). Empty on success, else the system's reason.
std::string SaveVoiceSettings(const VoiceOptions& options, const std::filesystem::path& path = VoiceSettingsPath());

}  // namespace vox
