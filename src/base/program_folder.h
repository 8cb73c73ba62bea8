#pragma once
// The folder where the program keeps its two files, "Sound.wav" and "tempRecord": the executable's own
// folder when the program may write there, else $XDG_DATA_HOME/voxletter (~/.local/share/voxletter).

#include <filesystem>

namespace vox {

// Created if missing. Never throws; falls back to the current folder when nothing else is usable.
std::filesystem::path ProgramFolder();

// The full path of the attached recording, "Sound.wav" in ProgramFolder().
std::filesystem::path RecordingPath();

}  // namespace vox
