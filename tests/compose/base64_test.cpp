#include "compose/base64.h"

#include <gtest/gtest.h>

#include <random>

#include "test_support.h"

namespace vox {
namespace {

std::string Encode(const std::string& in) {
    return EncodeBase64(reinterpret_cast<const unsigned char*>(in.data()),
                        static_cast<std::int32_t>(in.size()));
}

std::string WithoutLineBreaks(std::string s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
            ++i;
            continue;
        }
        out += s[i];
    }
    return out;
}

TEST(Base64, LineEdges) {
    struct Case {
        std::size_t n;
        std::size_t lines;  // CR LF pairs
        bool endsWithBreak;
        std::size_t pads;
    };
    const Case cases[] = {
        {0, 0, false, 0},  {1, 0, false, 2},   {2, 0, false, 1},  {3, 0, false, 0},  {54, 0, false, 0},
        {55, 1, true, 2},  {56, 1, true, 1},   {57, 1, true, 0},  {58, 1, false, 2}, {113, 2, true, 1},
        {114, 2, true, 0}, {115, 2, false, 2}, {171, 3, true, 0},
    };
    std::string data;
    for (const Case& c : cases) {
        data.assign(c.n, '\xA5');
        const std::string out = Encode(data);
        SCOPED_TRACE(c.n);
        EXPECT_EQ(out.size(), Base64EncodedSize(c.n));
        std::size_t breaks = 0;
        for (std::size_t p = out.find("\r\n"); p != out.npos; p = out.find("\r\n", p + 2)) {
            ++breaks;
            // Every break follows a full 76-character line.
            EXPECT_EQ((p + 2) % 78, 0u);
        }
        EXPECT_EQ(breaks, c.lines);
        EXPECT_EQ(out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0, c.endsWithBreak);
        const std::string plain = WithoutLineBreaks(out);
        EXPECT_EQ(plain.size() - plain.find_last_not_of('='), c.pads + 1);
    }
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(EncodeBase64(nullptr, -5), "");
}

TEST(Base64, EqualsStandardBase64ForEveryLengthUpTo400) {
    std::mt19937 rng(7);
    for (std::size_t n = 0; n <= 400; ++n) {
        std::string data(n, '\0');
        for (char& c : data) c = static_cast<char>(rng());
        ASSERT_EQ(WithoutLineBreaks(Encode(data)), test::PlainBase64(data)) << n;
    }
}

TEST(Base64, PiecesOfWholeLinesJoinUp) {
    std::string data(57 * 5 + 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    std::string joined;
    AppendBase64(joined, p, 57 * 2);
    AppendBase64(joined, p + 57 * 2, 57 * 3);
    AppendBase64(joined, p + 57 * 5, 20);
    EXPECT_EQ(joined, Encode(data));
}

}  // namespace
}  // namespace vox
