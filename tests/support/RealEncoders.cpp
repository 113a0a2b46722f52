#include "support/RealEncoders.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

constexpr const char* kCjpeg = "/usr/bin/cjpeg";
constexpr const char* kUuencode = "/usr/bin/uuencode";
constexpr const char* kBase64 = "/usr/bin/base64";

constexpr const char* kInput = "{input}";

// Runs a tool whose argument kInput stands for a scratch file holding data; the tool's stdout
// goes to output. False (with the reason in error) when it fails.
bool RunOnFile(std::vector<std::string> args, const std::string& data, std::string& output,
               std::string& error) {
    TempDir scratch;
    std::string input = scratch / "input";
    TempDir::WriteFile(input, data);
    ::chmod(input.c_str(), 0644);  // uuencode puts the file's mode on its begin line
    for (std::string& arg : args) {
        if (arg == kInput) arg = input;
    }
    ProcessResult r = RunProcess(args);
    if (r.exitCode != 0) {
        error = args[0] + " exit " + std::to_string(r.exitCode) + ": " + r.errors;
        return false;
    }
    output = std::move(r.output);
    return true;
}

}  // namespace

bool RealEncodersAvailable() {
    return ::access(kCjpeg, X_OK) == 0 && ::access(kUuencode, X_OK) == 0 &&
           ::access(kBase64, X_OK) == 0;
}

std::string PpmImage(int width, int height, unsigned seed) {
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-24, 24);
    auto clamp = [](int v) { return static_cast<char>(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            ppm += clamp(x * 255 / width + noise(rng));
            ppm += clamp(y * 255 / height + noise(rng));
            ppm += clamp((x + y) * 127 / (width + height) + 64 + noise(rng));
        }
    }
    return ppm;
}

std::string SceneImage(int width, int height, unsigned scene) {
    struct Blob {
        double x, y, radius, r, g, b;
    };
    std::mt19937 rng(scene * 7919u + 1);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Blob> blobs(6);
    for (Blob& blob : blobs)
        blob = {unit(rng),       unit(rng),       0.08 + 0.2 * unit(rng),
                unit(rng) * 255, unit(rng) * 255, unit(rng) * 255};
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double rgb[3] = {40, 40, 40};
            for (const Blob& blob : blobs) {
                const double dx = (x + 0.5) / width - blob.x, dy = (y + 0.5) / height - blob.y;
                const double w = std::exp(-(dx * dx + dy * dy) / (blob.radius * blob.radius));
                rgb[0] += w * blob.r;
                rgb[1] += w * blob.g;
                rgb[2] += w * blob.b;
            }
            for (double v : rgb) ppm += static_cast<char>(std::min(255.0, v));
        }
    }
    return ppm;
}

std::string PngEncode(const std::string& ppm) {
    int width = 0, height = 0, consumed = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d 255%n", &width, &height, &consumed) != 2) return "";
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    const char* pixels = ppm.data() + consumed + 1;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, pixels, 0, nullptr)) return "";
    std::string png(size, '\0');
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, pixels, 0, nullptr)) return "";
    png.resize(size);
    return png;
}

std::string CjpegEncode(const std::string& ppm, int quality, std::string& error) {
    TempDir scratch;
    std::string jpegPath = scratch / "out.jpg", ignored;
    if (!RunOnFile({kCjpeg, "-quality", std::to_string(quality), "-outfile", jpegPath, kInput}, ppm,
                   ignored, error)) {
        return "";
    }
    std::string jpeg = TempDir::ReadFile(jpegPath);
    if (jpeg.empty()) error = "cjpeg wrote nothing";
    return jpeg;
}

std::string GnuUuencode(const std::string& data, const std::string& remoteName,
                        std::string& error) {
    std::string text;
    return RunOnFile({kUuencode, kInput, remoteName}, data, text, error) ? text : "";
}

std::string CoreutilsBase64(const std::string& data, std::string& error) {
    std::string text;
    return RunOnFile({kBase64, "-w", "76", kInput}, data, text, error) ? text : "";
}

std::uint32_t BitwiseCrc32(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::string YEncode(const std::string& file, const std::string& name, std::optional<YEncPart> part,
                    std::size_t lineLength) {
    auto hex = [](std::uint32_t crc) {
        char text[9];
        std::snprintf(text, sizeof text, "%08x", crc);
        return std::string(text);
    };
    const std::string data =
        part ? file.substr(part->begin - 1, part->end - part->begin + 1) : file;
    std::string out = "=ybegin ";
    if (part)
        out +=
            "part=" + std::to_string(part->number) + " total=" + std::to_string(part->total) + " ";
    out += "line=" + std::to_string(lineLength) + " size=" + std::to_string(file.size()) +
           " name=" + name + "\n";
    if (part) {
        out += "=ypart begin=" + std::to_string(part->begin) + " end=" + std::to_string(part->end) +
               "\n";
    }
    std::size_t column = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto c = static_cast<unsigned char>(static_cast<unsigned char>(data[i]) + 42);
        const bool first = column == 0;
        const bool last = column + 1 >= lineLength || i + 1 == data.size();
        const bool edgeSpace = (c == '\t' || c == ' ') && (first || last);
        if (c == 0 || c == '\n' || c == '\r' || c == '=' || edgeSpace || (first && c == '.')) {
            out += '=';
            out += static_cast<char>(c + 64);
            column += 2;
        } else {
            out += static_cast<char>(c);
            ++column;
        }
        if (column >= lineLength) {
            out += '\n';
            column = 0;
        }
    }
    if (column > 0) out += '\n';
    out += "=yend size=" + std::to_string(data.size());
    if (part) out += " part=" + std::to_string(part->number) + " pcrc32=" + hex(BitwiseCrc32(data));
    return out + " crc32=" + hex(BitwiseCrc32(file)) + "\n";
}

}  // namespace qm::test
