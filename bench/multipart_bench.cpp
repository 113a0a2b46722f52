// Multi-part harvest rate: the same pictures of 3 MB posted to the INN test instance once as
// single yEnc articles and once in yEnc parts of 700 KiB (as posting programs split them, the
// parts of each picture out of order), harvested by full engine runs, pipelined, in alternating
// rounds; the best round of each counts. Targets: multi-part MB/s at least 0.8 of single-part,
// and the multi-part harvest's peak memory under 64 MiB.
//
//   multipart_bench [--pictures N] [--size KB] [--part KB] [--rounds R]
//
// Needs INN (scripts/install-deps.sh) and root, like the INN integration tests.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchArticles.h"
#include "BenchSupport.h"
#include "PipelinedFetcher.h"
#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "support/InnServer.h"
#include "support/NullStatus.h"
#include "support/RealEncoders.h"
#include "util/TextFiles.h"

namespace {

using qm::bench::Clock;
using qm::bench::LoadAverage;
using qm::bench::SecondsSince;
using qm::bench::WorkDir;

constexpr const char* kSingleGroup = "alt.binaries.pictures.mpbench.single";
constexpr const char* kPartsGroup = "alt.binaries.pictures.mpbench.parts";
constexpr const char* kHost = "127.0.0.1";

struct Options {
    long pictures = 200;
    long sizeKb = 3 * 1024;
    long partKb = 700;
    int rounds = 3;
};

class CountingStatus : public qm::test::NullStatus {
public:
    void SetStatusText(const std::string& text) override { last = text; }
    void LoadThumbnail(const std::string&) override { ++saved; }
    void SetBytesTransferred(std::int64_t n) override { bytes = n; }
    std::string last;
    long saved = 0;
    std::int64_t bytes = 0;
};

std::string Article(const std::string& group, const std::string& subject, const std::string& body) {
    return "From: Bench Poster <bench@quarrymoth.invalid>\nNewsgroups: " + group +
           "\nSubject: " + subject + "\n\n" + body;
}

// Posts every picture to both groups, a few pictures at a time so memory stays small.
bool PostPictures(qm::test::InnServer& server, const Options& options, long& partArticles) {
    qm::bench::Random random(0x3a17beefull);
    const std::size_t size = static_cast<std::size_t>(options.sizeKb) * 1024;
    const std::size_t step = static_cast<std::size_t>(options.partKb) * 1024;
    const int total = static_cast<int>((size + step - 1) / step);
    partArticles = 0;
    for (long i = 0; i < options.pictures; ++i) {
        const std::string name = qm::bench::PictureName("mp", i);
        const std::string data = qm::bench::RandomBytes(random, size);
        const std::string tail = ") " + std::to_string(size);
        std::vector<std::string> batch{Article(kSingleGroup, "\"" + name + "\" yEnc (1/1" + tail,
                                               qm::test::YEncode(data, name))};
        // The last part first, then the others in order: parts need not come in order.
        for (int n = 0; n < total; ++n) {
            const int k = n == 0 ? total : n;
            const std::size_t begin = (k - 1) * step + 1;
            const std::size_t end = std::min(size, k * step);
            batch.push_back(Article(
                kPartsGroup,
                "\"" + name + "\" yEnc (" + std::to_string(k) + "/" + std::to_string(total) + tail,
                qm::test::YEncode(data, name, qm::test::YEncPart{k, total, begin, end})));
            ++partArticles;
        }
        if (!server.PostAll(batch)) return false;
    }
    return server.WaitForArticles(kSingleGroup, options.pictures, std::chrono::seconds(300)) &&
           server.WaitForArticles(kPartsGroup, partArticles, std::chrono::seconds(300));
}

// The process's peak resident memory since the last reset, in KiB.
long PeakKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Run {
    double seconds = 0;
    long saved = 0;
    std::int64_t bytes = 0;
    long peakKib = 0;
    std::string status;
};

// One whole engine run from a fresh profile and data directory.
Run Harvest(int port, const char* group) {
    Run r;
    CountingStatus status;
    qm::bench::YesPrompt prompt;
    r.seconds = qm::bench::HarvestFresh(port, group, {}, status, prompt, r.status, ResetPeak);
    r.peakKib = PeakKib();
    r.saved = status.saved;
    r.bytes = status.bytes;
    if (r.status.empty()) r.status = status.last;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--pictures")) options.pictures = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--size")) options.sizeKb = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--part")) options.partKb = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rounds")) options.rounds = std::atoi(argv[i + 1]);
    }
    qm::test::InnServer server;
    if (!server.Start() || !server.CreateGroup(kSingleGroup) || !server.CreateGroup(kPartsGroup)) {
        std::fprintf(stderr, "multipart_bench: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("multipart_bench: %ld pictures of %ld KB, parts of %ld KB (load average %s)\n",
                options.pictures, options.sizeKb, options.partKb, LoadAverage().c_str());
    long partArticles = 0;
    const auto posting = Clock::now();
    if (!PostPictures(server, options, partArticles)) {
        std::fprintf(stderr, "multipart_bench: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("posted %ld single articles and %ld parts in %.1f s\n\n", options.pictures,
                partArticles, SecondsSince(posting));

    Run best[2];
    double bestRaw[2] = {0, 0};
    const char* groups[2] = {kSingleGroup, kPartsGroup};
    const char* names[2] = {"single-part", "multi-part"};
    std::printf("%-8s %-12s %8s %10s %9s %9s %9s  %s\n", "round", "kind", "pictures", "seconds",
                "MB/s", "peak MiB", "raw MB/s", "status");
    for (int round = 1; round <= options.rounds; ++round) {
        for (int kind = 0; kind < 2; ++kind) {
            // The server's own ceiling for the group: a bare client, 16 commands ahead.
            qm::bench::PipelinedFetcher fetcher(16);
            const qm::bench::Rate raw = fetcher.FetchGroup(server.port(), groups[kind]);
            bestRaw[kind] = std::max(bestRaw[kind], raw.MegabytesPerSecond());
            const Run r = Harvest(server.port(), groups[kind]);
            const double mbs = r.seconds > 0 ? static_cast<double>(r.bytes) / 1e6 / r.seconds : 0;
            std::printf("%-8d %-12s %8ld %10.2f %9.1f %9.1f %9.1f  %s\n", round, names[kind],
                        r.saved, r.seconds, mbs, static_cast<double>(r.peakKib) / 1024,
                        raw.MegabytesPerSecond(), r.status.c_str());
            if (r.saved == options.pictures &&
                (best[kind].seconds == 0 || r.seconds < best[kind].seconds)) {
                best[kind] = r;
            }
        }
    }
    if (best[0].seconds == 0 || best[1].seconds == 0) {
        std::printf("\nnot every picture was saved in any round: no figures\n");
        return 1;
    }
    const double single = static_cast<double>(best[0].bytes) / 1e6 / best[0].seconds;
    const double multi = static_cast<double>(best[1].bytes) / 1e6 / best[1].seconds;
    const double peak = static_cast<double>(best[1].peakKib) / 1024;
    std::printf(
        "\nbest rounds: single-part %.1f MB/s, multi-part %.1f MB/s, ratio %.2f (target "
        "at least 0.8: %s)\n",
        single, multi, multi / single, multi / single >= 0.8 ? "met" : "NOT MET");
    std::printf(
        "the server's own ceiling (bare client): single-part %.1f MB/s, multi-part %.1f "
        "MB/s, ratio %.2f\n",
        bestRaw[0], bestRaw[1], bestRaw[0] > 0 ? bestRaw[1] / bestRaw[0] : 0);
    std::printf("multi-part harvest peak memory %.1f MiB (target under 64 MiB: %s)\n", peak,
                peak < 64 ? "met" : "NOT MET");
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    return 0;
}
