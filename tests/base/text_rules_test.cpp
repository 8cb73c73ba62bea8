#include "base/text_rules.h"

#include <gtest/gtest.h>

namespace vox {
namespace {

TEST(TruncateUtf8, CutsAtACharacterStartAtOrBeforeTheLimit) {
    struct Case {
        std::string text;
        std::size_t maxBytes;
        std::string expected;
    };
    const Case cases[] = {
        {"abc", 5, "abc"}, {"abc", 3, "abc"},   {"abc", 2, "ab"},
        {"abc", 0, ""},    {"a宋体", 4, "a宋"},  // 宋 is three bytes: the limit falls just after it
        {"a宋体", 3, "a"},                       // inside 宋
        {"a宋体", 2, "a"}, {"宋", 2, ""},       {"é€😀", 9, "é€😀"},
        {"é€😀", 8, "é€"},  // the four-byte character does not fit
        {"é€😀", 1, ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        TruncateUtf8(text, c.maxBytes);
        EXPECT_EQ(text, c.expected) << c.text << " to " << c.maxBytes;
    }
}

}  // namespace
}  // namespace vox
