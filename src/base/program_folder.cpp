#include "base/program_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace vox {
namespace fs = std::filesystem;

namespace {

bool WritableFolder(const fs::path& dir) { return !dir.empty() && ::access(dir.c_str(), W_OK | X_OK) == 0; }

}  // namespace

fs::path XdgProgramFolder(const char* variable, const char* underHome) {
    const char* xdg = std::getenv(variable);
    if (xdg != nullptr && xdg[0] == '/') return fs::path(xdg) / "voxletter";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return fs::path(home) / underHome / "voxletter";
    return {};
}

fs::path ProgramFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && WritableFolder(exe.parent_path())) return exe.parent_path();

    fs::path data = XdgProgramFolder("XDG_DATA_HOME", ".local/share");
    if (!data.empty()) {
        fs::create_directories(data, ec);
        if (WritableFolder(data)) return data;
    }
    return {};
}

fs::path ConfigFolder() { return XdgProgramFolder("XDG_CONFIG_HOME", ".config"); }

fs::path RecordingPath() {
    const fs::path folder = ProgramFolder();
    return folder.empty() ? fs::path() : folder / "Sound.wav";
}

}  // namespace vox
