#include "dialogs/blocking_invoker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <chrono>

namespace vox {

BlockingInvoker::BlockingInvoker() = default;

BlockingInvoker::~BlockingInvoker() { Cut(); }

bool BlockingInvoker::Call(const std::function<void()>& fn) {
    if (QThread::currentThread() == m_context.thread()) {
        if (IsCut()) return false;
        fn();
        return true;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_cut) return false;
        ++m_callsUnderWay;  // from here on Cut() waits for this call instead of destroying the context
    }
    bool ran = false;
    QMetaObject::invokeMethod(
        &m_context,
        [this, &fn, &ran] {
            if (IsCut()) return;
            ran = true;
            fn();
        },
        Qt::BlockingQueuedConnection);
    {
        std::lock_guard lock(m_mutex);
        --m_callsUnderWay;
    }
    m_idle.notify_all();
    return ran;
}

void BlockingInvoker::Post(std::function<void()> fn) {
    std::lock_guard lock(m_mutex);
    if (m_cut) return;
    // Posting only queues an event, so it is done under the lock: Cut() cannot pull the context away
    // halfway. Events still queued when the context dies are dropped with it.
    QMetaObject::invokeMethod(
        &m_context,
        [this, fn = std::move(fn)] {
            if (!IsCut()) fn();
        },
        Qt::QueuedConnection);
}

void BlockingInvoker::Cut() {
    std::unique_lock lock(m_mutex);
    m_cut = true;
    // A worker may be blocked on a call queued for this thread: serve the queue (each queued call now
    // returns at once) until no worker is inside Call() any more.
    while (m_callsUnderWay > 0) {
        lock.unlock();
        QCoreApplication::sendPostedEvents(&m_context, QEvent::MetaCall);
        lock.lock();
        m_idle.wait_for(lock, std::chrono::milliseconds(5), [this] { return m_callsUnderWay == 0; });
    }
}

bool BlockingInvoker::IsCut() const {
    std::lock_guard lock(m_mutex);
    return m_cut;
}

}  // namespace vox
