#pragma once
// Between the body editor's Qt formats and the draft's CharFormat/ParaFormat, which the page is built from.

#include <QColor>
#include <QFont>
#include <QTextCharFormat>

#include "compose/mail_draft.h"

namespace vox {

COLORREF ToColorRef(const QColor& color);
QColor FromColorRef(COLORREF color);

// The body's character format as the page uses it. What fmt leaves unset comes from the editor's font
// (fallback) and black text.
CharFormat CharFormatFromQt(const QTextCharFormat& fmt, const QFont& fallback);

// A complete character format: face, size, bold, italic, underline, strike-out and colour all set, so that
// applying it replaces whatever the text had.
QTextCharFormat QtCharFormat(const QFont& font, const QColor& color);

ParaFormat ParaFormatFromQt(Qt::Alignment alignment);
// The alignment of a paragraph for a code PFA_LEFT, PFA_RIGHT or PFA_CENTER (left for any other).
Qt::Alignment QtAlignment(int wAlignment);

// The font of a character format: face, size in points, bold, italic, underline and strike-out.
QFont QtFont(const CharFormat& format);

}  // namespace vox
