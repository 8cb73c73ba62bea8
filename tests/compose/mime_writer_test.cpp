#include "compose/mime_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "compose/base64.h"
#include "test_support.h"

namespace vox {
namespace {

class MimeWriterTest : public ::testing::Test {
protected:
    void SetUp() override { test::UseFixedZone(); }
    test::TempDir dir;
    CMimeWriter writer;
};

TEST_F(MimeWriterTest, HeaderBlock) {
    writer.WriteMessageHeader(test::Address("me@x.org"), test::Addresses("a@b.com;c@d.com"),
                              test::Addresses("e@f.com"), "Hello", test::kFixedTime, "<1@x.org>");
    EXPECT_EQ(writer.Text(),
              "From: me@x.org\r\n"
              "To: a@b.com, c@d.com\r\n"
              "Cc: e@f.com\r\n"
              "Subject: Hello\r\n"
              "Content-Type: multipart/mixed;\r\n"
              "    boundary=\"==VoxLetter_Multipart==\";\r\n"
              "Date: Mon, 07 Dec 2026 13:14:05 +0800\r\n"
              "Message-ID: <1@x.org>\r\n"
              "Mime-Version: 1.0\r\n"
              "\r\n"
              "This is a multi-part message in MIME format.\r\n"
              "\r\n");
}

TEST_F(MimeWriterTest, NoCcLineAndEmptySubjectAndEncodedName) {
    writer.WriteMessageHeader(test::Address("我 <me@x.org>"), test::Addresses("a@b.com"), {}, "",
                              test::kFixedTime, "<1@x.org>");
    EXPECT_TRUE(writer.Text().starts_with(
        "From: =?UTF-8?B?5oiR?= <me@x.org>\r\nTo: a@b.com\r\nSubject: \r\nContent-Type:"));
}

TEST_F(MimeWriterTest, MessageIdTakesTheSendersDomain) {
    const std::pair<const char*, const char*> cases[] = {
        {"me@x.org", "<u@x.org>"},
        {"张三 <zs@mail.example.cn>", "<u@mail.example.cn>"},
        {"me@localhost", "<u@localhost>"},
        {"me@例子.中国", "<u@xn--fsqu00a.xn--fiqs8s>"},  // the name's ASCII form
        {"me@[10.0.0.1]", "<u@voxletter.invalid>"},
        {"me@x..org", "<u@voxletter.invalid>"},
    };
    for (const auto& [from, id] : cases) EXPECT_EQ(MessageIdFor(test::Address(from).domain, "u"), id) << from;
    // Two mails in the same second still differ.
    EXPECT_NE(NewMessageIdUnique(test::kFixedTime), NewMessageIdUnique(test::kFixedTime));
}

TEST_F(MimeWriterTest, DateHasNumericZoneAndEnglishNames) {
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
    EXPECT_EQ(FormatMailDate(test::kFixedTime), "Mon, 07 Dec 2026 00:14:05 -0500");
    EXPECT_EQ(FormatMailDate(1784000000), "Mon, 13 Jul 2026 23:33:20 -0400");  // daylight saving
    setenv("TZ", "IST-5:30", 1);
    tzset();
    EXPECT_EQ(FormatMailDate(0), "Thu, 01 Jan 1970 05:30:00 +0530");
    test::UseFixedZone();
}

TEST_F(MimeWriterTest, HtmlPart) {
    writer.WriteHtmlPart("hi", "<HTML></HTML>");
    EXPECT_EQ(writer.Text(),
              "--==VoxLetter_Multipart==\r\n"
              "Content-Type: multipart/alternative;\r\n"
              "    boundary=\"==VoxLetter_Plume==\"\r\n"
              "\r\n"
              "--==VoxLetter_Plume==\r\n"
              "Content-Type: text/plain;\r\n"
              "    charset=\"utf-8\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "\r\n"
              "aGk=\r\n"
              "\r\n"
              "--==VoxLetter_Plume==\r\n"
              "Content-Type: text/html;\r\n"
              "    charset=\"gb2312\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "\r\n"
              "PEhUTUw+PC9IVE1MPg==\r\n"
              "\r\n"
              "--==VoxLetter_Plume==--\r\n"
              "\r\n");
}

TEST_F(MimeWriterTest, AttachmentAndInlineParts) {
    const std::string path = dir.Write("报告.bin", "abc");
    ASSERT_TRUE(writer.WriteFilePart(path, ""));
    EXPECT_EQ(writer.Text(),
              "--==VoxLetter_Multipart==\r\n"
              "Content-Type: application/octet-stream;\r\n"
              "   name=\"=?UTF-8?B?5oql5ZGKLmJpbg==?=\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment;\r\n"
              "    filename*=UTF-8''%E6%8A%A5%E5%91%8A.bin\r\n"
              "\r\n"
              "YWJj\r\n\r\n");
    CMimeWriter inlined;
    ASSERT_TRUE(
        inlined.WriteFilePart(dir.Write("tile.gif", "GIF89a"), kPictureContentId, PartDisposition::Inline));
    EXPECT_EQ(inlined.Text(),
              "--==VoxLetter_Multipart==\r\n"
              "Content-Type: image/gif;\r\n"
              "   name=\"tile.gif\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: inline;\r\n"
              "    filename=\"tile.gif\"\r\n"
              "Content-ID: <VoxLetterYourPictue>\r\n"
              "\r\n"
              "R0lGODlh\r\n\r\n");
}

TEST_F(MimeWriterTest, EmptyFileAndFullLastLine) {
    const std::string empty = dir.Write("empty", "");
    ASSERT_TRUE(writer.WriteFilePart(empty, kPictureContentId));
    EXPECT_TRUE(writer.Text().ends_with("Content-ID: <VoxLetterYourPictue>\r\n\r\n\r\n\r\n"));

    // 57 bytes fill one line, which already ends with CR LF: two empty lines follow.
    CMimeWriter full;
    ASSERT_TRUE(full.WriteFilePart(dir.Write("line", std::string(57, 'x')), "id"));
    EXPECT_TRUE(full.Text().ends_with("eHh4\r\n\r\n\r\n"));
}

TEST_F(MimeWriterTest, LargeFileEqualsOneEncoding) {
    // Larger than one read piece, and not a multiple of a line.
    std::string data(2'000'003, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) >> 3);
    ASSERT_TRUE(writer.WriteFilePart(dir.Write("big", data), "id"));
    std::string expected;
    AppendBase64(expected, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    const std::string& text = writer.Text();
    const std::size_t body = text.find("\r\n\r\n") + 4;
    EXPECT_EQ(text.substr(body), expected + "\r\n\r\n");
}

TEST_F(MimeWriterTest, UnreadableFilesAppendNothing) {
    writer.WriteHtmlPart("x", "x");
    const std::string before = writer.Text();
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // /proc/self/mem opens as a regular file, and reading its first page (never mapped) fails: a read
    // error after a successful open.
    for (const std::string& path :
         {(dir.path() / "missing").string(), dir.path().string(), fifo, std::string("/proc/self/mem")}) {
        EXPECT_FALSE(writer.WriteFilePart(path, "")) << path;
        EXPECT_EQ(writer.Text(), before) << path;
    }
}

TEST_F(MimeWriterTest, FinishHandsOverAndNextMessageStartsAfresh) {
    writer.WriteMessageHeader(test::Address("a@b.c"), test::Addresses("d@e.f"), {}, "first", test::kFixedTime,
                              "<1@b.c>");
    const std::string first = writer.FinishMessage();
    EXPECT_TRUE(first.ends_with("\r\n--==VoxLetter_Multipart==--\r\n"));
    writer.WriteMessageHeader(test::Address("a@b.c"), test::Addresses("d@e.f"), {}, "second", test::kFixedTime,
                              "<1@b.c>");
    const std::string second = writer.FinishMessage();
    EXPECT_EQ(second.find("first"), std::string::npos);
    EXPECT_EQ(second.size(), first.size() + 1);
}

}  // namespace
}  // namespace vox
