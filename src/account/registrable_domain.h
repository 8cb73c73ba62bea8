#pragma once
#include <string>

namespace vox {

// The registrable domain of a host name by the public suffix list (libpsl): "mx1.mail.example.co.uk"
// gives "example.co.uk". Empty when there is none (a public suffix itself, or no name).
std::string RegistrableDomain(const std::string& host);

}  // namespace vox
