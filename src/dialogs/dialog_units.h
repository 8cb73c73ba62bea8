#pragma once
// The windows keep the geometry of their templates, laid out in dialog units. With the dialog font at
// 9 pt on a 96-dpi screen one unit is 1.5 pixels both ways; the composer's resize arithmetic depends on it.

#include <QFont>
#include <QRect>
#include <QString>

namespace vox {

// Units to pixels, rounding halves up as the template mapping does.
constexpr int Dlu(int units) { return units >= 0 ? (units * 3 + 1) / 2 : -((-units * 3 + 1) / 2); }

// A template rectangle: the corners are mapped, so adjacent controls stay adjacent.
inline QRect DluRect(int x, int y, int width, int height) {
    const int left = Dlu(x), top = Dlu(y);
    return QRect(left, top, Dlu(x + width) - left, Dlu(y + height) - top);
}

// The templates' font: the system's CJK face at 9 pt.
inline QFont DialogFont() {
    QFont font(QStringLiteral("WenQuanYi Micro Hei"), 9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace vox
