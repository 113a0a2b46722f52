#include "engine/PictureFingerprint.h"

#include <openssl/evp.h>

#include <charconv>
#include <fstream>
#include <iterator>

#include "engine/PerceptualHash.h"
#include "engine/SmallPicture.h"

namespace qm {
namespace {

// The value of each byte as a hex digit, -1 for the others: one look-up a digit, as a million
// digests are read when the content index loads.
const std::array<std::int16_t, 256>& HexValues() {
    static const auto table = [] {
        std::array<std::int16_t, 256> t{};
        t.fill(-1);
        for (int c = 0; c < 10; ++c) t['0' + c] = static_cast<std::int16_t>(c);
        for (int c = 0; c < 6; ++c) {
            t['a' + c] = static_cast<std::int16_t>(10 + c);
            t['A' + c] = static_cast<std::int16_t>(10 + c);
        }
        return t;
    }();
    return table;
}

}  // namespace

std::string ContentDigest::Hex() const {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(64, '0');
    for (size_t i = 0; i < sha256.size(); ++i) {
        hex[2 * i] = kDigits[sha256[i] >> 4];
        hex[2 * i + 1] = kDigits[sha256[i] & 15];
    }
    return hex;
}

std::optional<ContentDigest> ContentDigest::Parse(std::string_view hex, std::string_view size) {
    ContentDigest d;
    if (hex.size() != 64 || size.empty()) return std::nullopt;
    const std::array<std::int16_t, 256>& values = HexValues();
    int bad = 0;
    for (size_t i = 0; i < d.sha256.size(); ++i) {
        const int hi = values[static_cast<unsigned char>(hex[2 * i])];
        const int lo = values[static_cast<unsigned char>(hex[2 * i + 1])];
        bad |= hi | lo;  // negative when either is no digit
        d.sha256[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    if (bad < 0) return std::nullopt;
    const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), d.size);
    if (ec != std::errc() || end != size.data() + size.size()) return std::nullopt;
    return d;
}

PictureFingerprint FingerprintBytes(std::string_view bytes) {
    PictureFingerprint print;
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), print.digest.sha256.data(), &length, EVP_sha256(),
                   nullptr) != 1)
        return print;
    print.valid = true;
    print.digest.size = bytes.size();
    if (const std::optional<SmallPicture> small = DecodeSmall(bytes)) {
        print.shape = PerceptualHash(*small);
        print.width = small->fullWidth;
        print.height = small->fullHeight;
    }
    return print;
}

PictureFingerprint FingerprintFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return {};
    return FingerprintBytes(bytes);
}

}  // namespace qm
