#pragma once
// One address as people write it: "jane@example.test", "Jane Roe <jane@example.test>",
// "\"Roe, Jane\" <jane@example.test>", "张三 <zs@例子.中国>". The field check parses every entry once into
// this; the header writer shows it as typed, delivery speaks only its envelope form.

#include <string>
#include <string_view>

namespace vox {

struct MailAddress {
    std::string name;         // the display name, without its quotes and escapes; empty when none
    bool nameQuoted = false;  // the name was typed as one quoted string
    bool angle = false;       // the address was typed in angle brackets
    std::string address;      // the address proper as typed, without the blanks around it
    std::string domain;       // the text after its last "@", in ASCII (international names as IDNA)
    std::string envelope;     // what DNS and SMTP get: the local part as typed, "@", the ASCII domain
};

// Why an entry cannot be used. Whether the address proper is an address at all (the lenient "@" and "."
// rule) is for the field check to say, not the parser.
enum class AddressForm {
    Ok,
    UnclosedQuote,    // a '"' that no later '"' closes
    UnclosedAngle,    // a "<" without its ">"
    StrayAngle,       // a ">" with no "<" before it, or a second "<" inside the brackets
    TextAfterAngle,   // something other than blanks after the closing ">"
    EmptyAngle,       // "<>", or nothing but blanks inside the brackets
    BadDomain,        // a domain beyond ASCII that has no IDNA form
};

// Parses one entry; the blanks (spaces, tabs) around it do not count. Between double quotes, "<", ">"
// and ";" are plain characters and a backslash keeps the character after it. out is filled only when the
// result is Ok.
AddressForm ParseMailAddress(std::string_view entry, MailAddress& out);

// The domain in the form DNS and SMTP take: unchanged when it is ASCII, else its IDNA A-labels
// ("例子.中国" → "xn--fsqu00a.xn--fiqs8s"). False when a name beyond ASCII has no such form.
bool AsciiDomain(std::string_view domain, std::string& ascii);

// What two envelope addresses share exactly when they are the same mailbox for delivery: the local part
// byte for byte, the domain (after the last "@") without regard to ASCII case.
std::string EnvelopeKey(std::string_view envelope);

}  // namespace vox
