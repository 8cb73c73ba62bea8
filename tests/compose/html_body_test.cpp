#include "compose/html_body.h"

#include <gtest/gtest.h>

#include "compose/mail_charset.h"

namespace vox {
namespace {

const std::string kHead =
    "<HTML>\r\n<HEAD>\r\n<META content=\"text/html; charset=gb2312\" "
    "http-equiv=Content-Type>\r\n</HEAD>\r\n\r\n";

TEST(HtmlBody, EmptyBodyHasNoFontEvenWithAFont) {
    MailDraft d;
    d.m_charFormat.dwEffects = CFE_BOLD;
    EXPECT_EQ(BuildHtmlBody(d), kHead + "<BODY>\r\n</BODY>\r\n</HTML>");
}

TEST(HtmlBody, BodyTagAndSound) {
    struct Case {
        int mode;
        COLORREF color;
        std::string sound;
        int loops;
        std::string expected;  // the lines after the head, up to </BODY>
    };
    const Case cases[] = {
        {0, kWhite, "", 0, "<BODY>\r\n"},
        {0, 0xFF0000, "", 0, "<BODY BGCOLOR=0000ff>\r\n"},
        {0, 0x00FF00, "/x.wav", 3,
         "<BODY BGCOLOR=00ff00>\r\n<BGSOUND SRC=\"cid:VoxLetterYourSound\" loop=3>\r\n"
         "<AUDIO controls src=\"cid:VoxLetterYourSound\"></AUDIO>\r\n"},
        {1, 0xFF0000, kRecordingMarker, 0,
         "<BODY BACKGROUND=cid:VoxLetterYourPictue>\r\n<BGSOUND SRC=\"cid:VoxLetterYourSound\" "
         "loop=INFINITE>\r\n<AUDIO controls src=\"cid:VoxLetterYourSound\" loop></AUDIO>\r\n"},
    };
    for (const Case& c : cases) {
        MailDraft d;
        d.m_nBackgroundMode = c.mode;
        d.m_crBackground = c.color;
        d.m_strPicture = "/pic.gif";
        d.m_strSound = c.sound;
        d.m_nSoundLoops = c.loops;
        EXPECT_EQ(BuildHtmlBody(d), kHead + c.expected + "</BODY>\r\n</HTML>") << c.expected;
    }
}

TEST(HtmlBody, FontSizeTable) {
    // Exact entries, then the nearest entry with ties to the smaller: 9 pt lies between 8 and 10, 11
    // between 10 and 12, 16 between 14 and 18.
    const std::pair<int, int> cases[] = {{160, 1}, {200, 2}, {210, 2}, {240, 3}, {280, 4},  {360, 5},
                                         {480, 6}, {720, 7}, {180, 1}, {220, 2}, {230, 3},  {320, 4},
                                         {330, 5}, {400, 5}, {600, 6}, {601, 7}, {1440, 7}, {20, 1}};
    for (const auto& [twips, size] : cases) EXPECT_EQ(HtmlFontSize(twips), size) << twips;
}

TEST(HtmlBody, FaceIsQuotedOnlyWhenAnUnquotedValueWouldEnd) {
    const std::pair<std::string, std::string> cases[] = {
        {"Arial", "face=Arial "},
        {"宋体", "face=\xCB\xCE\xCC\xE5 "},
        {"Noto-Sans_CJK,serif", "face=Noto-Sans_CJK,serif "},
        {"WenQuanYi Micro Hei", "face=\"WenQuanYi Micro Hei\" "},
        {"a\tb", "face=\"a\tb\" "},
        {"Say \"x\" & 'y'", "face=\"Say &quot;x&quot; &amp; 'y'\" "},
        {"a=b<c>`", "face=\"a=b<c>`\" "},
    };
    for (const auto& [face, attribute] : cases) {
        MailDraft d;
        d.m_strBody = "x";
        d.m_charFormat.szFaceName = face;
        EXPECT_NE(BuildHtmlBody(d).find("<FONT " + attribute + "size=3"), std::string::npos) << face;
    }
}

// The body as typed, the page's bytes for it (between the font's opening and closing lines), and the
// plain-text alternative: lines as typed in both, and only what an HTML parser takes for markup left out.
TEST(HtmlBody, LineBreaksAndPlainText) {
    const struct {
        std::string body, page, text;
    } cases[] = {
        {"Hello\r\nWorld", "Hello<BR>\r\nWorld", "Hello\r\nWorld"},
        {"a\r\n\r\nb\r\n", "a<BR>\r\n<BR>\r\nb<BR>\r\n", "a\r\n\r\nb\r\n"},
        {"lf\nand cr\rend", "lf<BR>\r\nand cr<BR>\r\nend", "lf\r\nand cr\r\nend"},
        {"3 < 4 and 5>2", "3 < 4 and 5>2", "3 < 4 and 5>2"},
        {"a <2", "a <2", "a <2"},
        {"x <b>y</b>", "x <b>y</b>", "x y"},
        {"&amp; &lt;b&gt; &#x4F60;&#22909; &copy;", "&amp; &lt;b&gt; &#x4F60;&#22909; &copy;",
         "& <b> 你好 ©"},
        {"a <b>bold</b> and <br/>\r\n<!-- c --> 你好", "a <b>bold</b> and <br/><BR>\r\n<!-- c --> \xC4\xE3\xBA\xC3",
         "a bold and \r\n 你好"},
        {"1 < 2 > 0, a<3, <<x>", "1 < 2 > 0, a<3, <<x>", "1 < 2 > 0, a<3, <"},
        {"</ 3> <? pi ?>left", "</ 3> <? pi ?>left", " left"},
        {"<style>p{}</style><script>x()</script>seen", "<style>p{}</style><script>x()</script>seen", "seen"},
        // A tag still open at the end is a tag to a reader, which shows nothing of it.
        {"open <tag never closed", "open <tag never closed", "open "},
    };
    for (const auto& c : cases) {
        MailDraft d;
        d.m_strBody = c.body;
        const std::string page = BuildHtmlBody(d);
        const std::string open = "color=#000000>\r\n";
        const std::size_t from = page.find(open) + open.size();
        const std::size_t to = page.find("\r\n\r\n</FONT>");
        ASSERT_NE(to, std::string::npos) << page;
        EXPECT_EQ(page.substr(from, to - from), c.page) << c.body;
        EXPECT_EQ(BuildPlainText(d), c.text) << c.body;
    }
    MailDraft notUtf8;
    notUtf8.m_strBody = "GB \xC4\xE3\xBA\xC3 <b>";
    EXPECT_EQ(BuildPlainText(notUtf8), "GB ???? ");
}

TEST(HtmlBody, ColorTextIsRedGreenBlue) {
    EXPECT_EQ(ColorText(0x0000FF), "ff0000");
    EXPECT_EQ(ColorText(0xFF0000), "0000ff");
    EXPECT_EQ(ColorText(0x123456), "563412");
    EXPECT_EQ(ColorText(0), "000000");
}

TEST(HtmlBody, TextBlock) {
    MailDraft d;
    d.m_strBody = "a < b & \"c\"\r\n第二行 😀";
    d.m_charFormat = {"Noto Sans", 240, 0x0000FF, CFE_BOLD | CFE_UNDERLINE};
    d.m_paraFormat.wAlignment = PFA_CENTER;
    EXPECT_EQ(BuildHtmlBody(d),
              kHead +
                  "<BODY>\r\n<DIV align=center>\r\n<FONT face=\"Noto Sans\" size=3 color=#ff0000>\r\n"
                  "<B><U>a < b & \"c\"<BR>\r\n\xB5\xDA\xB6\xFE\xD0\xD0 &#x1F600;\r\n</U></B>\r\n"
                  "</FONT>\r\n</DIV>\r\n</BODY>\r\n</HTML>");
}

TEST(HtmlBody, EffectsAlignmentAndLongFace) {
    MailDraft d;
    d.m_strBody = "x";
    d.m_charFormat.szFaceName = std::string(40, 'F');
    d.m_charFormat.dwEffects = CFE_ITALIC | CFE_STRIKEOUT | 0x100;
    d.m_paraFormat.wAlignment = 7;
    const std::string page = BuildHtmlBody(d);
    EXPECT_NE(page.find("<DIV align=>\r\n<FONT face=" + std::string(31, 'F') +
                        " size=3 color=#000000>\r\n"
                        "<I><STRIKE>x\r\n</STRIKE></I>\r\n"),
              std::string::npos)
        << page;
}

TEST(MailCharset, TextAndPage) {
    EXPECT_EQ(ToMailText("宋体 abc"), "\xCB\xCE\xCC\xE5 abc");
    EXPECT_EQ(ToMailText("😀"), "\x94\x39\xFC\x36");        // GB18030 keeps it
    EXPECT_EQ(ToMailHtml("😀𠀀x"), "&#x1F600;&#x20000;x");  // GBK cannot hold them
    EXPECT_EQ(ToMailHtml("€"), "\xA2\xE3");
    EXPECT_EQ(ToMailText("a\xFF"
                         "b\xE4\xB8"),
              "a?b??");  // not UTF-8
}

}  // namespace
}  // namespace vox
