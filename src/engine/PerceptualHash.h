#pragma once
// A 64-bit hash of what a picture shows, which stays nearly the same when the picture is resized,
// recompressed, re-encoded or cropped by a few pixels: the signs of its lowest frequencies. The
// picture is reduced to 32 x 32 grey levels; of their two-dimensional DCT-II the 8 x 8
// coefficients next to the constant term are kept, and each gives one bit: above their median.

#include <bit>
#include <cstdint>
#include <vector>

#include "engine/SmallPicture.h"

namespace qm {

// The hash of 32 x 32 grey levels, row by row.
std::uint64_t PerceptualHashOfGrid(const std::vector<float>& grid);
std::uint64_t PerceptualHash(const SmallPicture& picture);

inline int HashDistance(std::uint64_t a, std::uint64_t b) {
    return std::popcount(a ^ b);
}

}  // namespace qm
