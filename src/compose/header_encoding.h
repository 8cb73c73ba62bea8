#pragma once
// Header fields as today's readers decode them: text that is not plain ASCII travels as encoded-words
// (UTF-8, Base64), file names as RFC 2231 parameters, address lists separated by commas, and every line
// folded at 78 characters where a fold is allowed. Plain ASCII values are written exactly as typed.

#include <string>
#include <string_view>
#include <vector>

#include "compose/mail_address.h"

namespace vox {

// Lines are folded to at most this many characters wherever the value allows it.
inline constexpr std::size_t kHeaderFoldWidth = 78;

// "Subject: …\r\n": words that are not plain ASCII become encoded-words, each at most 75 characters and
// never splitting a character; ASCII words stay as typed. Folded at the value's own whitespace.
std::string UnstructuredHeader(std::string_view name, std::string_view utf8);

// "To: …\r\n" from the parsed entries of a list: each address proper as typed, after its display name
// (encoded or quoted as needed) when it was typed in angle brackets. Entries are written separated by ", ".
std::string AddressHeader(std::string_view name, const std::vector<MailAddress>& entries);

// The file-name parameter lines of a part, each "\r\n"-terminated and starting with indent:
// `name="…"` for Content-Type and `filename="…"` for Content-Disposition. A name of plain printable ASCII
// without quote or backslash that fits the line is written quoted as it stands; any other name is written
// as RFC 2047 encoded-words (name) and RFC 2231 `filename*=UTF-8''…` (filename, continued over several
// lines when long).
std::string NameParameterLines(std::string_view indent, std::string_view utf8Name);
std::string FilenameParameterLines(std::string_view indent, std::string_view utf8Name);

}  // namespace vox
