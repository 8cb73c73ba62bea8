#pragma once
// A provider's published client configuration, in the XML format mail programs widely read
// (clientConfig / emailProvider / outgoingServer type="smtp"), fetched over verified HTTPS only.

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "account/account.h"

namespace vox {

struct ConfiguredServer {
    SubmissionServer server;
    std::string user;  // the login name with the address put in, empty when the file names none
};

// The outgoing SMTP servers of a configuration file, in file order, for the given address. Servers
// without encryption ("plain") and entries without a usable host or port are left out; a file that is
// not well-formed gives nothing.
std::vector<ConfiguredServer> ParseClientConfig(const std::string& xml, const std::string& address);

struct HttpsOptions {
    std::string trustFile;  // PEM authorities to verify against instead of the system's; empty: system
    int port = 443;         // where the test world listens; always 443 outside tests
    std::chrono::steady_clock::time_point deadline;
    const std::atomic<bool>* cancel = nullptr;
};

// The body of https://HOST:PORT/PATH when the server's certificate verifies for HOST and it answers
// 200 before the deadline; empty otherwise. Redirects are followed to HTTPS addresses only; bodies over
// 64 KiB are refused.
std::string FetchHttps(const std::string& host, const std::string& pathAndQuery, const HttpsOptions& options);

// The two places a domain publishes the file: autoconfig.DOMAIN/mail/config-v1.1.xml?emailaddress=ADDRESS
// and DOMAIN/.well-known/autoconfig/mail/config-v1.1.xml. Each fetch is one of these, as host and path.
struct ConfigLocation {
    std::string host;
    std::string pathAndQuery;
};
std::vector<ConfigLocation> ClientConfigLocations(const std::string& domain, const std::string& address);

}  // namespace vox
