#pragma once
// The composer's push button. It draws itself pixel by pixel in fixed colours: a one-pixel frame with
// rounded corners, a vertical gradient on the face and a two-pixel inner ring whose gradient shows the
// state (normal, under the pointer, pressed, disabled), with a dotted rectangle when it has the focus.
//
// Everything is drawn without antialiasing on a grid of whole device-pixel squares (one logical pixel at
// scale 1, 2 by 2 device pixels at scale 2, single device pixels at 1.5), so lines stay sharp and even at
// any scale; the caption is drawn at the full resolution. The pointer is followed through the widget's
// enter and leave events; the button never grabs the mouse.
//
// Screen readers see a push button: Qt's own interface for QPushButton serves this class as well (its
// role, its caption or accessible name, its focus and pressed state, and its press action).

#include <QPushButton>
#include <memory>

#include "compose/mail_draft.h"

class QPainter;

namespace vox {

// Fills table[0..n-1] with a gradient from first to last: per channel the step is (last - first) / n,
// truncated toward zero, entry i is first + i * step, and the last entry is last exactly. n >= 1.
void MakeGradient(COLORREF first, COLORREF last, int n, COLORREF* table);

class CHoverButton : public QPushButton {
    Q_OBJECT
public:
    // Bits of the draw request's item state.
    static constexpr unsigned ODS_SELECTED = 0x0001;
    static constexpr unsigned ODS_DISABLED = 0x0004;
    static constexpr unsigned ODS_FOCUS = 0x0010;

    // m_nDrawState: the look drawn last, and the hover state.
    enum : int { kNormal = 0, kPressed = 1, kHover = 2, kDisabled = 3 };

    explicit CHoverButton(const QString& text, QWidget* parent = nullptr);
    ~CHoverButton() override;

    // New first (top) and last (bottom) colours of the normal ring. Only that ring is rebuilt, at the next
    // drawing; nothing is repainted here.
    void SetColors(COLORREF crTop, COLORREF crBottom);

    // Draws the look that itemState and the draw state call for into rcItem (its top left is the
    // button's (0, 0)).
    void DrawItem(QPainter& painter, unsigned itemState, const QRect& rcItem);

    int DrawState() const { return m_nDrawState; }
    bool HasFocusFlag() const { return m_bFocus; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    enum class Look { None, Normal, Hover, Pressed, Disabled };

    void DrawLook(QPainter& painter, Look look, const QRect& rcItem);
    void DrawFrame(QPainter& painter, int w, int h, bool disabled);
    void DrawRing(QPainter& painter, const COLORREF* g, int w, int h);
    void DrawText(QPainter& painter, int w, int h, int offset, COLORREF color);
    void DrawFocusDots(QPainter& painter, const QRect& rcItem);
    // Drops every table when the height differs from the one they were built for.
    void FitTablesTo(int h);
    void EnterHover();

    COLORREF m_crBottom = 0xEE8269;
    COLORREF m_crTop = 0xFFE7CE;
    std::unique_ptr<COLORREF[]> m_pFaceColors;   // h - 6 entries
    std::unique_ptr<COLORREF[]> m_pNormalRing;   // h - 2 entries, m_crTop to m_crBottom
    std::unique_ptr<COLORREF[]> m_pHoverRing;    // h - 2 entries
    std::unique_ptr<COLORREF[]> m_pPressedRing;  // h - 2 entries
    int m_nDrawState = kNormal;
    bool m_bFocus = false;

    int m_nTableHeight = 0;        // the height the tables were built for
    qreal m_textScale = 1.0;       // logical pixels per grid square while painting at a device ratio
    Look m_lastLook = Look::None;  // shown again when a drawing calls for no new picture
};

}  // namespace vox
