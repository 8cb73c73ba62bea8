#pragma once
// The mail's own bytes. Inside the program every text is UTF-8. The page declares charset="gb2312" and
// carries GB18030, which is byte for byte GB2312 wherever GB2312 has the character and loses nothing else;
// header fields and the plain-text part are UTF-8, which every reader decodes.

#include <string>
#include <string_view>

namespace vox {

// UTF-8 to GB18030. Bytes that are not UTF-8 become "?".
std::string ToMailText(std::string_view utf8);

// UTF-8 to GB18030 for the HTML page: characters that GBK cannot hold (four-byte GB18030 codes, which
// GB2312 readers would show as garbage) become numeric references such as "&#x1F600;".
std::string ToMailHtml(std::string_view utf8);

// The text with every byte that is not part of well-formed UTF-8 replaced by "?", for the parts of the
// mail that are labelled UTF-8.
std::string WellFormedUtf8(std::string_view text);

// Decodes one UTF-8 character at text[pos]; returns its length (1 to 4) and sets codePoint, or 0 when the
// bytes there are not well-formed UTF-8.
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& codePoint);

}  // namespace vox
