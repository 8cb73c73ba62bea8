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

}  // namespace
}  // namespace vox
