#include "compose/mime_writer.h"

#include <sys/mman.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/regular_file.h"
#include "compose/base64.h"
#include "compose/content_type.h"
#include "compose/header_encoding.h"

namespace vox {
namespace {

constexpr const char kCrLf[] = "\r\n";

// Files are read in pieces of whole Base64 lines, so the pieces' encodings join up exactly and the file
// never has to sit in memory next to its encoding.
constexpr std::size_t kReadChunk = kBase64LineBytes * 16384;  // 912 KiB

// Reads up to size bytes; returns the count (short only at the end of the file), or -1 on an error.
ssize_t ReadFull(int fd, unsigned char* buf, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buf + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

}  // namespace

std::string FormatMailDate(std::time_t when) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    if (localtime_r(&when, &tm) == nullptr) return {};
    if (tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11) return {};
    const long offset = tm.tm_gmtoff;
    const long absMinutes = (offset < 0 ? -offset : offset) / 60;
    char buf[128];
    const int n =
        std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[tm.tm_wday],
                      tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                      offset < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::string MessageIdFor(std::string_view senderDomain, std::string_view unique) {
    std::string_view domain = senderDomain;
    const bool plain = !domain.empty() && domain.front() != '.' && domain.back() != '.' &&
                       domain.find("..") == domain.npos &&
                       std::all_of(domain.begin(), domain.end(), [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '-' || c == '.';
                       });
    if (!plain) domain = "voxletter.invalid";
    return "<" + std::string(unique) + "@" + std::string(domain) + ">";
}

std::string NewMessageIdUnique(std::time_t now) {
    unsigned char random[16] = {};
    std::size_t got = 0;
    while (got < sizeof random) {
        const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    char text[64];
    int n = std::snprintf(text, sizeof text, "%lld.", static_cast<long long>(now));
    for (const unsigned char b : random) n += std::snprintf(text + n, sizeof text - n, "%02x", b);
    return std::string(text, static_cast<std::size_t>(n));
}

void CMimeWriter::WriteMessageHeader(const MailAddress& from, const std::vector<MailAddress>& to,
                                     const std::vector<MailAddress>& cc, std::string_view subject,
                                     std::time_t now, std::string_view messageId) {
    std::string& m = m_strMessage;
    m.clear();
    m += AddressHeader("From", {from});
    m += AddressHeader("To", to);
    if (!cc.empty()) m += AddressHeader("Cc", cc);
    m += UnstructuredHeader("Subject", subject);
    m += "Content-Type: multipart/mixed;\r\n";
    m += "    boundary=\"";
    m += kOuterBoundary;
    m += "\";\r\n";
    m += "Date: ";
    m += FormatMailDate(now);
    m += kCrLf;
    m += "Message-ID: ";
    m += messageId;
    m += kCrLf;
    m += "Mime-Version: 1.0\r\n";
    m += kCrLf;
    m += "This is a multi-part message in MIME format.\r\n";
    m += kCrLf;
}

void CMimeWriter::WriteHtmlPart(std::string_view plainText, std::string_view page) {
    std::string& m = m_strMessage;
    m.reserve(m.size() + 512 + Base64EncodedSize(plainText.size()) + Base64EncodedSize(page.size()));
    m += "--";
    m += kOuterBoundary;
    m += kCrLf;
    m += "Content-Type: multipart/alternative;\r\n";
    m += "    boundary=\"";
    m += kInnerBoundary;
    m += "\"\r\n";
    m += kCrLf;
    // Readers that show no HTML, and filters that compare the two, get the same text without the page.
    // One alternative: its boundary line, type and charset, then the text in Base64.
    const auto alternative = [&m](const char* type, const char* charset, std::string_view text) {
        m += "--";
        m += kInnerBoundary;
        m += kCrLf;
        m += "Content-Type: ";
        m += type;
        m += ";\r\n    charset=\"";
        m += charset;
        m += "\"\r\nContent-Transfer-Encoding: base64\r\n";
        m += kCrLf;
        AppendBase64(m, reinterpret_cast<const unsigned char*>(text.data()), text.size());
        m += "\r\n\r\n";
    };
    alternative("text/plain", "utf-8", plainText);
    alternative("text/html", "gb2312", page);
    m += "--";
    m += kInnerBoundary;
    m += "--\r\n";
    m += kCrLf;
}

bool CMimeWriter::WriteFilePart(const std::string& path, std::string_view contentId,
                                PartDisposition disposition) {
    const std::optional<RegularFile> file = RegularFile::Open(path);
    if (!file) return false;

    const std::size_t fileSize = static_cast<std::size_t>(file->Size());
    const std::size_t chunk =
        fileSize < kReadChunk ? (fileSize / kBase64LineBytes + 1) * kBase64LineBytes : kReadChunk;
    const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(chunk);
    // The first piece is read before the header is written: its bytes tell the part's type.
    ssize_t got = ReadFull(file->Descriptor(), buffer.get(), chunk);
    if (got < 0) return false;

    std::string& m = m_strMessage;
    const std::size_t before = m.size();
    Reserve(FilePartSizeHint(fileSize, path.size()));

    const std::size_t slash = path.rfind('/');
    const std::string_view name =
        slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
    const std::string_view head(reinterpret_cast<const char*>(buffer.get()), static_cast<std::size_t>(got));
    WritePartHeader(name, ContentTypeOf(name, head, static_cast<std::size_t>(got) < chunk), contentId,
                    disposition);

    for (;;) {
        AppendBase64(m, buffer.get(), static_cast<std::size_t>(got));
        if (static_cast<std::size_t>(got) < chunk) break;
        got = ReadFull(file->Descriptor(), buffer.get(), chunk);
        if (got < 0) {
            // A file that fails part-way counts as one that could not be opened: the message keeps no
            // half part.
            m.resize(before);
            return false;
        }
    }
    m += "\r\n\r\n";
    return true;
}

void CMimeWriter::WritePartHeader(std::string_view name, std::string_view contentType,
                                  std::string_view contentId, PartDisposition disposition) {
    std::string& m = m_strMessage;
    m += "--";
    m += kOuterBoundary;
    m += kCrLf;
    m += "Content-Type: ";
    m += contentType;
    m += ";\r\n";
    m += NameParameterLines("   ", name);
    m += "Content-Transfer-Encoding: base64\r\n";
    m += disposition == PartDisposition::Inline ? "Content-Disposition: inline;\r\n"
                                                : "Content-Disposition: attachment;\r\n";
    m += FilenameParameterLines("    ", name);
    if (!contentId.empty()) {
        m += "Content-ID: <";
        m += contentId;
        m += ">\r\n";
    }
    m += kCrLf;
}

void CMimeWriter::WriteDataPart(std::string_view name, std::string_view contentType, std::string_view bytes,
                                std::string_view contentId, PartDisposition disposition) {
    Reserve(FilePartSizeHint(bytes.size(), name.size()));
    WritePartHeader(name, contentType, contentId, disposition);
    AppendBase64(m_strMessage, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    m_strMessage += "\r\n\r\n";
}

std::string CMimeWriter::FinishMessage() {
    m_strMessage += "--";
    m_strMessage += kOuterBoundary;
    m_strMessage += "--\r\n";
    std::string done = std::move(m_strMessage);
    m_strMessage = std::string();
    return done;
}

void CMimeWriter::Reserve(std::size_t moreBytes) {
    const std::size_t want = m_strMessage.size() + moreBytes;
    if (want <= m_strMessage.capacity()) return;
    m_strMessage.reserve(want);
    // A mail with large files is tens of megabytes written once from start to end. Faulting that in 4 KiB
    // pages costs more than encoding it; ask for huge pages where the kernel leaves the choice to us.
    constexpr std::uintptr_t kHuge = 2u << 20;
    if (want >= 4 * kHuge) {
        const auto begin = reinterpret_cast<std::uintptr_t>(m_strMessage.data());
        const std::uintptr_t from = (begin + kHuge - 1) & ~(kHuge - 1);
        const std::uintptr_t to = (begin + want) & ~(kHuge - 1);
        if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
}

std::size_t FilePartSizeHint(std::size_t fileSize, std::size_t pathLength) {
    return 512 + 8 * pathLength + Base64EncodedSize(fileSize) + 4;
}

}  // namespace vox
