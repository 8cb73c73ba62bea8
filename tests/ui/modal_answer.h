#pragma once
// Answers the windows that the code under test runs modally (exec()), as soon as each one is open.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace vox::test {

template <typename Window>
class ModalAnswer {
public:
    // act looks at the window and ends it (OK or Cancel), once per opening.
    explicit ModalAnswer(std::function<void(Window&)> act) : m_act(std::move(act)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(5);
    }

    int opened = 0;         // windows answered
    bool leftOpen = false;  // an answer did not end its window (it was cancelled so the test goes on)

private:
    void Poll() {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        if (!window) return;
        ++opened;
        m_act(*window);
        if (window->isVisible()) {
            leftOpen = true;
            window->reject();
        }
    }

    QTimer m_timer;
    std::function<void(Window&)> m_act;
};

// Runs fn once on the next modal window of type Window, as soon as it is open.
template <typename Window>
void OnNextModal(std::function<void(Window&)> fn) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, fn] {
        if (auto* window = qobject_cast<Window*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            fn(*window);
        }
    });
    timer->start(5);
}

}  // namespace vox::test
