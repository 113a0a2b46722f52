// Throughput of the uuencode and base64 decoders fed line by line, against the system's
// uudecode and base64 -d on the same input; and of the yEnc decoder against the uuencode decoder
// on the same pictures, beside a plain memcpy of the output. Prints MB/s of decoded output and
// the ratios.
//
// Usage: decode_bench [--size MB] [--runs N]   (defaults: 200 MB, best of 3 runs)

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "decode/Base64Decoder.h"
#include "decode/UUDecoder.h"
#include "decode/YEncDecoder.h"
#include "support/RealEncoders.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    std::size_t megabytes = 200;
    int runs = 3;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            options.megabytes = std::strtoul(argv[++i], nullptr, 10);
        } else if (arg == "--runs" && i + 1 < argc) {
            options.runs = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    return options.megabytes > 0 && options.runs > 0;
}

// Removes the scratch directory however the run ends.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qm_decode_bench_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::perror("mkdtemp"), std::exit(1);
        path = pattern;
    }
    ~TempDir() { fs::remove_all(path); }
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteRandomFile(const fs::path& path, std::size_t bytes) {
    std::string data(bytes, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < bytes; i += 8) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        std::memcpy(&data[i], &state, std::min<std::size_t>(8, bytes - i));
    }
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes));
}

bool Run(const std::string& command) {
    if (std::system(command.c_str()) == 0) return true;
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    return false;
}

// Lines as the article store holds them: each with CR LF. The text is rewritten once, untimed.
std::vector<std::string_view> SplitLines(const std::string& lfText, std::string& crlfText) {
    crlfText.clear();
    crlfText.reserve(lfText.size() + lfText.size() / 60 + 16);
    std::vector<std::string_view> lines;
    std::vector<std::size_t> ends;
    for (std::size_t pos = 0; pos < lfText.size();) {
        std::size_t end = lfText.find('\n', pos);
        if (end == std::string::npos) end = lfText.size();
        crlfText.append(lfText, pos, end - pos).append("\r\n");
        ends.push_back(crlfText.size());
        pos = end + 1;
    }
    std::size_t start = 0;
    for (std::size_t end : ends)
        lines.emplace_back(crlfText.data() + start, end - start), start = end;
    return lines;
}

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Best wall time of `runs` calls; each call must succeed. Its output file is removed untimed.
double BestOf(int runs, const std::string& outPath, const std::function<bool()>& once) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        fs::remove(outPath);
        const auto start = Clock::now();
        if (!once()) std::fprintf(stderr, "run failed\n"), std::exit(1);
        best = std::min(best, Seconds(start));
    }
    return best;
}

// Runs a program with stdout sent to outPath (or left alone when empty); true on exit status 0.
bool Spawn(std::vector<std::string> args, const std::string& outPath) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (!outPath.empty()) {
            const int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
        }
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool DecodeUu(const std::vector<std::string_view>& lines, const std::string& outPath) {
    qm::CUUDecoder decoder(outPath);
    for (std::string_view line : lines) decoder.DecodeLine(line);
    return decoder.Close();
}

bool DecodeBase64(const std::vector<std::string_view>& lines, const std::string& outPath) {
    qm::CBase64Decoder decoder;
    if (decoder.OpenOutput(outPath) != 0) return false;
    for (std::string_view line : lines) decoder.DecodeAndWrite(line);
    return decoder.Close();
}

bool DecodeYEnc(const std::vector<std::string_view>& lines, const std::string& outPath) {
    qm::CYEncDecoder decoder(outPath);
    for (std::string_view line : lines) decoder.DecodeLine(line);
    return decoder.Close() == qm::YEncVerdict::kOk;
}

// The floor under every decoder: the output bytes copied into a buffer as large as the output.
bool CopyOutput(const std::string& original, std::string& copy) {
    copy.resize(original.size());
    std::memcpy(copy.data(), original.data(), original.size());
    return copy[copy.size() / 2] == original[original.size() / 2];
}

bool SameContent(const fs::path& a, const std::string& expected) {
    return ReadFile(a) == expected;
}

void Report(const char* name, std::size_t bytes, double seconds) {
    std::printf("  %-28s %8.3f s  %9.1f MB/s\n", name, seconds, bytes / seconds / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--size MB] [--runs N]\n", argv[0]);
        return 2;
    }
    TempDir dir;
    const auto in = dir.path / "original.bin";
    const std::string d = dir.path.string() + "/";
    const std::size_t bytes = options.megabytes * 1000 * 1000;

    WriteRandomFile(in, bytes);
    if (!Run("uuencode " + in.string() + " picture.jpg > " + d + "input.uue") ||
        !Run("base64 -w 76 " + in.string() + " > " + d + "input.b64")) {
        std::fprintf(stderr, "needs uuencode (package sharutils) and base64 (coreutils)\n");
        return 1;
    }
    const std::string original = ReadFile(in);
    std::string uuText, b64Text;
    const auto uuLines = SplitLines(ReadFile(d + "input.uue"), uuText);
    const auto b64Lines = SplitLines(ReadFile(d + "input.b64"), b64Text);
    std::printf("decoded size %zu MB, %zu uuencoded lines, %zu base64 lines, best of %d runs\n",
                options.megabytes, uuLines.size(), b64Lines.size(), options.runs);

    const std::string ourUu = d + "ours.uu.bin", ourB64 = d + "ours.b64.bin";
    const std::string gnuUu = d + "system.uu.bin", gnuB64 = d + "system.b64.bin";
    const double tOurUu = BestOf(options.runs, ourUu, [&] { return DecodeUu(uuLines, ourUu); });
    const double tGnuUu = BestOf(options.runs, gnuUu, [&] {
        return Spawn({"uudecode", "-o", gnuUu, d + "input.uue"}, "");
    });
    const double tOurB64 =
        BestOf(options.runs, ourB64, [&] { return DecodeBase64(b64Lines, ourB64); });
    const double tGnuB64 = BestOf(options.runs, gnuB64, [&] {
        return Spawn({"base64", "-d", d + "input.b64"}, gnuB64);
    });

    std::printf("uuencode:\n");
    Report("CUUDecoder, line by line", bytes, tOurUu);
    Report("uudecode", bytes, tGnuUu);
    std::printf("  ratio %.2fx (target >= 2x)\n", tGnuUu / tOurUu);
    std::printf("base64:\n");
    Report("CBase64Decoder, line by line", bytes, tOurB64);
    Report("base64 -d", bytes, tGnuB64);
    std::printf("  ratio %.2fx (target >= 2.5x)\n", tGnuB64 / tOurB64);

    const bool uuOk = SameContent(ourUu, original), b64Ok = SameContent(ourB64, original);
    // yEnc against uuencode on the same pictures, one after the other in this run. yEnc posters
    // write lines of 128 characters.
    std::string yencText;
    const auto yencLines = SplitLines(qm::test::YEncode(original, "picture.jpg"), yencText);
    const std::string ourYEnc = d + "ours.yenc.bin";
    std::string copy;
    const double tCopy =
        BestOf(options.runs, d + "none", [&] { return CopyOutput(original, copy); });
    const double tYEnc =
        BestOf(options.runs, ourYEnc, [&] { return DecodeYEnc(yencLines, ourYEnc); });
    const double tUuAgain = BestOf(options.runs, ourUu, [&] { return DecodeUu(uuLines, ourUu); });
    std::printf("yEnc (%zu lines) against uuencode, same pictures:\n", yencLines.size());
    Report("memcpy of the output", bytes, tCopy);
    Report("CYEncDecoder, line by line", bytes, tYEnc);
    Report("CUUDecoder, line by line", bytes, tUuAgain);
    std::printf("  ratio %.2fx (target >= 1x)\n", tUuAgain / tYEnc);

    const bool yencOk = SameContent(ourYEnc, original);
    std::printf("outputs identical to the original: uuencode %s, base64 %s, yEnc %s\n",
                uuOk ? "yes" : "NO", b64Ok ? "yes" : "NO", yencOk ? "yes" : "NO");
    return uuOk && b64Ok && yencOk ? 0 : 1;
}
