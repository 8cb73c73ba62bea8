#include "controls/text_format.h"

#include <cmath>

namespace vox {

COLORREF ToColorRef(const QColor& color) {
    QColor rgb = color.toRgb();
    return static_cast<COLORREF>(rgb.red()) | static_cast<COLORREF>(rgb.green()) << 8 |
           static_cast<COLORREF>(rgb.blue()) << 16;
}

QColor FromColorRef(COLORREF color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

CharFormat CharFormatFromQt(const QTextCharFormat& fmt, const QFont& fallback) {
    QFont font = fallback.resolve(fmt.font());
    CharFormat out;
    const QStringList families = fmt.fontFamilies().toStringList();
    out.szFaceName = (families.isEmpty() ? font.family() : families.front()).toStdString();
    const double points = fmt.fontPointSize() > 0 ? fmt.fontPointSize() : font.pointSizeF();
    out.yHeight = points > 0 ? static_cast<int>(std::lround(points * 20)) : 180;
    out.crTextColor = fmt.hasProperty(QTextFormat::ForegroundBrush) ? ToColorRef(fmt.foreground().color()) : 0;
    out.dwEffects = 0;
    if (fmt.fontWeight() >= QFont::Bold) out.dwEffects |= CFE_BOLD;
    if (fmt.fontItalic()) out.dwEffects |= CFE_ITALIC;
    if (fmt.fontUnderline()) out.dwEffects |= CFE_UNDERLINE;
    if (fmt.fontStrikeOut()) out.dwEffects |= CFE_STRIKEOUT;
    return out;
}

QTextCharFormat QtCharFormat(const QFont& font, const QColor& color) {
    QTextCharFormat fmt;
    fmt.setFontFamilies(QStringList{font.family()});
    fmt.setFontPointSize(font.pointSizeF() > 0 ? font.pointSizeF() : 9);
    fmt.setFontWeight(font.bold() ? QFont::Bold : QFont::Normal);
    fmt.setFontItalic(font.italic());
    fmt.setFontUnderline(font.underline());
    fmt.setFontStrikeOut(font.strikeOut());
    fmt.setForeground(color);
    return fmt;
}

ParaFormat ParaFormatFromQt(Qt::Alignment alignment) {
    ParaFormat out;
    if (alignment & Qt::AlignHCenter)
        out.wAlignment = PFA_CENTER;
    else if (alignment & Qt::AlignRight)
        out.wAlignment = PFA_RIGHT;
    else
        out.wAlignment = PFA_LEFT;
    return out;
}

Qt::Alignment QtAlignment(int wAlignment) {
    switch (wAlignment) {
        case PFA_CENTER:
            return Qt::AlignHCenter;
        case PFA_RIGHT:
            return Qt::AlignRight;
        default:
            return Qt::AlignLeft;
    }
}

QFont QtFont(const CharFormat& format) {
    QFont font(QString::fromStdString(format.szFaceName));
    font.setPointSizeF(format.yHeight / 20.0);
    font.setBold(format.dwEffects & CFE_BOLD);
    font.setItalic(format.dwEffects & CFE_ITALIC);
    font.setUnderline(format.dwEffects & CFE_UNDERLINE);
    font.setStrikeOut(format.dwEffects & CFE_STRIKEOUT);
    return font;
}

}  // namespace vox
