// The content index file: whatever a hostile or torn file holds, loading never crashes, keeps
// exactly the well-formed whole lines (a later line for the same bytes renaming, the newest
// limit kept), leaves the history beside it alone, rewrites a file it passed lines of so that it
// loads the same with nothing passed over, and takes a new entry on a line of its own.
// Input: file text, and optionally NUL and a part whose length is the limit.

#include <map>

#include "FuzzSupport.h"
#include "engine/ContentIndex.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

// What Load must keep, worked out line by line the plain way.
std::vector<ContentIndex::Entry> Expected(std::string_view text, long limit, size_t& passed) {
    std::vector<ContentIndex::Entry> kept;
    std::map<std::string, size_t> position;  // hex + size -> index in kept
    passed = 0;
    std::vector<std::string_view> lines = Split(text, '\n');
    const bool torn = !lines.back().empty();
    if (!torn) lines.pop_back();
    for (size_t i = 0; i < lines.size(); ++i) {
        std::optional<ContentIndex::Entry> e =
            i + 1 == lines.size() && torn ? std::nullopt : ContentIndex::ParseLine(lines[i]);
        if (!e) {
            ++passed;
            continue;
        }
        const std::string key = e->digest.Hex() + "/" + std::to_string(e->digest.size);
        if (auto it = position.find(key); it != position.end()) {
            kept[it->second].name = e->name;
            ++passed;
            continue;
        }
        position[key] = kept.size();
        kept.push_back(std::move(*e));
    }
    if (static_cast<long>(kept.size()) > limit) kept.erase(kept.begin(), kept.end() - limit);
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    std::vector<std::string_view> parts = Split(AsText(data, size), '\0');
    const long limit = parts.size() > 1 ? long(parts[1].size()) : 1000;
    const std::string& dir = scratch.Fresh();
    const std::string path = dir + "/ContentIndex", history = dir + "/HistList";
    WriteFile(path, parts[0]);
    WriteFile(history, "kept.jpg\n");

    size_t passed = 0;
    const std::vector<ContentIndex::Entry> expected = Expected(parts[0], limit, passed);
    ContentIndex index(path);
    FUZZ_CHECK(index.Load(limit) == passed);
    FUZZ_CHECK(index.Entries() == expected);
    for (const ContentIndex::Entry& e : expected) {
        const ContentIndex::Entry* found = index.FindSame(e.digest);
        FUZZ_CHECK(found != nullptr && *found == e);
        if (e.shape)
            FUZZ_CHECK(index.FindNear(*e.shape) && index.FindNear(*e.shape)->distance == 0);
    }
    FUZZ_CHECK(ReadFile(history) == "kept.jpg\n");
    // Rewritten when anything was passed over or cut, else untouched: either way it now loads the
    // same with nothing passed over.
    ContentIndex again(path);
    FUZZ_CHECK(again.Load(limit) == 0);
    FUZZ_CHECK(again.Entries() == expected);

    // A new picture after whatever the file ends with is found on the next load.
    WriteFile(path, parts[0]);
    ContentIndex::Entry added = ContentIndex::Entry::Of(FingerprintBytes(parts[0]), "new.jpg");
    FUZZ_CHECK(ContentIndex::AppendEntry(path, added));
    ContentIndex reloaded(path);
    reloaded.Load(limit + 1);
    const ContentIndex::Entry* found = reloaded.FindSame(added.digest);
    FUZZ_CHECK(found != nullptr && found->name == "new.jpg");
    return 0;
}
