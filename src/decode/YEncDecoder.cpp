#include "decode/YEncDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <utility>

#include "util/TextFiles.h"

namespace qm {

namespace {

// The CRC tables and the 16-byte blocks are read as little-endian words.
static_assert(std::endian::native == std::endian::little);

// Slice-by-8: table k gives the CRC of a byte followed by k zero bytes, so eight table lookups
// advance the CRC by eight bytes at once.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
    CrcTables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][b] = c;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    }
    return t;
}

constexpr CrcTables kCrc = MakeCrcTables();

// Sixteen bytes at a time through the compiler's generic vectors (SSE2 on x86-64, NEON on ARM).
using Block = unsigned char __attribute__((vector_size(16)));
constexpr std::size_t kBlock = sizeof(Block);

// A line is decoded in slices that fit the output buffer; each yields at most one byte per
// character, plus the room one block store may write past the last byte kept.
constexpr std::size_t kSlice = std::size_t{64} << 10;

// One decoded byte: the character minus 42, or an escaped character minus 64 and 42.
constexpr unsigned char Plain(unsigned char c) {
    return static_cast<unsigned char>(c - 42);
}
constexpr unsigned char Escaped(unsigned char c) {
    return static_cast<unsigned char>(c - 64 - 42);
}

struct Decoded {
    unsigned char* out;       // end of the bytes written
    const unsigned char* in;  // end of the characters taken
};

// Decodes [in, end) into out. CR and LF are never data, and a "=" before them escapes nothing.
// A "=" as the last character is left untaken: its character may start the next slice.
Decoded DecodeSpan(const unsigned char* in, const unsigned char* end, unsigned char* out) {
    while (in < end) {
        if (end - in >= static_cast<std::ptrdiff_t>(kBlock)) {
            Block v;
            std::memcpy(&v, in, kBlock);
            const auto special = (v == '=') | (v == '\r') | (v == '\n');
            std::uint64_t low = 0, high = 0;
            std::memcpy(&low, &special, 8);
            std::memcpy(&high, reinterpret_cast<const char*>(&special) + 8, 8);
            const Block plain = v - 42;
            // All sixteen are stored; the ones at and after a special character are overwritten.
            std::memcpy(out, &plain, kBlock);
            if ((low | high) == 0) {
                in += kBlock;
                out += kBlock;
                continue;
            }
            const int ordinary =
                low != 0 ? std::countr_zero(low) / 8 : 8 + std::countr_zero(high) / 8;
            in += ordinary;
            out += ordinary;
        }
        const unsigned char c = *in;
        if (c == '=') {
            if (end - in < 2) break;
            if (in[1] == '\r' || in[1] == '\n') {
                ++in;
            } else {
                *out++ = Escaped(in[1]);
                in += 2;
            }
        } else {
            if (c != '\r' && c != '\n') *out++ = Plain(c);
            ++in;
        }
    }
    return {out, in};
}

bool IsKeywordLine(std::string_view line, std::string_view keyword) {
    if (!line.starts_with(keyword)) return false;
    if (line.size() == keyword.size()) return true;
    const char next = line[keyword.size()];
    return next == ' ' || next == '\r' || next == '\n';
}

// The value of " key=" among the space-separated fields of params, without the line end.
std::optional<std::string_view> Field(std::string_view params, std::string_view key) {
    params = WithoutLineEnd(params);
    for (std::size_t at = 0; (at = params.find(key, at)) != std::string_view::npos; ++at) {
        const std::size_t value = at + key.size();
        if (at == 0 || params[at - 1] != ' ' || value >= params.size() || params[value] != '=')
            continue;
        const std::size_t stop = std::min(params.find(' ', value), params.size());
        return params.substr(value + 1, stop - value - 1);
    }
    return std::nullopt;
}

// A whole-field number in the given base; nothing when the text is not one or overflows.
std::optional<std::uint64_t> Number(std::optional<std::string_view> text, int base = 10) {
    if (!text || text->empty()) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, err] = std::from_chars(text->data(), text->data() + text->size(), value, base);
    if (err != std::errc{} || end != text->data() + text->size()) return std::nullopt;
    return value;
}

// Whether an announced CRC (hex, any case, leading zeros optional) is the one computed.
bool CrcAgrees(std::string_view announced, std::uint32_t computed) {
    const std::optional<std::uint64_t> value = Number(announced, 16);
    return announced.size() <= 8 && value && *value == computed;
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (; size >= 8; size -= 8, p += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, 8);
        word ^= crc;
        crc = kCrc[7][word & 0xFF] ^ kCrc[6][(word >> 8) & 0xFF] ^ kCrc[5][(word >> 16) & 0xFF] ^
              kCrc[4][(word >> 24) & 0xFF] ^ kCrc[3][(word >> 32) & 0xFF] ^
              kCrc[2][(word >> 40) & 0xFF] ^ kCrc[1][(word >> 48) & 0xFF] ^ kCrc[0][word >> 56];
    }
    for (; size > 0; --size, ++p) crc = kCrc[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

const char* YEncVerdictText(YEncVerdict verdict) {
    switch (verdict) {
        case YEncVerdict::kOk:
            return "complete";
        case YEncVerdict::kNoBegin:
            return "no =ybegin line";
        case YEncVerdict::kMultiPart:
            return "one part of a multi-part post";
        case YEncVerdict::kTruncated:
            return "no =yend line, the article is cut short";
        case YEncVerdict::kSizeMismatch:
            return "size mismatch";
        case YEncVerdict::kCrcMismatch:
            return "CRC32 mismatch";
        case YEncVerdict::kWriteError:
            return "write error";
    }
    return "";
}

CYEncDecoder::CYEncDecoder(std::string outputPath) : path_(std::move(outputPath)) {}

std::optional<YEncBegin> CYEncDecoder::ParseBegin(std::string_view line) {
    if (!IsKeywordLine(line, "=ybegin")) return std::nullopt;
    // The name is the rest of the line, spaces and "=" included, so it is cut off first.
    const std::size_t name = line.find(" name=");
    if (name == std::string_view::npos) return std::nullopt;
    YEncBegin begin;
    begin.name = std::string(WithoutLineEnd(line.substr(name + 6)));
    if (begin.name.empty()) return std::nullopt;
    const std::string_view params = line.substr(0, name);
    begin.size = Number(Field(params, "size"));
    begin.part = Number(Field(params, "part"));
    begin.total = Number(Field(params, "total"));
    return begin;
}

void CYEncDecoder::DecodeLine(std::string_view line) {
    switch (state_) {
        case State::kWaiting:
            Begin(line);
            return;
        case State::kHeader:
            if (IsKeywordLine(line, "=ypart")) {
                Part(line);
                return;
            }
            state_ = State::kData;
            [[fallthrough]];
        case State::kData:
            if (IsKeywordLine(line, "=yend")) {
                End(line);
            } else if (IsKeywordLine(line, "=ybegin") || IsKeywordLine(line, "=ypart")) {
                Fail(YEncVerdict::kTruncated);  // a new attachment before this one ended
            } else {
                Data(line);
            }
            return;
        case State::kEnded:
        case State::kFinished:
            return;
    }
}

YEncVerdict CYEncDecoder::Close() {
    if (state_ == State::kHeader || state_ == State::kData) verdict_ = YEncVerdict::kTruncated;
    // Bytes are written in large blocks: a failure may surface only now, and outweighs all else.
    if (!file_.Close() || file_.Failed()) verdict_ = YEncVerdict::kWriteError;
    state_ = State::kFinished;
    return verdict_;
}

void CYEncDecoder::Begin(std::string_view line) {
    const std::optional<YEncBegin> begin = ParseBegin(line);
    if (!begin) return;
    if (!file_.Open(path_)) return Fail(YEncVerdict::kWriteError);
    announcedSize_ = begin->size;
    state_ = State::kHeader;
    // Part 1 of 1 is a whole file; anything else is one piece of a larger one.
    if (begin->part.value_or(1) != 1 || begin->total.value_or(1) != 1)
        Fail(YEncVerdict::kMultiPart);
}

// Some posters put a whole file in one part and still write its part line: that part runs from
// byte 1 to the file's size. Any other range is a piece of a larger file.
void CYEncDecoder::Part(std::string_view line) {
    state_ = State::kData;
    const std::optional<std::uint64_t> first = Number(Field(line, "begin"));
    const std::optional<std::uint64_t> last = Number(Field(line, "end"));
    if (first != 1u || !last || last != announcedSize_) Fail(YEncVerdict::kMultiPart);
}

void CYEncDecoder::End(std::string_view line) {
    state_ = State::kEnded;
    const std::optional<std::string_view> sizeText = Field(line, "size");
    const std::optional<std::uint64_t> endSize = Number(sizeText);
    // Every size announced must be the one decoded, and at least one must be announced.
    const bool sizeKnown = announcedSize_ || endSize;
    if (!sizeKnown || (sizeText && endSize != decoded_) ||
        (announcedSize_ && announcedSize_ != decoded_)) {
        verdict_ = YEncVerdict::kSizeMismatch;
        return;
    }
    // A whole file in one part may carry its CRC as the part's, the file's, or both.
    for (std::string_view key : {"crc32", "pcrc32"}) {
        const std::optional<std::string_view> crc = Field(line, key);
        if (crc && !CrcAgrees(*crc, crc_)) {
            verdict_ = YEncVerdict::kCrcMismatch;
            return;
        }
    }
    verdict_ = YEncVerdict::kOk;
}

void CYEncDecoder::Data(std::string_view line) {
    const auto* in = reinterpret_cast<const unsigned char*>(line.data());
    const unsigned char* const end = in + line.size();
    while (in < end) {
        const unsigned char* const stop = in + std::min<std::size_t>(kSlice, end - in);
        unsigned char* out = file_.Reserve(static_cast<std::size_t>(stop - in) + kBlock);
        if (out == nullptr) return Fail(YEncVerdict::kWriteError);
        const Decoded decoded = DecodeSpan(in, stop, out);
        const auto count = static_cast<std::size_t>(decoded.out - out);
        crc_ = Crc32(crc_, out, count);
        decoded_ += count;
        file_.Commit(count);
        // A "=" left at the end of the line escapes nothing and is dropped.
        in = stop == end ? end : decoded.in;
    }
}

void CYEncDecoder::Fail(YEncVerdict verdict) {
    file_.Close();
    verdict_ = file_.Failed() ? YEncVerdict::kWriteError : verdict;
    state_ = State::kFinished;
}

}  // namespace qm
