#pragma once
// The program's texts are written in Chinese, the language it was first made for; English comes from a
// gettext catalog (po/en.po, the domain "voxletter"). Windows and command line share the one catalog,
// and the logic libraries need nothing but these functions to speak the user's language.
//
// Mark a text where it is used with Tr("…"); a text kept in a table or a constant is marked with N_("…")
// (or sits in a kReason…/k…Text constant that xgettext is told about) and passed through Tr() when shown.

#include <string>

namespace vox {

enum class UiLanguage { Chinese, English };

// The language a desktop program takes from these variables, in the order the C library reads them:
// the first one set and not empty decides (LANGUAGE: its first entry). Chinese for zh_* and for the
// C/POSIX locale (and when nothing is set), English for every other language. Null means unset.
UiLanguage LanguageOfEnvironment(const char* language, const char* lcAll, const char* lcMessages,
                                 const char* lang);

// Reads the process's environment, sets the C library's locale from it (LC_NUMERIC stays "C", so no
// number the program writes changes with the locale) and binds the catalog. Call once at start, before
// any thread, and again once QApplication is made (it sets the locale once more). Without a catalog
// the texts stay Chinese.
void SetUpLanguage();

// The language SetUpLanguage() chose; Chinese before it was called.
UiLanguage CurrentLanguage();

// The text in the user's language (UTF-8). The argument itself comes back when there is no translation.
// (format_arg: the compiler checks a Format(Tr("…%s…"), value) against the source text.)
const char* Tr(const char* text) __attribute__((format_arg(1)));
std::string TrString(const std::string& text);

// printf into a std::string, for a translated text with values in it: Format(Tr("…%s…"), value). The
// catalog keeps each translation's directives those of the source text (msgfmt --check).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vox

// A text to translate later, where it is kept: gettext's usual name.
#define N_(text) text
