#pragma once
// A picture decoded small for comparing what it shows: grey levels of a reduced copy and the size
// of the full picture. JPEG is decoded scaled down by the decoder itself (to 1/8 where that
// leaves enough pixels), PNG in full and reduced here; other kinds are not decoded.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qm {

struct SmallPicture {
    int width = 0;  // of grey
    int height = 0;
    std::vector<float> grey;  // row by row, 0 to 255 (luma)
    std::uint32_t fullWidth = 0;
    std::uint32_t fullHeight = 0;
};

// The picture in bytes, or nothing when it is no JPEG or PNG, is broken, or is larger than any
// picture a run saves would be (a bomb of a header must not take the memory).
std::optional<SmallPicture> DecodeSmall(std::string_view bytes);

// The picture reduced to side x side by averaging the pixels each target pixel covers (partly
// covered pixels count by the part covered), so that scaling steps do not alias.
std::vector<float> AreaReduce(const SmallPicture& picture, int side);

}  // namespace qm
