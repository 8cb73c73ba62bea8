#include "voice/voice_settings.h"
#include "base/translate.h"

#include <fstream>
#include <system_error>

#include "base/program_folder.h"
#include "base/whole_file.h"

namespace vox {

std::filesystem::path VoiceSettingsPath() {
    const std::filesystem::path folder = ConfigFolder();
    return folder.empty() ? std::filesystem::path() : folder / "voice.conf";
}

VoiceOptions LoadVoiceSettings(const std::filesystem::path& path) {
    VoiceOptions options;
    if (path.empty()) return options;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "format") {
            if (const auto format = ParseVoiceFormat(value)) options.format = *format;
        } else if (key == "normalize" && (value == "0" || value == "1")) {
            options.normalize = value == "1";
        }
    }
    return options;
}

std::string SaveVoiceSettings(const VoiceOptions& options, const std::filesystem::path& path) {
    if (path.empty()) return Tr("没有设置文件夹（$HOME未设置）");
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec) return ec.message();
    std::string text = "format=";
    text += VoiceFormatName(options.format);
    text += options.normalize ? "\nnormalize=1\n" : "\nnormalize=0\n";
    return WriteWholeFile(path, text);
}

}  // namespace vox
