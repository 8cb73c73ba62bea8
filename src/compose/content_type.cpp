#include "compose/content_type.h"

#include <algorithm>
#include <cctype>

#include "compose/mail_charset.h"

namespace vox {
namespace {

struct Signature {
    std::size_t offset;
    std::string_view bytes;
    const char* type;
};

// Formats whose first bytes say what they are. The content wins over the name: a GIF saved as ".jpg"
// is still shown.
constexpr Signature kSignatures[] = {
    {8, "WAVE", "audio/wav"},  // after "RIFF" and the length, checked below
    {0, "\xFF\xD8\xFF", "image/jpeg"},
    {0, "GIF87a", "image/gif"},
    {0, "GIF89a", "image/gif"},
    {0, "\x89PNG\r\n\x1A\n", "image/png"},
    {0, "\xD7\xCD\xC6\x9A", "image/wmf"},  // placeable metafile
    {0, "ID3", "audio/mpeg"},
    {0, "OggS", "audio/ogg"},
    {0, "fLaC", "audio/flac"},
    {0, "MThd", "audio/midi"},
    {0, "%PDF-", "application/pdf"},
};

// Types by extension, for what the first bytes do not tell (text above all). Extensions are lower case,
// separated by spaces.
struct ExtensionType {
    const char* type;
    std::string_view extensions;
};

constexpr ExtensionType kExtensions[] = {
    {"text/plain", "txt text log"},
    {"text/csv", "csv"},
    {"text/html", "htm html"},
    {"text/xml", "xml"},
    {"audio/wav", "wav"},
    {"audio/mpeg", "mp3"},
    {"audio/ogg", "ogg oga opus"},
    {"audio/flac", "flac"},
    {"audio/midi", "mid midi"},
    {"audio/basic", "au snd"},
    {"audio/aiff", "aif aiff"},
    {"audio/mp4", "m4a"},
    {"image/jpeg", "jpg jpeg jpe"},
    {"image/gif", "gif"},
    {"image/bmp", "bmp dib"},
    {"image/png", "png"},
    {"image/wmf", "wmf"},
    {"image/tiff", "tif tiff"},
    {"image/webp", "webp"},
    {"image/svg+xml", "svg"},
    {"video/mp4", "mp4"},
    {"video/x-msvideo", "avi"},
    {"application/pdf", "pdf"},
    {"application/rtf", "rtf"},
    {"application/zip", "zip"},
    {"application/gzip", "gz"},
    {"application/msword", "doc"},
    {"application/vnd.ms-excel", "xls"},
    {"application/vnd.ms-powerpoint", "ppt"},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", "docx"},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "xlsx"},
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation", "pptx"},
    {"application/vnd.oasis.opendocument.text", "odt"},
    {"application/vnd.oasis.opendocument.spreadsheet", "ods"},
};

bool StartsAt(std::string_view head, std::size_t offset, std::string_view bytes) {
    return head.size() >= offset + bytes.size() && head.substr(offset, bytes.size()) == bytes;
}

const char* FromContent(std::string_view head) {
    for (const Signature& s : kSignatures) {
        if (s.offset == 8 && !StartsAt(head, 0, "RIFF")) continue;
        if (StartsAt(head, s.offset, s.bytes)) return s.type;
    }
    // "BM" alone is too short to trust: the header's reserved words are zero in every bitmap file.
    if (StartsAt(head, 0, "BM") && head.size() >= 14 &&
        head.substr(6, 4) == std::string_view("\0\0\0\0", 4)) {
        return "image/bmp";
    }
    // A standard metafile: type 1 or 2, a header of 9 words, version 0x100 or 0x300.
    if (head.size() >= 18 && (head[0] == 1 || head[0] == 2) && head[1] == 0 && head[2] == 9 && head[3] == 0 &&
        head[4] == 0 && (head[5] == 1 || head[5] == 3)) {
        return "image/wmf";
    }
    return nullptr;
}

const char* FromName(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == name.npos || dot + 1 == name.size()) return nullptr;
    std::string ext(name.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const ExtensionType& e : kExtensions) {
        for (std::size_t start = 0; start < e.extensions.size();) {
            std::size_t end = e.extensions.find(' ', start);
            if (end == std::string_view::npos) end = e.extensions.size();
            if (e.extensions.substr(start, end - start) == ext) return e.type;
            start = end + 1;
        }
    }
    return nullptr;
}

// "utf-8", "gb18030", or empty for ASCII. A head that is not the whole file may end inside a character.
std::string TextCharset(std::string_view head, bool complete) {
    bool ascii = true;
    for (std::size_t pos = 0; pos < head.size();) {
        if (static_cast<unsigned char>(head[pos]) < 0x80) {
            ++pos;
            continue;
        }
        ascii = false;
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(head, pos, cp);
        if (len == 0) return !complete && head.size() - pos < 4 ? "utf-8" : "gb18030";
        pos += len;
    }
    return ascii ? "" : "utf-8";
}

}  // namespace

std::string ContentTypeOf(std::string_view fileName, std::string_view head, bool complete) {
    if (const char* type = FromContent(head)) return type;
    const char* type = FromName(fileName);
    if (type == nullptr) return "application/octet-stream";
    const std::string_view t = type;
    if (t == "text/plain" || t == "text/csv") {
        const std::string charset = TextCharset(head, complete);
        if (!charset.empty()) return std::string(t) + "; charset=\"" + charset + "\"";
    }
    return type;
}

}  // namespace vox
