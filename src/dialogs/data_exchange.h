#pragma once
// Reading numbers that the user typed into a window's edits. Every window that reads a number uses these,
// so the messages, the focus and the selection after a refusal are the same everywhere.
//
// A refusal shows its message with the exclamation icon and the application's title as caption, gives
// the edit the focus with its whole text selected, and returns false; the caller stops its exchange there,
// so members before the failing edit are updated and those after it are not.

#include <QString>

#include <cstdint>

class QLineEdit;
class QWidget;

namespace vox {

extern const char* const kMsgEnterPositiveInteger;  // "“请填入一个正整数。”"
extern const char* const kMsgEnterByte;             // "“请填入一个在0和255之间的整数。”"

// The caption of the data-exchange boxes: the executable's file name without its extension.
QString ApplicationTitle();

// An unsigned decimal number (blanks or tabs around it allowed, no sign) from the first 31 characters
// of the edit, stored in value on success.
bool ReadUnsignedEdit(QWidget* window, QLineEdit* edit, uint32_t& value);

// As above, then the value must lie in 0..255.
bool ReadByteEdit(QWidget* window, QLineEdit* edit, uint32_t& value);

// Towards the control: the number in decimal.
void WriteUnsignedEdit(QLineEdit* edit, uint32_t value);

}  // namespace vox
