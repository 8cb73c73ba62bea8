#pragma once
// What voxletter settles before Qt starts: its own options (--help, --version), and whether the
// environment names a display at all. Qt ends a start without a display in qFatal and a core dump; the
// program says so in one line and exits with 1 instead. No Qt here.

#include <string>

namespace vox {

enum class StartRequest { OpenComposer, PrintHelp, PrintVersion };

// --help (-h) or --version anywhere among the arguments; everything else is left to Qt (-platform NAME,
// -display NAME, -style NAME ...), as before.
StartRequest ReadStartRequest(int argc, const char* const* argv);

// Where Qt will look for its display.
struct DisplayEnvironment {
    std::string platform;        // -platform NAME, else $QT_QPA_PLATFORM; empty: Qt's default
    std::string x11Display;      // -display NAME, else $DISPLAY
    std::string waylandDisplay;  // $WAYLAND_DISPLAY, else $WAYLAND_SOCKET
};

// From the arguments and the process environment.
DisplayEnvironment ReadDisplayEnvironment(int argc, const char* const* argv);

// False when none of the platforms Qt would try has a display named: X11 (xcb) wants $DISPLAY, Wayland
// $WAYLAND_DISPLAY, Qt's default either. Platforms that draw without a display server (offscreen,
// minimal, vnc, linuxfb, eglfs ...) are taken as they are. A display that is named but cannot be reached
// is found by Qt itself; main() turns that end into the same line.
bool HasDisplay(const DisplayEnvironment& env);

// The texts of the start: the help (standard output), the version line, and the one line on standard
// error when there is no display.
std::string ComposerHelpText();
std::string ComposerVersionLine();
const char* NoDisplayText();

}  // namespace vox
