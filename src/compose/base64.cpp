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

inline std::uint64_t LoadBigEndian64(const unsigned char* in) {
    std::uint64_t v;
    std::memcpy(&v, in, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}

// One full line: 57 bytes, 76 characters and the line break. Nine rounds take six bytes each through one
// 8-byte load (the two extra bytes still lie inside the line) and give eight characters in one store; the
// last three bytes make one more group.
inline char* EncodeLine(char* out, const unsigned char* in) {
    for (int r = 0; r < 9; ++r) {
        const std::uint64_t v = LoadBigEndian64(in);
        const std::uint64_t p0 = kPairs.pairs[(v >> 52) & 0xFFF];
        const std::uint64_t p1 = kPairs.pairs[(v >> 40) & 0xFFF];
        const std::uint64_t p2 = kPairs.pairs[(v >> 28) & 0xFFF];
        const std::uint64_t p3 = kPairs.pairs[(v >> 16) & 0xFFF];
        std::uint64_t chars;
        if constexpr (std::endian::native == std::endian::little) {
            chars = p0 | (p1 << 16) | (p2 << 32) | (p3 << 48);
        } else {
            chars = (p0 << 48) | (p1 << 32) | (p2 << 16) | p3;
        }
        std::memcpy(out, &chars, 8);
        in += 6;
        out += 8;
    }
    out = EncodeGroups(out, in, 1);
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
    const std::size_t total = text.size() + Base64EncodedSize(n);
    if (total > text.capacity()) text.reserve(total);
    // The text grows a piece at a time: resize() zero-fills, and zeroing a piece that is still in the cache
    // just before encoding over it costs next to nothing, where zeroing megabytes ahead costs a second pass
    // through memory.
    constexpr std::size_t kPiece = kBase64LineBytes * 128;
    while (n > 0) {
        const std::size_t take = n < kPiece ? n : kPiece;
        const std::size_t old = text.size();
        text.resize(old + Base64EncodedSize(take));
        EncodeBase64To(text.data() + old, data, take);
        data += take;
        n -= take;
    }
}

std::string EncodeBase64(const unsigned char* data, std::int32_t length) {
    std::string text;
    if (length > 0) AppendBase64(text, data, static_cast<std::size_t>(length));
    return text;
}

}  // namespace vox
