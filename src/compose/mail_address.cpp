#include "compose/mail_address.h"

#include <idn2.h>

#include <algorithm>

namespace vox {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// The display name without its quotes, when the whole of it is one quoted string; nothing otherwise
// ("Roe" Jane is a name as typed, quotes and all).
bool UnquoteWhole(std::string_view text, std::string& name) {
    if (text.size() < 2 || text.front() != '"') return false;
    std::string inside;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            if (i + 1 != text.size()) return false;
            name = std::move(inside);
            return true;
        }
        if (c == '\\' && i + 1 < text.size()) ++i;
        inside += text[i];
    }
    return false;
}

}  // namespace

AddressForm ParseMailAddress(std::string_view entry, MailAddress& out) {
    const std::string_view text = Trim(entry);
    enum { kBefore, kInside, kAfter } where = kBefore;
    std::size_t lt = 0;
    std::size_t gt = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\')
                ++i;  // the escaped character, whatever it is, stays inside the quotes
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (where == kAfter) {
            if (!IsBlank(c)) return AddressForm::TextAfterAngle;
            continue;
        }
        if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            if (where == kInside) return AddressForm::StrayAngle;
            where = kInside;
            lt = i;
        } else if (c == '>') {
            if (where != kInside) return AddressForm::StrayAngle;
            where = kAfter;
            gt = i;
        }
    }
    if (quoted) return AddressForm::UnclosedQuote;
    if (where == kInside) return AddressForm::UnclosedAngle;

    MailAddress parsed;
    if (where == kBefore) {
        parsed.address = text;
    } else {
        const std::string_view inside = Trim(text.substr(lt + 1, gt - lt - 1));
        if (inside.empty()) return AddressForm::EmptyAngle;
        parsed.angle = true;
        parsed.address = inside;
        const std::string_view name = Trim(text.substr(0, lt));
        parsed.nameQuoted = UnquoteWhole(name, parsed.name);
        if (!parsed.nameQuoted) parsed.name = name;
    }
    // The domain follows the last "@": an "@" in a quoted local part belongs to the local part.
    const std::size_t at = parsed.address.rfind('@');
    if (at == std::string::npos) {
        parsed.envelope = parsed.address;
    } else {
        if (!AsciiDomain(std::string_view(parsed.address).substr(at + 1), parsed.domain))
            return AddressForm::BadDomain;
        parsed.envelope = parsed.address.substr(0, at + 1) + parsed.domain;
    }
    out = std::move(parsed);
    return AddressForm::Ok;
}

bool AsciiDomain(std::string_view domain, std::string& ascii) {
    if (std::all_of(domain.begin(), domain.end(), [](char c) { return (c & 0x80) == 0; })) {
        ascii = domain;
        return true;
    }
    // libidn2 reads up to a NUL; one inside the name would silently make it another name.
    if (domain.find('\0') != std::string_view::npos) return false;
    const std::string name(domain);
    char* converted = nullptr;
    // Non-transitional UTS #46 processing, as today's browsers and mail programs look names up: case is
    // folded and "ß" stays "ß".
    const int rc = idn2_to_ascii_8z(name.c_str(), &converted, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    if (rc != IDN2_OK || converted == nullptr) {
        idn2_free(converted);
        return false;
    }
    ascii = converted;
    idn2_free(converted);
    return true;
}

std::string EnvelopeKey(std::string_view envelope) {
    const std::size_t at = envelope.rfind('@');
    std::string key(envelope);
    if (at == std::string_view::npos) return key;
    std::transform(key.begin() + static_cast<std::ptrdiff_t>(at) + 1, key.end(), key.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return key;
}

}  // namespace vox
