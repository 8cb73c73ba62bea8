#include "dialogs/screen_fit.h"

#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace vox {

void FitToScreen(QWidget* window, QScreen* screen) {
    if (!screen) screen = window->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // The area is the frame's; before the window is shown its frame is not known yet (and without a window
    // manager there is none), so only a frame already known is taken off.
    QMargins frame;
    if (const QWindow* handle = window->windowHandle()) frame = handle->frameMargins();
    const QRect area = screen->availableGeometry().marginsRemoved(frame);

    const QSize wanted = window->size();
    const QSize fitted(std::max(window->minimumWidth(), std::min(wanted.width(), area.width())),
                       std::max(window->minimumHeight(), std::min(wanted.height(), area.height())));
    if (fitted != wanted) window->resize(fitted);

    // Only a window that reaches past the area is placed: every other one stays where the window manager
    // (or the dialog's own centring) puts it.
    QRect placed(window->pos(), fitted);
    if (window->testAttribute(Qt::WA_Moved) || fitted != wanted) {
        if (placed.right() > area.right()) placed.moveRight(area.right());
        if (placed.bottom() > area.bottom()) placed.moveBottom(area.bottom());
        if (placed.left() < area.left()) placed.moveLeft(area.left());
        if (placed.top() < area.top()) placed.moveTop(area.top());
        if (placed.topLeft() != window->pos()) window->move(placed.topLeft());
    }
}

}  // namespace vox
