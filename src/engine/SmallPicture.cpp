#include "engine/SmallPicture.h"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace qm {
namespace {

// Enough pixels a side for the reduction to 32 x 32 to average over at least two in each
// direction; a JPEG is scaled down by the decoder no further than that.
constexpr int kLeastSide = 64;
// No picture a run saves is larger; a header that claims more is not believed.
constexpr std::uint64_t kMostPixels = std::uint64_t{64} << 20;

bool IsJpeg(std::string_view b) {
    return b.size() > 3 && static_cast<unsigned char>(b[0]) == 0xFF &&
           static_cast<unsigned char>(b[1]) == 0xD8 && static_cast<unsigned char>(b[2]) == 0xFF;
}

bool IsPng(std::string_view b) {
    return b.size() > 8 && std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) == 0;
}

// The strongest reduction the decoder offers that still leaves kLeastSide pixels a side.
tjscalingfactor ChooseScale(int width, int height) {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    tjscalingfactor best{1, 1};
    long bestSide = std::min(width, height);
    for (int i = 0; i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num > f.denom) continue;
        const long side = TJSCALED(std::min(width, height), f);
        if (side >= kLeastSide && side < bestSide) {
            best = f;
            bestSide = side;
        }
    }
    return best;
}

std::optional<SmallPicture> DecodeJpeg(std::string_view bytes) {
    std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
    if (!handle) return std::nullopt;
    auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto size = static_cast<unsigned long>(bytes.size());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), data, size, &width, &height, &subsampling, &colorspace) !=
            0 ||
        width <= 0 || height <= 0 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMostPixels)
        return std::nullopt;
    const tjscalingfactor scale = ChooseScale(width, height);
    SmallPicture out;
    out.fullWidth = static_cast<std::uint32_t>(width);
    out.fullHeight = static_cast<std::uint32_t>(height);
    out.width = TJSCALED(width, scale);
    out.height = TJSCALED(height, scale);
    std::vector<unsigned char> grey(static_cast<size_t>(out.width) * out.height);
    // A picture whose last rows are missing still decodes (the rest grey): it counts as broken.
    if (tjDecompress2(handle.get(), data, size, grey.data(), out.width, 0, out.height, TJPF_GRAY,
                      0) != 0)
        return std::nullopt;
    out.grey.assign(grey.begin(), grey.end());
    return out;
}

std::optional<SmallPicture> DecodePng(std::string_view bytes) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return std::nullopt;
    if (image.width == 0 || image.height == 0 ||
        std::uint64_t{image.width} * image.height > kMostPixels) {
        png_image_free(&image);
        return std::nullopt;
    }
    // RGB and luma worked out here, as a JPEG's decoder gives it, so that a PNG made from a JPEG
    // gives the same grey levels; transparency is laid over black.
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    SmallPicture full;
    full.width = static_cast<int>(image.width);
    full.height = static_cast<int>(image.height);
    full.fullWidth = image.width;
    full.fullHeight = image.height;
    full.grey.resize(static_cast<size_t>(full.width) * full.height);
    for (size_t i = 0; i < full.grey.size(); ++i) {
        const unsigned char* p = &rgb[i * 3];
        full.grey[i] = 0.299f * p[0] + 0.587f * p[1] + 0.114f * p[2];
    }
    return full;
}

// The weights with which source pixels [0, from) cover target pixels [0, to) along one axis:
// for each target pixel, its first source pixel and the share of each source pixel it covers.
struct Span {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Span> Spans(int from, int to) {
    std::vector<Span> spans(static_cast<size_t>(to));
    const double step = static_cast<double>(from) / to;
    for (int t = 0; t < to; ++t) {
        const double begin = t * step, end = (t + 1) * step;
        Span& s = spans[static_cast<size_t>(t)];
        s.first = static_cast<int>(begin);
        for (int x = s.first; x < from && x < end; ++x) {
            const double covered = std::min<double>(x + 1, end) - std::max<double>(x, begin);
            s.weights.push_back(static_cast<float>(covered / step));
        }
    }
    return spans;
}

}  // namespace

std::optional<SmallPicture> DecodeSmall(std::string_view bytes) {
    if (IsJpeg(bytes)) return DecodeJpeg(bytes);
    if (IsPng(bytes)) return DecodePng(bytes);
    return std::nullopt;
}

std::vector<float> AreaReduce(const SmallPicture& picture, int side) {
    const std::vector<Span> across = Spans(picture.width, side);
    const std::vector<Span> down = Spans(picture.height, side);
    // Rows first: each source row reduced to side values, then the columns of those.
    std::vector<float> rows(static_cast<size_t>(picture.height) * side);
    for (int y = 0; y < picture.height; ++y) {
        const float* src = &picture.grey[static_cast<size_t>(y) * picture.width];
        for (int t = 0; t < side; ++t) {
            const Span& s = across[static_cast<size_t>(t)];
            float sum = 0;
            for (size_t k = 0; k < s.weights.size(); ++k) sum += s.weights[k] * src[s.first + k];
            rows[static_cast<size_t>(y) * side + t] = sum;
        }
    }
    std::vector<float> out(static_cast<size_t>(side) * side);
    for (int t = 0; t < side; ++t) {
        const Span& s = down[static_cast<size_t>(t)];
        for (int x = 0; x < side; ++x) {
            float sum = 0;
            for (size_t k = 0; k < s.weights.size(); ++k)
                sum += s.weights[k] * rows[(s.first + k) * side + x];
            out[static_cast<size_t>(t) * side + x] = sum;
        }
    }
    return out;
}

}  // namespace qm
