#include "compose/mail_charset.h"

#include <iconv.h>

#include <cstdio>

namespace vox {
namespace {

// One conversion descriptor per call: the texts are short, and nothing is shared between threads.
class Gb18030Converter {
public:
    Gb18030Converter() : m_cd(iconv_open("GB18030", "UTF-8")) {}
    ~Gb18030Converter() {
        if (m_cd != kInvalid) iconv_close(m_cd);
    }
    Gb18030Converter(const Gb18030Converter&) = delete;
    Gb18030Converter& operator=(const Gb18030Converter&) = delete;

    // Appends the GB18030 bytes of one well-formed UTF-8 character; returns how many were appended.
    std::size_t Append(std::string& out, std::string_view utf8Char) {
        char buf[16];
        char* in = const_cast<char*>(utf8Char.data());
        std::size_t inLeft = utf8Char.size();
        char* o = buf;
        std::size_t outLeft = sizeof buf;
        if (m_cd == kInvalid || iconv(m_cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1)) {
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            return 0;
        }
        const std::size_t n = static_cast<std::size_t>(o - buf);
        out.append(buf, n);
        return n;
    }

private:
    static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
    iconv_t m_cd;
};

template <typename OnWide>
std::string Convert(std::string_view utf8, OnWide onWide) {
    std::string out;
    out.reserve(utf8.size());
    Gb18030Converter conv;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const auto c = static_cast<unsigned char>(utf8[pos]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++pos;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(utf8, pos, cp);
        if (len == 0) {
            out.push_back('?');
            ++pos;
            continue;
        }
        const std::size_t mark = out.size();
        const std::size_t written = conv.Append(out, utf8.substr(pos, len));
        if (written == 0) {
            out.push_back('?');
        } else if (written == 4) {
            onWide(out, mark, cp);
        }
        pos += len;
    }
    return out;
}

}  // namespace

std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& codePoint) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c = at(pos);
    std::size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (c < 0x80) {
        codePoint = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (pos + len > text.size()) return 0;
    for (std::size_t i = 1; i < len; ++i) {
        const unsigned char t = at(pos + i);
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    codePoint = cp;
    return len;
}

std::string WellFormedUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(text, pos, cp);
        if (len == 0) {
            out += '?';
            ++pos;
        } else {
            out.append(text.substr(pos, len));
            pos += len;
        }
    }
    return out;
}

std::string ToMailText(std::string_view utf8) {
    return Convert(utf8, [](std::string&, std::size_t, char32_t) {});
}

std::string ToMailHtml(std::string_view utf8) {
    return Convert(utf8, [](std::string& out, std::size_t mark, char32_t cp) {
        char ref[16];
        const int n = std::snprintf(ref, sizeof ref, "&#x%X;", static_cast<unsigned>(cp));
        out.resize(mark);
        out.append(ref, static_cast<std::size_t>(n));
    });
}

}  // namespace vox
