#include "support/RealEncoders.h"

#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace qm::test
