#pragma once
// The field check at Send and the recipient list it produces.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "compose/mail_draft.h"

namespace vox {

// Control ids of the composer's fields, so the window knows where to put the focus.
inline constexpr int kFieldFrom = 1000;
inline constexpr int kFieldTo = 1001;
inline constexpr int kFieldCc = 1002;
inline constexpr int kFieldBcc = 1003;

// What the window must do after a refused check.
enum class FollowUp {
    None,
    OpenSound,       // the sound file cannot be reached: the sound window opens
    OpenBackground,  // the picture file cannot be reached: the background window opens
};

struct DraftCheck {
    bool ok = false;
    std::string message;  // shown with the caption "错误" and the exclamation icon; empty when ok
    int focusField = 0;   // kFieldFrom .. kFieldBcc, or 0
    bool hasSelection = false;
    std::size_t selStart = 0;  // byte offsets into that field's UTF-8 text: the offending entry
    std::size_t selEnd = 0;
    FollowUp followUp = FollowUp::None;
};

// Checks the fields in order (sender, To, Cc, Bcc, the files, then every list entry) and fills
// draft.m_recipients. The first failure ends the check. recording is the file the recording marker
// stands for.
DraftCheck ValidateDraft(MailDraft& draft, const std::filesystem::path& recording);

// The files the mail will carry, each a readable regular file: the recording ("无法访问到录音文件") or the
// sound file, the picture in picture mode, then every attachment ("无法访问到附件文件%s").
DraftCheck CheckFiles(const MailDraft& draft, const std::filesystem::path& recording);

// "无法访问到附件文件%s" with the attachment's path in it.
std::string AttachmentUnreachableText(const std::string& path);

// Parses the sender into draft.m_fromAddress; refused with the sender's message when its form cannot be
// delivered or its address proper has no "@" past its first character and before its last.
DraftCheck ParseSender(MailDraft& draft);

// Parses To, Cc and Bcc into draft.m_toAddresses, m_ccAddresses, m_bccAddresses and their distinct
// envelope addresses into draft.m_recipients. The first entry whose form cannot be delivered, or whose
// address proper fails IsValidAddress, ends it with its field's message and that entry selected.
DraftCheck ParseRecipients(MailDraft& draft);

// One entry of a ";"-separated field: its text exactly as typed and where it starts in the field.
struct ListEntry {
    std::string_view text;
    std::size_t start = 0;
};

// The entries of a field in order, empty ones included, except that a field ending with ";" has no empty
// last entry. An empty field is one empty entry. A ";" between double quotes ("Roe; Jane" <j@x.y>) does
// not separate; a quote that never closes runs to the end of the field, where the entry is refused.
std::vector<ListEntry> SplitAddressList(std::string_view text);

// At least one character before the first "@", one after it, and a "." after it that is not the last.
bool IsValidAddress(std::string_view text);

}  // namespace vox
