#include "compose/header_encoding.h"

#include <gtest/gtest.h>

#include "compose/content_type.h"
#include "compose/mail_charset.h"
#include "test_support.h"

namespace vox {
namespace {

std::vector<std::string> Lines(const std::string& field) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = field.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(field.substr(start, end - start));
    }
    EXPECT_EQ(start, field.size()) << "the field ends with CR LF";
    return lines;
}

std::string DecodeBase64(std::string_view b64) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0, value = 0;
    for (const char c : b64) {
        if (c == '=') break;
        value = value << 6 | static_cast<unsigned>(kAlphabet.find(c));
        if ((bits += 6) >= 8) out += static_cast<char>(value >> (bits -= 8));
    }
    return out;
}

bool IsUtf8(std::string_view text) {
    char32_t cp = 0;
    for (std::size_t pos = 0, len; pos < text.size(); pos += len) {
        if ((len = DecodeUtf8(text, pos, cp)) == 0) return false;
    }
    return true;
}

// Every line within 78 characters, every encoded-word within 75 and whole characters on its own.
void ExpectWithinLimits(const std::string& field, const std::string& what) {
    for (const std::string& line : Lines(field)) {
        EXPECT_LE(line.size(), kHeaderFoldWidth) << what << ": " << line;
        for (std::size_t at = 0; (at = line.find("=?UTF-8?B?", at)) != std::string::npos;) {
            const std::size_t end = line.find("?=", at + 10);
            ASSERT_NE(end, std::string::npos) << what;
            EXPECT_LE(end + 2 - at, 75u) << what;
            EXPECT_TRUE(IsUtf8(DecodeBase64(line.substr(at + 10, end - at - 10)))) << what << ": " << line;
            at = end + 2;
        }
    }
}

TEST(HeaderEncoding, SubjectsFoldAndEncodeWithinLimits) {
    std::string mixed;
    while (mixed.size() < 600) mixed += "语音 mail 测试😀𠀀 text ";
    const std::string cases[] = {
        "测试",
        mixed,
        std::string(40, 'x') + " " + std::string(30, 'y') + " " + std::string(20, 'z'),
        std::string(300, 'a') + "中",  // one word, 8-bit at its end
        std::string(1000, 'w'),        // longer than a relay keeps
        "Re: =?x?q?y?= as typed",
    };
    for (const std::string& subject : cases)
        ExpectWithinLimits(UnstructuredHeader("Subject", subject), subject);
    // Plain ASCII that fits stays exactly as typed, whitespace included.
    EXPECT_EQ(UnstructuredHeader("Subject", "Hello  world\tagain"), "Subject: Hello  world\tagain\r\n");
    EXPECT_EQ(UnstructuredHeader("Subject", ""), "Subject: \r\n");
    // Folds go before the value's own whitespace, never inside a word.
    EXPECT_EQ(UnstructuredHeader("Subject", std::string(40, 'x') + " " + std::string(40, 'y')),
              "Subject: " + std::string(40, 'x') + "\r\n " + std::string(40, 'y') + "\r\n");
    // Words next to each other are encoded together with the space between them.
    EXPECT_EQ(UnstructuredHeader("Subject", "Re: 你好 世界 ok"),
              "Subject: Re: =?UTF-8?B?5L2g5aW9IOS4lueVjA==?= ok\r\n");
}

TEST(HeaderEncoding, AddressLists) {
    struct Case {
        std::vector<std::string_view> entries;  // as typed, one per field entry
        std::string expected;
    };
    const Case cases[] = {
        {{"a@b.com"}, "To: a@b.com\r\n"},
        {{"a@b.com", " c@d.com "}, "To: a@b.com, c@d.com\r\n"},
        {{"张三 <zs@x.org>"}, "To: =?UTF-8?B?5byg5LiJ?= <zs@x.org>\r\n"},
        {{"\"张三\" <zs@x.org>"}, "To: =?UTF-8?B?5byg5LiJ?= <zs@x.org>\r\n"},
        {{"Ann Lee <a@x.org>", "<b@x.org>"}, "To: Ann Lee <a@x.org>, <b@x.org>\r\n"},
        {{"Lee, Ann <a@x.org>"}, "To: \"Lee, Ann\" <a@x.org>\r\n"},
        {{"\"Lee, Ann\" <a@x.org>"}, "To: \"Lee, Ann\" <a@x.org>\r\n"},
        {{"say \"hi\" \\ <a@x.org>"}, "To: \"say \\\"hi\\\" \\\\\" <a@x.org>\r\n"},
        {{"aaaaaaaaaaaaaaaaaaaa@example.com", "bbbbbbbbbbbbbbbbbbbb@example.com",
          "cccccccccccccccccccc@example.com"},
         "To: aaaaaaaaaaaaaaaaaaaa@example.com, bbbbbbbbbbbbbbbbbbbb@example.com,\r\n"
         " cccccccccccccccccccc@example.com\r\n"},
    };
    const auto parsed = [](const std::vector<std::string_view>& entries) {
        std::vector<MailAddress> list;
        for (const std::string_view e : entries) list.push_back(test::Address(e));
        return list;
    };
    for (const Case& c : cases) EXPECT_EQ(AddressHeader("To", parsed(c.entries)), c.expected) << c.expected;
    ExpectWithinLimits(
        AddressHeader("Cc", parsed({"王小明王小明王小明王小明王小明王小明王小明王小明王小明 <w@x.org>", "a@b.com"})),
        "long name");
}

TEST(HeaderEncoding, FileNameParameters) {
    // Plain names stay as they were written; how readers decode the others is the round trip's business.
    EXPECT_EQ(NameParameterLines("   ", "a b;c=d.txt") + FilenameParameterLines("    ", "a b;c=d.txt"),
              "   name=\"a b;c=d.txt\"\r\n    filename=\"a b;c=d.txt\"\r\n");
    // A long name is continued over several lines, each within the width, no character split.
    const std::string lines = FilenameParameterLines("    ", "很长的中文文件名称很长的中文文件名称.txt");
    EXPECT_EQ(lines,
              "    filename*0*=UTF-8''%E5%BE%88%E9%95%BF%E7%9A%84%E4%B8%AD%E6%96%87%E6%96%87;\r\n"
              "    filename*1*=%E4%BB%B6%E5%90%8D%E7%A7%B0%E5%BE%88%E9%95%BF%E7%9A%84;\r\n"
              "    filename*2*=%E4%B8%AD%E6%96%87%E6%96%87%E4%BB%B6%E5%90%8D%E7%A7%B0.txt\r\n");
    ExpectWithinLimits(
        NameParameterLines("   ", "很长的中文文件名称很长的中文文件名称很长的中文文件名称.txt"), "name");
}

TEST(ContentType, FromContentThenName) {
    struct Case {
        std::string name;
        std::string head;
        std::string type;
    };
    const Case cases[] = {
        {"Sound.wav", std::string("RIFF\x24\0\0\0WAVEfmt ", 16), "audio/wav"},
        {"x.jpg", "GIF89a....", "image/gif"},  // the content wins
        {"photo.JPG", "not really", "image/jpeg"},
        {"tile", "\xFF\xD8\xFF\xE0", "image/jpeg"},
        {"bg.bmp", std::string("BM\x36\0\0\0\0\0\0\0\x36\0\0\0", 14), "image/bmp"},
        {"BMW.dat", "BMW cars", "application/octet-stream"},
        {"pic", std::string("\x01\0\x09\0\0\x03\x10\0\0\0\0\0\0\0\0\0\0\0", 18), "image/wmf"},
        {"pic.wmf", "\xD7\xCD\xC6\x9A", "image/wmf"},
        {"notes.txt", "plain ascii\r\n", "text/plain"},
        {"notes.txt", "中文", "text/plain; charset=\"utf-8\""},
        {"notes.txt", "\xD6\xD0\xCE\xC4", "text/plain; charset=\"gb18030\""},
        {"data.csv", "a,b\n", "text/csv"},
        {"archive.tar.xz",
         "\xFD"
         "7zXZ",
         "application/octet-stream"},
        {"report.pdf", "%PDF-1.4", "application/pdf"},
        {"noext", "", "application/octet-stream"},
    };
    for (const Case& c : cases) EXPECT_EQ(ContentTypeOf(c.name, c.head, true), c.type) << c.name;
    // A piece that ends inside a character is still UTF-8 when more of the file follows.
    EXPECT_EQ(ContentTypeOf("a.txt", "中\xE6\x96", false), "text/plain; charset=\"utf-8\"");
}

}  // namespace
}  // namespace vox
