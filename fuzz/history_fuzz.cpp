// The history file: load, add, save (rewrite and append), reload; and the lookup built from the
// entries against the plain rule. Input: file text, NUL, added names (one a line), NUL, subjects
// (one a line), and optionally NUL and a part whose length is the history limit.

#include <climits>

#include "FuzzSupport.h"
#include "engine/HistoryIndex.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    return out;
}

// What Load must keep: the newest maxHist non-empty lines, lowercased; and the backup text.
std::vector<std::string> ExpectedLoad(std::string_view text, long maxHist, std::string& backup) {
    std::vector<std::string_view> lines = Split(text, '\n');
    if (lines.back().empty()) lines.pop_back();
    std::vector<std::string> kept;
    for (std::string_view line : lines) {
        if (line.ends_with('\r')) line.remove_suffix(1);
        backup.append(line) += '\n';
        if (!line.empty()) kept.push_back(Lower(line));
    }
    if (static_cast<long>(kept.size()) > maxHist) kept.erase(kept.begin(), kept.end() - maxHist);
    return kept;
}

void CheckLookup(const std::vector<std::string>& entries, std::string_view subjects) {
    HistoryIndex index;
    index.Build(entries);
    for (std::string_view piece : Split(subjects, '\n')) {
        std::string subject(piece);  // as the selector holds it
        HistoryIndex::Hit hit = index.Find(subject);
        FUZZ_CHECK(hit.position == HistoryIndex::LinearFirstHit(entries, subject));
        if (hit.position == HistoryIndex::kNoHit) continue;
        FUZZ_CHECK(subject.compare(hit.start, hit.length, entries[size_t(hit.position)]) == 0);
        FUZZ_CHECK(hit.start == 0 || subject[hit.start - 1] == ' ');
    }
    // Every entry names a subject that carries it as a word.
    for (size_t i = 0; i < entries.size() && i < 64; ++i) {
        long hit = index.FirstHit("re: " + entries[i] + " (1/1)");
        FUZZ_CHECK(hit != HistoryIndex::kNoHit && hit <= long(i));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    std::vector<std::string_view> parts = Split(AsText(data, size), '\0');
    parts.resize(std::max<size_t>(parts.size(), 3));
    long maxHist = parts.size() > 3 ? long(parts[3].size()) : 20000;
    const std::string& dir = scratch.Fresh();
    WriteFile(dir + "HistList", parts[0]);

    HistoryList list(dir);
    list.Load(maxHist);
    std::string backup;
    FUZZ_CHECK(list.Entries() == ExpectedLoad(parts[0], maxHist, backup));
    FUZZ_CHECK(ReadFile(list.BackupPath()) == backup);

    // Two saves: the first rewrites the file, the second appends to it.
    test::NullStatus status;
    std::vector<std::string_view> added = Split(parts[1], '\n');
    for (size_t i = 0; i < added.size(); ++i) {
        if (i == added.size() / 2) FUZZ_CHECK(list.Save(status));
        list.Add(added[i]);
    }
    FUZZ_CHECK(list.Save(status));
    std::vector<std::string> saved;
    bool crAtEnd = false;
    for (const std::string& e : list.Entries()) {
        if (e.size() >= 4) saved.push_back(e);
        crAtEnd = crAtEnd || e.ends_with('\r');
    }
    HistoryList reloaded(dir);
    reloaded.Load(LONG_MAX);
    // A name ending in CR cannot come from a picture name; such lines of a hand-edited file
    // lose the CR on the next load, which is the loader's business.
    if (!crAtEnd) FUZZ_CHECK(reloaded.Entries() == saved);

    CheckLookup(list.Entries(), parts[2]);
    return 0;
}
