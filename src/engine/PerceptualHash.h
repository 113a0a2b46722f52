#pragma once
// A 64-bit hash of what a picture shows, which stays nearly the same when the picture is resized,
// recompressed, re-encoded or cropped by a few pixels: the signs of its lowest frequencies. The
// picture is reduced to 32 x 32 grey levels; of their two-dimensional DCT-II the 8 x 8
// coefficients next to the constant term are kept, and each gives one bit: above their median.

#include <cstdint>
#include <vector>

#include "engine/SmallPicture.h"

namespace qm {

// The hash of 32 x 32 grey levels, row by row.
std::uint64_t PerceptualHashOfGrid(const std::vector<float>& grid);
std::uint64_t PerceptualHash(const SmallPicture& picture);

// The bits in which two hashes differ. Counted in registers: without a processor flag the
// compiler's own count is a library call, which would double the cost of a search.
inline int HashDistance(std::uint64_t a, std::uint64_t b) {
    std::uint64_t x = a ^ b;
    x -= (x >> 1) & 0x5555555555555555ULL;
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
}

}  // namespace qm
