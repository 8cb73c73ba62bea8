#include "delivery/relay_settings.h"
#include "base/translate.h"

#include "base/program_folder.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "base/number_text.h"
#include "base/text_rules.h"

namespace vox {

namespace {

std::string Trim(const std::string& text) { return TrimBlanks(text, " \t\r"); }

// A password file must be as private as a password: readable by its owner alone.
bool PrivateFile(const std::string& path, std::string* why) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = Format(Tr("%s：无法读取"), path.c_str());
        return false;
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        *why = Format(Tr("%s：其他用户可以读取或修改它；请设为私有（chmod 600）"), path.c_str());
        return false;
    }
    return true;
}

bool ParsePort(const std::string& text, int& port) {
    const std::optional<uint32_t> n = ParseUnsignedDecimal(text);
    if (!n || *n == 0 || *n > 65535) return false;
    port = static_cast<int>(*n);
    return true;
}

}  // namespace

bool ParseRelayAddress(const std::string& text, RelaySettings& settings, std::string* why) {
    const std::size_t colon = text.rfind(':');
    std::string host = text.substr(0, colon);
    if (colon != std::string::npos && !ParsePort(text.substr(colon + 1), settings.port)) {
        *why = Tr("中继端口必须是1至65535的数字：") + text;
        return false;
    }
    if (host.empty() || host.find_first_of(" \t\r\n") != std::string::npos) {
        *why = Tr("中继必须写成HOST或HOST:PORT：") + text;
        return false;
    }
    settings.host = std::move(host);
    return true;
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string* why) {
    if (!PrivateFile(path, why)) return false;
    std::ifstream in(path);
    if (!in || !std::getline(in, password)) {
        *why = Format(Tr("%s：无法读取"), path.c_str());
        return false;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
}

std::string RelayConfigPath() {
    const std::filesystem::path folder = ConfigFolder();
    return folder.empty() ? std::string() : (folder / "relay.conf").string();
}

std::optional<RelaySettings> LoadRelayConfig(const std::string& path, std::string* why) {
    why->clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;  // no file: deliver directly
    if (!PrivateFile(path, why)) return std::nullopt;
    std::ifstream in(path);
    RelaySettings settings;
    std::string line;
    bool havePassword = false;
    for (int number = 1; std::getline(in, line); ++number) {
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const std::size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : Trim(line.substr(0, eq));
        const std::string value = eq == std::string::npos ? "" : Trim(line.substr(eq + 1));
        bool ok = eq != std::string::npos;
        if (!ok) {
        } else if (key == "host") {
            ok = ParseRelayAddress(value, settings, why);
        } else if (key == "port") {
            ok = ParsePort(value, settings.port);
        } else if (key == "user") {
            settings.user = value;
        } else if (key == "password") {
            settings.password = value;
            havePassword = true;
        } else if (key == "password-file") {
            ok = ReadPasswordFile(value, settings.password, why);
            havePassword = ok;
        } else {
            ok = false;
        }
        if (!ok) {
            if (why->empty())
                *why = Format(Tr("%s:%s：无法理解：%s"), path.c_str(), std::to_string(number).c_str(), line.c_str());
            return std::nullopt;
        }
    }
    if (settings.host.empty() || settings.user.empty() || !havePassword) {
        *why = Format(Tr("%s：需要host、user和password（或password-file）"), path.c_str());
        return std::nullopt;
    }
    return settings;
}

}  // namespace vox
