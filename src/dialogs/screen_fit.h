#pragma once
// Windows keep the size of their templates, but a template can be larger than a small or highly scaled
// screen (480 by 452 pixels is 960 by 904 device pixels at scale factor 2). Such a window is shrunk to the
// screen's free area and moved into it, so that nothing of it lies off the screen.

class QScreen;
class QWidget;

namespace vox {

// Fits the top-level window to the available geometry of screen (the window's own screen when null): each
// side longer than that area is shortened to it (within the window's minimum size), and a window that
// then reaches past the area is moved into it. A window that fits is left where it is.
void FitToScreen(QWidget* window, QScreen* screen = nullptr);

}  // namespace vox
