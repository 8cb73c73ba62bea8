#include "base/number_text.h"

#include <gtest/gtest.h>

namespace vox {
namespace {

TEST(ParseUnsignedDecimal, AcceptsDigitsWithBlanksAroundAndNothingElse) {
    struct Case {
        const char* text;
        std::optional<uint32_t> expected;
    };
    const Case cases[] = {
        {"0", 0u},           {"255", 255u},        {" \t42\t ", 42u},      {"007", 7u},
        {"4294967295", UINT32_MAX},                {"4294967296", std::nullopt},
        {"", std::nullopt},  {"  ", std::nullopt}, {"-1", std::nullopt},   {"+1", std::nullopt},
        {"1 2", std::nullopt}, {"12a", std::nullopt}, {"1e3", std::nullopt}, {"\n5", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseUnsignedDecimal(c.text), c.expected) << '"' << c.text << '"';
}

}  // namespace
}  // namespace vox
