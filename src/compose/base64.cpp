#include "compose/base64.h"

#include <array>
#include <bit>
#include <cstring>

namespace vox {
namespace {

// Two output characters for every 12-bit value: one lookup and one 16-bit store per half group.
struct PairTable {
    std::array<std::uint16_t, 4096> pairs{};
    constexpr PairTable() {
        for (unsigned i = 0; i < 4096; ++i) {
            const auto hi = static_cast<unsigned char>(kBase64Alphabet[i >> 6]);
            const auto lo = static_cast<unsigned char>(kBase64Alphabet[i & 63]);
            // Stored in memory order: the first character at the lower address.
            if constexpr (std::endian::native == std::endian::little) {
                pairs[i] = static_cast<std::uint16_t>(hi | (lo << 8));
            } else {
                pairs[i] = static_cast<std::uint16_t>((hi << 8) | lo);
            }
        }
    }
};

constexpr PairTable kPairs;

inline void PutPair(char* out, unsigned index) {
    const std::uint16_t v = kPairs.pairs[index];
    std::memcpy(out, &v, 2);
}

inline char* EncodeGroups(char* out, const unsigned char* in, std::size_t groups) {
    for (std::size_t g = 0; g < groups; ++g) {
        const unsigned v = (unsigned{in[0]} << 16) | (unsigned{in[1]} << 8) | unsigned{in[2]};
        PutPair(out, v >> 12);
        PutPair(out + 2, v & 0xFFF);
        in += 3;
        out += 4;
    }
    return out;
}

// One full line: 57 bytes, 19 groups, 76 characters and the line break. A fixed count lets the compiler
// unroll the loop.
inline char* EncodeLine(char* out, const unsigned char* in) {
    out = EncodeGroups(out, in, kBase64LineBytes / 3);
    out[0] = '\r';
    out[1] = '\n';
    return out + 2;
}

}  // namespace

char* EncodeBase64To(char* out, const unsigned char* data, std::size_t n) {
    while (n >= kBase64LineBytes) {
        out = EncodeLine(out, data);
        data += kBase64LineBytes;
        n -= kBase64LineBytes;
    }
    if (n == 0) return out;

    // The last, shorter line: whole groups, then one padded group.
    out = EncodeGroups(out, data, n / 3);
    const std::size_t done = n / 3 * 3;
    const std::size_t rest = n - done;
    if (rest != 0) {
        const unsigned b0 = data[done];
        const unsigned b1 = rest == 2 ? data[done + 1] : 0u;
        out[0] = kBase64Alphabet[b0 >> 2];
        out[1] = kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        out[2] = rest == 2 ? kBase64Alphabet[(b1 & 15) << 2] : '=';
        out[3] = '=';
        out += 4;
    }
    // 55 and 56 bytes also fill 76 characters (with padding), and a full line always ends with CR LF.
    if ((n + 2) / 3 * 4 == 76) {
        out[0] = '\r';
        out[1] = '\n';
        out += 2;
    }
    return out;
}

void AppendBase64(std::string& text, const unsigned char* data, std::size_t n) {
    const std::size_t old = text.size();
    text.resize(old + Base64EncodedSize(n));
    EncodeBase64To(text.data() + old, data, n);
}

std::string EncodeBase64(const unsigned char* data, std::int32_t length) {
    std::string text;
    if (length > 0) AppendBase64(text, data, static_cast<std::size_t>(length));
    return text;
}

}  // namespace vox
