#pragma once
// What every window of the program needs before it opens: the icon and tile picture compiled into vox_ui
// (a static library must register them itself), and Qt's own window texts (font and file choosers, message
// box buttons) in Chinese, like the rest of the program.

namespace vox {

// Both are safe to call any number of times; the second needs a QCoreApplication.
void LoadUiResources();
void LoadQtTranslation();

}  // namespace vox
