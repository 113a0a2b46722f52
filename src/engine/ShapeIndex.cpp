#include "engine/ShapeIndex.h"

#include <algorithm>
#include <bit>

#include "engine/PerceptualHash.h"

namespace qm {
namespace {

std::uint16_t Quarter(std::uint64_t hash, int q) {
    return static_cast<std::uint16_t>(hash >> (16 * q));
}

}  // namespace

ShapeIndex::ShapeIndex(int radius) : radius_(std::clamp(radius, 0, kMostRadius)) {
    for (unsigned v = 0; v <= 0xFFFF; ++v) {
        if (std::popcount(v) <= radius_ / 4) nearQuarters_.push_back(static_cast<std::uint16_t>(v));
    }
    Clear();
}

void ShapeIndex::Assign(const std::vector<std::pair<std::uint64_t, std::uint32_t>>& items) {
    items_.clear();
    items_.reserve(items.size());
    for (const auto& [hash, id] : items) items_.push_back({hash, id});
    File();
}

void ShapeIndex::Add(std::uint64_t hash, std::uint32_t id) {
    items_.push_back({hash, id});
    if (items_.size() - filed_ > kMostWaiting) File();
}

void ShapeIndex::Clear() {
    items_.clear();
    File();
}

// A counting sort of every item by each quarter: two passes over the items per quarter.
void ShapeIndex::File() {
    filed_ = items_.size();
    for (int q = 0; q < 4; ++q) {
        if (items_.empty()) {  // an empty index needs no tables (and is made often)
            tables_[q] = Table{};
            continue;
        }
        Table& t = tables_[q];
        t.starts.assign(0x10001, 0);
        for (const Item& item : items_) ++t.starts[Quarter(item.hash, q) + 1u];
        for (std::size_t v = 1; v < t.starts.size(); ++v) t.starts[v] += t.starts[v - 1];
        t.positions.resize(items_.size());
        std::vector<std::uint32_t> next(t.starts.begin(), t.starts.end() - 1);
        for (std::size_t i = 0; i < items_.size(); ++i)
            t.positions[next[Quarter(items_[i].hash, q)]++] = static_cast<std::uint32_t>(i);
    }
}

void ShapeIndex::Consider(std::uint32_t position, std::uint64_t hash, std::optional<Match>& best,
                          std::uint32_t& bestPosition) const {
    const Item& item = items_[position];
    const int distance = HashDistance(item.hash, hash);
    if (distance > radius_) return;
    if (!best || distance < best->distance ||
        (distance == best->distance && position < bestPosition)) {
        best = Match{item.id, distance};
        bestPosition = position;
    }
}

std::optional<ShapeIndex::Match> ShapeIndex::Nearest(std::uint64_t hash) const {
    std::optional<Match> best;
    std::uint32_t bestPosition = 0;
    for (int q = 0; q < 4 && filed_ > 0; ++q) {
        const Table& t = tables_[q];
        const std::uint16_t own = Quarter(hash, q);
        for (std::uint16_t flip : nearQuarters_) {
            const std::uint16_t v = own ^ flip;
            for (std::uint32_t k = t.starts[v]; k < t.starts[v + 1u]; ++k)
                Consider(t.positions[k], hash, best, bestPosition);
        }
    }
    for (std::size_t p = filed_; p < items_.size(); ++p)
        Consider(static_cast<std::uint32_t>(p), hash, best, bestPosition);
    return best;
}

}  // namespace qm
