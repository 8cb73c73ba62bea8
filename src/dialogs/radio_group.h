#pragma once
// The data exchange of a group of radio buttons: the index of the checked button, -1 when none is.

#include <QList>

class QAbstractButton;
class QButtonGroup;
class QObject;

namespace vox {

// Groups the buttons in the given order (their indices) as one exclusive choice.
QButtonGroup* MakeRadioGroup(QObject* owner, const QList<QAbstractButton*>& buttons);

// Towards the member: the index of the checked button, or -1.
int ReadRadioGroup(const QButtonGroup* group);

// Towards the controls: checks the button whose index is index and unchecks the others; an index that no
// button has (-1) leaves every button unchecked.
void WriteRadioGroup(QButtonGroup* group, int index);

}  // namespace vox
