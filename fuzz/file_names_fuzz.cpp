// Picture names taken from articles, made safe, then created without overwriting anything; and a
// picture in progress beside them, which empties and removes nothing of theirs.

#include "FuzzSupport.h"
#include "decode/PartialPicture.h"
#include "decode/SafeFileName.h"

using namespace qm;
using namespace qm::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    std::string name = SafeFileName(AsText(data, size));
    if (name.empty()) return 0;
    FUZZ_CHECK(name != "." && name != ".." && name.size() <= 240);
    // The hidden names of pictures in progress are never a posted picture's.
    FUZZ_CHECK(!IsReservedName(name));
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        FUZZ_CHECK(c != '/' && c != '\\' && u >= 0x20 && u != 0x7f);
    }
    const std::string& dir = scratch.Fresh();
    std::string first = CreateUniqueFile(dir, name);
    std::string second = CreateUniqueFile(dir, name);
    FUZZ_CHECK(first == name);
    FUZZ_CHECK(!second.empty() && second != first);
    std::vector<std::string> files = FilesBelow(dir);
    std::sort(files.begin(), files.end());
    std::vector<std::string> made{first, second};
    std::sort(made.begin(), made.end());
    FUZZ_CHECK(files == made);
    for (const std::string& picture : made) {
        FUZZ_CHECK(!IsReservedName(picture));
        WriteFile(dir + picture, picture);
    }
    // A write test and a picture in progress leave the pictures as they were.
    FUZZ_CHECK(ProbeWritable(dir) == 0);
    const std::string partial = CreatePartialPicture(dir);
    FUZZ_CHECK(!partial.empty());
    for (const std::string& picture : made) FUZZ_CHECK(ReadFile(dir + picture) == picture);
    FUZZ_CHECK(FilesBelow(dir).size() == made.size() + 1);
    return 0;
}
