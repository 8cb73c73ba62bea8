#include "compose/address_list.h"

#include "base/program_folder.h"
#include "base/regular_file.h"
#include "base/text_rules.h"
#include "compose/assembly.h"

namespace vox {
namespace {

constexpr const char kBadFrom[] = "请正确填写发件人";
constexpr const char kBadTo[] = "请正确填写收件人";
constexpr const char kBadCc[] = "请正确填写抄送";
constexpr const char kBadBcc[] = "请正确填写暗送";
constexpr const char kBadSound[] = "无法访问到声音文件";
constexpr const char kBadPicture[] = "无法访问到背景图片文件";
constexpr const char kBadRecording[] = "无法访问到录音文件";

DraftCheck Refuse(std::string message, int field) {
    DraftCheck check;
    check.message = std::move(message);
    check.focusField = field;
    return check;
}

struct ListField {
    const std::string& text;
    const char* message;
    int field;
};

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
        const std::size_t sep = text.find(';', start);
        // After the last separator, an empty rest is no entry: "a@b.c;" holds one address.
        if (sep == text.npos && start == text.size() && start != 0) break;
        const std::size_t end = sep == text.npos ? text.size() : sep;
        entries.push_back({text.substr(start, end - start), start});
        if (sep == text.npos) break;
        start = sep + 1;
    }
    return entries;
}

DraftCheck ParseRecipients(MailDraft& draft) {
    draft.m_recipients.clear();
    const ListField fields[] = {
        {draft.m_strTo, kBadTo, kFieldTo},
        {draft.m_strCc, kBadCc, kFieldCc},
        {draft.m_strBcc, kBadBcc, kFieldBcc},
    };
    for (const ListField& f : fields) {
        if (f.field != kFieldTo && f.text.empty()) continue;
        for (const ListEntry& entry : SplitAddressList(f.text)) {
            if (!IsValidAddress(entry.text)) {
                DraftCheck check = Refuse(f.message, f.field);
                check.hasSelection = true;
                check.selStart = entry.start;
                check.selEnd = entry.start + entry.text.size();
                return check;
            }
            draft.m_recipients.emplace_back(entry.text);
        }
    }
    DraftCheck ok;
    ok.ok = true;
    return ok;
}

std::string AttachmentUnreachableText(const std::string& path) { return "无法访问到附件文件" + path; }

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
    const std::string& from = draft.m_strFrom;
    const std::size_t at = from.find('@');
    if (from.empty() || at == from.npos || at == 0 || at == from.size() - 1 || HasLineBreakOrNul(from)) {
        return Refuse(kBadFrom, kFieldFrom);
    }
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
