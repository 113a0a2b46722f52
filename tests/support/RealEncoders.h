#pragma once
// Test data made by the real tools a poster would use: JPEG files from libjpeg-turbo's cjpeg,
// uuencoded text from GNU uuencode (sharutils) and base64 text from coreutils. Each returns ""
// when its tool failed, with the reason in the error argument. Debian has no yEnc encoder, so
// yEnc text comes from one of our own that writes what posting programs write.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qm::test {

// True when cjpeg, uuencode and base64 are all installed.
bool RealEncodersAvailable();

// A binary PPM (P6) picture: a colour gradient with seeded noise, so that different seeds give
// JPEG files of different sizes.
std::string PpmImage(int width, int height, unsigned seed);

// A binary PPM picture of one of many scenes: soft blobs placed by the scene number, drawn the
// same at any size, so that two sizes of one scene are the same picture resized and two scenes
// are different pictures.
std::string SceneImage(int width, int height, unsigned scene);

// The PNG file libpng makes of a PPM picture.
std::string PngEncode(const std::string& ppm);

// The JPEG file cjpeg makes of a PPM picture.
std::string CjpegEncode(const std::string& ppm, int quality, std::string& error);

// GNU uuencode's output for data posted under remoteName ("begin 644 <name>" ... "end").
std::string GnuUuencode(const std::string& data, const std::string& remoteName, std::string& error);

// coreutils base64 with the usual 76-character lines.
std::string CoreutilsBase64(const std::string& data, std::string& error);

// A piece of a multi-part yEnc post: bytes begin to end (counted from 1) of the file.
struct YEncPart {
    int number = 1;
    int total = 1;
    std::size_t begin = 1;
    std::size_t end = 0;
};

// CRC-32 of data, bit by bit (kept apart from the decoder's table-driven one on purpose).
std::uint32_t BitwiseCrc32(const std::string& data);

// A yEnc attachment: "=ybegin line=128 size=... name=...", lines of lineLength characters, and
// "=yend size=... crc32=..." (lower-case, eight hex digits). "=" escapes NUL, LF, CR and "=", TAB
// and SPACE at the start and end of a line, and "." at the start of one. With a part, the header
// carries part= and total=, a "=ypart" line follows and the trailer gives the part's size and
// pcrc32 beside the file's crc32. Lines end with "\n".
std::string YEncode(const std::string& file, const std::string& name,
                    std::optional<YEncPart> part = std::nullopt, std::size_t lineLength = 128);

}  // namespace qm::test
