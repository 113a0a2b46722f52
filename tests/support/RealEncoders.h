#pragma once
// Test data made by the real tools a poster would use: JPEG files from libjpeg-turbo's cjpeg,
// uuencoded text from GNU uuencode (sharutils) and base64 text from coreutils. Each returns ""
// when its tool failed, with the reason in the error argument.

#include <string>

namespace qm::test {

// True when cjpeg, uuencode and base64 are all installed.
bool RealEncodersAvailable();

// A binary PPM (P6) picture: a colour gradient with seeded noise, so that different seeds give
// JPEG files of different sizes.
std::string PpmImage(int width, int height, unsigned seed);

// The JPEG file cjpeg makes of a PPM picture.
std::string CjpegEncode(const std::string& ppm, int quality, std::string& error);

// GNU uuencode's output for data posted under remoteName ("begin 644 <name>" ... "end").
std::string GnuUuencode(const std::string& data, const std::string& remoteName, std::string& error);

// coreutils base64 with the usual 76-character lines.
std::string CoreutilsBase64(const std::string& data, std::string& error);

}  // namespace qm::test
