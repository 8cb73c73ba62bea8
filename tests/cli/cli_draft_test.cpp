#include "cli/cli_draft.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace vox::cli {
namespace {

std::optional<DraftRequest> Parse(const Args& args, bool allowOutput = true) {
    return ParseDraftArgs(args, allowOutput, "compose");
}

TEST(CliDraft, FillsTheDraftAsTheComposerWould) {
    const auto req = Parse({"--from",
                            "me@x.org",
                            "--to",
                            "a@b.c;d@e.f",
                            "--cc=c@d.e",
                            "--subject=--hi",
                            "--body",
                            "one\ntwo\r\nthree\n",
                            "--font",
                            "黑体",
                            "--size",
                            "10.5",
                            "--color",
                            "FF8000",
                            "--bold",
                            "--strikeout",
                            "--align",
                            "center",
                            "--background-color",
                            "#0000ff",
                            "--loops",
                            "3",
                            "--recording",
                            "-o",
                            "out.eml"});
    ASSERT_TRUE(req);
    const MailDraft& d = req->draft;
    EXPECT_EQ(d.m_strCc, "c@d.e");
    EXPECT_EQ(d.m_strSubject, "--hi");  // a value that begins with "-" is given with "="
    EXPECT_EQ(d.m_strBody, "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(d.m_charFormat.szFaceName, "黑体");
    EXPECT_EQ(d.m_charFormat.yHeight, 210);
    EXPECT_EQ(d.m_charFormat.crTextColor, 0x0080FFu);
    EXPECT_EQ(d.m_charFormat.dwEffects, CFE_BOLD | CFE_STRIKEOUT);
    EXPECT_EQ(d.m_paraFormat.wAlignment, PFA_CENTER);
    EXPECT_EQ(d.m_nBackgroundMode, 0);
    EXPECT_EQ(d.m_crBackground, 0xFF0000u);
    EXPECT_EQ(d.m_nSoundLoops, 3);
    EXPECT_EQ(d.m_strSound, kRecordingMarker);
    EXPECT_EQ(req->outputPath, "out.eml");
}

TEST(CliDraft, Defaults) {
    const auto req = Parse({});
    ASSERT_TRUE(req);
    EXPECT_EQ(req->draft.m_charFormat.szFaceName, "宋体");
    EXPECT_EQ(req->draft.m_charFormat.yHeight, 240);
    EXPECT_EQ(req->draft.m_charFormat.crTextColor, 0u);
    EXPECT_EQ(req->draft.m_paraFormat.wAlignment, PFA_LEFT);
    EXPECT_EQ(req->draft.m_crBackground, kWhite);
    EXPECT_TRUE(req->outputPath.empty());
}

TEST(CliDraft, AttachmentsAreFullPathsSortedAndUnique) {
    test::TempDir dir;
    const std::string b = dir.Write("b.txt", "b");
    const std::string a = dir.Write("a.txt", "a");
    const auto req = Parse({"--attach", b, "--attach", a, "--attach", dir.path().string() + "/./b.txt",
                            "--background-picture", "rel/pic.gif"});
    ASSERT_TRUE(req);
    EXPECT_EQ(req->draft.m_attachments, (std::vector<std::string>{a, b}));
    EXPECT_EQ(req->draft.m_nBackgroundMode, 1);
    EXPECT_EQ(req->draft.m_strPicture, (std::filesystem::current_path() / "rel/pic.gif").string());
}

TEST(CliDraft, Refusals) {
    const Args refused[] = {
        {"--bogus"},
        {"stray"},
        {"--to"},
        {"--to", "--cc", "x@y.z"},
        {"--subject", "--hi"},  // a left-out value, not the subject "--hi"
        {"--subject", "-x"},
        {"--bold=yes"},
        {"--to", "a@b.c", "--to", "d@e.f"},
        {"--bold", "--bold"},
        {"--body", "x", "--body-file", "f"},
        {"--sound", "s.wav", "--recording"},
        {"--background-picture", "p.gif", "--background-color", "ffffff"},
        {"--size", "0"},
        {"--size", "12pt"},
        {"--color", "12345"},
        {"--color", "gg0000"},
        {"--align", "justify"},
        {"--loops", "-1"},
        {"--loops", "99999999999"},
        {"--attach", ""},
        {"--body-file", "/nonexistent/body.txt"},
    };
    for (const Args& args : refused) EXPECT_FALSE(Parse(args)) << args[0];
    EXPECT_FALSE(Parse({"-o", "x"}, false));  // send writes no file
}

TEST(CliDraft, SubjectWithLineBreakIsRefused) {
    auto req = Parse({"--from", "me@x.org", "--to", "a@b.c", "--subject", "hi\r\nBcc: v@w.x"});
    ASSERT_TRUE(req);
    EXPECT_FALSE(CheckDraft(req->draft, "compose"));
    req->draft.m_strSubject = "hi";
    EXPECT_TRUE(CheckDraft(req->draft, "compose"));
    EXPECT_EQ(req->draft.m_nExpectedSteps, 6);
}

// A file that goes away between the check and assembly: assembly's own message, and the mail counts as
// not built (the tool then writes and sends nothing and exits with 1).
TEST(CliDraft, FileGoneAfterTheCheckFailsAssembly) {
    test::TempDir dir;
    const std::string file = dir.Write("a.txt", "a");
    auto req = Parse({"--from", "me@x.org", "--to", "a@b.c", "--attach", file});
    ASSERT_TRUE(req);
    ASSERT_TRUE(CheckDraft(req->draft, "compose"));
    MailDraft again = req->draft;
    EXPECT_TRUE(AssembleDraft(again, "compose"));
    std::filesystem::remove(file);
    EXPECT_FALSE(AssembleDraft(req->draft, "compose"));
}

}  // namespace
}  // namespace vox::cli
