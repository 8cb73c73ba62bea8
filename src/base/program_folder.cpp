#include "base/program_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace vox {
namespace fs = std::filesystem;

namespace {

bool WritableFolder(const fs::path& dir) { return !dir.empty() && ::access(dir.c_str(), W_OK | X_OK) == 0; }

// $VARIABLE/voxletter, or ~/FALLBACK/voxletter when the variable is unset or not absolute.
fs::path XdgFolder(const char* variable, const char* fallback) {
    const char* xdg = std::getenv(variable);
    if (xdg != nullptr && xdg[0] == '/') return fs::path(xdg) / "voxletter";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return fs::path(home) / fallback / "voxletter";
    return {};
}

}  // namespace

fs::path ProgramFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && WritableFolder(exe.parent_path())) return exe.parent_path();

    fs::path data = XdgFolder("XDG_DATA_HOME", ".local/share");
    if (!data.empty()) {
        fs::create_directories(data, ec);
        if (WritableFolder(data)) return data;
    }
    return fs::current_path(ec);
}

fs::path ConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", ".config"); }

fs::path RecordingPath() { return ProgramFolder() / "Sound.wav"; }

}  // namespace vox
