#pragma once
// The folder where the program keeps its two files, "Sound.wav" and "tempRecord": the executable's own
// folder when the program may write there, else $XDG_DATA_HOME/voxletter (~/.local/share/voxletter).

#include <filesystem>

namespace vox {

// Created if missing. Never throws; falls back to the current folder when nothing else is usable.
std::filesystem::path ProgramFolder();

// $XDG_CONFIG_HOME/voxletter (~/.config/voxletter), where settings are kept; not created here. Empty
// when neither the variable nor $HOME is an absolute path.
std::filesystem::path ConfigFolder();

// The full path of the attached recording, "Sound.wav" in ProgramFolder().
std::filesystem::path RecordingPath();

}  // namespace vox
