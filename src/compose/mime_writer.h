#pragma once
// The mail text: one multipart/mixed message whose first part is a multipart/alternative holding the
// HTML page, followed by one Base64 part per file. Assembly owns one writer per send and calls its
// operations in order: header, HTML part, file parts, finish.

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "compose/mail_address.h"

namespace vox {

inline constexpr const char kOuterBoundary[] = "==VoxLetter_Multipart==";
inline constexpr const char kInnerBoundary[] = "==VoxLetter_Plume==";
// The page refers to these; "Pictue" is how both sides have always spelled it.
inline constexpr const char kPictureContentId[] = "VoxLetterYourPictue";
inline constexpr const char kSoundContentId[] = "VoxLetterYourSound";

// "Mon, 07 Dec 2026 13:14:05 +0800": local time with a numeric zone, English names whatever the locale.
// Empty when the time cannot be converted.
std::string FormatMailDate(std::time_t when);

// "<unique@domain>" with the sender's domain (its ASCII form), or "voxletter.invalid" when that is no
// plain domain name. unique must be made of characters allowed in a Message-ID.
std::string MessageIdFor(std::string_view senderDomain, std::string_view unique);

// A unique part for a Message-ID: the time and 128 random bits.
std::string NewMessageIdUnique(std::time_t now);

// How a file part is offered: as an attachment the reader lists, or inline, shown by the page only.
enum class PartDisposition { Attachment, Inline };

class CMimeWriter {
public:
    // Starts a new message: the header block and the preamble. Values are UTF-8; what is not plain ASCII
    // is written as encoded-words, To and Cc (the field check's entries) as comma-separated lists, and
    // long lines are folded. No Cc line when cc is empty. Whatever the writer held before is discarded.
    // There is no Bcc header.
    void WriteMessageHeader(const MailAddress& from, const std::vector<MailAddress>& to,
                            const std::vector<MailAddress>& cc, std::string_view subject, std::time_t now,
                            std::string_view messageId);

    // Appends the alternative container: the body as plain text (UTF-8), then the page (already in the
    // mail's bytes).
    void WriteHtmlPart(std::string_view plainText, std::string_view page);

    // Appends one file as a Base64 part, typed after its content or name and named after the text after
    // the last "/"; with a Content-ID when contentId is not empty. Returns false, with nothing appended,
    // when the file cannot be opened or read to its end, or is not a regular file.
    bool WriteFilePart(const std::string& path, std::string_view contentId,
                       PartDisposition disposition = PartDisposition::Attachment);

    // Appends bytes made in memory (the voice's encoded copy) as a part named name, typed contentType.
    void WriteDataPart(std::string_view name, std::string_view contentType, std::string_view bytes,
                       std::string_view contentId, PartDisposition disposition = PartDisposition::Attachment);

    // Appends the closing boundary and hands the finished text over; the writer is empty afterwards.
    std::string FinishMessage();

    // Makes room for that many more bytes, so that the parts to come are encoded without moving the text.
    void Reserve(std::size_t moreBytes);

    const std::string& Text() const { return m_strMessage; }

private:
    // The boundary and the headers of one Base64 part, up to its empty line.
    void WritePartHeader(std::string_view name, std::string_view contentType, std::string_view contentId,
                         PartDisposition disposition);

    std::string m_strMessage;
};

// At least the length WriteFilePart adds for a file of fileSize bytes whose path is pathLength bytes long;
// assembly adds these up to reserve the whole mail at once.
std::size_t FilePartSizeHint(std::size_t fileSize, std::size_t pathLength);

}  // namespace vox
