#include "base/translate.h"

#include <gtest/gtest.h>

namespace vox {
namespace {

TEST(LanguageOfEnvironment, FirstSetVariableDecidesChineseForZhAndC) {
    constexpr auto zh = UiLanguage::Chinese;
    constexpr auto en = UiLanguage::English;
    struct Case {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        UiLanguage expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, nullptr, zh},  // nothing set is the C locale
        {nullptr, nullptr, nullptr, "C", zh},
        {nullptr, nullptr, nullptr, "C.UTF-8", zh},
        {nullptr, nullptr, nullptr, "POSIX", zh},
        {nullptr, nullptr, nullptr, "zh_CN.UTF-8", zh},
        {nullptr, nullptr, nullptr, "zh_TW.Big5", zh},
        {nullptr, nullptr, nullptr, "en_US.UTF-8", en},
        {nullptr, nullptr, nullptr, "de_DE.UTF-8", en},  // no German catalog: English, not Chinese
        {nullptr, nullptr, nullptr, "sr_RS@latin", en},
        {nullptr, nullptr, "en_GB.UTF-8", "zh_CN.UTF-8", en},  // LC_MESSAGES before LANG
        {nullptr, "zh_CN.UTF-8", "en_GB.UTF-8", "en_US.UTF-8", zh},  // LC_ALL before both
        {"en:zh", "zh_CN.UTF-8", nullptr, nullptr, en},  // LANGUAGE first, its first entry
        {"zh_CN:en", nullptr, nullptr, "en_US.UTF-8", zh},
        {"", "", "", "fr_FR.UTF-8", en},  // empty counts as unset
        {"", nullptr, nullptr, "", zh},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LanguageOfEnvironment(c.language, c.lcAll, c.lcMessages, c.lang), c.expected)
            << (c.language ? c.language : "-") << ' ' << (c.lcAll ? c.lcAll : "-") << ' '
            << (c.lcMessages ? c.lcMessages : "-") << ' ' << (c.lang ? c.lang : "-");
    }
}

// Format fills a translated text's directives; a text longer than any first guess comes back whole, and
// numbers keep the C locale's form (LC_NUMERIC stays "C").
TEST(Translate, FormatFillsTheDirectives) {
    const std::string longer(5000, 'x');
    EXPECT_EQ(Format("选项%s需要一个值", "--to"), "选项--to需要一个值");
    EXPECT_EQ(Format("%s:%d %zu", "a", -3, std::size_t{7}), "a:-3 7");
    EXPECT_EQ(Format("录音内容当前大小%.2fMB", 1.5), "录音内容当前大小1.50MB");
    EXPECT_EQ(Format("<%s>", longer.c_str()), "<" + longer + ">");
    EXPECT_EQ(Format("%s", ""), "");
}

}  // namespace
}  // namespace vox
