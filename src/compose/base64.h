#pragma once
// Base64 as mail bodies carry it: the RFC 2045 alphabet, "=" padding, and a CR LF after every 76th
// character (the last one included), so that 57 input bytes make exactly one line.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vox {

inline constexpr const char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Input bytes that fill one output line of 76 characters.
inline constexpr std::size_t kBase64LineBytes = 57;

// Exact length of the encoding of n bytes, line breaks included.
constexpr std::size_t Base64EncodedSize(std::size_t n) {
    const std::size_t chars = (n + 2) / 3 * 4;
    return chars + 2 * (chars / 76);
}

// Writes the encoding of n bytes to out, which must hold Base64EncodedSize(n) bytes; returns the end.
// The encoding starts at the beginning of a line.
char* EncodeBase64To(char* out, const unsigned char* data, std::size_t n);

// Appends the encoding of n bytes to text. Encodings of pieces whose lengths are multiples of 57 bytes
// join up exactly into the encoding of the whole.
void AppendBase64(std::string& text, const unsigned char* data, std::size_t n);

// The encoding of length bytes as a new text; a negative length gives an empty text.
std::string EncodeBase64(const unsigned char* data, std::int32_t length);

}  // namespace vox
