#include "decode/UUDecoder.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

namespace qm {

namespace {

// Groups are stored as byte-swapped 32-bit words.
static_assert(std::endian::native == std::endian::little);

// A count character stands for at most 63 bytes; one more as each group stores four bytes.
constexpr std::size_t kMaxLineBytes = 63;
constexpr std::size_t kLineRoom = kMaxLineBytes + 1;

// Every character counts as (character - 32) modulo 64, so a space and a grave accent are both 0
// and line ends inside a group decode like any other character.
constexpr std::uint32_t UuValue(int c) {
    return static_cast<std::uint32_t>((c - 32) & 63);
}

constexpr std::array<std::uint32_t, 256> kCount = [] {
    std::array<std::uint32_t, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = UuValue(c);
    return table;
}();

// Each data table holds the value already shifted to its place in the 24 bits of a group of four.
// Lines are text, so a NUL ends one like its real end: NUL carries a flag bit instead.
constexpr std::uint32_t kNulFlag = 0x80000000u;

constexpr std::array<std::uint32_t, 256> ShiftedTable(int shift) {
    std::array<std::uint32_t, 256> table{};
    for (int c = 0; c < 256; ++c) table[c] = c == 0 ? kNulFlag : UuValue(c) << shift;
    return table;
}

constexpr auto kUu0 = ShiftedTable(18);
constexpr auto kUu1 = ShiftedTable(12);
constexpr auto kUu2 = ShiftedTable(6);
constexpr auto kUu3 = ShiftedTable(0);

// Decodes `groups` groups of four characters; false when one of them holds a NUL.
bool DecodeGroups(const unsigned char* in, std::size_t groups, unsigned char* out) {
    std::uint32_t flags = 0;
    for (std::size_t g = 0; g < groups; ++g, in += 4, out += 3) {
        const std::uint32_t bits = kUu0[in[0]] | kUu1[in[1]] | kUu2[in[2]] | kUu3[in[3]];
        flags |= bits;
        // Stores four bytes, the last overwritten by the next group or not committed.
        const std::uint32_t bytes = __builtin_bswap32(bits << 8);
        std::memcpy(out, &bytes, 4);
    }
    return (flags & kNulFlag) == 0;
}

}  // namespace

CUUDecoder::CUUDecoder(std::string outputPath) : path_(std::move(outputPath)) {}

bool CUUDecoder::IsBeginLine(std::string_view line) {
    constexpr std::string_view kBegin = "begin ";
    if (!line.starts_with(kBegin)) return false;
    std::size_t pos = kBegin.size();
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '7') ++pos;
    const std::size_t digits = pos - kBegin.size();
    if (digits < 3 || digits > 4) return false;
    if (pos >= line.size() || line[pos] != ' ') return false;
    ++pos;
    return pos < line.size() && line[pos] != '\r' && line[pos] != '\n';
}

int CUUDecoder::DecodeLine(std::string_view line) {
    switch (state_) {
        case kWaitingForBegin:
            return StartFile(line);
        case kDecoding:
            return DecodeData(line);
        case kExpectingEnd:
            state_ = kFinished;
            return line == "end" ? 2 : 1;
        case kFinished:
            break;
    }
    return 2;
}

bool CUUDecoder::Close() {
    if (!file_.Close()) error_ = true;
    state_ = kFinished;
    return !error_;
}

int CUUDecoder::StartFile(std::string_view line) {
    if (!IsBeginLine(line)) return 0;
    if (!file_.Open(path_)) {
        state_ = kFinished;
        error_ = true;
        return 1;
    }
    state_ = kDecoding;
    return 0;
}

int CUUDecoder::DecodeData(std::string_view line) {
    const auto* text = reinterpret_cast<const unsigned char*>(line.data());
    // An empty line has only its terminator, which counts like a NUL character.
    const std::uint32_t count = kCount[line.empty() ? 0 : text[0]];
    if (count == 0) {
        wholeFile_ = true;
        return CloseFile(kExpectingEnd);
    }

    // A line too short for its count stops the attachment and keeps only what earlier lines
    // produced; none of its own bytes are kept.
    const std::size_t groups = (count + 2) / 3;
    if (line.size() < 1 + 4 * groups || text[0] == 0) return StopAtShortLine();
    unsigned char* out = file_.Reserve(kLineRoom);
    if (out == nullptr) return FailWrite();
    if (!DecodeGroups(text + 1, groups, out)) return StopAtShortLine();
    file_.Commit(count);  // the surplus bytes of the last group are not kept
    return 0;
}

int CUUDecoder::StopAtShortLine() {
    CloseFile(kFinished);
    return 1;
}

int CUUDecoder::CloseFile(State onSuccess) {
    if (!file_.Close()) {
        state_ = kFinished;
        error_ = true;
        return 1;
    }
    state_ = onSuccess;
    return 0;
}

int CUUDecoder::FailWrite() {
    file_.Close();
    state_ = kFinished;
    error_ = true;
    return 1;
}

}  // namespace qm
