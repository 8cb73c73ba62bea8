#include "account/provider_table.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/number_text.h"
#include "base/text_rules.h"

namespace vox {

std::string DefaultProviderTable() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path installed = exe.parent_path().parent_path() / "share/voxletter/providers.conf";
        if (std::filesystem::is_regular_file(installed, ec)) return installed.string();
    }
    return VOX_SOURCE_PROVIDER_TABLE;  // a program run from its build folder
}

std::vector<SubmissionServer> LookupProvider(const std::string& tableFile, const std::string& domain) {
    std::vector<SubmissionServer> found;
    std::string wanted = domain;
    wanted = AsciiLower(std::move(wanted));
    if (wanted.empty()) return found;
    std::ifstream in(tableFile);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string domains, host, port, security;
        if (!(words >> domains >> host >> port >> security)) continue;
        domains = AsciiLower(std::move(domains));
        bool listed = false;
        std::istringstream names(domains);
        for (std::string name; std::getline(names, name, ',');) listed = listed || name == wanted;
        SubmissionServer server;
        const std::optional<uint32_t> number = ParseUnsignedDecimal(port);
        if (!listed || !number || *number == 0 || *number > 65535 || !ParseSecurity(security, server.security))
            continue;
        server.host = host;
        server.port = static_cast<int>(*number);
        found.push_back(std::move(server));
    }
    return found;
}

}  // namespace vox
