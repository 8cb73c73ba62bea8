#pragma once
// The submission servers of the largest mailbox providers, from a small data file shipped with the
// program (res/providers.conf, installed to share/voxletter/). One line per server:
//
//   DOMAIN[,DOMAIN...]  HOST  PORT  TLS|STARTTLS
//
// A domain is an address's own domain or the registrable domain of its mail host. "#" starts a comment.

#include <string>
#include <vector>

#include "account/account.h"

namespace vox {

// The installed file beside the program (../share/voxletter/providers.conf), else the source tree's.
std::string DefaultProviderTable();

// The servers listed for domain (without regard to case), in file order; nothing when the file is missing.
std::vector<SubmissionServer> LookupProvider(const std::string& tableFile, const std::string& domain);

}  // namespace vox
