#include "base/translate.h"

#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace vox {
namespace {

constexpr char kDomain[] = "voxletter";

UiLanguage g_language = UiLanguage::Chinese;  // one per process, set once before threads start

bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }

// The folder that holds en/LC_MESSAGES/voxletter.mo: beside an installed program ../share/locale, else
// the build tree's, where the programs and tests run before they are installed.
std::filesystem::path LocaleFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path installed = exe.parent_path().parent_path() / "share" / "locale";
        if (std::filesystem::exists(installed / "en" / "LC_MESSAGES" / "voxletter.mo", ec))
            return installed;
    }
    return VOX_BUILD_LOCALEDIR;
}

}  // namespace

UiLanguage LanguageOfEnvironment(const char* language, const char* lcAll, const char* lcMessages,
                                 const char* lang) {
    std::string_view name;
    if (IsSet(language)) {
        name = language;
        name = name.substr(0, name.find(':'));
    }
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (!name.empty()) break;
        if (IsSet(value)) name = value;
    }
    // "zh", "zh_CN.UTF-8", "zh_TW@…"; "C", "C.UTF-8", "POSIX".
    const std::string_view code = name.substr(0, name.find_first_of("_.@"));
    if (code.empty() || code == "zh" || code == "C" || code == "POSIX") return UiLanguage::Chinese;
    return UiLanguage::English;
}

void SetUpLanguage() {
    g_language = LanguageOfEnvironment(std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
                                       std::getenv("LC_MESSAGES"), std::getenv("LANG"));
    // A locale that is named but not generated on this machine leaves the C library in "C"; character
    // handling then still needs UTF-8.
    if (std::setlocale(LC_ALL, "") == nullptr) std::setlocale(LC_CTYPE, "C.UTF-8");
    std::setlocale(LC_NUMERIC, "C");
    if (g_language != UiLanguage::English) return;

    // The catalog is looked up under the language's name. gettext ignores LANGUAGE in the "C" locale, so
    // messages get C.UTF-8 there (en_GB, de_DE … take the English catalog too: it is the only one).
    const char* messages = std::setlocale(LC_MESSAGES, nullptr);
    if (messages == nullptr || std::strcmp(messages, "C") == 0 || std::strcmp(messages, "POSIX") == 0)
        std::setlocale(LC_MESSAGES, "C.UTF-8");
    ::setenv("LANGUAGE", "en", 1);
    const std::filesystem::path folder = LocaleFolder();
    if (!folder.empty()) ::bindtextdomain(kDomain, folder.c_str());
    ::bind_textdomain_codeset(kDomain, "UTF-8");
}

UiLanguage CurrentLanguage() { return g_language; }

const char* Tr(const char* text) {
    if (g_language == UiLanguage::Chinese || text == nullptr || *text == '\0') return text;
    return ::dgettext(kDomain, text);
}

std::string TrString(const std::string& text) { return Tr(text.c_str()); }

std::string Format(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (size > 0) {
        text.resize(static_cast<std::size_t>(size) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.pop_back();
    }
    va_end(again);
    return text;
}

}  // namespace vox
