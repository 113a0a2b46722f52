// An article's lines through the yEnc decoder, against a plain decoder written from the format;
// and the input's bytes through our test encoder and back.

#include <cstdlib>
#include <cstring>

#include "FuzzSupport.h"
#include "decode/YEncDecoder.h"
#include "support/RealEncoders.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

bool Keyword(std::string_view line, std::string_view word) {
    return line.starts_with(word) && (line.size() == word.size() || line[word.size()] == ' ' ||
                                      line[word.size()] == '\r' || line[word.size()] == '\n');
}

// The bytes of the first attachment: data lines from the header (and its part line) up to the
// next keyword line, each character minus 42, an escaped one minus 106, CR and LF skipped.
struct ReferenceDecoder {
    enum { kWaiting, kHeader, kData, kDone } state = kWaiting;
    std::string out;
    std::string_view trailer;

    void Take(std::string_view line) {
        if (state == kWaiting) {
            // The name is the rest of the line without its line end, and must not be empty.
            const size_t name = line.find(" name=");
            if (!Keyword(line, "=ybegin") || name == std::string_view::npos) return;
            if (line.substr(name + 6).find_last_not_of("\r\n") != std::string_view::npos)
                state = kHeader;
            return;
        }
        if (state == kHeader && Keyword(line, "=ypart")) {
            state = kData;
            return;
        }
        if (state == kDone) return;
        state = kData;
        if (Keyword(line, "=yend") || Keyword(line, "=ybegin") || Keyword(line, "=ypart")) {
            if (Keyword(line, "=yend")) trailer = line;
            state = kDone;
            return;
        }
        for (size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            if (c == '\r' || c == '\n') continue;
            if (c != '=') {
                out += static_cast<char>(c - 42);
            } else if (i + 1 < line.size() && line[i + 1] != '\r' && line[i + 1] != '\n') {
                out += static_cast<char>(line[++i] - 106);
            }
        }
    }
};

// The hex value of " key=" on the trailer, when it has one that parses.
bool TrailerHex(std::string_view trailer, const char* key, unsigned long& value) {
    const std::string text(trailer);
    const size_t at = text.find(std::string(" ") + key + "=");
    if (at == std::string::npos) return false;
    char* end = nullptr;
    value = std::strtoul(text.c_str() + at + std::strlen(key) + 2, &end, 16);
    return end != text.c_str() + at + std::strlen(key) + 2;
}

YEncVerdict DecodeAll(const std::vector<std::string_view>& lines, const std::string& path,
                      std::uint64_t& decoded) {
    CYEncDecoder decoder(path);
    for (std::string_view line : lines) decoder.DecodeLine(line);
    const YEncVerdict verdict = decoder.Close();
    decoded = decoder.DecodedSize();
    return verdict;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    const std::string path = scratch.Fresh() + "picture.jpg";
    const std::string_view text = AsText(data, size);

    // The input as an article.
    const std::vector<std::string_view> lines = Lines(text);
    ReferenceDecoder reference;
    for (std::string_view line : lines) reference.Take(line);
    std::uint64_t decoded = 0;
    const YEncVerdict verdict = DecodeAll(lines, path, decoded);
    const std::string written = ReadFile(path);
    FUZZ_CHECK(written.size() == decoded && written.size() <= size);
    FUZZ_CHECK((verdict == YEncVerdict::kNoBegin) ==
               (reference.state == ReferenceDecoder::kWaiting));
    if (verdict != YEncVerdict::kMultiPart && verdict != YEncVerdict::kNoBegin) {
        FUZZ_CHECK(written == reference.out);
    }
    if (verdict == YEncVerdict::kOk) {
        // Every CRC the trailer announces is the one a bitwise CRC of the file gives.
        FUZZ_CHECK(!reference.trailer.empty());
        unsigned long announced = 0;
        for (const char* key : {"crc32", "pcrc32"}) {
            if (TrailerHex(reference.trailer, key, announced))
                FUZZ_CHECK(announced == test::BitwiseCrc32(written));
        }
    }

    // The input as a file: encoded, the lines stored as the engine stores them, and decoded.
    const size_t lineLength = size == 0 ? 128 : 1 + data[0] % 200;
    const std::string file(text);
    const std::string encoded = test::YEncode(file, "fuzz.jpg", std::nullopt, lineLength);
    std::vector<std::string> stored;
    for (std::string_view line : Lines(encoded)) {
        stored.push_back(std::string(line.substr(0, line.size() - 1)) + "\r\n");
    }
    FUZZ_CHECK(DecodeAll({stored.begin(), stored.end()}, path, decoded) == YEncVerdict::kOk);
    FUZZ_CHECK(ReadFile(path) == file);
    return 0;
}
