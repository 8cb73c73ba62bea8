#include "compose/address_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support.h"

namespace vox {
namespace {

TEST(IsValidAddress, Rule) {
    const std::pair<const char*, bool> cases[] = {
        {"a@b.c", true},  {"a b@c d.e", true}, {"a@@b..c", true}, {"a@b.c.d", true},
        {"a.b@c", false}, {"@b.c", false},     {"a@", false},     {"a@b.", false},
        {"ab.c", false},  {"", false},         {"a@bc", false},   {"用户@例子.中国", true},
        {".@b.c", true},  {"a@.c", true},
    };
    for (const auto& [text, valid] : cases) EXPECT_EQ(IsValidAddress(text), valid) << text;
}

MailDraft Draft(std::string to, std::string cc = "", std::string bcc = "") {
    MailDraft d;
    d.m_strFrom = "me@x.org";
    d.m_strTo = std::move(to);
    d.m_strCc = std::move(cc);
    d.m_strBcc = std::move(bcc);
    return d;
}

TEST(ParseRecipients, Lists) {
    MailDraft d = Draft("a@b.c;d@e.f;", "g@h.i; d@e.f", "j@k.l");
    ASSERT_TRUE(ParseRecipients(d).ok);
    EXPECT_EQ(d.m_recipients, (std::vector<std::string>{"a@b.c", "d@e.f", "g@h.i", " d@e.f", "j@k.l"}));
}

TEST(ParseRecipients, FirstBadEntryIsSelected) {
    struct Case {
        const char* to;
        const char* cc;
        const char* bcc;
        int field;
        std::size_t selStart, selEnd;
        std::size_t kept;  // entries appended before the refusal
    };
    const Case cases[] = {
        {"a@b.c;;d@e.f", "", "", kFieldTo, 6, 6, 1},
        {";a@b.c", "", "", kFieldTo, 0, 0, 0},
        {"a@b.c;x;d@e.f", "", "", kFieldTo, 6, 7, 1},
        {"a@b.c;我@例子", "", "", kFieldTo, 6, 16, 1},  // byte offsets into UTF-8
        {"a@b.c", "c@d.e;bad@x", "", kFieldCc, 6, 11, 2},
        {"a@b.c", "", "q@r.s;t@u.v;w.x@y", kFieldBcc, 12, 17, 3},
    };
    for (const Case& c : cases) {
        MailDraft d = Draft(c.to, c.cc, c.bcc);
        const DraftCheck check = ParseRecipients(d);
        SCOPED_TRACE(c.to + std::string("|") + c.cc + "|" + c.bcc);
        EXPECT_FALSE(check.ok);
        EXPECT_EQ(check.focusField, c.field);
        EXPECT_TRUE(check.hasSelection);
        EXPECT_EQ(check.selStart, c.selStart);
        EXPECT_EQ(check.selEnd, c.selEnd);
        EXPECT_EQ(d.m_recipients.size(), c.kept);
    }
}

class ValidateDraftTest : public ::testing::Test {
protected:
    test::TempDir dir;
};

TEST_F(ValidateDraftTest, FieldsInOrder) {
    const std::string sound = dir.Write("s.wav", "RIFF");
    struct Case {
        const char* name;
        MailDraft draft;
        std::string message;
        int field;
        FollowUp followUp;
    };
    auto with = [](MailDraft d, auto change) {
        change(d);
        return d;
    };
    const Case cases[] = {
        {"sender without @", with(Draft("a@b.c"), [](MailDraft& d) { d.m_strFrom = "me"; }),
         "请正确填写发件人", kFieldFrom, FollowUp::None},
        {"sender @ first", with(Draft("a@b.c"), [](MailDraft& d) { d.m_strFrom = "@me"; }),
         "请正确填写发件人", kFieldFrom, FollowUp::None},
        {"sender @ last", with(Draft("a@b.c"), [](MailDraft& d) { d.m_strFrom = "me@"; }), "请正确填写发件人",
         kFieldFrom, FollowUp::None},
        {"sender line break",
         with(Draft("a@b.c"), [](MailDraft& d) { d.m_strFrom = "me@x\r\nRCPT TO:<v@w.x>"; }),
         "请正确填写发件人", kFieldFrom, FollowUp::None},
        {"To empty", Draft(""), "请正确填写收件人", kFieldTo, FollowUp::None},
        {"To without @", Draft("abc;def"), "请正确填写收件人", kFieldTo, FollowUp::None},
        {"To NUL", Draft(std::string("a@b.c\0x", 7)), "请正确填写收件人", kFieldTo, FollowUp::None},
        {"Cc without @", Draft("a@b.c", "x"), "请正确填写抄送", kFieldCc, FollowUp::None},
        {"Cc LF", Draft("a@b.c", "x@y.z\nBcc: q@r.s"), "请正确填写抄送", kFieldCc, FollowUp::None},
        {"Bcc without @", Draft("a@b.c", "", "x"), "请正确填写暗送", kFieldBcc, FollowUp::None},
        {"Bcc CR", Draft("a@b.c", "", "x@y.z\r"), "请正确填写暗送", kFieldBcc, FollowUp::None},
        // The file checks come before the list parsing.
        {"sound missing",
         with(Draft("bad;a@b.c"), [&](MailDraft& d) { d.m_strSound = (dir.path() / "no.wav").string(); }),
         "无法访问到声音文件", 0, FollowUp::OpenSound},
        {"sound is a folder", with(Draft("a@b.c"), [&](MailDraft& d) { d.m_strSound = dir.path().string(); }),
         "无法访问到声音文件", 0, FollowUp::OpenSound},
        {"picture missing",
         with(Draft("a@b.c"),
              [&](MailDraft& d) {
                  d.m_nBackgroundMode = 1;
                  d.m_strPicture = "/nonexistent/p.gif";
              }),
         "无法访问到背景图片文件", 0, FollowUp::OpenBackground},
        {"recording missing", with(Draft("a@b.c"), [](MailDraft& d) { d.m_strSound = kRecordingMarker; }),
         "无法访问到录音文件", 0, FollowUp::OpenSound},
        {"attachment missing",
         with(Draft("a@b.c"), [&](MailDraft& d) { d.m_attachments = {sound, (dir.path() / "gone").string()}; }),
         "无法访问到附件文件" + (dir.path() / "gone").string(), 0, FollowUp::None},
        {"attachment is a folder", with(Draft("a@b.c"), [&](MailDraft& d) { d.m_attachments = {dir.path().string()}; }),
         "无法访问到附件文件" + dir.path().string(), 0, FollowUp::None},
        {"bad entry", with(Draft("a@b.c;bad"), [&](MailDraft& d) { d.m_strSound = sound; }),
         "请正确填写收件人", kFieldTo, FollowUp::None},
    };
    for (const Case& c : cases) {
        MailDraft d = c.draft;
        const DraftCheck check = ValidateDraft(d, dir.path() / "no-recording.wav");
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(check.ok);
        EXPECT_EQ(check.message, c.message);
        EXPECT_EQ(check.focusField, c.field);
        EXPECT_EQ(check.followUp, c.followUp);
    }
}

TEST_F(ValidateDraftTest, AcceptsAndFillsTheList) {
    MailDraft d = Draft("a@b.c", "d@e.f");
    d.m_strFrom = "me@localhost";     // a sender needs no dot
    d.m_strSound = kRecordingMarker;
    d.m_nBackgroundMode = 0;
    d.m_strPicture = "/nonexistent";  // colour mode ignores the picture
    d.m_attachments = {dir.Write("a.txt", "a")};
    const DraftCheck check = ValidateDraft(d, dir.Write("Sound.wav", "RIFF"));
    EXPECT_TRUE(check.ok);
    EXPECT_TRUE(check.message.empty());
    EXPECT_EQ(d.m_recipients, (std::vector<std::string>{"a@b.c", "d@e.f"}));
}

TEST_F(ValidateDraftTest, NoSelectionWhenToHasNoAtSign) {
    MailDraft d = Draft("nobody");
    const DraftCheck check = ValidateDraft(d, {});
    EXPECT_FALSE(check.hasSelection);
}

}  // namespace
}  // namespace vox
