#pragma once
// The parts of a finished mail, decoded: enough MIME to check what a reader would take out of it.

#include <QByteArray>
#include <QList>

namespace vox::test {

struct MailPart {
    QByteArray headers;  // the part's header lines, unfolded, names in lower case
    QByteArray body;     // after the transfer encoding is undone
};

namespace detail {

inline QByteArray HeaderParam(const QByteArray& headers, const QByteArray& name) {
    const int at = headers.indexOf(name + "=");
    if (at < 0) return {};
    int start = at + name.size() + 1;
    if (headers.mid(start, 1) == "\"")
        return headers.mid(start + 1, headers.indexOf('"', start + 1) - start - 1);
    int end = start;
    while (end < headers.size() && headers[end] != ';' && headers[end] != '\r' && headers[end] != ' ') ++end;
    return headers.mid(start, end - start);
}

inline QByteArray Unfold(const QByteArray& block) {
    QByteArray out;
    for (const QByteArray& line : block.split('\n')) {
        QByteArray l = line;
        if (l.endsWith('\r')) l.chop(1);
        if (!l.isEmpty() && (l[0] == ' ' || l[0] == '\t')) {
            out += ' ' + l.trimmed();
        } else {
            if (!out.isEmpty()) out += '\n';
            const int colon = l.indexOf(':');
            out += colon > 0 ? l.left(colon).toLower() + l.mid(colon) : l;
        }
    }
    return out;
}

inline QByteArray Decode(const QByteArray& headers, const QByteArray& body) {
    if (headers.toLower().contains("content-transfer-encoding: base64")) return QByteArray::fromBase64(body);
    if (headers.toLower().contains("content-transfer-encoding: quoted-printable")) {
        QByteArray out, text = body;
        text.replace("=\r\n", "");
        for (int i = 0; i < text.size(); ++i) {
            if (text[i] == '=' && i + 2 < text.size()) {
                out += static_cast<char>(text.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
            } else {
                out += text[i];
            }
        }
        return out;
    }
    return body;
}

inline void Walk(const QByteArray& entity, QList<MailPart>& parts) {
    int split = entity.indexOf("\r\n\r\n");
    if (split < 0) return;
    const QByteArray headers = Unfold(entity.left(split));
    const QByteArray body = entity.mid(split + 4);
    if (!headers.toLower().contains("content-type: multipart/")) {
        parts.append({headers, Decode(headers, body)});
        return;
    }
    const QByteArray delimiter = "--" + HeaderParam(headers, "boundary");
    int at = body.indexOf(delimiter);
    while (at >= 0) {
        const int start = body.indexOf("\r\n", at) + 2;
        if (body.mid(at + delimiter.size(), 2) == "--" || start < 2) break;
        int next = body.indexOf("\r\n" + delimiter, start);
        if (next < 0) next = body.size();
        Walk(body.mid(start, next - start), parts);
        at = next < body.size() ? next + 2 : -1;
    }
}

}  // namespace detail

// Every leaf part of the mail, in order.
inline QList<MailPart> MailParts(const QByteArray& mail) {
    QList<MailPart> parts;
    detail::Walk(mail, parts);
    return parts;
}

// The first part whose headers contain the text, or an empty part.
inline MailPart FindPart(const QList<MailPart>& parts, const QByteArray& headerText) {
    for (const MailPart& part : parts)
        if (part.headers.contains(headerText)) return part;
    return {};
}

}  // namespace vox::test
