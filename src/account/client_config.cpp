#include "account/client_config.h"

#include <curl/curl.h>
#include <expat.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

#include "base/number_text.h"
#include "base/text_rules.h"

namespace vox {

namespace {

constexpr std::size_t kMaxBody = 64 * 1024;

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// Only letters, digits, "-" and "." make a host name worth connecting to.
bool PlausibleHost(const std::string& host) {
    return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '-' || c == '.';
           });
}

// The walk over the document: collects the text of the children of each outgoingServer type="smtp" that
// sits in an emailProvider inside clientConfig.
struct ConfigReader {
    std::vector<std::string> path;  // element names from the root
    bool inServer = false;
    std::string field;  // the child of outgoingServer being read
    std::string text;
    struct Raw {
        std::string hostname, port, socketType, username;
    };
    std::vector<Raw> servers;

    static void Start(void* data, const XML_Char* name, const XML_Char** attributes) {
        auto* self = static_cast<ConfigReader*>(data);
        const std::string element = name;
        if (element == "outgoingServer" && self->path.size() == 2 && self->path[0] == "clientConfig" &&
            self->path[1] == "emailProvider") {
            for (const XML_Char** a = attributes; a[0] != nullptr; a += 2)
                if (std::strcmp(a[0], "type") == 0 && std::strcmp(a[1], "smtp") == 0) self->inServer = true;
            if (self->inServer) self->servers.push_back({});
        } else if (self->inServer && self->path.size() == 3) {
            self->field = element;
            self->text.clear();
        }
        self->path.push_back(element);
    }

    static void End(void* data, const XML_Char*) {
        auto* self = static_cast<ConfigReader*>(data);
        self->path.pop_back();
        if (self->inServer && self->path.size() == 3 && !self->field.empty()) {
            Raw& raw = self->servers.back();
            const std::string value = TrimBlanks(self->text);
            if (self->field == "hostname") raw.hostname = value;
            else if (self->field == "port") raw.port = value;
            else if (self->field == "socketType") raw.socketType = value;
            else if (self->field == "username") raw.username = value;
            self->field.clear();
        } else if (self->inServer && self->path.size() == 2) {
            self->inServer = false;
        }
    }

    static void Text(void* data, const XML_Char* s, int len) {
        auto* self = static_cast<ConfigReader*>(data);
        if (!self->field.empty() && self->text.size() < 1024) self->text.append(s, static_cast<std::size_t>(len));
    }
};

// The library's one-time set-up is not safe to race; the first use in the process does it.
void CurlReady() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t Collect(char* bytes, size_t size, size_t count, void* data) {
    auto* body = static_cast<std::string*>(data);
    const size_t n = size * count;
    if (body->size() + n > kMaxBody) return 0;  // ends the transfer as failed
    body->append(bytes, n);
    return n;
}

int Progress(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(data);
    return cancel != nullptr && cancel->load() ? 1 : 0;
}

}  // namespace

std::vector<ConfiguredServer> ParseClientConfig(const std::string& xml, const std::string& address) {
    ConfigReader reader;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(parser, &ConfigReader::Start, &ConfigReader::End);
    XML_SetCharacterDataHandler(parser, &ConfigReader::Text);
    const bool wellFormed = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    std::vector<ConfiguredServer> found;
    if (!wellFormed) return found;

    const std::string domain = AddressDomain(address);
    for (ConfigReader::Raw& raw : reader.servers) {
        ConfiguredServer entry;
        ReplaceAll(raw.hostname, "%EMAILDOMAIN%", domain);
        entry.server.host = raw.hostname;
        const std::optional<uint32_t> port = ParseUnsignedDecimal(raw.port);
        if (!PlausibleHost(entry.server.host) || !port || *port == 0 || *port > 65535) continue;
        entry.server.port = static_cast<int>(*port);
        // "plain" (and anything unknown) would send the password in clear: never offered.
        if (raw.socketType == "SSL") entry.server.security = Security::Tls;
        else if (raw.socketType == "STARTTLS") entry.server.security = Security::StartTls;
        else continue;
        entry.user = raw.username;
        ReplaceAll(entry.user, "%EMAILADDRESS%", address);
        ReplaceAll(entry.user, "%EMAILLOCALPART%", AddressLocalPart(address));
        ReplaceAll(entry.user, "%EMAILDOMAIN%", domain);
        found.push_back(std::move(entry));
    }
    return found;
}

std::vector<ConfigLocation> ClientConfigLocations(const std::string& domain, const std::string& address) {
    CurlReady();
    std::string query = address;
    if (CURL* curl = curl_easy_init()) {
        if (char* escaped = curl_easy_escape(curl, address.c_str(), static_cast<int>(address.size()))) {
            query = escaped;
            curl_free(escaped);
        }
        curl_easy_cleanup(curl);
    }
    return {{"autoconfig." + domain, "/mail/config-v1.1.xml?emailaddress=" + query},
            {domain, "/.well-known/autoconfig/mail/config-v1.1.xml"}};
}

std::string FetchHttps(const std::string& host, const std::string& pathAndQuery, const HttpsOptions& options) {
    CurlReady();
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(options.deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !PlausibleHost(host)) return "";
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return "";
    const std::string url = "https://" + host + (options.port == 443 ? "" : ":" + std::to_string(options.port)) +
                            pathAndQuery;
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // HTTPS and nothing else, also after a redirect: a file that says where to send a password must not
    // be one that anybody on the way could have written.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 3L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.trustFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, options.trustFile.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // threads: no SIGALRM for name look-ups
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE, static_cast<long>(kMaxBody));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(options.cancel));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "VoxLetter");
    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK || status != 200) return "";
    return body;
}

}  // namespace vox
