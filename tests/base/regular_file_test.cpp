#include "base/regular_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vox {
namespace {

namespace fs = std::filesystem;

TEST(RegularFile, OpensOnlyRegularFilesAndKnowsTheirSize) {
    char tmpl[] = "/tmp/vox_regular_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    std::ofstream(dir / "three") << "abc";
    std::ofstream(dir / "empty");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink(dir / "three", dir / "link");

    struct Case {
        std::string path;
        std::optional<std::uint64_t> size;  // nothing: refused
    };
    const Case cases[] = {
        {(dir / "three").string(), 3},
        {(dir / "empty").string(), 0},
        {(dir / "link").string(), 3},   // followed to the file
        {(dir / "fifo").string(), {}},  // and the open does not hang on it
        {dir.string(), {}},
        {"/dev/zero", {}},
        {(dir / "missing").string(), {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        const std::optional<RegularFile> file = RegularFile::Open(c.path);
        EXPECT_EQ(file.has_value(), c.size.has_value()) << c.path;
        EXPECT_EQ(IsReadableRegularFile(c.path), c.size.has_value()) << c.path;
        if (file && c.size) {
            EXPECT_EQ(file->Size(), *c.size) << c.path;
            char byte;
            EXPECT_EQ(::read(file->Descriptor(), &byte, 1), *c.size > 0 ? 1 : 0) << c.path;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vox
