#include "compose/html_body.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "base/text_rules.h"
#include "compose/mail_charset.h"
#include "compose/mime_writer.h"

namespace vox {
namespace {

// The face name field of the body's character format holds 31 bytes and a NUL. Longer names are cut at a
// character boundary so that the mail's bytes fit.
std::string FaceNameForMail(const std::string& face) {
    std::string name = face;
    while (ToMailHtml(name).size() > 31 && !name.empty()) {
        TruncateUtf8(name, name.size() - 1);  // one character less
    }
    return name;
}

// An unquoted attribute value ends at whitespace and cannot hold these; a face such as
// "WenQuanYi Micro Hei" would otherwise be read as "WenQuanYi" and two stray attributes.
std::string FaceAttribute(const std::string& face) {
    if (face.find_first_of(" \t\r\n\f\"'=<>`") == std::string::npos) return face;
    std::string quoted = "\"";
    for (const char c : face) {
        if (c == '"') {
            quoted += "&quot;";
        } else if (c == '&') {
            quoted += "&amp;";
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace

std::string ColorText(COLORREF color) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x%02x%02x", static_cast<unsigned>(color & 0xFF),
                  static_cast<unsigned>((color >> 8) & 0xFF), static_cast<unsigned>((color >> 16) & 0xFF));
    return buf;
}

int HtmlFontSize(int twips) {
    // Readers know seven sizes only; a height between two of them takes the nearer, and the smaller
    // when both are as near, so that the text never shows larger than chosen by a whole step.
    static constexpr int kTwips[] = {160, 200, 240, 280, 360, 480, 720};
    int best = 0;
    for (int i = 1; i < 7; ++i) {
        if (std::abs(twips - kTwips[i]) < std::abs(twips - kTwips[best])) best = i;
    }
    return best + 1;
}

std::string BuildPlainText(const MailDraft& draft) {
    // What a reader of the page sees of the text: whatever it takes for a tag is not shown.
    // The text part is labelled UTF-8; bytes that are not become "?", as they do in the page.
    const std::string body = WellFormedUtf8(draft.m_strBody);
    std::string text;
    text.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char next = i + 1 < body.size() ? body[i + 1] : '\0';
        const bool tagStart = body[i] == '<' && (std::isalpha(static_cast<unsigned char>(next)) ||
                                                 next == '/' || next == '!' || next == '?');
        const std::size_t close = tagStart ? body.find('>', i) : std::string::npos;
        if (close == std::string::npos) {
            text += body[i];
        } else {
            i = close;
        }
    }
    return text;
}

std::string BuildHtmlBody(const MailDraft& draft) {
    std::string page;
    page.reserve(512 + draft.m_strBody.size());
    page += "<HTML>\r\n";
    page += "<HEAD>\r\n";
    page += "<META content=\"text/html; charset=gb2312\" http-equiv=Content-Type>\r\n";
    page += "</HEAD>\r\n";
    page += "\r\n";
    page += "<BODY";
    if (draft.m_nBackgroundMode == 1) {
        page += " BACKGROUND=cid:";
        page += kPictureContentId;
    } else if (draft.m_nBackgroundMode == 0 && (draft.m_crBackground & 0xFFFFFF) != kWhite) {
        page += " BGCOLOR=";
        page += ColorText(draft.m_crBackground);
    }
    page += ">\r\n";
    if (!draft.m_strSound.empty()) {
        page += "<BGSOUND SRC=\"cid:";
        page += kSoundContentId;
        page += "\" loop=";
        page += draft.m_nSoundLoops == 0 ? std::string("INFINITE") : std::to_string(draft.m_nSoundLoops);
        page += ">\r\n";
        // Only old readers play BGSOUND; every current one shows a player for this.
        page += "<AUDIO controls src=\"cid:";
        page += kSoundContentId;
        page += draft.m_nSoundLoops == 0 ? "\" loop>" : "\">";
        page += "</AUDIO>\r\n";
    }
    if (!draft.m_strBody.empty()) {
        const CharFormat& cf = draft.m_charFormat;
        page += "<DIV align=";
        switch (draft.m_paraFormat.wAlignment) {
            case PFA_LEFT:
                page += "left";
                break;
            case PFA_RIGHT:
                page += "right";
                break;
            case PFA_CENTER:
                page += "center";
                break;
            default:
                break;
        }
        page += ">\r\n";
        page += "<FONT face=";
        page += FaceAttribute(FaceNameForMail(cf.szFaceName));
        page += " size=";
        page += std::to_string(HtmlFontSize(cf.yHeight));
        page += " color=#";
        page += ColorText(cf.crTextColor);
        page += ">\r\n";
        if (cf.dwEffects & CFE_BOLD) page += "<B>";
        if (cf.dwEffects & CFE_ITALIC) page += "<I>";
        if (cf.dwEffects & CFE_UNDERLINE) page += "<U>";
        if (cf.dwEffects & CFE_STRIKEOUT) page += "<STRIKE>";
        page += draft.m_strBody;
        page += "\r\n";
        if (cf.dwEffects & CFE_STRIKEOUT) page += "</STRIKE>";
        if (cf.dwEffects & CFE_UNDERLINE) page += "</U>";
        if (cf.dwEffects & CFE_ITALIC) page += "</I>";
        if (cf.dwEffects & CFE_BOLD) page += "</B>";
        page += "\r\n";
        page += "</FONT>\r\n";
        page += "</DIV>\r\n";
    }
    page += "</BODY>\r\n";
    page += "</HTML>";
    return ToMailHtml(page);
}

}  // namespace vox
