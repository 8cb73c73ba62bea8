#pragma once
// A keyring in memory for the window tests, in place of the desktop's Secret Service.

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "account/keyring.h"

namespace vox::test {

// A keyring in memory; "unavailable" plays a desktop without a Secret Service. The composer's send and its
// outbox round may ask it from two workers at once.
class MemoryKeyring : public Keyring {
public:
    KeyringResult Store(const std::string& address, const SubmissionServer& server, const std::string& password) override {
        const std::lock_guard<std::mutex> hold(lock);
        if (unavailable) return {false, true, kNoKeyring};
        items[address + " " + server.Name()] = password;
        return {true, false, ""};
    }
    KeyringResult Lookup(const std::string& address, const SubmissionServer& server,
                         std::optional<std::string>& password) override {
        const std::lock_guard<std::mutex> hold(lock);
        if (unavailable) return {false, true, kNoKeyring};
        auto it = items.find(address + " " + server.Name());
        if (it != items.end()) password = it->second;
        return {true, false, ""};
    }
    KeyringResult Forget(const std::string& address, const SubmissionServer& server) override {
        const std::lock_guard<std::mutex> hold(lock);
        if (unavailable) return {false, true, kNoKeyring};
        items.erase(address + " " + server.Name());
        return {true, false, ""};
    }
    std::mutex lock;
    bool unavailable = false;
    std::map<std::string, std::string> items;
};

}  // namespace vox::test
