#pragma once
// The composed message: everything the user entered for one mail, plus the three fields that belong to the
// send under way. The composer window keeps one; the command-line tool fills one from its options. All texts
// are UTF-8; they become GB18030 only when the mail's bytes are written.

#include <cstdint>
#include <string>
#include <vector>

#include "compose/mail_address.h"
#include "voice/voice_format.h"

namespace vox {

// Stands for "Sound.wav" in the program folder until assembly replaces it by that file's full path.
inline constexpr const char kRecordingMarker[] = "<录音>";

// Colours are 0x00BBGGRR, red in the low byte, as the windows and the page both use them.
using COLORREF = std::uint32_t;
inline constexpr COLORREF kWhite = 0x00FFFFFF;

// Effect bits of the body's character format.
inline constexpr std::uint32_t CFE_BOLD = 1;
inline constexpr std::uint32_t CFE_ITALIC = 2;
inline constexpr std::uint32_t CFE_UNDERLINE = 4;
inline constexpr std::uint32_t CFE_STRIKEOUT = 8;

// Paragraph alignment codes.
inline constexpr int PFA_LEFT = 1;
inline constexpr int PFA_RIGHT = 2;
inline constexpr int PFA_CENTER = 3;

// The body's format until the user chooses a font. The composer and the command-line tool both start
// from it, so the same text makes the same mail from either.
inline constexpr const char kDefaultFaceName[] = "宋体";
inline constexpr int kDefaultHeight = 240;  // twips: 12 points, the reader's normal size 3

// The body's one character format, reduced to what the page uses.
struct CharFormat {
    std::string szFaceName = kDefaultFaceName;  // at most 31 bytes once encoded for the mail
    int yHeight = kDefaultHeight;               // twips (1/20 point)
    COLORREF crTextColor = 0;
    std::uint32_t dwEffects = 0;
};

// The body's one paragraph format: only the alignment matters.
struct ParaFormat {
    int wAlignment = PFA_LEFT;
};

struct MailDraft {
    std::string m_strFrom;
    std::string m_strTo;       // addresses separated by ";"
    std::string m_strCc;       // may be empty
    std::string m_strBcc;      // may be empty
    std::string m_strSubject;
    std::string m_strBody;     // plain text, lines separated by CR LF
    CharFormat m_charFormat;
    ParaFormat m_paraFormat;
    int m_nBackgroundMode = 0;  // 0: colour, 1: picture
    COLORREF m_crBackground = kWhite;  // white means no colour
    std::string m_strPicture;   // full path of the background picture
    std::string m_strSound;     // empty, kRecordingMarker, or the full path of a sound file
    int m_nSoundLoops = 0;      // 0 plays endlessly
    VoiceOptions m_voice;       // the form of the sound's copy in the mail (WAV, untouched, by default)
    std::vector<std::string> m_attachments;  // full paths, sorted, no duplicates

    // Per send, filled by the field check: each entry parsed once, for the headers and for delivery.
    MailAddress m_fromAddress;
    std::vector<MailAddress> m_toAddresses;
    std::vector<MailAddress> m_ccAddresses;
    std::vector<MailAddress> m_bccAddresses;
    // Whom delivery sends to: each distinct envelope address once, in order of first appearance in To,
    // then Cc, then Bcc.
    std::vector<std::string> m_recipients;
    int m_nExpectedSteps = 0;               // attachments + 6
    std::string m_strMime;                  // the finished mail
};

}  // namespace vox
