#pragma once
// The history lookup: finds the first history entry (in list order) that names the file of a
// lowercased subject. An entry h counts when it stands at the start of the subject or right after
// a space, which is the same as " " + subject containing " " + h.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class HistoryIndex {
public:
    static constexpr long kNoHit = -1;

    struct Hit {
        long position = kNoHit;  // list position of the entry; kNoHit when no entry hits
        size_t start = 0;        // the entry's text is the subject's [start, start + length)
        size_t length = 0;
    };

    // Replaces the lookup with the given entries (list order, oldest first). Positions and the
    // tree's size are 32-bit: far beyond any history that fits in memory.
    void Build(const std::vector<std::string>& entries);

    // The first entry in list order that hits the subject. The cost depends on the subject only:
    // a prefix tree of the entries is walked from each word start of the subject.
    Hit Find(std::string_view lowerSubject) const;
    long FirstHit(std::string_view lowerSubject) const { return Find(lowerSubject).position; }

    size_t EntryCount() const { return entryCount_; }
    size_t MemoryBytes() const {
        return words_.capacity() * sizeof(std::uint32_t) + clusters_.capacity() * sizeof(Cluster);
    }

    // The plain rule, entry by entry: find the first occurrence of h; at position 0 it is a hit,
    // further in it is a hit only when " " + h occurs somewhere. The reference Find matches.
    static long LinearFirstHit(const std::vector<std::string>& entries,
                               std::string_view lowerSubject);

private:
    // The tree is one array of 32-bit words holding node records, so that a node, the labels of
    // its children and the links to them usually share one cache line:
    //   inner node: [child count] [best] [run length] [run text] [child labels, 4 a word]
    //               [child record index]...
    //   bucket:     [kBucket | n] then n times, packed: list position, rest length, rest text
    // The run is text that every entry below the node shares, matched before best and the
    // children, so a chain of single children costs one record. best is the smallest list
    // position of an entry that ends after the run, or kNone. A node with few entries below it is
    // a bucket holding the rest of each entry's text.
    // The top of the tree, which every lookup reads, is written breadth-first. A node with not
    // many more entries below it starts a cluster: its whole subtree in one piece, reached through
    // a Cluster kept with the top of the tree. The Cluster filters the rests of its entries (their
    // text from the cluster on) by length and by a Bloom filter, so that most walks that cannot
    // hit never wait for the cluster's memory, and the others ask for all of it at once.
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr std::uint32_t kBucket = 0x80000000u;
    static constexpr std::uint32_t kCountMask = 0x00FFFFFFu;
    static constexpr std::uint32_t kClusterLink = 0x80000000u;  // a link to clusters_[low bits]

    struct Cluster {
        std::uint32_t record = 0;
        std::uint32_t words = 0;
        std::uint64_t lengths = 0;  // bit n: some rest has n bytes; the top bit: a longer one
        std::uint64_t bloom[4] = {0, 0, 0, 0};

        bool MayHold(std::string_view text) const;  // false: no rest is a prefix of text
    };

    struct Pending;
    struct BuildState;
    std::uint32_t AppendWords(size_t count);
    void WriteCluster(const Pending& p, BuildState& state);
    std::uint32_t WriteNode(const Pending& p, BuildState& state, std::vector<Pending>& queue);
    std::uint32_t WriteBucket(const Pending& p, const BuildState& state);
    std::uint32_t WriteInner(const Pending& p, BuildState& state, std::vector<Pending>& queue);
    const unsigned char* BytesAt(std::uint32_t word) const {
        return reinterpret_cast<const unsigned char*>(words_.data() + word);
    }
    void WalkFrom(std::string_view subject, size_t start, Hit& hit) const;
    void ScanBucket(std::uint32_t record, std::string_view subject, size_t start, size_t at,
                    Hit& hit) const;

    std::vector<std::uint32_t> words_;
    std::vector<Cluster> clusters_;
    std::uint32_t root_ = 0;
    size_t entryCount_ = 0;
};

}  // namespace qm
