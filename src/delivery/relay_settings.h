#pragma once
// The user's own outgoing server, for networks that block port 25: where it is, who logs in, and how the
// password is found. Read from the command line or from $XDG_CONFIG_HOME/voxletter/relay.conf.

#include <optional>
#include <string>

#include "delivery/smtp_conversation.h"

namespace vox {

struct RelaySettings {
    static constexpr int kSubmissionPort = 587;   // STARTTLS required
    static constexpr int kImplicitTlsPort = 465;  // TLS from the first byte

    std::string host;
    int port = kSubmissionPort;
    std::string user;
    std::string password;
    // An account says how its server is spoken to; a relay given by name follows the port's habit.
    std::optional<TlsMode> tlsMode;

    TlsMode Tls() const {
        if (tlsMode) return *tlsMode;
        return port == kImplicitTlsPort ? TlsMode::Implicit : TlsMode::Required;
    }
};

// The environment variable that may hold the relay password.
inline constexpr const char kRelayPasswordVariable[] = "VOXLETTER_RELAY_PASSWORD";

// "HOST" or "HOST:PORT" into settings; false with the reason in *why.
bool ParseRelayAddress(const std::string& text, RelaySettings& settings, std::string* why);

// The first line of a file that only its owner may read; false with the reason in *why.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string* why);

// $XDG_CONFIG_HOME/voxletter/relay.conf, or ~/.config/voxletter/relay.conf.
std::string RelayConfigPath();

// Reads a relay file of "key = value" lines: host (HOST or HOST:PORT), port, user, password or
// password-file; "#" starts a comment. Empty result and *why empty: there is no such file. Empty result
// and *why set: the file exists but may not be used (others can read it, or it is incomplete).
std::optional<RelaySettings> LoadRelayConfig(const std::string& path, std::string* why);

}  // namespace vox
