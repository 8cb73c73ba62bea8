#include "controls/body_edit.h"

#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>

#include "dialogs/data_exchange.h"
#include "dialogs/message_box.h"
#include "picture/picture_image.h"

namespace vox {

CBodyEdit::CBodyEdit(QWidget* parent) : QTextEdit(parent) {
    setAcceptRichText(false);
    ApplyViewportFill();
}

bool CBodyEdit::SetBackgroundPicture(const QString& path) {
    const QScreen* screen = this->screen();
    const int dpiX = screen ? qRound(screen->logicalDotsPerInchX()) : 96;
    const int dpiY = screen ? qRound(screen->logicalDotsPerInchY()) : 96;
    CPictureImage picture;
    if (!picture.LoadFromFile(path, dpiX, dpiY)) {
        ShowMessage(this, picture.ErrorText(), ApplicationTitle(), MessageIcon::None);
        return false;
    }
    m_tile = picture.TakeBitmap();  // the previous tile goes here
    m_bColorMode = false;
    ApplyViewportFill();
    viewport()->update();
    return true;
}

void CBodyEdit::SetBackgroundColor(const QColor& color) {
    m_crBackground = color;
    m_bColorMode = true;
    ApplyViewportFill();
    viewport()->update();
}

void CBodyEdit::SetTransparent() {
    m_bColorMode = false;
    ApplyViewportFill();
    viewport()->update();
}

// While we paint the background ourselves the viewport must not fill its own over it.
void CBodyEdit::ApplyViewportFill() {
    const bool own = m_bColorMode || !m_tile.isNull();
    viewport()->setAutoFillBackground(!own);
}

void CBodyEdit::paintEvent(QPaintEvent* event) {
    if (m_bColorMode || !m_tile.isNull()) {
        QPainter painter(viewport());
        if (m_bColorMode) {
            painter.fillRect(event->rect(), m_crBackground);
        } else {
            // The tile starts at the viewport's top-left corner whatever the text's scroll position.
            painter.setBrushOrigin(0, 0);
            painter.fillRect(event->rect(), QBrush(m_tile));
        }
    }
    QTextEdit::paintEvent(event);
}

void CBodyEdit::scrollContentsBy(int dx, int dy) {
    QTextEdit::scrollContentsBy(dx, dy);
    // Scrolling moves the viewport's pixels, tile included; the tile stays put, so paint it all again.
    if (!m_bColorMode && !m_tile.isNull()) viewport()->update();
}

bool CBodyEdit::canInsertFromMimeData(const QMimeData* source) const { return source && source->hasText(); }

// Every paste (keys, menu, middle button, drop) ends here: only the text, in the format at the cursor.
void CBodyEdit::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText()) return;
    QString text = source->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor cursor = textCursor();
    cursor.insertText(text, currentCharFormat());
    setTextCursor(cursor);
    ensureCursorVisible();
}

}  // namespace vox
