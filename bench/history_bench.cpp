// History check throughput: overview subjects judged per second by the history lookup against
// histories of 20,000 and 1,000,000 file names, beside the plain entry-by-entry rule, plus the
// time to rebuild the lookup for 1,000,000 entries.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/ArticleSelector.h"
#include "engine/EngineStatus.h"
#include "engine/HistoryIndex.h"
#include "engine/HistoryList.h"
#include "engine/SharedState.h"
#include "support/NullStatus.h"
#include "util/TextFiles.h"

namespace {

using Clock = std::chrono::steady_clock;
using qm::HistoryIndex;

// A window that shows nothing, so that only the selection is timed.
using qm::test::NullStatus;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class NameMaker {
public:
    explicit NameMaker(unsigned seed) : rng_(seed) {}

    std::string Name() {
        switch (Pick(6)) {
            case 0:
                return "img_2023" + Digits(2, 12) + Digits(2, 28) + "_" + Digits(6) + ".jpg";
            case 1:
                return "dsc" + Digits(5) + ".jpg";
            case 2:
                return Word() + Digits(1 + Pick(4)) + ".jpg";
            case 3:
                return Word() + "_" + Word() + "_" + Digits(4) + ".jpg";
            case 4:
                return "p" + Digits(7) + ".jpg";
            default:
                return Word() + "-" + Digits(3) + "." + Ext();
        }
    }
    std::string Word() {
        static const char* const kWords[] = {
            "sunset", "beach",  "car",     "cars",   "holiday", "mountain", "lake",    "city",
            "night",  "flower", "garden",  "dog",    "cat",     "bird",     "train",   "plane",
            "ship",   "bridge", "tower",   "forest", "river",   "snow",     "winter",  "summer",
            "spring", "autumn", "party",   "family", "wedding", "portrait", "street",  "market",
            "castle", "church", "museum",  "park",   "sky",     "cloud",    "storm",   "rain",
            "desert", "island", "harbour", "boat",   "race",    "classic",  "vintage", "macro"};
        return kWords[Pick(sizeof(kWords) / sizeof(kWords[0]))];
    }
    std::string Ext() {
        static const char* const kExt[] = {"jpg", "jpg", "jpg", "jpeg", "gif", "png"};
        return kExt[Pick(6)];
    }
    std::string Digits(int count, int below = 0) {
        if (below > 0) {
            std::string s = std::to_string(1 + Pick(static_cast<unsigned>(below)));
            return std::string(count - s.size(), '0') + s;
        }
        std::string s;
        for (int i = 0; i < count; ++i) s += static_cast<char>('0' + Pick(10));
        return s;
    }
    unsigned Pick(unsigned n) { return static_cast<unsigned>(rng_() % n); }
    std::string Upper(std::string s) {
        if (Pick(2) == 0) std::transform(s.begin(), s.end(), s.begin(), ::toupper);
        return s;
    }

private:
    std::mt19937_64 rng_;
};

std::vector<std::string> MakeHistory(size_t count, unsigned seed) {
    NameMaker maker(seed);
    std::vector<std::string> history;
    history.reserve(count);
    for (size_t i = 0; i < count; ++i) history.push_back(maker.Name());
    return history;
}

// A name that is not in the history, so that both histories see the same share of hits.
std::string FreshName(NameMaker& m, const std::unordered_set<std::string>& known) {
    for (;;) {
        std::string name = m.Name();
        if (known.count(name) == 0) return m.Upper(name);
    }
}

// A mix of posting styles; 18 subjects in 100 carry a name from the history (a quoted name is
// not a hit, so about 14 in 100 hit).
std::vector<std::string> MakeSubjects(const std::vector<std::string>& history, size_t count,
                                      unsigned seed) {
    const std::unordered_set<std::string> known(history.begin(), history.end());
    NameMaker m(seed);
    std::vector<std::string> subjects;
    subjects.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const bool hit = m.Pick(100) < 18;
        std::string name = hit ? history[m.Pick(history.size())] : FreshName(m, known);
        switch (m.Pick(4)) {
            case 0:
                subjects.push_back("[" + m.Digits(2) + "/50] - \"" + name + "\" yEnc (1/1)");
                break;
            case 1:
                subjects.push_back(name + " (1/1) yEnc");
                break;
            case 2:
                subjects.push_back("Re: pictures of " + m.Word() + " - " + name);
                break;
            default: {
                std::string s;
                for (unsigned w = 3 + m.Pick(5); w > 0; --w) s += m.Word() + " ";
                subjects.push_back(s + name + " " + m.Digits(3) + " of 500");
            }
        }
        subjects.back() = qm::Lowercase(subjects.back());
    }
    return subjects;
}

struct Rate {
    double linesPerSecond = 0;
    long hits = 0;
};

// Judges lines [from, from + count) of the subjects (cycling); returns the seconds taken.
double TimeIndexed(const HistoryIndex& index, const std::vector<std::string>& subjects, size_t from,
                   size_t count, long& hits) {
    const auto start = Clock::now();
    for (size_t i = from; i < from + count; ++i) {
        if (index.FirstHit(subjects[i % subjects.size()]) != HistoryIndex::kNoHit) ++hits;
    }
    return SecondsSince(start);
}

// The two histories in alternating slices, so that a busy machine slows both alike.
void IndexedRates(const HistoryIndex& small, const std::vector<std::string>& smallSubjects,
                  const HistoryIndex& large, const std::vector<std::string>& largeSubjects,
                  size_t lines, Rate& smallRate, Rate& largeRate) {
    const size_t kSlice = 50000;
    double smallSeconds = 0;
    double largeSeconds = 0;
    for (size_t done = 0; done < lines; done += kSlice) {
        smallSeconds += TimeIndexed(small, smallSubjects, done, kSlice, smallRate.hits);
        largeSeconds += TimeIndexed(large, largeSubjects, done, kSlice, largeRate.hits);
    }
    smallRate.linesPerSecond = static_cast<double>(lines) / smallSeconds;
    largeRate.linesPerSecond = static_cast<double>(lines) / largeSeconds;
}

Rate LinearRate(const std::vector<std::string>& history, const std::vector<std::string>& subjects,
                size_t lines) {
    Rate r;
    const auto start = Clock::now();
    for (size_t i = 0; i < lines; ++i) {
        if (HistoryIndex::LinearFirstHit(history, subjects[i]) != HistoryIndex::kNoHit) ++r.hits;
    }
    r.linesPerSecond = static_cast<double>(lines) / SecondsSince(start);
    return r;
}

long Mismatches(const HistoryIndex& index, const std::vector<std::string>& history,
                const std::vector<std::string>& subjects, size_t lines) {
    long bad = 0;
    for (size_t i = 0; i < lines; ++i) {
        if (index.FirstHit(subjects[i]) != HistoryIndex::LinearFirstHit(history, subjects[i])) {
            ++bad;
        }
    }
    return bad;
}

double BestBuildSeconds(HistoryIndex& index, const std::vector<std::string>& history, int runs) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        index.Build(history);
        best = std::min(best, SecondsSince(start));
    }
    return best;
}

// The whole selection (lowercasing, the other filters, counting) with only the history rejecting.
double SelectRate(const std::vector<std::string>& history, const std::vector<std::string>& subjects,
                  size_t lines) {
    qm::HistoryList list;
    for (const std::string& name : history) list.Add(name);
    qm::SelectionSettings settings;
    settings.minLines = 0;
    NullStatus status;
    qm::SharedState shared;
    qm::ArticleSelector selector(settings, status, shared);
    selector.BeginGroup(false, {});
    selector.RefreshHistory(list);
    const std::string sender = "poster <poster@example.com>";
    long accepted = 0;
    const auto start = Clock::now();
    for (size_t i = 0; i < lines; ++i) {
        accepted += selector.Select("1", subjects[i % subjects.size()], sender, 1000, "") ? 1 : 0;
    }
    const double rate = static_cast<double>(lines) / SecondsSince(start);
    std::printf("  (select: %ld of %zu accepted, %ld history skipped)\n", accepted, lines,
                selector.HistorySkipped());
    return rate;
}

}  // namespace

int main() {
    const size_t kSubjects = 200000;
    const size_t kIndexedLines = 4000000;
    const size_t kLinear20k = 2000;
    const size_t kLinear1M = 40;

    const std::vector<std::string> small = MakeHistory(20000, 1);
    const std::vector<std::string> large = MakeHistory(1000000, 2);
    const std::vector<std::string> smallSubjects = MakeSubjects(small, kSubjects, 3);
    const std::vector<std::string> largeSubjects = MakeSubjects(large, kSubjects, 4);

    HistoryIndex smallIndex;
    HistoryIndex largeIndex;
    const double build20k = BestBuildSeconds(smallIndex, small, 5);
    const double build1M = BestBuildSeconds(largeIndex, large, 3);

    Rate indexed20k;
    Rate indexed1M;
    IndexedRates(smallIndex, smallSubjects, largeIndex, largeSubjects, kIndexedLines, indexed20k,
                 indexed1M);
    const Rate linear20k = LinearRate(small, smallSubjects, kLinear20k);
    const Rate linear1M = LinearRate(large, largeSubjects, kLinear1M);
    const long bad20k = Mismatches(smallIndex, small, smallSubjects, kLinear20k);
    const long bad1M = Mismatches(largeIndex, large, largeSubjects, kLinear1M);

    std::printf("History check; 18 subjects in 100 carry a name from the history\n");
    std::printf("  lookup size 20k: %.2f MB\n",
                static_cast<double>(smallIndex.MemoryBytes()) / 1e6);
    std::printf("  lookup size 1M : %.1f MB\n",
                static_cast<double>(largeIndex.MemoryBytes()) / 1e6);
    std::printf("  rebuild 20k entries: %.2f ms\n", build20k * 1e3);
    std::printf("  rebuild 1M entries : %.1f ms (target < 1000 ms)\n", build1M * 1e3);
    std::printf("  indexed  20k: %12.0f lines/s (%ld hits in %zu lines)\n",
                indexed20k.linesPerSecond, indexed20k.hits, kIndexedLines);
    std::printf("  indexed  1M : %12.0f lines/s (%ld hits in %zu lines)\n",
                indexed1M.linesPerSecond, indexed1M.hits, kIndexedLines);
    std::printf("  linear   20k: %12.0f lines/s (%ld hits in %zu lines)\n",
                linear20k.linesPerSecond, linear20k.hits, kLinear20k);
    std::printf("  linear   1M : %12.1f lines/s (%ld hits in %zu lines)\n", linear1M.linesPerSecond,
                linear1M.hits, kLinear1M);
    std::printf("  speed-up at 20k (indexed / linear): %.0fx (target >= 100x)\n",
                indexed20k.linesPerSecond / linear20k.linesPerSecond);
    std::printf("  speed-up at 1M  (indexed / linear): %.0fx\n",
                indexed1M.linesPerSecond / linear1M.linesPerSecond);
    std::printf("  slowdown 1M vs 20k (indexed): %.2fx (target <= 2x)\n",
                indexed20k.linesPerSecond / indexed1M.linesPerSecond);
    std::printf("  results differing from the linear rule: %ld of %zu (20k), %ld of %zu (1M)\n",
                bad20k, kLinear20k, bad1M, kLinear1M);

    std::printf("Whole selection (Select) per overview line\n");
    const double select20k = SelectRate(small, smallSubjects, kIndexedLines / 2);
    const double select1M = SelectRate(large, largeSubjects, kIndexedLines / 2);
    std::printf("  select   20k: %12.0f lines/s\n", select20k);
    std::printf("  select   1M : %12.0f lines/s\n", select1M);
    return (bad20k == 0 && bad1M == 0) ? 0 : 1;
}
