#pragma once
// Small rules for UTF-8 text that several places apply the same way.

#include <cstddef>
#include <string>
#include <string_view>

namespace vox {

// A CR, LF or NUL would end the header line or protocol command the text is written into, and let the
// rest pass as something else.
bool HasLineBreakOrNul(std::string_view text);

// Cuts text to at most maxBytes bytes without splitting a UTF-8 character: the cut moves back to the start
// of the character it would fall into.
void TruncateUtf8(std::string& text, std::size_t maxBytes);

// text without the given characters at either end (settings files, DNS and XML values).
std::string TrimBlanks(std::string_view text, std::string_view blanks = " \t\r\n");

// ASCII letters in lower case, every other byte as it was: domain names, tags and key words.
std::string AsciiLower(std::string text);

}  // namespace vox
