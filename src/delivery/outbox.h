#pragma once
// The outbox: recipients that a server refused for now (4xx) or that no exchanger could be reached for
// wait here and are tried again on a schedule like a mail server's, for at most two days.
//
// One folder, $XDG_STATE_HOME/voxletter/outbox (~/.local/state/voxletter/outbox):
//   MAIL.eml          the mail's bytes, once per mail, as they were sent
//   MAIL.N.json       one small state file per waiting recipient (N: its place in the send)
//   .lock             held (flock) by whoever is retrying, so two programs never deliver the same mail
// Every file is written whole (temporary *.tmp beside it, fsync, rename); a mail file goes once no state
// file names it any more. A relay password is never stored: the state says where it came from (the relay
// settings file, a password file, the environment, or the keyring item of a sending account) and a retry
// reads it there again.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "delivery/delivery_failure.h"
#include "delivery/delivery_job.h"

namespace vox {

// How a waiting mail travels: straight to the exchangers (no relay host), or through the relay it was
// first sent through.
struct OutboxRoute {
    std::string relayHost;  // empty: direct delivery
    int relayPort = 0;
    std::string relayUser;
    // Where the relay password is read again: "config" (relay.conf), "file:PATH", "environment", or
    // "keyring:ADDRESS" (the keyring item of the sending account of ADDRESS on this host and port).
    std::string passwordSource;
    // How the relay is spoken to when its account said so; otherwise the port's habit.
    std::optional<TlsMode> tlsMode{};
};

inline constexpr char kPasswordFromKeyring[] = "keyring:";

// Reads the password of the sending account of address on host:port from the desktop's keyring; nothing,
// with *why saying so, when the keyring cannot give it. The outbox knows no keyring of its own: the
// programs that retry hand it this.
using KeyringPasswordReader =
    std::function<std::optional<std::string>(const std::string& address, const std::string& host, int port,
                                             std::string* why)>;

struct WaitingRecipient {
    std::string stateFile;  // file name of its state, "MAIL.N.json"
    std::string mailId;
    std::string address;
    std::string sender;
    OutboxRoute route;
    int tries = 0;               // attempts so far, the first send included
    std::int64_t firstTry = 0;   // seconds since the epoch
    std::int64_t nextTry = 0;
    std::string lastReason;
};

// What a round of retries did: the report's failures (final ones, and the still waiting ones as
// temporary), and whether every recipient tried was delivered.
struct RetryOutcome {
    FailureList failures;
    std::size_t tried = 0;
    std::size_t delivered = 0;
    bool portBlocked = false;
    bool busy = false;  // another program holds the outbox: nothing was tried
};

class Outbox {
public:
    // The waits after the first, second, third and fourth try; every later wait is the last of them.
    static constexpr std::int64_t kDelays[] = {60, 5 * 60, 15 * 60, 30 * 60, 60 * 60};
    static constexpr std::int64_t kLifetime = 2 * 24 * 60 * 60;  // from the first try

    explicit Outbox(std::filesystem::path folder = DefaultFolder());

    // $XDG_STATE_HOME/voxletter/outbox, or ~/.local/state/voxletter/outbox.
    static std::filesystem::path DefaultFolder();

    // When a recipient tried `tries` times, first at firstTry, is tried next; 0 when its two days are up.
    static std::int64_t NextTry(int tries, std::int64_t firstTry, std::int64_t now);

    // Keeps the mail and every temporary failure of a send made at `now`. Empty on success, else why.
    std::string Keep(const std::string& message, const std::string& sender, const OutboxRoute& route,
                     const FailureList& failures, std::int64_t now);

    // Every waiting recipient, soonest first. Files that cannot be read are skipped.
    std::vector<WaitingRecipient> List() const;
    std::size_t Count() const { return List().size(); }
    // Removes every waiting entry of address: how many there were.
    std::size_t Drop(const std::string& address);

    // Tries the waiting recipients (only those due at `now`, or all), each mail by its own route.
    // route: what the delivery talks to (tests give short waits); observer sees the progress.
    RetryOutcome Retry(std::int64_t now, bool onlyDue, DeliveryObserver& observer,
                       const std::atomic<bool>& cancel, const DeliveryRoute& route = {});

    const std::filesystem::path& Folder() const { return m_folder; }

    // Where Retry reads the passwords of mails that went through a sending account. Without one such a
    // recipient keeps waiting, its reason saying that the password could not be had.
    void SetKeyringReader(KeyringPasswordReader reader) { m_keyring = std::move(reader); }

private:
    std::string WriteState(const WaitingRecipient& w) const;
    void RemoveMailIfUnused(const std::string& mailId) const;

    std::filesystem::path m_folder;
    KeyringPasswordReader m_keyring;
};

}  // namespace vox
