#pragma once
// A text of the windows in the user's language (base/translate.h), as Qt wants it.

#include <QString>

#include "base/translate.h"

namespace vox {

inline QString UiText(const char* text) { return QString::fromUtf8(Tr(text)); }

}  // namespace vox
