#include "dialogs/radio_group.h"

#include <QAbstractButton>
#include <QButtonGroup>

namespace vox {

QButtonGroup* MakeRadioGroup(QObject* owner, const QList<QAbstractButton*>& buttons) {
    auto* group = new QButtonGroup(owner);
    for (int i = 0; i < buttons.size(); ++i) group->addButton(buttons[i], i);
    return group;
}

int ReadRadioGroup(const QButtonGroup* group) {
    return group->checkedId();
}

void WriteRadioGroup(QButtonGroup* group, int index) {
    // An exclusive group refuses to uncheck its checked button; lift that for the moment of writing.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(group->id(button) == index);
    group->setExclusive(true);
}

}  // namespace vox
