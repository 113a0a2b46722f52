#include "engine/ShapeIndex.h"

#include <algorithm>
#include <bit>

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
    for (Table& t : tables_) t.resize(0x10000);
}

void ShapeIndex::Add(std::uint64_t hash, std::uint32_t id) {
    const auto position = static_cast<std::uint32_t>(items_.size());
    items_.push_back({hash, id});
    for (int q = 0; q < 4; ++q) tables_[q][Quarter(hash, q)].push_back(position);
}

void ShapeIndex::Clear() {
    items_.clear();
    for (Table& t : tables_) {
        for (std::vector<std::uint32_t>& bucket : t) std::vector<std::uint32_t>().swap(bucket);
    }
}

std::optional<ShapeIndex::Match> ShapeIndex::Nearest(std::uint64_t hash) const {
    std::optional<Match> best;
    std::uint32_t bestPosition = 0;
    for (int q = 0; q < 4; ++q) {
        const std::uint16_t own = Quarter(hash, q);
        for (std::uint16_t flip : nearQuarters_) {
            for (std::uint32_t position : tables_[q][own ^ flip]) {
                const Item& item = items_[position];
                const int distance = std::popcount(item.hash ^ hash);
                if (distance > radius_) continue;
                if (!best || distance < best->distance ||
                    (distance == best->distance && position < bestPosition)) {
                    best = Match{item.id, distance};
                    bestPosition = position;
                }
            }
        }
    }
    return best;
}

}  // namespace qm
