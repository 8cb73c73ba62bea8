#include "account/accounts_file.h"
#include "base/translate.h"

#include "base/program_folder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>

#include "base/number_text.h"
#include "base/text_rules.h"
#include "base/whole_file.h"
#include "delivery/relay_settings.h"

namespace vox {

namespace {

std::string Trim(const std::string& text) { return TrimBlanks(text, " \t\r"); }

bool SameAddress(const std::string& a, const std::string& b) { return AsciiLower(a) == AsciiLower(b); }

bool Complete(const Account& account) {
    return !account.address.empty() && !account.server.host.empty() && account.server.port > 0;
}

}  // namespace

std::string AccountsFilePath() {
    // The same folder as relay.conf, by the same rules.
    const std::filesystem::path folder = ConfigFolder();
    return folder.empty() ? std::string() : (folder / "accounts.conf").string();
}

bool LoadAccounts(const std::string& path, std::vector<Account>& accounts, std::string* why) {
    accounts.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return true;
    std::ifstream in(path);
    if (!S_ISREG(st.st_mode) || !in) {
        *why = Format(Tr("%s：无法读取"), path.c_str());
        return false;
    }
    std::vector<Account> read;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        bool ok = true;
        if (line.front() == '[' && line.back() == ']') {
            read.push_back({});
            read.back().address = Trim(line.substr(1, line.size() - 2));
            read.back().server.port = 0;
            ok = !read.back().address.empty();
        } else {
            const std::size_t eq = line.find('=');
            const std::string key = eq == std::string::npos ? "" : Trim(line.substr(0, eq));
            const std::string value = eq == std::string::npos ? "" : Trim(line.substr(eq + 1));
            Account* account = read.empty() ? nullptr : &read.back();
            if (account == nullptr || eq == std::string::npos) {
                ok = false;
            } else if (key == "host") {
                account->server.host = value;
            } else if (key == "port") {
                const std::optional<uint32_t> port = ParseUnsignedDecimal(value);
                ok = port && *port > 0 && *port <= 65535;
                if (ok) account->server.port = static_cast<int>(*port);
            } else if (key == "security") {
                ok = ParseSecurity(value, account->server.security);
            } else if (key == "user") {
                account->user = value;
            } else {
                ok = false;
            }
        }
        if (!ok) {
            *why = Format(Tr("%s:%s：无法理解：%s"), path.c_str(), std::to_string(number).c_str(), line.c_str());
            return false;
        }
    }
    for (const Account& account : read) {
        if (!Complete(account)) {
            *why = Format(Tr("%s：%s的账户需要主机和端口"), path.c_str(), account.address.c_str());
            return false;
        }
    }
    accounts = std::move(read);
    return true;
}

std::string SaveAccounts(const std::string& path, const std::vector<Account>& accounts) {
    std::string text =
        "# VoxLetter's sending accounts, one per sender address. The passwords are kept in the desktop's\n"
        "# keyring, never here.\n";
    for (const Account& account : accounts) {
        // A line break inside a value would start a line of its own when the file is read back.
        for (const std::string* value : {&account.address, &account.server.host, &account.user}) {
            if (HasLineBreakOrNul(*value) || Trim(*value) != *value)
                return Format(Tr("%s的账户有一个值无法写入：%s"), account.address.c_str(), value->c_str());
        }
        if (!Complete(account)) return Format(Tr("%s的账户需要主机和端口"), account.address.c_str());
        text += "\n[" + account.address + "]\n";
        text += "host = " + account.server.host + "\n";
        text += "port = " + std::to_string(account.server.port) + "\n";
        text += std::string("security = ") + SecurityName(account.server.security) + "\n";
        if (!account.user.empty()) text += "user = " + account.user + "\n";
    }
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        if (ec) return folder.string() + ": " + ec.message();
        // Which servers and names someone uses is nobody else's business.
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    }
    const std::string error = WriteWholeFile(path, text);
    return error.empty() ? "" : path + ": " + error;
}

const Account* FindAccount(const std::vector<Account>& accounts, const std::string& address) {
    for (const Account& account : accounts)
        if (SameAddress(account.address, address)) return &account;
    return nullptr;
}

void PutAccount(std::vector<Account>& accounts, Account account) {
    for (Account& existing : accounts) {
        if (SameAddress(existing.address, account.address)) {
            existing = std::move(account);
            return;
        }
    }
    accounts.push_back(std::move(account));
}

bool RemoveAccount(std::vector<Account>& accounts, const std::string& address) {
    const auto before = accounts.size();
    std::erase_if(accounts, [&](const Account& account) { return SameAddress(account.address, address); });
    return accounts.size() != before;
}

}  // namespace vox
