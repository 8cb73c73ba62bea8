#pragma once
// The windows keep the geometry of their templates, laid out in dialog units. With the dialog font at
// 9 pt on a 96-dpi screen one unit is 1.5 pixels both ways; the composer's resize arithmetic depends on it.

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

#include <utility>

namespace vox {

// Units to pixels, rounding halves up as the template mapping does.
constexpr int Dlu(int units) { return units >= 0 ? (units * 3 + 1) / 2 : -((-units * 3 + 1) / 2); }

// A template rectangle: the corners are mapped, so adjacent controls stay adjacent.
inline QRect DluRect(int x, int y, int width, int height) {
    const int left = Dlu(x), top = Dlu(y);
    return QRect(left, top, Dlu(x + width) - left, Dlu(y + height) - top);
}

// One control of a template, created on parent and placed at its rectangle. Create the controls in the
// template's tab order: the focus chain follows creation. The object name is the control's id, which is how
// handlers and tests find it.
template <class Control, class... Args>
Control* MakeControl(QWidget* parent, int id, const QRect& rect, Args&&... args) {
    auto* control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(QString::number(id));
    control->setGeometry(rect);
    return control;
}

// The control of a template with this id, created by MakeControl; nullptr if there is none.
inline QWidget* FindControl(const QWidget* window, int id) { return window->findChild<QWidget*>(QString::number(id)); }

// The templates' font: the system's CJK face at 9 pt.
inline QFont DialogFont() {
    QFont font(QStringLiteral("WenQuanYi Micro Hei"), 9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace vox
