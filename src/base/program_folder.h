#pragma once
// The folder where the program keeps its two files, "Sound.wav" and "tempRecord": the executable's own
// folder when the program may write there, else $XDG_DATA_HOME/voxletter (~/.local/share/voxletter).

#include <filesystem>

#include "base/translate.h"

namespace vox {

// Created if missing. Never throws. Empty when neither folder can be written: the recording then has no
// place, and is never put in whatever the current folder happens to be.
std::filesystem::path ProgramFolder();

// $XDG_CONFIG_HOME/voxletter (~/.config/voxletter), where settings are kept; not created here. Empty
// when neither the variable nor $HOME is an absolute path.
std::filesystem::path ConfigFolder();

// The full path of the attached recording, "Sound.wav" in ProgramFolder(); empty when that is empty.
std::filesystem::path RecordingPath();

// $VARIABLE/voxletter when the variable holds an absolute path, else $HOME/underHome/voxletter (the XDG
// base-directory rule); empty when neither is set. Not created.
std::filesystem::path XdgProgramFolder(const char* variable, const char* underHome);

// What recording and sending a recording say when ProgramFolder() is empty.
inline constexpr char kNoProgramFolderText[] =
    N_("无法保存录音：程序所在的文件夹和$XDG_DATA_HOME/voxletter都无法写入");

}  // namespace vox
