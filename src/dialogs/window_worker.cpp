#include "dialogs/window_worker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <utility>

namespace vox {

// Receives one plain event per queued function and runs the next one. The event carries nothing: the
// function itself is taken from the queue under the lock.
class CWindowWorker::Waker : public QObject {
public:
    explicit Waker(CWindowWorker& owner) : m_owner(owner) {}

protected:
    void customEvent(QEvent*) override { m_owner.RunNext(); }

private:
    CWindowWorker& m_owner;
};

struct CWindowWorker::Ticket {
    const std::function<void()>* fn;
    bool running = false;
    bool done = false;
};

CWindowWorker::CWindowWorker()
    : m_windowThread(std::this_thread::get_id()), m_waker(std::make_unique<Waker>(*this)) {}

CWindowWorker::~CWindowWorker() {
    Cut();
    Join();
    // Wake-ups still queued for the waker are discarded with it.
}

void CWindowWorker::Start(std::function<void()> work) {
    m_thread = std::thread(std::move(work));
}

void CWindowWorker::Join() {
    if (m_thread.joinable()) m_thread.join();
}

bool CWindowWorker::Call(const std::function<void()>& fn) {
    if (std::this_thread::get_id() == m_windowThread) {
        if (IsCut()) return false;
        fn();
        return true;
    }
    Ticket ticket{&fn};
    std::unique_lock lock(m_mutex);
    if (m_cut) return false;
    Enqueue({{}, &ticket});
    m_changed.wait(lock, [&] { return ticket.done || (m_cut && !ticket.running); });
    return ticket.done;
}

void CWindowWorker::Post(std::function<void()> fn) {
    std::lock_guard lock(m_mutex);
    if (m_cut) return;
    Enqueue({std::move(fn), nullptr});
}

void CWindowWorker::Enqueue(Pending pending) {
    m_queue.push_back(std::move(pending));
    // Posted under the lock, so Cut() and the destructor never see a wake-up on its way to a dying waker.
    QCoreApplication::postEvent(m_waker.get(), new QEvent(QEvent::User));
}

void CWindowWorker::RunNext() {
    Pending next;
    {
        std::lock_guard lock(m_mutex);
        if (m_cut || m_queue.empty()) return;
        next = std::move(m_queue.front());
        m_queue.pop_front();
        if (next.call) next.call->running = true;
    }
    if (!next.call) {
        next.posted();
        return;
    }
    (*next.call->fn)();
    {
        std::lock_guard lock(m_mutex);
        next.call->done = true;  // the caller may return and drop its ticket from here on
    }
    m_changed.notify_all();
}

void CWindowWorker::Cut() {
    std::deque<Pending> dropped;  // posted functions and their values go outside the lock
    {
        std::lock_guard lock(m_mutex);
        m_cut = true;
        dropped.swap(m_queue);
    }
    m_changed.notify_all();
}

bool CWindowWorker::IsCut() const {
    std::lock_guard lock(m_mutex);
    return m_cut;
}

}  // namespace vox
