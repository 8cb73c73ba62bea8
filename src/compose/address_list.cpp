#include "compose/address_list.h"
#include "base/translate.h"

#include <unordered_set>

#include "base/program_folder.h"
#include "base/regular_file.h"
#include "base/text_rules.h"
#include "compose/assembly.h"

namespace vox {
namespace {

constexpr const char kBadFrom[] = N_("请正确填写发件人");
constexpr const char kBadTo[] = N_("请正确填写收件人");
constexpr const char kBadCc[] = N_("请正确填写抄送");
constexpr const char kBadBcc[] = N_("请正确填写暗送");
constexpr const char kBadSound[] = N_("无法访问到声音文件");
constexpr const char kBadPicture[] = N_("无法访问到背景图片文件");
constexpr const char kBadRecording[] = N_("无法访问到录音文件");

DraftCheck Refuse(std::string message, int field) {
    DraftCheck check;
    check.message = std::move(message);
    check.focusField = field;
    return check;
}
// A refusal kept as a constant goes out in the user's language: the windows and the command line show
// the message as it stands.
DraftCheck Refuse(const char* message, int field) { return Refuse(std::string(Tr(message)), field); }

struct ListField {
    const std::string& text;
    std::vector<MailAddress>& parsed;
    const char* message;
    int field;
};

// The position of the ";" that ends the entry starting at start, or npos for the last entry. A
// quoted string hides its ";", and a backslash in it hides the character after it.
std::size_t NextSeparator(std::string_view text, std::size_t start) {
    bool quoted = false;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '\\')
            ++i;
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ';')
            return i;
    }
    return std::string_view::npos;
}

}  // namespace

bool IsValidAddress(std::string_view text) {
    const std::size_t at = text.find('@');
    const std::size_t dot = text.rfind('.');
    const std::size_t last = text.size() - 1;  // only compared when the text holds an "@"
    return at != text.npos && at > 0 && at != last && dot != text.npos && dot > 0 && dot != last && dot > at;
}

std::vector<ListEntry> SplitAddressList(std::string_view text) {
    std::vector<ListEntry> entries;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t sep = NextSeparator(text, start);
        // After the last separator, an empty rest is no entry: "a@b.c;" holds one address.
        if (sep == text.npos && start == text.size() && start != 0) break;
        const std::size_t end = sep == text.npos ? text.size() : sep;
        entries.push_back({text.substr(start, end - start), start});
        if (sep == text.npos) break;
        start = sep + 1;
    }
    return entries;
}

DraftCheck ParseSender(MailDraft& draft) {
    // The sender is one address, never split at ";".
    draft.m_fromAddress = {};
    MailAddress from;
    if (HasLineBreakOrNul(draft.m_strFrom) || ParseMailAddress(draft.m_strFrom, from) != AddressForm::Ok)
        return Refuse(kBadFrom, kFieldFrom);
    const std::size_t at = from.address.find('@');
    if (at == std::string::npos || at == 0 || at == from.address.size() - 1) return Refuse(kBadFrom, kFieldFrom);
    draft.m_fromAddress = std::move(from);
    DraftCheck ok;
    ok.ok = true;
    return ok;
}

DraftCheck ParseRecipients(MailDraft& draft) {
    draft.m_recipients.clear();
    const ListField fields[] = {
        {draft.m_strTo, draft.m_toAddresses, kBadTo, kFieldTo},
        {draft.m_strCc, draft.m_ccAddresses, kBadCc, kFieldCc},
        {draft.m_strBcc, draft.m_bccAddresses, kBadBcc, kFieldBcc},
    };
    for (const ListField& f : fields) f.parsed.clear();
    // The same mailbox typed twice, in one field or in several, gets the mail once; the headers keep
    // every entry as typed.
    std::unordered_set<std::string> seen;
    for (const ListField& f : fields) {
        if (f.field != kFieldTo && f.text.empty()) continue;
        for (const ListEntry& entry : SplitAddressList(f.text)) {
            MailAddress address;
            if (ParseMailAddress(entry.text, address) != AddressForm::Ok || !IsValidAddress(address.address)) {
                DraftCheck check = Refuse(f.message, f.field);
                check.hasSelection = true;
                check.selStart = entry.start;
                check.selEnd = entry.start + entry.text.size();
                return check;
            }
            if (seen.insert(EnvelopeKey(address.envelope)).second) draft.m_recipients.push_back(address.envelope);
            f.parsed.push_back(std::move(address));
        }
    }
    DraftCheck ok;
    ok.ok = true;
    return ok;
}

std::string AttachmentUnreachableText(const std::string& path) { return Format(Tr("无法访问到附件文件%s"), path.c_str()); }

DraftCheck CheckFiles(const MailDraft& draft, const std::filesystem::path& recording) {
    // The recording is a file like the others: a send that announces a voice must carry it.
    if (draft.m_strSound == kRecordingMarker && recording.empty()) {
        DraftCheck check = Refuse(kNoProgramFolderText, 0);
        check.followUp = FollowUp::OpenSound;
        return check;
    }
    if (draft.m_strSound == kRecordingMarker && !IsReadableRegularFile(recording.string())) {
        DraftCheck check = Refuse(kBadRecording, 0);
        check.followUp = FollowUp::OpenSound;
        return check;
    }
    if (!draft.m_strSound.empty() && draft.m_strSound != kRecordingMarker &&
        !IsReadableRegularFile(draft.m_strSound)) {
        DraftCheck check = Refuse(kBadSound, 0);
        check.followUp = FollowUp::OpenSound;
        return check;
    }
    if (draft.m_nBackgroundMode == 1 && !IsReadableRegularFile(draft.m_strPicture)) {
        DraftCheck check = Refuse(kBadPicture, 0);
        check.followUp = FollowUp::OpenBackground;
        return check;
    }
    // A mail without one of its attachments must not go out as if it were complete.
    for (const std::string& path : draft.m_attachments) {
        if (!IsReadableRegularFile(path)) return Refuse(AttachmentUnreachableText(path), 0);
    }
    DraftCheck ok;
    ok.ok = true;
    return ok;
}

DraftCheck ValidateDraft(MailDraft& draft, const std::filesystem::path& recording) {
    if (DraftCheck sender = ParseSender(draft); !sender.ok) return sender;
    if (draft.m_strTo.find('@') == std::string::npos || HasLineBreakOrNul(draft.m_strTo)) {
        return Refuse(kBadTo, kFieldTo);
    }
    if (!draft.m_strCc.empty() &&
        (draft.m_strCc.find('@') == std::string::npos || HasLineBreakOrNul(draft.m_strCc))) {
        return Refuse(kBadCc, kFieldCc);
    }
    if (!draft.m_strBcc.empty() &&
        (draft.m_strBcc.find('@') == std::string::npos || HasLineBreakOrNul(draft.m_strBcc))) {
        return Refuse(kBadBcc, kFieldBcc);
    }
    if (DraftCheck files = CheckFiles(draft, recording); !files.ok) return files;
    // Refused before any of it is read: building it would take more memory than it is worth trying.
    if (EstimatedMailSize(draft, recording) > kMaxMailSize) return Refuse(kMailTooLargeText, 0);
    return ParseRecipients(draft);
}

}  // namespace vox
