#pragma once
// The windows keep their templates' fixed geometry, which was drawn for the Chinese captions; other
// languages (and other fonts) need more room. Once a window's texts are set, TextFit widens each control
// whose caption does not fit and makes room for it, so that no template needs a rectangle per language.

class QWidget;

namespace vox {

// The width a control needs to show its whole caption: a label's (one line, not word-wrapped), a
// button's, check box's or radio button's, a group box's title. 0 for every other widget, and for an
// empty caption.
int CaptionWidth(const QWidget* control);

// Fits the captions of the window's controls that are placed by hand (children of a widget with a layout
// are left to it). A control narrower than its caption is widened to it; each control to its right on the
// same row (their heights overlap) moves right as far as needed to keep the gap they had (at most 5
// pixels of it); a group box around a widened or moved control widens and takes its contents along; and
// the window grows to keep its right margin. Nothing moves left, up or down, and a window whose captions
// all fit is left exactly as it is. A window of fixed width keeps a fixed width, the new one.
void FitTexts(QWidget* window);

}  // namespace vox
