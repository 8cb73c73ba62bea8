#pragma once
// The test side of net_world.py: starts the DNS and SMTP servers of a world file inside the test's network
// namespace, ends them by pid, and reads what they logged.

#include <string>
#include <sys/types.h>
#include <vector>

namespace vox::test {

class NetWorld {
public:
    // Empty when this process runs inside a namespace made by run_in_netns.sh; else why the tests skip.
    static std::string SkipReason();

    // worldFile: the world description (see net_world.py). Blocks until every server listens.
    explicit NetWorld(const std::string& worldFile);
    ~NetWorld();

    NetWorld(const NetWorld&) = delete;
    NetWorld& operator=(const NetWorld&) = delete;

    bool Ready() const { return m_ready; }
    const std::string& Error() const { return m_error; }

    std::string Path(const std::string& relative) const { return m_logDir + "/" + relative; }
    // Waits up to `seconds` for a log file to exist (servers write theirs when a connection ends).
    bool WaitForFile(const std::string& relative, double seconds = 5) const;
    std::string Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;
    // "name TYPE" lines of every DNS query so far.
    std::vector<std::string> DnsQueries() const;

private:
    pid_t m_pid = -1;
    bool m_ready = false;
    std::string m_error;
    std::string m_logDir;
};

}  // namespace vox::test
