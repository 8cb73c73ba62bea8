// What a user or a script types into an address field: any bytes, split and parsed as the field check
// does, then written as a header the way assembly does.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "compose/address_list.h"
#include "compose/header_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<vox::MailAddress> parsed;
    for (const vox::ListEntry& entry : vox::SplitAddressList(text)) {
        if (entry.start + entry.text.size() > text.size()) __builtin_trap();
        vox::MailAddress a;
        if (vox::ParseMailAddress(entry.text, a) != vox::AddressForm::Ok) continue;
        // The address proper is a piece of what was typed; delivery's form differs only in its domain,
        // and that domain is ASCII.
        if (entry.text.find(a.address) == std::string_view::npos) __builtin_trap();
        for (const char c : a.domain)
            if (static_cast<unsigned char>(c) >= 0x80) __builtin_trap();
        if (!a.domain.empty() && !std::string_view(a.envelope).ends_with("@" + a.domain)) __builtin_trap();
        parsed.push_back(std::move(a));
    }
    const std::string header = vox::AddressHeader("To", parsed);
    if (!header.ends_with("\r\n")) __builtin_trap();

    vox::MailDraft draft;
    draft.m_strTo = text;
    draft.m_strCc = text;  // every mailbox a second time: the recipients must not grow
    const vox::DraftCheck check = vox::ParseRecipients(draft);
    if (check.ok && draft.m_recipients.size() > draft.m_toAddresses.size()) __builtin_trap();
    if (!check.ok && (check.selStart > check.selEnd || check.selEnd > text.size())) __builtin_trap();
    return 0;
}
