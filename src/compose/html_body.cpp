#include "compose/html_body.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <gumbo.h>

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

// Readers join the lines of a page's text into one paragraph; each line break of the body becomes a BR
// element, followed by the line break itself so that the page's source keeps the lines as typed.
// CR LF is the body's line end; a lone LF or CR counts as one too.
std::string WithLineBreakElements(const std::string& body) {
    std::string out;
    out.reserve(body.size() + body.size() / 8);
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c != '\r' && c != '\n') {
            out += c;
            continue;
        }
        if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
        out += "<BR>\r\n";
    }
    return out;
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
    // What a reader of the page sees of the text, found the way the reader finds it: an HTML parser reads
    // the body as the content of the page's BODY, so exactly what it takes for a tag or a comment goes
    // ("3 < 4" and "a <2" are text to it) and character references become their characters ("&amp;" is
    // "&"). The text part is labelled UTF-8; bytes that are not become "?", as they do in the page.
    const std::string body = WellFormedUtf8(draft.m_strBody);
    GumboOptions options = kGumboDefaultOptions;
    options.fragment_context = GUMBO_TAG_BODY;
    options.fragment_namespace = GUMBO_NAMESPACE_HTML;
    GumboOutput* output = gumbo_parse_with_options(&options, body.data(), body.size());
    if (output == nullptr) return body;

    std::string text;
    text.reserve(body.size());
    // Depth first, in document order, without recursion: a body of many nested tags is still only text.
    std::vector<const GumboNode*> pending{output->root};
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        switch (node->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
            for (const char* c = node->v.text.text; *c != '\0'; ++c) {
                // The parser reads every line end as LF; the text keeps the body's own CR LF.
                if (*c == '\n') text += '\r';
                text += *c;
            }
            break;
        case GUMBO_NODE_DOCUMENT:
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE: {
            const GumboVector& children =
                node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
            if (node->type != GUMBO_NODE_DOCUMENT) {
                // Readers do not show the content of these.
                const GumboTag tag = node->v.element.tag;
                if (tag == GUMBO_TAG_SCRIPT || tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_TITLE ||
                    node->type == GUMBO_NODE_TEMPLATE)
                    break;
            }
            for (unsigned i = children.length; i > 0; --i)
                pending.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
            break;
        }
        case GUMBO_NODE_COMMENT:
            break;
        }
    }
    gumbo_destroy_output(&options, output);
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
        page += WithLineBreakElements(draft.m_strBody);
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
