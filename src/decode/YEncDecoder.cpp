#include "decode/YEncDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <utility>

#include "util/TextFiles.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// A line is decoded in slices that fit the output buffer; each yields at most one byte per
// character, plus the room one 16-byte store may write past the last byte kept.
constexpr std::size_t kSlice = std::size_t{64} << 10;
constexpr std::size_t kBlock = 16;

// One decoded byte: the character minus 42, or an escaped character minus 64 and 42.
constexpr unsigned char Plain(unsigned char c) {
    return static_cast<unsigned char>(c - 42);
}
constexpr unsigned char Escaped(unsigned char c) {
    return static_cast<unsigned char>(c - 64 - 42);
}

// One character at a time. pending: the character before was an escaping "=". CR and LF are
// never data, and a "=" before them escapes nothing.
unsigned char* DecodeBytes(const unsigned char* in, const unsigned char* end, unsigned char* out,
                           bool& pending) {
    for (; in < end; ++in) {
        const unsigned char c = *in;
        if (c == '\r' || c == '\n') {
            pending = false;
        } else if (pending) {
            *out++ = Escaped(c);
            pending = false;
        } else if (c == '=') {
            pending = true;
        } else {
            *out++ = Plain(c);
        }
    }
    return out;
}

#if defined(__x86_64__)
// For each set of bytes to drop from eight (a bit each), the positions of the bytes kept, in
// order: a byte shuffle that packs them to the front.
constexpr std::array<std::uint64_t, 256> kPack = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned drop = 0; drop < 256; ++drop) {
        std::uint64_t order = 0;
        int kept = 0;
        for (unsigned i = 0; i < 8; ++i) {
            if ((drop >> i & 1) == 0) order |= std::uint64_t{i} << (8 * kept++);
        }
        table[drop] = order;
    }
    return table;
}();

// Sixteen characters at a time without a branch on the data: every byte is decoded as plain,
// the ones after an escape lose another 64, and "=", CR and LF are packed out with a shuffle.
// Blocks where an escape meets another "=" or a line end (which real encoders never write) go
// one character at a time. Most yEnc blocks hold an escape, so branching on them would cost a
// misprediction nearly every other block.
__attribute__((target("ssse3,popcnt"))) unsigned char* DecodeBlocks(const unsigned char*& in,
                                                                    const unsigned char* end,
                                                                    unsigned char* out,
                                                                    bool& pending) {
    const __m128i equals = _mm_set1_epi8('='), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    const __m128i plain = _mm_set1_epi8(42), escaped = _mm_set1_epi8(64);
    const __m128i bits = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
    const __m128i halves = _mm_set_epi8(1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0);
    for (; end - in >= static_cast<std::ptrdiff_t>(kBlock); in += kBlock) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const auto eq = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, equals)));
        const auto ends = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        const unsigned after = ((eq << 1) | (pending ? 1u : 0u)) & 0xFFFF;
        if (((eq | ends) & after) != 0) {
            out = DecodeBytes(in, in + kBlock, out, pending);
            continue;
        }
        __m128i mask = _mm_shuffle_epi8(_mm_cvtsi32_si128(static_cast<int>(after)), halves);
        mask = _mm_cmpeq_epi8(_mm_and_si128(mask, bits), bits);
        const __m128i bytes = _mm_sub_epi8(_mm_sub_epi8(v, plain), _mm_and_si128(mask, escaped));
        const unsigned drop = eq | ends;
        // The high half's positions count from its own start, byte 8.
        const std::uint64_t highOrder = kPack[drop >> 8] + 0x0808080808080808u;
        const __m128i order = _mm_set_epi64x(static_cast<long long>(highOrder),
                                             static_cast<long long>(kPack[drop & 0xFF]));
        const __m128i packed = _mm_shuffle_epi8(bytes, order);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
        out += 8 - __builtin_popcount(drop & 0xFF);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_srli_si128(packed, 8));
        out += 8 - __builtin_popcount(drop >> 8);
        pending = (eq >> 15) != 0;
    }
    return out;
}

const bool kHasSsse3 = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
#endif

struct Decoded {
    unsigned char* out;       // end of the bytes written
    const unsigned char* in;  // end of the characters taken
};

// Decodes [in, end) into out. A "=" as the last character is left untaken: its character may
// start the next slice.
Decoded DecodeSpan(const unsigned char* in, const unsigned char* end, unsigned char* out) {
    bool pending = false;
#if defined(__x86_64__)
    if (kHasSsse3) out = DecodeBlocks(in, end, out, pending);
#endif
    out = DecodeBytes(in, end, out, pending);
    return {out, pending ? end - 1 : end};
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

// An announced CRC: hex, any case, leading zeros optional.
std::optional<std::uint32_t> CrcValue(std::string_view announced) {
    const std::optional<std::uint64_t> value = Number(announced, 16);
    if (announced.size() > 8 || !value) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

// The CRC without its pre- and post-inversion, a table slice at a time.
std::uint32_t Crc32Tables(std::uint32_t crc, const unsigned char* p, std::size_t size) {
    for (; size >= 8; size -= 8, p += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, 8);
        word ^= crc;
        crc = kCrc[7][word & 0xFF] ^ kCrc[6][(word >> 8) & 0xFF] ^ kCrc[5][(word >> 16) & 0xFF] ^
              kCrc[4][(word >> 24) & 0xFF] ^ kCrc[3][(word >> 32) & 0xFF] ^
              kCrc[2][(word >> 40) & 0xFF] ^ kCrc[1][(word >> 48) & 0xFF] ^ kCrc[0][word >> 56];
    }
    for (; size > 0; --size, ++p) crc = kCrc[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

#if defined(__x86_64__)
// Folding with carry-less multiplication, after Intel's paper "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ": four 128-bit lanes are folded 64 bytes at a time, then into one
// lane, then reduced to 32 bits (Barrett). The constants are powers of x modulo the reflected
// polynomial. size is a multiple of 16 and at least 64. Several times the tables' speed: the CRC
// would otherwise cost more than the decoding.
constexpr std::uint64_t kK1 = 0x154442bd4, kK2 = 0x1c6e41596;  // fold by 512 bits
constexpr std::uint64_t kK3 = 0x1751997d0, kK4 = 0x0ccaa009e;  // fold by 128 bits
constexpr std::uint64_t kK5 = 0x163cd6124;                     // 64 to 32 bits
constexpr std::uint64_t kPoly = 0x1db710641, kMu = 0x1f7011641;

__attribute__((target("pclmul,sse2"))) __m128i Fold(__m128i lane, __m128i k, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse2"))) std::uint32_t Crc32Folding(std::uint32_t crc,
                                                                  const unsigned char* p,
                                                                  std::size_t size) {
    auto load = [](const unsigned char* at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    };
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    size -= 64;
    const __m128i k12 = _mm_set_epi64x(static_cast<long long>(kK2), static_cast<long long>(kK1));
    for (; size >= 64; size -= 64, p += 64) {
        x1 = Fold(x1, k12, load(p));
        x2 = Fold(x2, k12, load(p + 16));
        x3 = Fold(x3, k12, load(p + 32));
        x4 = Fold(x4, k12, load(p + 48));
    }
    const __m128i k34 = _mm_set_epi64x(static_cast<long long>(kK4), static_cast<long long>(kK3));
    x1 = Fold(Fold(Fold(x1, k34, x2), k34, x3), k34, x4);
    for (; size >= 16; size -= 16, p += 16) x1 = Fold(x1, k34, load(p));

    // 128 to 64 bits, appending 32 zero bits.
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    x2 = _mm_clmulepi64_si128(x1, k34, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    // 64 to 32 bits.
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32),
                              _mm_set_epi64x(0, static_cast<long long>(kK5)), 0x00);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), x2);
    // Barrett reduction.
    const __m128i poly = _mm_set_epi64x(static_cast<long long>(kMu), static_cast<long long>(kPoly));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, mask32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

const bool kHasClmul = __builtin_cpu_supports("pclmul");
#endif

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
#if defined(__x86_64__)
    if (size >= 64 && kHasClmul) {
        const std::size_t folded = size & ~std::size_t{15};
        crc = Crc32Folding(crc, p, folded);
        p += folded;
        size -= folded;
    }
#endif
    return ~Crc32Tables(crc, p, size);
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
        case YEncVerdict::kForeignPart:
            return "not a part of this post";
    }
    return "";
}

CYEncDecoder::CYEncDecoder(std::string outputPath) : path_(std::move(outputPath)) {
    file_.ObserveBlocks(
        [](void* self, const unsigned char* data, std::size_t size) {
            auto* decoder = static_cast<CYEncDecoder*>(self);
            decoder->crc_ = Crc32(decoder->crc_, data, size);
        },
        this);
}

CYEncDecoder::CYEncDecoder(std::string outputPath, PartAdmission admit)
    : CYEncDecoder(std::move(outputPath)) {
    admit_ = std::move(admit);
}

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
            // A part's bytes have no place without their "=ypart" line.
            if (admit_) return Fail(YEncVerdict::kForeignPart);
            state_ = State::kData;
            [[fallthrough]];
        case State::kData:
            if (line.starts_with("=y")) {
                if (IsKeywordLine(line, "=yend")) return admit_ ? EndPart(line) : End(line);
                // A new attachment before this one ended.
                if (IsKeywordLine(line, "=ybegin") || IsKeywordLine(line, "=ypart"))
                    return Fail(YEncVerdict::kTruncated);
            }
            Data(line);  // "=y" that is no keyword escapes a byte like any other escape
            return;
        case State::kEnded:
        case State::kFinished:
            return;
    }
}

YEncVerdict CYEncDecoder::Close() {
    // Writes out the last bytes, so the CRC is complete. A write failure may surface only now,
    // and outweighs all else.
    const bool written = file_.Close();
    if (state_ == State::kHeader || state_ == State::kData) verdict_ = YEncVerdict::kTruncated;
    for (const std::optional<std::uint32_t>& crc : announcedCrc_) {
        if (verdict_ == YEncVerdict::kOk && crc && *crc != crc_)
            verdict_ = YEncVerdict::kCrcMismatch;
    }
    if (!written || file_.Failed()) verdict_ = YEncVerdict::kWriteError;
    partInfo_.crc = crc_;
    state_ = State::kFinished;
    return verdict_;
}

void CYEncDecoder::Begin(std::string_view line) {
    const std::optional<YEncBegin> begin = ParseBegin(line);
    if (!begin) return;
    if (admit_) return BeginPart(*begin);
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
    if (admit_) return PlacePart(line);
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
    // A whole file in one part may carry its CRC as the file's, the part's, or both; they are
    // compared once the last bytes are written out (Close).
    const std::string_view keys[2] = {"crc32", "pcrc32"};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::optional<std::string_view> text = Field(line, keys[i]);
        if (!text) continue;
        announcedCrc_[i] = CrcValue(*text);
        if (!announcedCrc_[i]) {
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
        if (admit_ && decoded_ + count > partInfo_.end - partInfo_.begin + 1) {
            // More than the part's range: not a byte past it, the next part's bytes lie there.
            file_.Commit(static_cast<std::size_t>(partInfo_.end - partInfo_.begin + 1 - decoded_));
            return Fail(YEncVerdict::kSizeMismatch);
        }
        decoded_ += count;
        file_.Commit(count);
        // A "=" left at the end of the line escapes nothing and is dropped.
        in = stop == end ? end : decoded.in;
    }
}

// The file is opened only at the "=ypart" line, which says where the bytes go.
void CYEncDecoder::BeginPart(const YEncBegin& begin) {
    if (!begin.part || !begin.total || !begin.size || *begin.total < 2 || *begin.part < 1 ||
        *begin.part > *begin.total) {
        return Fail(YEncVerdict::kForeignPart);
    }
    partInfo_ = YEncPartInfo{*begin.part, *begin.total, *begin.size, 0, 0, begin.name, {}};
    state_ = State::kHeader;
}

void CYEncDecoder::PlacePart(std::string_view line) {
    const std::optional<std::uint64_t> first = Number(Field(line, "begin"));
    const std::optional<std::uint64_t> last = Number(Field(line, "end"));
    if (!first || !last || *first < 1 || *first > *last || *last > partInfo_.size)
        return Fail(YEncVerdict::kForeignPart);
    partInfo_.begin = *first;
    partInfo_.end = *last;
    if (!admit_(partInfo_)) return Fail(YEncVerdict::kForeignPart);
    if (!file_.OpenAt(path_, *first - 1)) return Fail(YEncVerdict::kWriteError);
    state_ = State::kData;
}

void CYEncDecoder::EndPart(std::string_view line) {
    state_ = State::kEnded;
    const std::uint64_t expected = partInfo_.end - partInfo_.begin + 1;
    const std::optional<std::string_view> sizeText = Field(line, "size");
    const std::optional<std::string_view> partText = Field(line, "part");
    if (decoded_ != expected || (sizeText && Number(sizeText) != expected)) {
        verdict_ = YEncVerdict::kSizeMismatch;
        return;
    }
    if (partText && Number(partText) != partInfo_.part) {
        verdict_ = YEncVerdict::kForeignPart;
        return;
    }
    if (const std::optional<std::string_view> text = Field(line, "pcrc32")) {
        announcedCrc_[1] = CrcValue(*text);
        if (!announcedCrc_[1]) {
            verdict_ = YEncVerdict::kCrcMismatch;
            return;
        }
    }
    if (const std::optional<std::string_view> text = Field(line, "crc32")) {
        partInfo_.fileCrc = CrcValue(*text);
    }
    verdict_ = YEncVerdict::kOk;
}

void CYEncDecoder::Fail(YEncVerdict verdict) {
    file_.Close();
    verdict_ = file_.Failed() ? YEncVerdict::kWriteError : verdict;
    state_ = State::kFinished;
}

}  // namespace qm
