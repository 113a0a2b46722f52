// Base64 text through the MIME decoder, line by line as retrieval feeds it, against a plain
// decoder written from the alphabet.

#include "FuzzSupport.h"
#include "decode/Base64Decoder.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

// Groups of four alphabet characters, carried across lines; "=" in third or fourth place ends
// the group and the line, "=" earlier counts as all bits set.
struct ReferenceDecoder {
    std::string group;
    std::string out;

    static unsigned Value(char c) {
        static constexpr std::string_view kAlphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        return c == '=' ? ~0u : static_cast<unsigned>(kAlphabet.find(c));
    }

    long Take(std::string_view line) {
        size_t before = out.size();
        for (char c : line) {
            if (c != '=' && Value(c) > 63) continue;
            group += c;
            if (group.size() < 4) continue;
            unsigned a = Value(group[0]), b = Value(group[1]), g = Value(group[2]);
            unsigned d = Value(group[3]);
            bool thirdPad = group[2] == '=', fourthPad = group[3] == '=';
            group.clear();
            out += char(a << 2 | b >> 4);
            if (thirdPad) break;
            out += char(b << 4 | g >> 2);
            if (fourthPad) break;
            out += char(g << 6 | d);
        }
        return static_cast<long>(out.size() - before);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    std::string path = scratch.Fresh() + "picture.jpg";
    ReferenceDecoder reference;
    CBase64Decoder decoder;
    FUZZ_CHECK(decoder.OpenOutput(path) == 0);
    for (std::string_view line : Lines(AsText(data, size))) {
        FUZZ_CHECK(decoder.DecodeAndWrite(line) == reference.Take(line));
    }
    FUZZ_CHECK(decoder.Close());
    FUZZ_CHECK(ReadFile(path) == reference.out);
    return 0;
}
