#pragma once
// A worker thread's line to the user-interface thread. Call() runs a function on the UI thread and waits
// until it has run, like a blocking cross-thread send. The window that owns the line cuts it before it goes
// away: from then on nothing more runs on its behalf and no worker stays blocked, so a worker never waits
// for, or calls into, a window that is being destroyed.

#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace vox {

class BlockingInvoker {
public:
    // Construct on the user-interface thread; the functions run there.
    BlockingInvoker();
    ~BlockingInvoker();
    BlockingInvoker(const BlockingInvoker&) = delete;
    BlockingInvoker& operator=(const BlockingInvoker&) = delete;

    // Worker side. Returns false, without running fn, once the line is cut. From the UI thread itself fn
    // simply runs at once.
    bool Call(const std::function<void()>& fn);

    // Worker side: queues fn on the UI thread and returns at once (it is dropped if the line is cut first).
    void Post(std::function<void()> fn);

    // UI side, not from inside a function run by Call(). Afterwards Call() and Post() do nothing.
    void Cut();
    bool IsCut() const;

private:
    QObject m_context;  // lives in the UI thread: the target of the queued calls
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    bool m_cut = false;
    int m_callsUnderWay = 0;
};

}  // namespace vox
