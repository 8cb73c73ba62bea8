#include "compose/header_encoding.h"

#include <algorithm>

#include "compose/base64.h"
#include "compose/mail_charset.h"

namespace vox {
namespace {

constexpr std::string_view kWordStart = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";
// An encoded-word may be 75 characters long; 60 Base64 characters (45 bytes) keep within that.
constexpr std::size_t kMaxWordBase64 = 60;
// Past 998 characters a relay may cut or refuse a line. A word that long can only be kept whole by
// encoding it, which lets it be folded.
constexpr std::size_t kLongestPlainWord = 900;

bool IsWsp(char c) {
    return c == ' ' || c == '\t';
}

// Bytes of the UTF-8 character that starts with lead (the text is well formed).
std::size_t CharLength(unsigned char lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// A word a reader could not take as typed: 8-bit or control characters, something a decoder would take
// for an encoded-word, or a word too long for any line.
bool NeedsEncoding(std::string_view word) {
    for (const char ch : word) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x7F || (c < 0x20 && c != '\t')) return true;
    }
    return word.find("=?") != word.npos || word.size() > kLongestPlainWord;
}

// Builds one header field, folding before whitespace when the next piece would pass the width.
class Folder {
public:
    Folder(std::string_view start, std::size_t width) : m_out(start), m_line(start.size()), m_width(width) {}

    // Appends text after the whitespace sep. A piece never folds when sep is empty or the line holds
    // nothing of the value yet.
    void Add(std::string_view sep, std::string_view text) {
        if (!sep.empty() && !text.empty() && m_hasPiece && m_line + sep.size() + text.size() > m_width) {
            Break();
        }
        Put(sep, text);
    }

    // Appends UTF-8 text as encoded-words, after sep. Each word is filled as far as the line allows; the
    // whitespace between two encoded-words is not part of the text, so further words fold freely.
    void AddEncoded(std::string_view sep, std::string_view utf8) {
        std::size_t pos = 0;
        bool first = true;
        while (pos < utf8.size()) {
            const std::string_view s = first ? sep : std::string_view(" ");
            std::size_t n = Fitting(utf8, pos, Capacity(m_line + s.size()));
            if (n == 0 && !s.empty()) {
                Break();
                n = Fitting(utf8, pos, Capacity(s.size()));
            }
            if (n == 0) n = CharLength(static_cast<unsigned char>(utf8[pos]));  // only on a very full line
            std::string word(kWordStart);
            AppendBase64(word, reinterpret_cast<const unsigned char*>(utf8.data() + pos), n);
            word += kWordEnd;
            Put(s, word);
            pos += n;
            first = false;
        }
    }

    std::string Finish() {
        m_out += "\r\n";
        return std::move(m_out);
    }

private:
    void Break() {
        m_out += "\r\n";
        m_line = 0;
    }
    void Put(std::string_view sep, std::string_view text) {
        m_out += sep;
        m_out += text;
        m_line += sep.size() + text.size();
        m_hasPiece = true;
    }
    // Bytes an encoded-word may carry when it starts at column `used`.
    std::size_t Capacity(std::size_t used) const {
        const std::size_t overhead = kWordStart.size() + kWordEnd.size();
        if (used + overhead + 4 > m_width) return 0;
        return std::min(kMaxWordBase64, (m_width - used - overhead) / 4 * 4) / 4 * 3;
    }
    // Bytes of whole characters from pos that fit in capacity.
    static std::size_t Fitting(std::string_view utf8, std::size_t pos, std::size_t capacity) {
        std::size_t n = 0;
        while (pos + n < utf8.size()) {
            const std::size_t len = CharLength(static_cast<unsigned char>(utf8[pos + n]));
            if (n + len > capacity) break;
            n += len;
        }
        return n;
    }

    std::string m_out;
    std::size_t m_line;
    std::size_t m_width;
    bool m_hasPiece = false;
};

struct Token {
    std::string_view space;  // the whitespace before the word
    std::string_view word;
};

std::vector<Token> Tokens(std::string_view text) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t spaceStart = i;
        while (i < text.size() && IsWsp(text[i])) ++i;
        const std::size_t wordStart = i;
        while (i < text.size() && !IsWsp(text[i])) ++i;
        tokens.push_back(
            {text.substr(spaceStart, wordStart - spaceStart), text.substr(wordStart, i - wordStart)});
    }
    return tokens;
}

// Words as typed, except that runs of words that need encoding become encoded-words; the whitespace
// inside such a run is encoded with it, because a reader drops whitespace between two encoded-words.
void AddWords(Folder& folder, std::string_view firstSpace, std::string_view text) {
    const std::vector<Token> tokens = Tokens(text);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string space =
            i == 0 ? std::string(firstSpace) + std::string(tokens[i].space) : std::string(tokens[i].space);
        if (!NeedsEncoding(tokens[i].word)) {
            folder.Add(space, tokens[i].word);
            continue;
        }
        std::size_t last = i;
        while (last + 1 < tokens.size() && NeedsEncoding(tokens[last + 1].word)) ++last;
        const char* begin = tokens[i].word.data();
        const char* end = tokens[last].word.data() + tokens[last].word.size();
        folder.AddEncoded(space, std::string_view(begin, static_cast<std::size_t>(end - begin)));
        i = last;
    }
}

bool IsAtext(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

std::string Quoted(std::string_view text) {
    std::string q = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    q += '"';
    return q;
}

// Percent-encoding of an RFC 2231 value: everything but letters, digits and a few safe marks.
std::string PercentEncoded(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::string_view("!#$&+-.^_`|~").find(ch) != std::string_view::npos) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool IsPlainName(std::string_view name) {
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; });
}

}  // namespace

std::string UnstructuredHeader(std::string_view name, std::string_view utf8) {
    const std::string text = WellFormedUtf8(utf8);
    Folder folder(std::string(name) + ":", kHeaderFoldWidth);
    if (text.empty()) folder.Add(" ", "");
    AddWords(folder, " ", text);
    return folder.Finish();
}

std::string AddressHeader(std::string_view name, const std::vector<MailAddress>& entries) {
    Folder folder(std::string(name) + ":", kHeaderFoldWidth);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const MailAddress& e = entries[i];
        const std::string address = WellFormedUtf8(e.address);
        const std::string comma = i + 1 < entries.size() ? "," : "";
        if (!e.angle) {
            folder.Add(" ", address + comma);
            continue;
        }
        const std::string displayName = WellFormedUtf8(e.name);
        const bool atoms =
            !displayName.empty() && std::all_of(displayName.begin(), displayName.end(),
                                                [](char c) { return IsAtext(c) || IsWsp(c); });
        if (displayName.empty()) {
            // nothing before the address
        } else if (NeedsEncoding(displayName)) {
            folder.AddEncoded(" ", displayName);
        } else if (atoms && !e.nameQuoted) {
            AddWords(folder, " ", displayName);
        } else {
            folder.Add(" ", Quoted(displayName));
        }
        folder.Add(" ", "<" + address + ">" + comma);
    }
    return folder.Finish();
}

std::string NameParameterLines(std::string_view indent, std::string_view utf8Name) {
    const std::string name = WellFormedUtf8(utf8Name);
    const std::string start = std::string(indent) + "name=";
    if (IsPlainName(name)) return start + "\"" + name + "\"\r\n";
    if (!NeedsEncoding(name)) return start + Quoted(name) + "\r\n";
    // Readers that know no RFC 2231 take encoded-words here; the closing quote needs one more column.
    Folder folder(start + "\"", kHeaderFoldWidth - 1);
    folder.AddEncoded("", name);
    std::string lines = folder.Finish();
    lines.insert(lines.size() - 2, "\"");
    return lines;
}

std::string FilenameParameterLines(std::string_view indent, std::string_view utf8Name) {
    const std::string name = WellFormedUtf8(utf8Name);
    const std::string plain = std::string(indent) + "filename=\"" + name + "\"";
    if (IsPlainName(name) && plain.size() <= kHeaderFoldWidth) return plain + "\r\n";
    const std::string single = std::string(indent) + "filename*=UTF-8''" + PercentEncoded(name);
    if (single.size() <= kHeaderFoldWidth) return single + "\r\n";
    // Continuations, each line within the width, never splitting a character's bytes.
    std::string lines;
    std::size_t pos = 0;
    for (int index = 0; pos < name.size(); ++index) {
        std::string line = std::string(indent) + "filename*" + std::to_string(index) + "*=";
        if (index == 0) line += "UTF-8''";
        std::string chunk;
        while (pos < name.size()) {
            const std::size_t len = CharLength(static_cast<unsigned char>(name[pos]));
            const std::string piece = PercentEncoded(std::string_view(name).substr(pos, len));
            // One column stays free for the ";" that separates this line from the next.
            if (!chunk.empty() && line.size() + chunk.size() + piece.size() + 1 > kHeaderFoldWidth) break;
            chunk += piece;
            pos += len;
        }
        lines += line + chunk + (pos < name.size() ? ";\r\n" : "\r\n");
    }
    return lines;
}

}  // namespace vox
