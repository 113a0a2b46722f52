// Several connections against a real news server: posts pictures to a private INN instance, then
// harvests them with the full engine
//   - through a relay that caps each connection at 500 KB/s (a commercial server's cap per
//     connection), over 1 and over 4 connections: 4 should take at most a third of the time;
//   - through a relay 20 ms away without a cap: 4 connections at depth 4 against 1 at depth 16,
//     which should be no slower.
//
//   connections_bench [--articles N] [--size KB]
//
// Needs INN (scripts/install-deps.sh) and root, like the INN integration tests. Targets are
// reported as PASS or MISS; the exit status says only whether the benchmark ran.

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchArticles.h"
#include "BenchSupport.h"
#include "EngineHarvest.h"
#include "support/DelayProxy.h"
#include "support/InnServer.h"

namespace {

using qm::bench::Clock;
using qm::bench::HarvestResult;
using qm::bench::LoadAverage;
using qm::bench::SecondsSince;
using qm::bench::WorkDir;

constexpr const char* kGroup = "alt.binaries.pictures.connections";
constexpr std::uint64_t kCapPerConnection = 500 * 1000;  // bytes per second
constexpr std::chrono::milliseconds kOneWayDelay{10};
constexpr double kCappedTarget = 1.0 / 3;  // 4 connections' time over 1 connection's

struct Options {
    long articles = 200;
    long sizeKb = 60;
};

bool Harvest(int port, long connections, long depth, const std::string& base, long articles,
             HarvestResult& result) {
    const std::string name = std::to_string(connections) + "x" + std::to_string(depth);
    result = qm::bench::HarvestGroup(port, kGroup, connections, depth, base + "/" + name, articles);
    std::printf(
        "  %2ld connection(s), depth %2ld: %4ld pictures, retrieval %7.2f s, %6.2f MB/s"
        "  (whole run %.2f s)\n",
        connections, depth, result.retrieval.articles, result.retrieval.seconds,
        result.retrieval.MegabytesPerSecond(), result.seconds);
    if (!result.retrieval.ok) {
        std::fprintf(stderr, "connections_bench: saved %ld of %ld, status \"%s\"\n",
                     result.retrieval.articles, articles, result.status.c_str());
    }
    return result.retrieval.ok;
}

void PrintTarget(const std::string& what, double value, const std::string& target, bool met) {
    std::printf("  %-48s %6.3f  target %-6s %s\n", what.c_str(), value, target.c_str(),
                met ? "PASS" : "MISS");
}

bool RunCapped(int innPort, const Options& options, const std::string& base) {
    qm::test::DelayProxy proxy(innPort, std::chrono::milliseconds(0), kCapPerConnection);
    if (!proxy.Start()) {
        std::fprintf(stderr, "connections_bench: %s\n", proxy.error().c_str());
        return false;
    }
    std::printf("\nThrough a relay capping each connection at %llu KB/s (load average %s):\n",
                static_cast<unsigned long long>(kCapPerConnection / 1000), LoadAverage().c_str());
    HarvestResult one, four;
    if (!Harvest(proxy.port(), 1, 4, base + "/capped", options.articles, one) ||
        !Harvest(proxy.port(), 4, 4, base + "/capped", options.articles, four)) {
        return false;
    }
    const double ratio = four.retrieval.seconds / one.retrieval.seconds;
    PrintTarget("time with 4 connections / time with 1", ratio, "<= 0.333", ratio <= kCappedTarget);
    return true;
}

bool RunDistant(int innPort, const Options& options, const std::string& base) {
    qm::test::DelayProxy proxy(innPort, kOneWayDelay);
    if (!proxy.Start()) {
        std::fprintf(stderr, "connections_bench: %s\n", proxy.error().c_str());
        return false;
    }
    std::printf("\nThrough a relay %lld ms each way, no cap (load average %s):\n",
                static_cast<long long>(kOneWayDelay.count()), LoadAverage().c_str());
    HarvestResult deep, several;
    if (!Harvest(proxy.port(), 1, 16, base + "/distant", options.articles, deep) ||
        !Harvest(proxy.port(), 4, 4, base + "/distant", options.articles, several)) {
        return false;
    }
    const double ratio = several.retrieval.seconds / deep.retrieval.seconds;
    PrintTarget("time 4 connections x depth 4 / 1 x depth 16", ratio, "<= 1", ratio <= 1.0);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg != "--articles" && arg != "--size") || i + 1 >= argc) return false;
        const long value = std::strtol(argv[++i], nullptr, 10);
        if (value <= 0) return false;
        (arg == "--articles" ? options.articles : options.sizeKb) = value;
    }
    return true;
}

int RunBench(const Options& options) {
    using qm::test::InnServer;
    if (!InnServer::Available()) {
        std::fprintf(stderr, "connections_bench: needs INN (scripts/install-deps.sh) and root\n");
        return 1;
    }
    std::printf("connections_bench: %ld uuencoded pictures of %ld KB (load average %s)\n",
                options.articles, options.sizeKb, LoadAverage().c_str());
    InnServer server;
    if (!server.Start() || !server.CreateGroup(kGroup)) {
        std::fprintf(stderr, "connections_bench: %s\n", server.error().c_str());
        return 1;
    }
    const auto postStart = Clock::now();
    if (!qm::bench::PostPictures(server, kGroup, "conn", options.articles,
                                 static_cast<size_t>(options.sizeKb) * 1024,
                                 0x5eed5ull + static_cast<std::uint64_t>(::getpid()))) {
        std::fprintf(stderr, "connections_bench: posting failed: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("posted in %.1f s to INN on port %d\n", SecondsSince(postStart), server.port());
    const WorkDir work("/tmp/qm-connections-bench-");
    if (work.path().empty()) {
        std::fprintf(stderr, "connections_bench: cannot make a work directory under /tmp\n");
        return 1;
    }
    if (!RunCapped(server.port(), options, work.path()) ||
        !RunDistant(server.port(), options, work.path())) {
        return 1;
    }
    std::printf("\nload average at the end: %s\n", LoadAverage().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: connections_bench [--articles N] [--size KB]\n");
        return 2;
    }
    return RunBench(options);
}
