#include "compose/address_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "compose/mime_writer.h"
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
    // "; d@e.f" is d@e.f again: its blank does not make it another mailbox.
    EXPECT_EQ(d.m_recipients, (std::vector<std::string>{"a@b.c", "d@e.f", "g@h.i", "j@k.l"}));
    EXPECT_EQ(d.m_ccAddresses.size(), 2u);
}

// Each row: the fields as typed; then what the header writer makes of them (From, To and Cc lines) or the
// field check's refusal; then what delivery is given (MAIL FROM > RCPT TO ...) or the entry selected.
TEST(AddressForms, HeaderAndEnvelope) {
    struct Case {
        const char* from;
        const char* to;
        const char* cc;
        const char* bcc;
        bool ok;
        std::string headers;   // ok: the address lines; refused: the message
        std::string envelope;  // ok: "sender > recipient recipient"; refused: the selected text
    };
    const char* me = "me@x.test";
    const Case cases[] = {
        {me, "jane@ok.test", "", "", true, "From: me@x.test\r\nTo: jane@ok.test\r\n", "me@x.test > jane@ok.test"},
        {"张三 <zs@ok.test>", "Jane Roe <jane@ok.test>", "", "", true,
         "From: =?UTF-8?B?5byg5LiJ?= <zs@ok.test>\r\nTo: Jane Roe <jane@ok.test>\r\n", "zs@ok.test > jane@ok.test"},
        {me, " \t Jane Roe  < jane@ok.test >  ", "", "", true, "From: me@x.test\r\nTo: Jane Roe <jane@ok.test>\r\n",
         "me@x.test > jane@ok.test"},
        {me, "a@ok.test; b@ok.test", "", "", true, "From: me@x.test\r\nTo: a@ok.test, b@ok.test\r\n",
         "me@x.test > a@ok.test b@ok.test"},
        {me, "<jane@ok.test>", "", "", true, "From: me@x.test\r\nTo: <jane@ok.test>\r\n", "me@x.test > jane@ok.test"},
        // A quoted name keeps its "," and ";"; the ";" after the closing quote separates.
        {me, "\"Roe, Jane Jr.\" <jane@ok.test>;\"Doe; John\" <john@ok.test>", "", "", true,
         "From: me@x.test\r\nTo: \"Roe, Jane Jr.\" <jane@ok.test>, \"Doe; John\" <john@ok.test>\r\n",
         "me@x.test > jane@ok.test john@ok.test"},
        {me, "\"a;\\\"b\"@ok.test", "", "", true, "From: me@x.test\r\nTo: \"a;\\\"b\"@ok.test\r\n",
         "me@x.test > \"a;\\\"b\"@ok.test"},
        {me, "Jane \"JJ\" Roe <j@ok.test>", "", "", true,
         "From: me@x.test\r\nTo: \"Jane \\\"JJ\\\" Roe\" <j@ok.test>\r\n", "me@x.test > j@ok.test"},
        // International domains: as typed in the headers, IDNA for delivery, case folded by the mapping.
        {"张三 <zs@例子.中国>", "李四 <ls@例子.中国>", "", "", true,
         "From: =?UTF-8?B?5byg5LiJ?= <zs@例子.中国>\r\nTo: =?UTF-8?B?5p2O5Zub?= <ls@例子.中国>\r\n",
         "zs@xn--fsqu00a.xn--fiqs8s > ls@xn--fsqu00a.xn--fiqs8s"},
        {me, "a@MÜNCHEN.de;a@münchen.de", "", "", true, "From: me@x.test\r\nTo: a@MÜNCHEN.de, a@münchen.de\r\n",
         "me@x.test > a@xn--mnchen-3ya.de"},
        {"用户@ok.test", "jane@ok.test", "", "", true, "From: 用户@ok.test\r\nTo: jane@ok.test\r\n",
         "用户@ok.test > jane@ok.test"},
        // Every mailbox once, first appearance first; the domain's case does not count, the local part's does.
        {me, "Jane <jane@Ok.Test>;JANE@ok.test", "jane@ok.test;b@ok.test", "B@OK.TEST;b@ok.test;Jane@ok.test", true,
         "From: me@x.test\r\nTo: Jane <jane@Ok.Test>, JANE@ok.test\r\nCc: jane@ok.test, b@ok.test\r\n",
         "me@x.test > jane@Ok.Test JANE@ok.test b@ok.test B@OK.TEST Jane@ok.test"},
        // Entries delivery cannot use.
        {me, "a@ok.test;Jane <jane@ok.test", "", "", false, "请正确填写收件人", "Jane <jane@ok.test"},
        {me, "Jane <jane@ok.test> Roe;a@ok.test", "", "", false, "请正确填写收件人", "Jane <jane@ok.test> Roe"},
        {me, "a@ok.test", "b@ok.test;Jane <>", "", false, "请正确填写抄送", "Jane <>"},
        {me, "a@ok.test", "", "Jane <  >;b@ok.test", false, "请正确填写暗送", "Jane <  >"},
        {me, "a@ok.test;Jane <jane>", "", "", false, "请正确填写收件人", "Jane <jane>"},
        {me, "Jane <jane@ok.test.>", "", "", false, "请正确填写收件人", "Jane <jane@ok.test.>"},
        {me, "jane@ok.test>", "", "", false, "请正确填写收件人", "jane@ok.test>"},
        {me, "A <b <c@ok.test>>", "", "", false, "请正确填写收件人", "A <b <c@ok.test>>"},
        {me, "a@ok.test; \"Jane <j@ok.test>; k@ok.test", "", "", false, "请正确填写收件人",
         " \"Jane <j@ok.test>; k@ok.test"},
        {me, "a@☃.test", "", "", false, "请正确填写收件人", "a@☃.test"},
        {"张三 <zs@ok.test", "a@ok.test", "", "", false, "请正确填写发件人", ""},
        {"张三 <@ok.test>", "a@ok.test", "", "", false, "请正确填写发件人", ""},
        {"Me <me@x.test>; You <you@x.test>", "a@ok.test", "", "", false, "请正确填写发件人", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " | " + c.to + " | " + c.cc + " | " + c.bcc);
        MailDraft d = Draft(c.to, c.cc, c.bcc);
        d.m_strFrom = c.from;
        const DraftCheck check = ValidateDraft(d, {});
        ASSERT_EQ(check.ok, c.ok) << check.message;
        if (!c.ok) {
            EXPECT_EQ(check.message, c.headers);
            const std::string& field = check.focusField == kFieldTo   ? d.m_strTo
                                       : check.focusField == kFieldCc ? d.m_strCc
                                                                      : d.m_strBcc;
            const std::string selected =
                check.hasSelection ? field.substr(check.selStart, check.selEnd - check.selStart) : "";
            EXPECT_EQ(selected, c.envelope);
            continue;
        }
        CMimeWriter writer;
        writer.WriteMessageHeader(d.m_fromAddress, d.m_toAddresses, d.m_ccAddresses, "", test::kFixedTime, "<1@x>");
        EXPECT_EQ(writer.Text().substr(0, writer.Text().find("Subject:")), c.headers);
        std::string envelope = d.m_fromAddress.envelope + " >";
        for (const std::string& r : d.m_recipients) envelope += " " + r;
        EXPECT_EQ(envelope, c.envelope);
    }
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
