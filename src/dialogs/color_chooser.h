#pragma once
// The platform's colour picker. Like the message box and the file chooser it is replaceable, so that tests
// can answer it without a window.

#include <QColor>
#include <functional>

class QWidget;

namespace vox {

// Runs the picker started from color; on OK writes the choice back and returns true, on Cancel returns
// false and leaves color alone.
bool ChooseColor(QWidget* parent, QColor& color);

using ColorChooserFunction = std::function<bool(QWidget* parent, QColor& color)>;
// Replaces the picker; an empty function puts the real one back. Returns the previous replacement.
ColorChooserFunction SetColorChooserFunction(ColorChooserFunction replacement);

}  // namespace vox
