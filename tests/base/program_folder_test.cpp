#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "base/program_folder.h"

namespace fs = std::filesystem;

TEST(ProgramFolder, IsAWritableFolderHoldingTheRecording) {
    const fs::path dir = vox::ProgramFolder();
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    EXPECT_EQ(::access(dir.c_str(), W_OK), 0) << dir;
    EXPECT_EQ(vox::RecordingPath(), dir / "Sound.wav");
}
