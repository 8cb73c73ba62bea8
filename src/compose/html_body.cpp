#include "compose/html_body.h"

#include <cstdio>

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

}  // namespace

std::string ColorText(COLORREF color) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x%02x%02x", static_cast<unsigned>(color & 0xFF),
                  static_cast<unsigned>((color >> 8) & 0xFF), static_cast<unsigned>((color >> 16) & 0xFF));
    return buf;
}

int HtmlFontSize(int twips) {
    static constexpr int kPoints[] = {8, 10, 12, 14, 18, 24, 36};
    const int points = twips / 20;
    int i = 0;
    while (i < 7 && kPoints[i] != points) ++i;
    return i + 1;
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
        page += FaceNameForMail(cf.szFaceName);
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
