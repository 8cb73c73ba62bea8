#include "base/whole_file.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vox {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool OnlyFileIn(const fs::path& dir, const std::string& name) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename() != name) return false;
        ++count;
    }
    return count == 1;
}

class WholeFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vox_whole_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        if (m_mounted) ::umount(m_dir.c_str());
        fs::remove_all(m_dir);
    }
    fs::path m_dir;
    bool m_mounted = false;
};

TEST_F(WholeFile, ReplacesTheOldFileOnlyWhenEverythingWasWritten) {
    const fs::path target = m_dir / "Sound.wav";
    std::ofstream(target) << "old recording";

    EXPECT_EQ(WriteWholeFile(target, std::string("new\r\n\0bytes", 11)), "");
    EXPECT_EQ(ReadAll(target), std::string("new\r\n\0bytes", 11));
    EXPECT_TRUE(OnlyFileIn(m_dir, "Sound.wav"));

    {  // Given up before Commit: the old file stays and the temporary file goes.
        WholeFileWriter writer(target);
        ASSERT_TRUE(writer.Ok()) << writer.Error();
        writer.Write("half");
    }
    EXPECT_EQ(ReadAll(target), std::string("new\r\n\0bytes", 11));
    EXPECT_TRUE(OnlyFileIn(m_dir, "Sound.wav"));

    EXPECT_NE(WriteWholeFile(m_dir / "missing" / "x", "y"), "");
}

TEST_F(WholeFile, AFullDiskLeavesTheOldFileAndNoTemporaryFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
    ASSERT_EQ(::mount("tmpfs", m_dir.c_str(), "tmpfs", 0, "size=64k"), 0);
    m_mounted = true;
    const fs::path target = m_dir / "mail.eml";
    ASSERT_EQ(WriteWholeFile(target, "the mail before"), "");

    WholeFileWriter writer(target);
    ASSERT_TRUE(writer.Ok());
    const std::string block(16 * 1024, 'x');
    for (int i = 0; i < 16 && writer.Write(block); ++i) {
    }
    EXPECT_FALSE(writer.Ok());
    EXPECT_LT(writer.Written(), 16u * block.size());
    EXPECT_FALSE(writer.Commit());
    EXPECT_FALSE(writer.Error().empty());
    EXPECT_EQ(ReadAll(target), "the mail before");
    EXPECT_TRUE(OnlyFileIn(m_dir, "mail.eml"));
}

}  // namespace
}  // namespace vox
