#include "controls/hover_button.h"

#include <QAccessible>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace vox {

namespace {

constexpr COLORREF kFramePen = 0x743C00;
constexpr COLORREF kCornerDiagonal = 0x854D27;
constexpr COLORREF kCornerSoftening = 0xA78E6E;
constexpr COLORREF kFaceFirst = 0xFBFCFC;
constexpr COLORREF kFaceLast = 0xE6EBEC;
constexpr COLORREF kHoverFirst = 0xCFF0FF;
constexpr COLORREF kHoverLast = 0x0097E5;
constexpr COLORREF kPressedFirst = 0xC1CCD1;
constexpr COLORREF kPressedLast = 0xEEF2F2;
constexpr COLORREF kInterior = 0xFBFCFC;
constexpr COLORREF kDisabledGrey = 0x92A1A1;
constexpr COLORREF kFocusDot = 0x000000;
constexpr COLORREF kText = 0x000000;

// Buttons this low have room for the frame only.
constexpr int kFrameOnlyHeight = 6;

int Red(COLORREF c) {
    return static_cast<int>(c & 0xFF);
}
int Green(COLORREF c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
int Blue(COLORREF c) {
    return static_cast<int>((c >> 16) & 0xFF);
}
QColor ToQColor(COLORREF c) {
    return QColor(Red(c), Green(c), Blue(c));
}

// A run of pixels on one row, x0 to x1 inclusive.
void Row(QPainter& p, int y, int x0, int x1, COLORREF c) {
    if (x1 >= x0) p.fillRect(QRect(x0, y, x1 - x0 + 1, 1), ToQColor(c));
}

// A run of pixels in one column, y0 to y1 inclusive.
void Column(QPainter& p, int x, int y0, int y1, COLORREF c) {
    if (y1 >= y0) p.fillRect(QRect(x, y0, 1, y1 - y0 + 1), ToQColor(c));
}

void Pixel(QPainter& p, int x, int y, COLORREF c) {
    p.fillRect(QRect(x, y, 1, 1), ToQColor(c));
}

std::unique_ptr<COLORREF[]> Gradient(COLORREF first, COLORREF last, int n) {
    auto table = std::make_unique<COLORREF[]>(static_cast<std::size_t>(n));
    MakeGradient(first, last, n, table.get());
    return table;
}

}  // namespace

void MakeGradient(COLORREF first, COLORREF last, int n, COLORREF* table) {
    if (n < 1) return;
    const int stepR = (Red(last) - Red(first)) / n;  // C++ division truncates toward zero
    const int stepG = (Green(last) - Green(first)) / n;
    const int stepB = (Blue(last) - Blue(first)) / n;
    for (int i = 0; i < n; ++i) {
        table[i] = static_cast<COLORREF>(Red(first) + i * stepR) |
                   static_cast<COLORREF>(Green(first) + i * stepG) << 8 |
                   static_cast<COLORREF>(Blue(first) + i * stepB) << 16;
    }
    table[n - 1] = last;
}

CHoverButton::CHoverButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    // Moves without a button pressed must reach the button: a click ends in the normal look, and the next
    // move over the button lights it up again.
    setMouseTracking(true);
    // Qt tells assistive technology when a button's checked state changes, not when it goes down or up; the
    // pressed look is part of what this button shows, so its change is told as well.
    const auto tellPressed = [this] {
        QAccessible::State changed;
        changed.pressed = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    };
    connect(this, &QAbstractButton::pressed, this, tellPressed);
    connect(this, &QAbstractButton::released, this, tellPressed);
}

CHoverButton::~CHoverButton() = default;

void CHoverButton::SetColors(COLORREF crTop, COLORREF crBottom) {
    m_crTop = crTop;
    m_crBottom = crBottom;
    m_pNormalRing.reset();
}

void CHoverButton::paintEvent(QPaintEvent*) {
    unsigned itemState = 0;
    if (isDown()) itemState |= ODS_SELECTED;
    if (hasFocus()) itemState |= ODS_FOCUS;
    if (!isEnabled()) itemState |= ODS_DISABLED;
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    if (ratio == 1.0) {
        DrawItem(painter, itemState, rect());
        return;
    }
    // The frame, rings and dots are pixel art: they are drawn on a grid of whole device-pixel squares
    // (2 by 2 at scale 2, 1 by 1 at 1.5) that covers the button's device pixels, so every line is equally
    // thick and nothing blurs; only the caption is drawn at the full resolution.
    const int unit = std::max(1, static_cast<int>(ratio + 1e-6));
    const QSize device(qRound(width() * ratio), qRound(height() * ratio));
    QImage art(device, QImage::Format_ARGB32_Premultiplied);
    art.fill(Qt::transparent);
    {
        QPainter artPainter(&art);
        artPainter.scale(unit, unit);
        m_textScale = ratio / unit;
        DrawItem(artPainter, itemState, QRect(0, 0, device.width() / unit, device.height() / unit));
        m_textScale = 1.0;
    }
    art.setDevicePixelRatio(ratio);
    painter.drawImage(QPointF(0, 0), art);
}

void CHoverButton::DrawItem(QPainter& painter, unsigned itemState, const QRect& rcItem) {
    Look look;
    if (itemState & ODS_SELECTED) {
        look = Look::Pressed;
        m_nDrawState = kPressed;
    } else if ((itemState & ODS_FOCUS) && (m_nDrawState == kPressed || m_nDrawState == kDisabled)) {
        look = Look::Normal;
        m_nDrawState = kNormal;
    } else if (itemState & ODS_DISABLED) {
        look = Look::Disabled;
        m_nDrawState = kDisabled;
    } else if (m_nDrawState == kHover) {
        look = Look::Hover;
    } else if (m_nDrawState == kNormal || m_nDrawState == kDisabled) {
        look = Look::Normal;
    } else {
        // Still pressed in the draw state, but neither selected nor focused any more (a click that opened
        // another window): no new picture, the last one stays.
        look = m_lastLook;
    }
    DrawLook(painter, look, rcItem);
    m_lastLook = look;
}

void CHoverButton::FitTablesTo(int h) {
    if (h == m_nTableHeight) return;
    m_pFaceColors.reset();
    m_pNormalRing.reset();
    m_pHoverRing.reset();
    m_pPressedRing.reset();
    m_nTableHeight = h;
}

void CHoverButton::DrawLook(QPainter& painter, Look look, const QRect& rcItem) {
    if (look == Look::None) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.translate(rcItem.topLeft());
    const int w = rcItem.width(), h = rcItem.height();

    DrawFrame(painter, w, h, look == Look::Disabled);
    if (h > kFrameOnlyHeight) {
        FitTablesTo(h);
        switch (look) {
            case Look::Normal:
            case Look::Hover: {
                if (!m_pNormalRing) m_pNormalRing = Gradient(m_crTop, m_crBottom, h - 2);
                if (!m_pHoverRing) m_pHoverRing = Gradient(kHoverFirst, kHoverLast, h - 2);
                if (!m_pFaceColors) m_pFaceColors = Gradient(kFaceFirst, kFaceLast, h - 6);
                for (int y = 3; y <= h - 4; ++y) Row(painter, y, 3, w - 4, m_pFaceColors[y - 3]);
                DrawText(painter, w, h, 0, kText);
                DrawRing(painter, look == Look::Normal ? m_pNormalRing.get() : m_pHoverRing.get(), w, h);
                if (m_bFocus) DrawFocusDots(painter, QRect(0, 0, w, h));
                break;
            }
            case Look::Pressed:
                if (!m_pPressedRing) m_pPressedRing = Gradient(kPressedFirst, kPressedLast, h - 2);
                DrawRing(painter, m_pPressedRing.get(), w, h);
                for (int y = 3; y <= h - 4; ++y) Row(painter, y, 3, w - 4, kInterior);
                DrawText(painter, w, h, 1, kText);
                DrawFocusDots(painter, QRect(0, 0, w, h));
                break;
            case Look::Disabled:
                Row(painter, 1, 2, w - 3, kInterior);
                Row(painter, h - 2, 2, w - 3, kInterior);
                for (int y = 2; y <= h - 3; ++y) Row(painter, y, 1, w - 2, kInterior);
                DrawText(painter, w, h, 0, kDisabledGrey);
                break;
            case Look::None:
                break;
        }
    }
    painter.restore();
}

void CHoverButton::DrawFrame(QPainter& p, int w, int h, bool disabled) {
    const COLORREF line = disabled ? kDisabledGrey : kFramePen;
    const COLORREF diagonal = disabled ? kDisabledGrey : kCornerDiagonal;
    const COLORREF softening = disabled ? kDisabledGrey : kCornerSoftening;

    // Each line stops one pixel short of its end point.
    Row(p, 0, 3, w - 4, line);
    Column(p, w - 1, 3, h - 4, line);
    Column(p, 0, 3, h - 4, line);
    Row(p, h - 1, 3, w - 4, line);

    const QPoint diagonals[] = {{0, 2},         {1, 1},     {2, 0},         {w - 1, 2},
                                {w - 2, 1},     {w - 3, 0}, {w - 1, h - 3}, {w - 2, h - 2},
                                {w - 3, h - 1}, {0, h - 3}, {1, h - 2},     {2, h - 1}};
    for (const QPoint& pt : diagonals) Pixel(p, pt.x(), pt.y(), diagonal);
    const QPoint softenings[] = {{1, 0},         {0, 1},         {w - 2, 0}, {w - 1, 1},
                                 {w - 2, h - 1}, {w - 1, h - 2}, {1, h - 1}, {0, h - 2}};
    for (const QPoint& pt : softenings) Pixel(p, pt.x(), pt.y(), softening);
}

void CHoverButton::DrawRing(QPainter& p, const COLORREF* g, int w, int h) {
    for (int y = 1; y <= h - 2; ++y) {
        const COLORREF c = g[y - 1];
        if (y == 1 || y == h - 2) {
            Row(p, y, 2, w - 3, c);
        } else if (y == 2 || y == h - 3) {
            Row(p, y, 1, w - 2, c);
        } else {
            Row(p, y, 1, 2, c);
            Row(p, y, w - 3, w - 2, c);
        }
    }
}

void CHoverButton::DrawText(QPainter& p, int w, int h, int offset, COLORREF color) {
    if (m_textScale != 1.0) {
        // On the device-pixel grid: the caption in the button's own (logical) units, centred the same way.
        const qreal s = m_textScale;
        const QFontMetricsF metrics(font());
        const QString label = text();
        p.save();
        p.scale(s, s);
        const qreal x = (w / s - metrics.horizontalAdvance(label)) / 2 + offset / s;
        const qreal y = (h / s - metrics.height()) / 2 + offset / s;
        p.setFont(font());
        p.setPen(ToQColor(color));
        p.drawText(QPointF(x, y + metrics.ascent()), label);
        p.restore();
        return;
    }
    const QFontMetrics metrics(font());
    const QString label = text();
    const int x = (w - metrics.horizontalAdvance(label)) / 2 + offset;
    const int y = (h - metrics.height()) / 2 + offset;
    p.setFont(font());
    p.setPen(ToQColor(color));
    p.drawText(x, y + metrics.ascent(), label);  // no background behind the text
}

void CHoverButton::DrawFocusDots(QPainter& p, const QRect& rcItem) {
    const int left = rcItem.left() + 3, top = rcItem.top() + 3;
    const int right = rcItem.left() + rcItem.width() - 3, bottom = rcItem.top() + rcItem.height() - 3;
    if (right <= left || bottom <= top) return;
    // One toggle for the whole walk, starting with a skip; corners are visited by both of their sides.
    bool draw = false;
    const auto visit = [&](int x, int y) {
        if (draw) Pixel(p, x, y, kFocusDot);
        draw = !draw;
    };
    for (int x = left; x <= right - 1; ++x) visit(x, top);
    for (int y = top; y <= bottom - 1; ++y) visit(right - 1, y);
    for (int x = right - 1; x >= left; --x) visit(x, bottom - 1);
    for (int y = bottom - 1; y >= top; --y) visit(left, y);
}

void CHoverButton::EnterHover() {
    // A disabled button takes no pointer input, as its look says.
    if (!isEnabled() || (QGuiApplication::mouseButtons() & Qt::LeftButton)) return;
    if (m_nDrawState == kHover) return;
    m_nDrawState = kHover;
    update();
}

void CHoverButton::enterEvent(QEnterEvent* event) {
    EnterHover();
    QPushButton::enterEvent(event);
}

void CHoverButton::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) EnterHover();
    QPushButton::mouseMoveEvent(event);
}

void CHoverButton::leaveEvent(QEvent* event) {
    // The pointer is off the button, by however little: back to the normal look. This also holds when the
    // left button is down, so that no button stays lit after a drag that ended elsewhere.
    if (m_nDrawState == kHover) {
        m_nDrawState = kNormal;
        update();
    }
    QPushButton::leaveEvent(event);
}

void CHoverButton::focusInEvent(QFocusEvent* event) {
    m_bFocus = true;
    QPushButton::focusInEvent(event);
}

void CHoverButton::focusOutEvent(QFocusEvent* event) {
    m_bFocus = false;
    QPushButton::focusOutEvent(event);
}

}  // namespace vox
