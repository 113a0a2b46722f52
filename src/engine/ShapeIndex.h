#pragma once
// Finds, among many 64-bit perceptual hashes, the nearest one within a few differing bits without
// comparing against them all: each hash is filed under each of its four 16-bit quarters. Two
// hashes within r bits of each other agree to within r / 4 bits on at least one quarter, so only
// the hashes filed under the quarter values that close to the asked hash's are compared. The
// files are packed arrays, made whole at once; hashes added one by one wait in a short list that
// is compared in full until it is long enough to be filed with the rest.

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace qm {

class ShapeIndex {
public:
    // The largest distance searched; 15 keeps the quarter values tried to 697 per quarter.
    static constexpr int kMostRadius = 15;
    explicit ShapeIndex(int radius);

    // Replaces the index with the given hashes and their ids (the order breaks ties).
    void Assign(const std::vector<std::pair<std::uint64_t, std::uint32_t>>& items);
    void Add(std::uint64_t hash, std::uint32_t id);
    void Clear();
    std::size_t Size() const { return items_.size(); }

    struct Match {
        std::uint32_t id = 0;
        int distance = 0;
    };
    // The hash nearest to hash within the radius (of equal distances, the one added first).
    std::optional<Match> Nearest(std::uint64_t hash) const;

private:
    struct Item {
        std::uint64_t hash;
        std::uint32_t id;
    };
    // The items [0, filed_) of one quarter, grouped by the quarter's value: value v's are
    // positions[starts[v] .. starts[v + 1]).
    struct Table {
        std::vector<std::uint32_t> starts;
        std::vector<std::uint32_t> positions;
    };
    static constexpr std::size_t kMostWaiting = 4096;

    void File();
    void Consider(std::uint32_t position, std::uint64_t hash, std::optional<Match>& best,
                  std::uint32_t& bestPosition) const;

    int radius_;
    std::vector<std::uint16_t> nearQuarters_;  // the values within radius / 4 bits of 0
    std::array<Table, 4> tables_;
    std::vector<Item> items_;
    std::size_t filed_ = 0;  // items_ before this are in the tables; the rest wait
};

}  // namespace qm
