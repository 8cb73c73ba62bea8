#pragma once
// A worker thread that runs under a window, and its line to the window's thread.
//
// The window starts the work with Start(). The work reports through Call(), which runs a function on the
// window thread and waits until it has run (a blocking cross-thread send), and Post(), which queues a
// function and returns at once. Called and posted functions run one per turn of the window's event loop, in
// the order they were handed over, so posted values arrive in sequence.
//
// Before the window goes away it cuts the line. From then on nothing more runs on the window's behalf, and a
// worker waiting on a call that has not started is let go (Call() returns false), so a worker never waits
// for, or calls into, a window that is being destroyed. The destructor cuts and then waits for the thread.
//
// Everything handed over passes this object's own lock: the window's event loop is only woken. So what a
// function reads on the window thread was written before it was handed over, visibly to any race checker,
// whether or not the toolkit's own locks are visible to it.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vox {

class CWindowWorker {
public:
    // Construct on the window thread: the functions run there.
    CWindowWorker();
    // Cut(), then Join(). Not from inside a function that Call() runs.
    ~CWindowWorker();
    CWindowWorker(const CWindowWorker&) = delete;
    CWindowWorker& operator=(const CWindowWorker&) = delete;

    // Window side: runs work on a thread of its own. At most one thread at a time: Join() the previous
    // one first.
    void Start(std::function<void()> work);
    // Window side: waits for the thread to end. Returns at once when there is none.
    void Join();

    // Worker side (any thread but the window's): runs fn on the window thread and returns when it has run.
    // Returns false, without running fn, once the line is cut, also when it is cut while fn waits for its
    // turn; a function that has begun is always let finish. On the window thread itself fn runs at once.
    bool Call(const std::function<void()>& fn);

    // Queues fn for the window thread and returns at once. Dropped if the line is cut before its turn.
    void Post(std::function<void()> fn);

    // Window side. Afterwards Call() and Post() run nothing; a worker waiting in Call() returns.
    void Cut();
    bool IsCut() const;

private:
    class Waker;
    struct Ticket;  // a Call() waiting for its function to run
    struct Pending {
        std::function<void()> posted;
        Ticket* call = nullptr;
    };

    void Enqueue(Pending pending);  // with m_mutex held
    void RunNext();                 // window thread: one function per wake-up

    const std::thread::id m_windowThread;
    std::unique_ptr<Waker> m_waker;  // lives on the window thread: the target of the wake-ups
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Pending> m_queue;
    bool m_cut = false;
    std::thread m_thread;
};

}  // namespace vox
