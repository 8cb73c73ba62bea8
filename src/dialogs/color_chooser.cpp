#include "dialogs/color_chooser.h"
#include "dialogs/ui_text.h"

#include <QColorDialog>
#include <utility>

namespace vox {
namespace {

ColorChooserFunction& Replacement() {
    static ColorChooserFunction replacement;
    return replacement;
}

}  // namespace

bool ChooseColor(QWidget* parent, QColor& color) {
    if (const ColorChooserFunction& replacement = Replacement()) return replacement(parent, color);
    const QColor picked = QColorDialog::getColor(color, parent, UiText("颜色"));
    if (!picked.isValid()) return false;
    color = picked;
    return true;
}

ColorChooserFunction SetColorChooserFunction(ColorChooserFunction replacement) {
    return std::exchange(Replacement(), std::move(replacement));
}

}  // namespace vox
