#pragma once
// The DMARC policy a sender domain publishes (RFC 7489): what receivers are asked to do with mail under
// that domain that did not come through the domain's own servers, which a direct send never does.

#include <chrono>
#include <optional>
#include <string>

namespace vox {

enum class DmarcPolicy { None, Quarantine, Reject, Unknown };

const char* DmarcPolicyName(DmarcPolicy policy);

// The policy in one TXT record's text, or nothing when the text is not a DMARC record.
// subdomain: the record was found at the organisational domain for a sub-domain, whose "sp=" applies.
std::optional<DmarcPolicy> ParseDmarcRecord(const std::string& text, bool subdomain);

// TXT at _dmarc.DOMAIN, then at the organisational domain when the domain has none. Returns within
// bound whatever the network does; nothing when no policy was learnt (no record, no answer in time, an
// error): a failed look-up says nothing.
std::optional<DmarcPolicy> LookupDmarc(const std::string& domain,
                                       std::chrono::milliseconds bound = std::chrono::seconds(2));

}  // namespace vox
