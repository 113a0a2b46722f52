#include "engine/PerceptualHash.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace qm {
namespace {

constexpr int kGrid = 32;
constexpr int kKept = 8;  // frequencies 1 to 8 in each direction
constexpr std::size_t kCoefficients = std::size_t{kKept} * kKept;

// cos((2x + 1) u pi / 64) for the kept frequencies u.
const std::array<std::array<float, kGrid>, kKept>& CosineTable() {
    static const auto table = [] {
        std::array<std::array<float, kGrid>, kKept> t{};
        for (int u = 0; u < kKept; ++u) {
            for (int x = 0; x < kGrid; ++x) {
                t[u][x] = static_cast<float>(
                    std::cos((2 * x + 1) * (u + 1) * std::numbers::pi / (2 * kGrid)));
            }
        }
        return t;
    }();
    return table;
}

}  // namespace

std::uint64_t PerceptualHashOfGrid(const std::vector<float>& grid) {
    const auto& c = CosineTable();
    // Along the rows first: rowFreq[y][u] for each row y, then down the columns.
    std::array<std::array<float, kKept>, kGrid> rowFreq{};
    for (int y = 0; y < kGrid; ++y) {
        for (int u = 0; u < kKept; ++u) {
            float sum = 0;
            for (int x = 0; x < kGrid; ++x)
                sum += c[u][x] * grid[static_cast<size_t>(y) * kGrid + x];
            rowFreq[y][u] = sum;
        }
    }
    std::array<float, kCoefficients> coeffs{};
    for (int v = 0; v < kKept; ++v) {
        for (int u = 0; u < kKept; ++u) {
            float sum = 0;
            for (int y = 0; y < kGrid; ++y) sum += c[v][y] * rowFreq[y][u];
            coeffs[static_cast<size_t>(v) * kKept + u] = sum;
        }
    }
    std::array<float, kCoefficients> sorted = coeffs;
    std::nth_element(sorted.begin(), sorted.begin() + 32, sorted.end());
    const float median = sorted[32];
    std::uint64_t hash = 0;
    for (size_t i = 0; i < coeffs.size(); ++i) {
        if (coeffs[i] >= median) hash |= std::uint64_t{1} << i;
    }
    return hash;
}

std::uint64_t PerceptualHash(const SmallPicture& picture) {
    return PerceptualHashOfGrid(AreaReduce(picture, kGrid));
}

}  // namespace qm
