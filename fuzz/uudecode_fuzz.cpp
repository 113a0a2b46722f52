// An article's lines through the uudecoder, against a plain decoder written from the format.

#include "FuzzSupport.h"
#include "decode/UUDecoder.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

// Waits for a begin line, then decodes lines of count + groups of four until the zero-count
// line; a line too short for its count (or holding a NUL) ends the attachment without its bytes.
struct ReferenceDecoder {
    enum { kWaiting, kData, kDone } state = kWaiting;
    bool begun = false;
    std::string out;

    static unsigned Value(char c) { return (static_cast<unsigned char>(c) - 32u) & 63u; }

    static bool IsBegin(std::string_view line) {
        if (!line.starts_with("begin ")) return false;
        size_t end = line.find_first_not_of("01234567", 6);
        if (end == std::string_view::npos || (end != 9 && end != 10))
            return false;  // 3 or 4 digits
        return end + 1 < line.size() && line[end] == ' ' && line[end + 1] != '\r' &&
               line[end + 1] != '\n';
    }

    void Take(std::string_view line) {
        if (state == kWaiting) {
            if (IsBegin(line)) state = kData, begun = true;
            return;
        }
        if (state != kData) return;
        unsigned count = Value(line[0]);
        size_t chars = (count + 2) / 3 * 4;
        if (count == 0 || line[0] == 0 || line.size() < 1 + chars ||
            line.substr(1, chars).find('\0') != std::string_view::npos) {
            state = kDone;
            return;
        }
        std::string bytes;
        for (size_t i = 1; i < 1 + chars; i += 4) {
            unsigned v = Value(line[i]) << 18 | Value(line[i + 1]) << 12 | Value(line[i + 2]) << 6 |
                         Value(line[i + 3]);
            bytes += {char(v >> 16), char(v >> 8), char(v)};
        }
        out.append(bytes, 0, count);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    std::string path = scratch.Fresh() + "picture.jpg";
    ReferenceDecoder reference;
    CUUDecoder decoder(path);
    for (std::string_view line : Lines(AsText(data, size))) {
        decoder.DecodeLine(line);
        reference.Take(line);
    }
    FUZZ_CHECK(decoder.Close());
    FUZZ_CHECK(fs::exists(path) == reference.begun);
    FUZZ_CHECK(ReadFile(path) == reference.out);
    return 0;
}
