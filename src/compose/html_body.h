#pragma once
// The mail's HTML page: background colour or tiled picture, the background sound, and the body text in
// its one font, size, colour, effects and alignment.

#include <string>

#include "compose/mail_draft.h"

namespace vox {

// The page in the mail's bytes (GB18030, characters outside GBK as numeric references). Reads the draft
// only. The body text is written as typed, tags and all (it is simple hypertext), except that every line
// break becomes "<BR>" and CR LF, so that readers show the lines as they were typed.
std::string BuildHtmlBody(const MailDraft& draft);

// "rrggbb", lower case, of a 0x00BBGGRR colour.
std::string ColorText(COLORREF color);

// The page's font size (1 to 7) for a height in twips: the size of 8, 10, 12, 14, 18, 24 or 36 points
// nearest to it, the smaller of two as near.
int HtmlFontSize(int twips);

// The body as the plain-text alternative shows it (UTF-8): the typed text with whatever an HTML parser
// takes for a tag or a comment left out and character references decoded, line breaks kept as CR LF.
std::string BuildPlainText(const MailDraft& draft);

}  // namespace vox
