#include "app/start_up.h"

#include <cstdlib>
#include <string_view>

#include "base/translate.h"
#include "base/version.h"

namespace vox {
namespace {

// Qt reads its options with one dash or two.
bool IsQtOption(std::string_view arg, std::string_view name) {
    if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') arg.remove_prefix(1);
    return arg.size() == name.size() + 1 && arg[0] == '-' && arg.substr(1) == name;
}

// The value after a Qt option such as -platform NAME; empty when it is not given.
std::string QtOptionValue(int argc, const char* const* argv, std::string_view name) {
    std::string value;
    for (int i = 1; i + 1 < argc; ++i) {
        if (IsQtOption(argv[i], name)) value = argv[++i];
    }
    return value;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

StartRequest ReadStartRequest(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return StartRequest::PrintHelp;
        if (arg == "--version") return StartRequest::PrintVersion;
    }
    return StartRequest::OpenComposer;
}

DisplayEnvironment ReadDisplayEnvironment(int argc, const char* const* argv) {
    DisplayEnvironment env;
    env.platform = QtOptionValue(argc, argv, "platform");
    if (env.platform.empty()) env.platform = Environment("QT_QPA_PLATFORM");
    env.x11Display = QtOptionValue(argc, argv, "display");
    if (env.x11Display.empty()) env.x11Display = Environment("DISPLAY");
    env.waylandDisplay = Environment("WAYLAND_DISPLAY");
    if (env.waylandDisplay.empty()) env.waylandDisplay = Environment("WAYLAND_SOCKET");
    return env;
}

bool HasDisplay(const DisplayEnvironment& env) {
    if (env.platform.empty()) return !env.x11Display.empty() || !env.waylandDisplay.empty();
    // "wayland;xcb" is tried in order; "offscreen:fontengine=freetype" carries the plugin's options.
    std::string_view list = env.platform;
    while (!list.empty()) {
        const std::size_t semicolon = list.find(';');
        const std::string_view entry = list.substr(0, semicolon);
        const std::string_view name = entry.substr(0, entry.find(':'));
        if (name == "xcb") {
            if (!env.x11Display.empty()) return true;
        } else if (name.substr(0, 7) == "wayland") {
            if (!env.waylandDisplay.empty()) return true;
        } else if (!name.empty()) {
            return true;
        }
        list = semicolon == std::string_view::npos ? std::string_view() : list.substr(semicolon + 1);
    }
    return false;
}

std::string ComposerHelpText() {
    // "Usage:" stays as it is in every language: scripts and help2man look for it at the very start.
    return std::string("Usage: voxletter [OPTIONS]\n") +
           Tr("打开VoxLetter写信窗口：写一封以录制的语音为背景声音的邮件，并投递到每位收件人的邮件交换服务器。\n"
              "\n"
              "选项：\n"
              "  -h,--help                   显示本帮助并退出\n"
              "  --version                   显示版本并退出\n"
              "\n"
              "Qt自身的选项（-platform NAME、-display NAME、-style NAME……）交给Qt处理。写信窗口需要图形显示\n"
              "（X11或Wayland）；voxletter-cli不需要图形显示即可撰写、发送邮件和录音。\n"
              "退出状态：0 写信窗口已关闭；1 无法打开图形显示。\n");
}

std::string ComposerVersionLine() { return std::string("voxletter ") + kVersion + "\n"; }

const char* NoDisplayText() {
    return Tr("voxletter: 没有可用的图形显示，无法打开窗口（DISPLAY 和 WAYLAND_DISPLAY 未设置或无法连接）\n");
}

}  // namespace vox
