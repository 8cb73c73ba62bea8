#pragma once
// Finding the submission server of an address: every source at once, each bound to one deadline, the
// best answer first. No password is sent while looking.
//
// Sources, best first:
//   1. SRV _submissions._tcp.DOMAIN (TLS) and _submission._tcp.DOMAIN (STARTTLS), RFC 6186 / RFC 8314
//   2. the domain's own client-configuration file over verified HTTPS
//   3. the same file of the registrable domain of the domain's first mail exchanger
//   4. the list of the largest providers (res/providers.conf), for the domain or that mail host's domain
//   5. guesses: smtp.DOMAIN, mail.DOMAIN and DOMAIN on 465 (TLS) and 587 (STARTTLS), each probed and
//      counted only when it offers a login

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "account/account.h"

namespace vox {

enum class FoundBy { Srv, ConfigFile, MailHostConfigFile, KnownProvider, Guess };

struct Candidate {
    SubmissionServer server;
    std::string user;  // the login name the source gives (the address itself when it names none)
    FoundBy foundBy = FoundBy::Guess;
    std::string where;  // how it was found, for people: "SRV _submissions._tcp.example.com"
};

// "HOST:PORT TLS|STARTTLS (how found)", the command line's line for a candidate.
std::string CandidateLine(const Candidate& candidate);

struct DiscoveryOptions {
    static constexpr std::chrono::milliseconds kBound{5000};
    std::chrono::milliseconds bound = kBound;  // the answer comes within this, whatever hangs
    std::string trustFile;  // PEM authorities for HTTPS and TLS instead of the system's (tests)
    int httpsPort = 443;    // the configuration files' port (tests)
    std::string providerTable;  // empty: DefaultProviderTable()
    const std::atomic<bool>* cancel = nullptr;  // the user's Cancel: Run returns at once, with nothing
};

class CAccountDiscovery {
public:
    explicit CAccountDiscovery(DiscoveryOptions options = {});
    // Tells the sources that are still running to stop, and waits for them: each has the same deadline,
    // so this costs at most what the resolver needs to give up after it.
    ~CAccountDiscovery();

    CAccountDiscovery(const CAccountDiscovery&) = delete;
    CAccountDiscovery& operator=(const CAccountDiscovery&) = delete;

    // Every candidate found within the bound, best first, each server once. Call once per object.
    std::vector<Candidate> Run(const std::string& address);

private:
    // One result slot per source; the slot's place is its rank.
    enum Slot { kSrvTls, kSrvStartTls, kConfigAutoconfig, kConfigWellKnown, kMailHostConfig, kProviderDomain,
                kProviderMailHost, kGuess0 };
    static constexpr int kGuessCount = 6;
    static constexpr int kSlots = kGuess0 + kGuessCount;

    void Start(int slot, std::function<std::vector<Candidate>()> work);
    void Finish(int slot, std::vector<Candidate> found);
    // Whole seconds left before the deadline, at least 1: the unit of the resolver's and sockets' waits.
    int SecondsLeft() const;

    std::vector<Candidate> Srv(const std::string& domain, bool tls);
    std::vector<Candidate> ConfigFile(const std::string& domain, const std::string& address, int which,
                                      FoundBy foundBy, const std::string& prefix);
    void MailHost(const std::string& domain, const std::string& address);
    std::vector<Candidate> Guess(const std::string& host, const SubmissionServer& server);

    DiscoveryOptions m_options;
    std::chrono::steady_clock::time_point m_deadline;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::optional<std::vector<Candidate>>> m_results;
    int m_pending = 0;
    std::vector<std::thread> m_threads;
};

}  // namespace vox
