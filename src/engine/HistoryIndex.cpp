// Why a prefix tree of the history, and not the plain rule (every entry searched for in every
// subject): a harvest judges each overview line against the whole history, and a history of a
// million names makes the plain rule do a million substring searches per line, a few thousand
// lines a second. The tree is walked once from each word start of the subject, so a lookup costs
// about the subject's length whatever the history's size: millions of lines a second at 20,000
// entries and within a factor of two of that at 1,000,000 (bench/history_bench measures both
// against the plain rule, which stays in the tests as the reference). Buckets and clusters keep
// the tree small enough to rebuild in well under a second when the history grows.

#include "engine/HistoryIndex.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qm {

namespace {

// Nodes with at most this many entries below them are written as buckets.
constexpr std::uint32_t kBucketEntries = 8;
// Nodes with at most this many entries below them start a cluster. Smaller clusters make the
// table of cluster filters too big to stay in the cache; bigger ones make the filters let more
// walks through.
constexpr std::uint32_t kClusterEntries = 128;
// Below this many entries a node's children are sorted by insertion, above it by counting.
constexpr size_t kSmallRange = 32;
// Up to this many children a node's labels are scanned byte by byte, beyond it with memchr.
constexpr std::uint32_t kShortLabelScan = 16;
constexpr size_t kCacheLine = 64;

// A bucket entry is its list position (4 bytes), the length of its rest (1 byte, or kLongRest
// and 4 more bytes), then the rest of its text.
constexpr unsigned char kLongRest = 0xFF;

constexpr std::uint32_t WordsFor(size_t bytes) {
    return static_cast<std::uint32_t>((bytes + 3) / 4);
}

constexpr size_t BucketEntryBytes(std::uint32_t rest) {
    return 4 + (rest < kLongRest ? 1 : 5) + rest;
}

// One entry while the tree is built: where its text is in the build pool and its list position.
struct BuildItem {
    std::uint64_t off;
    std::uint32_t len;
    std::uint32_t pos;
};

// Sorts items by their byte at depth; keys receives the sorted bytes.
void SortByByte(BuildItem* items, size_t count, std::uint32_t depth, const std::string& pool,
                std::vector<BuildItem>& scratch, std::vector<unsigned char>& keys) {
    keys.resize(count);
    for (size_t i = 0; i < count; ++i) {
        keys[i] = static_cast<unsigned char>(pool[items[i].off + depth]);
    }
    if (count <= kSmallRange) {
        for (size_t i = 1; i < count; ++i) {
            for (size_t j = i; j > 0 && keys[j - 1] > keys[j]; --j) {
                std::swap(keys[j - 1], keys[j]);
                std::swap(items[j - 1], items[j]);
            }
        }
        return;
    }
    std::array<size_t, 257> start{};
    for (unsigned char k : keys) ++start[k + 1];
    for (size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    std::array<size_t, 257> fill = start;
    scratch.resize(count);
    for (size_t i = 0; i < count; ++i) scratch[fill[keys[i]]++] = items[i];
    std::copy(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(count), items);
    for (size_t b = 0; b < 256; ++b) {
        std::fill(keys.begin() + static_cast<std::ptrdiff_t>(start[b]),
                  keys.begin() + static_cast<std::ptrdiff_t>(start[b + 1]),
                  static_cast<unsigned char>(b));
    }
}

// How many bytes from depth on all items share, stopping where the first of them ends.
std::uint32_t SharedRun(const BuildItem* items, size_t count, std::uint32_t depth,
                        const std::string& pool) {
    std::uint32_t run = 0;
    for (std::uint32_t d = depth; items[0].len > d; ++d, ++run) {
        const char c = pool[items[0].off + d];
        for (size_t i = 1; i < count; ++i) {
            if (items[i].len <= d || pool[items[i].off + d] != c) return run;
        }
    }
    return run;
}

// Index of c among a node's count labels, or count when it is not there.
std::uint32_t FindLabel(const unsigned char* labels, std::uint32_t count, unsigned char c) {
    if (count <= kShortLabelScan) {
        std::uint32_t k = 0;
        while (k < count && labels[k] != c) ++k;
        return k;
    }
    const void* found = std::memchr(labels, c, count);
    if (found == nullptr) return count;
    return static_cast<std::uint32_t>(static_cast<const unsigned char*>(found) - labels);
}

bool Better(const HistoryIndex::Hit& hit, std::uint32_t position) {
    return hit.position == HistoryIndex::kNoHit ||
           position < static_cast<std::uint32_t>(hit.position);
}

// Asks the memory for every cache line of [first, last) at once.
void Prefetch(const void* first, const void* last) {
#if defined(__GNUC__)
    for (const char* line = static_cast<const char*>(first); line < last; line += kCacheLine) {
        __builtin_prefetch(line);
    }
#else
    (void)first;
    (void)last;
#endif
}

// The hash of a cluster filter: FNV-1a, extended one byte at a time so that the hashes of all
// beginnings of a text come out of one pass.
constexpr std::uint64_t kHashStart = 14695981039346656037ull;
std::uint64_t HashStep(std::uint64_t h, char c) {
    return (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
}
// Longer rests are not filtered by length.
constexpr std::uint32_t kLongestFiltered = 62;
constexpr std::uint64_t kLongBit = 1ull << 63;

// The two bits of a 256-bit Bloom filter that stand for a hash.
void BloomBits(std::uint64_t h, unsigned& a, unsigned& b) {
    h *= 0x9E3779B97F4A7C15ull;
    a = static_cast<unsigned>(h >> 56);
    b = static_cast<unsigned>(h >> 48) & 0xFF;
}

bool BloomHas(const std::uint64_t* bloom, std::uint64_t h) {
    unsigned a = 0;
    unsigned b = 0;
    BloomBits(h, a, b);
    return ((bloom[a >> 6] >> (a & 63)) & (bloom[b >> 6] >> (b & 63)) & 1) != 0;
}

void BloomAdd(std::uint64_t* bloom, std::uint64_t h) {
    unsigned a = 0;
    unsigned b = 0;
    BloomBits(h, a, b);
    bloom[a >> 6] |= 1ull << (a & 63);
    bloom[b >> 6] |= 1ull << (b & 63);
}

}  // namespace

// A node still to be written: the build items [lo, hi) share its first depth bytes, and its
// record index goes into word slot of the parent (kNone for the root).
struct HistoryIndex::Pending {
    std::uint32_t slot;
    std::uint32_t depth;
    std::uint32_t lo;
    std::uint32_t hi;
};

// Working arrays of one build, reused from node to node.
struct HistoryIndex::BuildState {
    std::string pool;  // every entry back to back, so the build reads compact memory
    std::vector<BuildItem> items;
    std::vector<Pending> next;
    std::vector<Pending> cluster;
    std::vector<BuildItem> scratch;
    std::vector<unsigned char> keys;
};

void HistoryIndex::Build(const std::vector<std::string>& entries) {
    words_.clear();
    entryCount_ = entries.size();
    BuildState state;
    size_t total = 0;
    for (const std::string& e : entries) total += e.size();
    state.pool.reserve(total);
    state.items.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        state.items[i] = BuildItem{state.pool.size(), static_cast<std::uint32_t>(entries[i].size()),
                                   static_cast<std::uint32_t>(i)};
        state.pool += entries[i];
    }
    words_.reserve(total / 3 + entries.size() * 3 + 4);
    // Level by level, so that the top of the tree, which every lookup reads, is compact.
    clusters_.clear();
    const auto all = static_cast<std::uint32_t>(entries.size());
    root_ = WriteNode(Pending{kNone, 0, 0, all}, state, state.next);
    std::vector<Pending> level;
    while (!state.next.empty()) {
        level.swap(state.next);
        state.next.clear();
        for (const Pending& p : level) {
            if (p.hi - p.lo <= kClusterEntries) {
                WriteCluster(p, state);
            } else {
                WriteNode(p, state, state.next);
            }
        }
    }
    words_.shrink_to_fit();
    clusters_.shrink_to_fit();
}

std::uint32_t HistoryIndex::AppendWords(size_t count) {
    const auto at = static_cast<std::uint32_t>(words_.size());
    words_.resize(words_.size() + count, 0);
    return at;
}

// The subtree of p depth first in one piece, linked to its parent through a new Cluster.
void HistoryIndex::WriteCluster(const Pending& p, BuildState& state) {
    Cluster cluster;
    cluster.record = static_cast<std::uint32_t>(words_.size());
    for (std::uint32_t i = p.lo; i < p.hi; ++i) {
        const BuildItem& item = state.items[i];
        const std::uint32_t rest = item.len - p.depth;
        cluster.lengths |= rest <= kLongestFiltered ? 1ull << rest : kLongBit;
        std::uint64_t h = kHashStart;
        for (std::uint32_t k = 0; k < rest; ++k)
            h = HashStep(h, state.pool[item.off + p.depth + k]);
        BloomAdd(cluster.bloom, h);
    }
    std::vector<Pending>& stack = state.cluster;
    stack.assign(1, Pending{kNone, p.depth, p.lo, p.hi});
    while (!stack.empty()) {
        const Pending q = stack.back();
        stack.pop_back();
        const size_t before = stack.size();
        WriteNode(q, state, stack);
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(before), stack.end());
    }
    cluster.words = static_cast<std::uint32_t>(words_.size()) - cluster.record;
    words_[p.slot] = kClusterLink | static_cast<std::uint32_t>(clusters_.size());
    clusters_.push_back(cluster);
}

bool HistoryIndex::Cluster::MayHold(std::string_view text) const {
    if (lengths & kLongBit) return true;
    std::uint64_t h = kHashStart;
    if ((lengths & 1) && BloomHas(bloom, h)) return true;
    const size_t longest = std::min<size_t>(text.size(), kLongestFiltered);
    for (size_t n = 1; n <= longest && (lengths >> n) != 0; ++n) {
        h = HashStep(h, text[n - 1]);
        if (((lengths >> n) & 1) && BloomHas(bloom, h)) return true;
    }
    return false;
}

// Writes p's record, links it into its parent and adds its children to queue.
std::uint32_t HistoryIndex::WriteNode(const Pending& p, BuildState& state,
                                      std::vector<Pending>& queue) {
    const std::uint32_t record =
        p.hi - p.lo <= kBucketEntries ? WriteBucket(p, state) : WriteInner(p, state, queue);
    if (p.slot != kNone) words_[p.slot] = record;
    return record;
}

std::uint32_t HistoryIndex::WriteBucket(const Pending& p, const BuildState& state) {
    size_t bytes = 0;
    for (std::uint32_t i = p.lo; i < p.hi; ++i) {
        bytes += BucketEntryBytes(state.items[i].len - p.depth);
    }
    const std::uint32_t record = AppendWords(1 + WordsFor(bytes));
    words_[record] = kBucket | (p.hi - p.lo);
    auto* out = reinterpret_cast<unsigned char*>(words_.data() + record + 1);
    for (std::uint32_t i = p.lo; i < p.hi; ++i) {
        const BuildItem& item = state.items[i];
        const std::uint32_t rest = item.len - p.depth;
        std::memcpy(out, &item.pos, 4);
        out += 4;
        if (rest < kLongRest) {
            *out++ = static_cast<unsigned char>(rest);
        } else {
            *out++ = kLongRest;
            std::memcpy(out, &rest, 4);
            out += 4;
        }
        std::memcpy(out, state.pool.data() + item.off + p.depth, rest);
        out += rest;
    }
    return record;
}

std::uint32_t HistoryIndex::WriteInner(const Pending& p, BuildState& state,
                                       std::vector<Pending>& queue) {
    std::vector<BuildItem>& items = state.items;
    const std::uint32_t shared = SharedRun(items.data() + p.lo, p.hi - p.lo, p.depth, state.pool);
    const std::uint32_t depth = p.depth + shared;
    // Entries that end here go first; the smallest position among them (duplicates) counts.
    std::uint32_t best = kNone;
    std::uint32_t mid = p.lo;
    for (std::uint32_t i = p.lo; i < p.hi; ++i) {
        if (items[i].len == depth) {
            best = std::min(best, items[i].pos);
            std::swap(items[i], items[mid++]);
        }
    }
    SortByByte(items.data() + mid, p.hi - mid, depth, state.pool, state.scratch, state.keys);
    const std::vector<unsigned char>& keys = state.keys;
    std::uint32_t children = 0;
    for (size_t i = 0; i < keys.size(); ++i) children += (i == 0 || keys[i] != keys[i - 1]);
    const std::uint32_t record = AppendWords(3 + WordsFor(shared) + WordsFor(children) + children);
    words_[record] = children;
    words_[record + 1] = best;
    words_[record + 2] = shared;
    std::memcpy(words_.data() + record + 3, state.pool.data() + items[p.lo].off + p.depth, shared);
    const std::uint32_t labelsAt = record + 3 + WordsFor(shared);
    auto* labels = reinterpret_cast<unsigned char*>(words_.data() + labelsAt);
    std::uint32_t slot = labelsAt + WordsFor(children);
    for (size_t i = 0; i < keys.size();) {
        size_t j = i + 1;
        while (j < keys.size() && keys[j] == keys[i]) ++j;
        *labels++ = keys[i];
        queue.push_back(Pending{slot++, depth + 1, static_cast<std::uint32_t>(mid + i),
                                static_cast<std::uint32_t>(mid + j)});
        i = j;
    }
    return record;
}

// Walks the tree along the subject from start, a word start, offering every entry that ends on
// the way: those entries are exactly the ones that are a prefix of the subject's text at start.
void HistoryIndex::WalkFrom(std::string_view subject, size_t start, Hit& hit) const {
    const std::uint32_t* w = words_.data();
    std::uint32_t record = root_;
    for (size_t at = start;; ++at) {
        const std::uint32_t header = w[record];
        if (header & kBucket) return ScanBucket(record, subject, start, at, hit);
        const std::uint32_t shared = w[record + 2];
        if (shared > 0) {
            if (shared > subject.size() - at ||
                std::memcmp(w + record + 3, subject.data() + at, shared) != 0) {
                return;
            }
            at += shared;
        }
        if (w[record + 1] != kNone && Better(hit, w[record + 1])) {
            hit = Hit{static_cast<long>(w[record + 1]), start, at - start};
        }
        const std::uint32_t children = header & kCountMask;
        if (at == subject.size() || children == 0) return;
        const std::uint32_t labelsAt = record + 3 + WordsFor(shared);
        const std::uint32_t k =
            FindLabel(BytesAt(labelsAt), children, static_cast<unsigned char>(subject[at]));
        if (k == children) return;
        record = w[labelsAt + WordsFor(children) + k];
        if (record & kClusterLink) {
            const Cluster& cluster = clusters_[record & ~kClusterLink];
            if (!cluster.MayHold(subject.substr(at + 1))) return;
            record = cluster.record;
            Prefetch(w + record, w + record + cluster.words);
        }
    }
}

void HistoryIndex::ScanBucket(std::uint32_t record, std::string_view subject, size_t start,
                              size_t at, Hit& hit) const {
    const unsigned char* entry = BytesAt(record + 1);
    const std::uint32_t count = words_[record] & kCountMask;
    const char* text = subject.data() + at;
    const size_t left = subject.size() - at;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t position = 0;
        std::memcpy(&position, entry, 4);
        std::uint32_t length = entry[4];
        entry += 5;
        if (length == kLongRest) {
            std::memcpy(&length, entry, 4);
            entry += 4;
        }
        const auto* rest = reinterpret_cast<const char*>(entry);
        entry += length;
        if (length <= left && (length == 0 || rest[0] == text[0]) && Better(hit, position) &&
            std::memcmp(rest, text, length) == 0) {
            hit = Hit{static_cast<long>(position), start, at - start + length};
        }
    }
}

HistoryIndex::Hit HistoryIndex::Find(std::string_view lowerSubject) const {
    Hit hit;
    if (entryCount_ == 0) return hit;
    WalkFrom(lowerSubject, 0, hit);
    for (size_t i = lowerSubject.find(' '); i != std::string_view::npos && hit.position != 0;
         i = lowerSubject.find(' ', i + 1)) {
        WalkFrom(lowerSubject, i + 1, hit);
    }
    return hit;
}

long HistoryIndex::LinearFirstHit(const std::vector<std::string>& entries,
                                  std::string_view lowerSubject) {
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string& h = entries[i];
        const size_t pos = lowerSubject.find(h);
        if (pos == std::string_view::npos) continue;
        if (pos == 0 || lowerSubject.find(" " + h) != std::string_view::npos) {
            return static_cast<long>(i);
        }
    }
    return kNoHit;
}

}  // namespace qm
