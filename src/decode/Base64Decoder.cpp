#include "decode/Base64Decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace qm {

namespace {

// Groups are stored as byte-swapped 32-bit words.
static_assert(std::endian::native == std::endian::little);

constexpr int ValueOf(int c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return -1;
    return -2;
}

constexpr std::array<int, 256> kValue = [] {
    std::array<int, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = ValueOf(c);
    return table;
}();

// For the fast path: each table holds a character's value already shifted to its place in the
// 24 bits of a group, or kNotData for "=" and characters outside the alphabet.
constexpr std::uint32_t kNotData = 0x80000000u;

constexpr std::array<std::uint32_t, 256> ShiftedTable(int shift) {
    std::array<std::uint32_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const int v = ValueOf(c);
        table[c] = v < 0 ? kNotData : static_cast<std::uint32_t>(v) << shift;
    }
    return table;
}

constexpr auto kB0 = ShiftedTable(18);
constexpr auto kB1 = ShiftedTable(12);
constexpr auto kB2 = ShiftedTable(6);
constexpr auto kB3 = ShiftedTable(0);

// Text is decoded in slices so that a slice's output always fits the free part of the buffer.
constexpr std::size_t kSliceChars = std::size_t{64} << 10;

}  // namespace

int Base64Value(char c) {
    return kValue[static_cast<unsigned char>(c)];
}

int CBase64Decoder::OpenOutput(const std::string& path) {
    return file_.Open(path) ? 0 : 1;
}

bool CBase64Decoder::Close() {
    return file_.Close() && !file_.Failed();
}

long CBase64Decoder::DecodeAndWrite(std::string_view text) {
    if (!file_.IsOpen() || file_.Failed()) return -1;
    long produced = 0;
    while (!text.empty()) {
        const std::size_t size = std::min(text.size(), kSliceChars);
        // With up to three characters carried in, a slice completes at most size / 4 + 1 groups;
        // one byte more for the four-byte store of the last.
        unsigned char* out = file_.Reserve(size / 4 * 3 + 4);
        if (out == nullptr) return -1;
        const Decoded d =
            DecodeSlice(reinterpret_cast<const unsigned char*>(text.data()), size, out);
        file_.Commit(d.bytes);
        produced += static_cast<long>(d.bytes);
        if (d.padded) break;
        text.remove_prefix(size);
    }
    return produced;
}

CBase64Decoder::Decoded CBase64Decoder::DecodeSlice(const unsigned char* text, std::size_t size,
                                                    unsigned char* out) {
    unsigned char* const start = out;
    std::size_t i = 0;
    while (i < size) {
        if (groupCount_ == 0) {
            // Whole groups of four alphabet characters, the bulk of every line.
            for (; i + 4 <= size; i += 4, out += 3) {
                const std::uint32_t bits =
                    kB0[text[i]] | kB1[text[i + 1]] | kB2[text[i + 2]] | kB3[text[i + 3]];
                if (bits & kNotData) break;
                // Four bytes stored, the last overwritten by the next group or not committed.
                const std::uint32_t bytes = __builtin_bswap32(bits << 8);
                std::memcpy(out, &bytes, 4);
            }
            if (i >= size) break;
        }
        const unsigned char c = text[i++];
        if (kValue[c] == -2) continue;
        group_[groupCount_++] = c;
        if (groupCount_ < 4) continue;
        groupCount_ = 0;
        if (EmitGroup(out)) return {static_cast<std::size_t>(out - start), true};
    }
    return {static_cast<std::size_t>(out - start), false};
}

// Emits the bytes of the complete group; true when padding ended it. A "=" in first or second
// place takes part with the value -1 (every bit set), giving a garbage byte rather than an error.
bool CBase64Decoder::EmitGroup(unsigned char*& out) const {
    const int a = kValue[group_[0]];
    const int b = kValue[group_[1]];
    const int c = kValue[group_[2]];
    const int d = kValue[group_[3]];
    *out++ = static_cast<unsigned char>((a << 2) | (b >> 4));
    if (group_[2] == '=') return true;
    *out++ = static_cast<unsigned char>((b << 4) | (c >> 2));
    if (group_[3] == '=') return true;
    *out++ = static_cast<unsigned char>((c << 6) | d);
    return false;
}

}  // namespace qm
