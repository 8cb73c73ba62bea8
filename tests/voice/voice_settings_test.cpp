#include "voice/voice_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace vox {
namespace {

namespace fs = std::filesystem;

class VoiceSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/voice-settings-XXXXXX";
        m_dir = ::mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

// Every file the program may meet: what it wrote itself, a hand-edited one, and damaged ones, whose
// lines that are not understood leave the defaults standing.
TEST_F(VoiceSettingsTest, ReadsWhatItCanAndDefaultsTheRest) {
    struct Case {
        const char* text;
        VoiceFormat format;
        bool normalize;
    } cases[] = {
        {"format=opus\nnormalize=1\n", VoiceFormat::Opus, true},
        {"format=mp3\r\nnormalize=0\r\n", VoiceFormat::Mp3, false},
        {"normalize=1\n", VoiceFormat::Wav, true},
        {"format=flac\nnormalize=yes\n", VoiceFormat::Wav, false},
        {"format = opus\n", VoiceFormat::Wav, false},
        {"\x01\x02 garbage without lines", VoiceFormat::Wav, false},
        {"", VoiceFormat::Wav, false},
    };
    const fs::path path = m_dir / "voice.conf";
    for (const Case& c : cases) {
        std::ofstream(path, std::ios::binary) << c.text;
        const VoiceOptions got = LoadVoiceSettings(path);
        EXPECT_EQ(got.format, c.format) << c.text;
        EXPECT_EQ(got.normalize, c.normalize) << c.text;
    }
    EXPECT_EQ(LoadVoiceSettings(m_dir / "missing.conf").format, VoiceFormat::Wav);
}

// Saving creates the folder, and what was saved is what is read back; a folder that cannot be made is
// reported, not ignored.
TEST_F(VoiceSettingsTest, SavesWholeAndReadsBack) {
    const fs::path path = m_dir / "config" / "voxletter" / "voice.conf";
    for (VoiceOptions options : {VoiceOptions{VoiceFormat::Mp3, true}, VoiceOptions{VoiceFormat::Opus, false}}) {
        ASSERT_EQ(SaveVoiceSettings(options, path), "");
        const VoiceOptions got = LoadVoiceSettings(path);
        EXPECT_EQ(got.format, options.format);
        EXPECT_EQ(got.normalize, options.normalize);
    }
    std::ofstream(m_dir / "file") << "x";
    EXPECT_NE(SaveVoiceSettings(VoiceOptions{}, m_dir / "file" / "voice.conf"), "");
}

TEST(VoiceSettingsPathTest, FollowsXdgConfigHome) {
    ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(VoiceSettingsPath(), fs::path("/somewhere/config/voxletter/voice.conf"));
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(VoiceSettingsPath(), fs::path("/home/someone/.config/voxletter/voice.conf"));
}

}  // namespace
}  // namespace vox
