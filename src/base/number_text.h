#pragma once
// Reading the unsigned numbers that users type into edits and command-line options.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vox {

// An unsigned decimal number with nothing but blanks (spaces, tabs) before and after it: no sign, no
// exponent, no other text. Empty text, a sign, or a value past 32 bits gives no value.
std::optional<uint32_t> ParseUnsignedDecimal(std::string_view text);

}  // namespace vox
