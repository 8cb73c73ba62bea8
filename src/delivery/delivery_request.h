#pragma once
// One send as the delivery sees it: the finished mail, who gets it, who it is from, and the optional relay
// through which it goes. The job owns its request, so nothing it reads can go away under it.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "delivery/relay_settings.h"

namespace vox {

struct DeliveryRequest {
    std::shared_ptr<const std::string> message;  // the MIME text; shared, never copied
    std::vector<std::string> recipients;         // To, then Cc, then Bcc
    std::string envelopeSender;                  // MAIL FROM: the sender's own address
    std::optional<RelaySettings> relay;          // none: straight to each recipient's exchangers
    // Where a later try of a recipient left waiting reads the relay password again (OutboxRoute's
    // passwordSource); empty: relay.conf.
    std::string relayPasswordSource{};
};

// The step bar's range for a message of this many bytes: one step per 2048 bytes plus 8.
int DeliveryStepRange(std::size_t messageSize);

}  // namespace vox
