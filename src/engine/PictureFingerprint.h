#pragma once
// What a picture's content is known by: the SHA-256 of its bytes with their count (the same
// file), and, for the kinds decoded, a perceptual hash with the picture's size in pixels (the same
// picture resized, recompressed or re-encoded). Made on a connection's thread, outside the run's
// lock: reading, hashing and decoding a picture take milliseconds.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

struct ContentDigest {
    std::array<unsigned char, 32> sha256{};
    std::uint64_t size = 0;

    bool operator==(const ContentDigest&) const = default;
    std::string Hex() const;  // of sha256
    // From 64 hex digits (either case) and a decimal byte count; nothing when either is not so.
    static std::optional<ContentDigest> Parse(std::string_view hex, std::string_view size);
};

struct PictureFingerprint {
    bool valid = false;  // the file was read
    ContentDigest digest;
    std::optional<std::uint64_t> shape;  // the perceptual hash; none for kinds not decoded
    std::uint32_t width = 0;             // of the full picture, when decoded
    std::uint32_t height = 0;

    std::uint64_t Pixels() const { return std::uint64_t{width} * height; }
};

PictureFingerprint FingerprintBytes(std::string_view bytes);
// Not valid when the file cannot be read.
PictureFingerprint FingerprintFile(const std::string& path);

}  // namespace qm
