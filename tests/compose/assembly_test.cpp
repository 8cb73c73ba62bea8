#include "compose/assembly.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vox {
namespace {

class AssemblyTest : public ::testing::Test {
protected:
    void SetUp() override { test::UseFixedZone(); }

    MailDraft Draft() const {
        MailDraft d;
        d.m_strFrom = "me@x.org";
        d.m_strTo = "a@b.com";
        return d;
    }
    void Assemble(MailDraft& d) {
        test::ParseAddresses(d);
        AssembleMessage(
            d, dir.path(), sink, [] { return test::kFixedTime; }, [] { return std::string("fixed"); });
    }

    test::TempDir dir;
    test::RecordingSink sink;
};

TEST_F(AssemblyTest, SixStepsWithoutFiles) {
    MailDraft d = Draft();
    Assemble(d);
    EXPECT_EQ(sink.steps, 6);
    EXPECT_TRUE(sink.errors.empty());
    EXPECT_TRUE(d.m_strMime.starts_with("From: me@x.org\r\nTo: a@b.com\r\nSubject: \r\n"));
    EXPECT_TRUE(d.m_strMime.ends_with("--==VoxLetter_Plume==--\r\n\r\n--==VoxLetter_Multipart==--\r\n"));
}

TEST_F(AssemblyTest, OneStepPerAttachmentAndMissingOnesLeftOut) {
    MailDraft d = Draft();
    const std::string missing = (dir.path() / "gone.txt").string();
    d.m_attachments = {dir.Write("a.txt", "one"), dir.Write("b.txt", "two"), missing};
    Assemble(d);
    EXPECT_EQ(sink.steps, 9);
    EXPECT_EQ(sink.events.back(), "step");
    EXPECT_EQ(sink.errors, std::vector<std::string>{"文件" + missing + "附加失败"});
    // The error comes before the step of its own attachment.
    EXPECT_EQ(sink.events[sink.events.size() - 3], "文件" + missing + "附加失败");
    EXPECT_NE(d.m_strMime.find("filename=\"a.txt\""), std::string::npos);
    EXPECT_NE(d.m_strMime.find("filename=\"b.txt\""), std::string::npos);
    EXPECT_EQ(d.m_strMime.find("gone.txt"), std::string::npos);
}

TEST_F(AssemblyTest, RecordingMarkerIsReplacedLastingly) {
    MailDraft d = Draft();
    d.m_strSound = kRecordingMarker;
    Assemble(d);
    const std::string recording = (dir.path() / "Sound.wav").string();
    EXPECT_EQ(d.m_strSound, recording);
    // No recording there: the part is missing, the page still announces the sound.
    EXPECT_EQ(sink.errors, std::vector<std::string>{"添加声音失败"});
    EXPECT_EQ(sink.steps, 6);
    EXPECT_EQ(d.m_strMime.find("Content-ID: <VoxLetterYourSound>"), std::string::npos);

    dir.Write("Sound.wav", "RIFF");
    test::RecordingSink again;
    AssembleMessage(d, dir.path(), again, [] { return test::kFixedTime; });
    EXPECT_TRUE(again.errors.empty());
    EXPECT_NE(d.m_strMime.find("Content-ID: <VoxLetterYourSound>\r\n\r\nUklGRg==\r\n"), std::string::npos);
}

TEST_F(AssemblyTest, MissingPictureGoesOn) {
    MailDraft d = Draft();
    d.m_nBackgroundMode = 1;
    d.m_strPicture = (dir.path() / "pic.gif").string();
    Assemble(d);
    EXPECT_EQ(sink.errors, std::vector<std::string>{"添加背景失败"});
    EXPECT_EQ(sink.steps, 6);
    EXPECT_NE(d.m_strMime.find("--==VoxLetter_Multipart==--\r\n"), std::string::npos);
}

// Whole messages, byte for byte. VOX_UPDATE_GOLDEN=1 rewrites the files after a deliberate change.
TEST_F(AssemblyTest, GoldenMessages) {
    const std::filesystem::path golden = VOX_GOLDEN_DIR;
    const bool update = std::getenv("VOX_UPDATE_GOLDEN") != nullptr;
    std::string picture(300, '\0');
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 13);

    MailDraft plain = Draft();
    plain.m_strSubject = "Plain";
    plain.m_strBody = "Hello\r\nWorld";

    MailDraft full = Draft();
    full.m_strTo = "a@b.com;c@d.com";
    full.m_strCc = "e@f.com";
    full.m_strBcc = "hidden@g.com";
    full.m_strSubject = "语音信 😀";
    full.m_strBody = "你好，世界 😀\r\n<second> line";
    full.m_charFormat = {"宋体", 360, 0x0000FF, CFE_BOLD | CFE_ITALIC};
    full.m_paraFormat.wAlignment = PFA_RIGHT;
    full.m_nBackgroundMode = 1;
    full.m_strPicture = dir.Write("tile.gif", picture);
    full.m_strSound = dir.Write("hello.wav", std::string(57, 'w'));
    full.m_nSoundLoops = 2;
    full.m_attachments = {dir.Write("报告.txt", "report\n"), dir.Write("zero.bin", "")};

    const std::pair<const char*, MailDraft*> cases[] = {{"plain.eml", &plain}, {"full.eml", &full}};
    for (const auto& [name, draft] : cases) {
        Assemble(*draft);
        if (update) std::ofstream(golden / name, std::ios::binary) << draft->m_strMime;
        EXPECT_EQ(draft->m_strMime, test::ReadFile(golden / name)) << name;
    }
}

}  // namespace
}  // namespace vox
