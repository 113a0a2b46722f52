// Compressed header scans against a real news server: posts small text articles (50,000 by
// default) to one group of a private INN instance, then scans the group's headers with the full
// engine (a run whose subject filter keeps nothing) through a relay 20 ms away on a 20 Mbit/s
// line, once with UseCompression 0 and once with 1. Prints the bytes on the wire (both ways), the
// time, and the compressed run's share of the bytes against the target.
//
//   compress_bench [--articles N]
//
// Needs INN (scripts/install-deps.sh) and root, like the INN integration tests. The target is
// reported as PASS or MISS; the exit status says only whether the benchmark ran.

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchArticles.h"
#include "BenchSupport.h"
#include "settings/SettingsKeys.h"
#include "support/DelayProxy.h"
#include "support/InnServer.h"
#include "support/RecordingStatus.h"

namespace {

using qm::bench::Clock;
using qm::bench::LoadAverage;
using qm::bench::Random;
using qm::bench::SecondsSince;
using qm::bench::YesPrompt;

constexpr const char* kGroup = "alt.test.compress";
constexpr const char* kHost = "127.0.0.1";
constexpr std::chrono::milliseconds kOneWayDelay{10};
constexpr std::uint64_t kLineBytesPerSecond = 20'000'000 / 8;  // 20 Mbit/s
constexpr double kShareTarget = 0.4;
constexpr long kBatch = 1000;

struct Options {
    long articles = 50000;
};

// A short discussion article, as text groups carry them: the overview line is mostly the same
// header words over and over, with names, dates and ids that differ.
std::string TextArticle(Random& random, long index) {
    static const char* const kTopics[] = {"lens choice for birds",    "night sky exposure",
                                          "scanner colour profiles",  "tripod heads",
                                          "printing large panoramas", "old film cameras"};
    const std::string topic = kTopics[random.Next() % std::size(kTopics)];
    const long poster = static_cast<long>(random.Next() % 400);
    std::string body = "On the question of " + topic + ", poster " + std::to_string(poster) +
                       " wrote:\n> what do you use?\n\nMostly what worked last time.\n";
    return "From: Poster " + std::to_string(poster) + " <poster" + std::to_string(poster) +
           "@example.org>\nNewsgroups: " + kGroup + "\nSubject: " + (index % 3 == 0 ? "" : "Re: ") +
           topic + "\nMessage-ID: <" + std::to_string(index) + "." +
           std::to_string(random.Next() % 1000000007) + "@compress.quarrymoth.invalid>\n\n" + body;
}

bool PostArticles(qm::test::InnServer& server, long count) {
    Random random(0xc0ffee + static_cast<std::uint64_t>(::getpid()));
    for (long first = 0; first < count; first += kBatch) {
        std::vector<std::string> batch;
        for (long i = first; i < std::min(count, first + kBatch); ++i)
            batch.push_back(TextArticle(random, i));
        if (!server.PostAll(batch)) return false;
    }
    return server.WaitForArticles(kGroup, count, std::chrono::seconds(300));
}

struct Scan {
    double seconds = -1;
    std::uint64_t toServer = 0, toClient = 0;
    long scanned = 0;
    bool fellBack = false;
    std::string finalStatus;
    std::uint64_t Bytes() const { return toServer + toClient; }
};

Scan RunScan(qm::test::DelayProxy& proxy, bool compress, std::string& error) {
    qm::test::RecordingStatus status;
    YesPrompt prompt;
    const std::vector<qm::ProfileStore::Change> extra{
        qm::kUseCompression.Change(kHost, compress ? 1 : 0), qm::kConnections.Change(kHost, 1),
        qm::kSubjectIncl.Change("no-such-subject-anywhere"), qm::kSubjectIncl2.Change("")};
    const qm::CLineSocket::Timeouts timeouts{.idle = std::chrono::seconds(10)};
    proxy.ResetCounts();
    Scan scan;
    scan.seconds =
        qm::bench::HarvestFresh(proxy.port(), kGroup, extra, status, prompt, error, {}, timeouts);
    scan.toServer = proxy.BytesToServer();
    scan.toClient = proxy.BytesToClient();
    const std::string scanned = status.Last("scanned");
    scan.scanned = scanned.empty() ? 0 : std::atol(scanned.c_str());
    scan.fellBack = status.Saw("status", std::string("  Connection to ") + kHost +
                                             " stalled -- reconnecting without compression");
    scan.finalStatus = status.Last("status");
    return scan;
}

void PrintScan(const char* what, const Scan& s) {
    std::printf("  %-22s %7ld headers %11llu bytes (%llu up, %llu down) %7.2f s%s  [%s]\n", what,
                s.scanned, static_cast<unsigned long long>(s.Bytes()),
                static_cast<unsigned long long>(s.toServer),
                static_cast<unsigned long long>(s.toClient), s.seconds,
                s.fellBack ? "  (stalled, fell back to plain)" : "", s.finalStatus.c_str());
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--articles") == 0 && i + 1 < argc) {
            options.articles = std::atol(argv[++i]);
        } else {
            return false;
        }
    }
    return options.articles > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: compress_bench [--articles N]\n");
        return 2;
    }
    if (!qm::test::InnServer::Available()) {
        std::fprintf(stderr, "compress_bench: INN is not available (install it, run as root)\n");
        return 1;
    }
    qm::test::InnServer server;
    if (!server.Start() || !server.CreateGroup(kGroup)) {
        std::fprintf(stderr, "compress_bench: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("compress_bench: %ld text articles in %s (load %s)\n", options.articles, kGroup,
                LoadAverage().c_str());
    const auto posting = Clock::now();
    if (!PostArticles(server, options.articles)) {
        std::fprintf(stderr, "compress_bench: posting failed: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("  posted in %.1f s\n", SecondsSince(posting));

    qm::test::DelayProxy proxy(server.port(), kOneWayDelay, kLineBytesPerSecond);
    if (!proxy.Start()) {
        std::fprintf(stderr, "compress_bench: %s\n", proxy.error().c_str());
        return 1;
    }
    std::printf("header scan through a relay of %lld ms round trip, %.0f Mbit/s each way:\n",
                static_cast<long long>(2 * kOneWayDelay.count()), kLineBytesPerSecond * 8 / 1e6);
    std::string error;
    const Scan plain = RunScan(proxy, false, error);
    const Scan compressed = RunScan(proxy, true, error);
    if (plain.seconds < 0 || compressed.seconds < 0) {
        std::fprintf(stderr, "compress_bench: %s\n", error.c_str());
        return 1;
    }
    PrintScan("UseCompression=0", plain);
    PrintScan("UseCompression=1", compressed);
    const double share = plain.Bytes() > 0 ? double(compressed.Bytes()) / double(plain.Bytes()) : 1;
    const bool whole = plain.scanned >= options.articles && compressed.scanned >= options.articles;
    std::printf("  bytes compressed/plain %.3f (target <= %.1f): %s%s\n", share, kShareTarget,
                share <= kShareTarget && whole ? "PASS" : "MISS",
                whole ? "" : " (a scan did not cover every article)");
    std::printf("  time compressed/plain %.3f\n", compressed.seconds / plain.seconds);
    return 0;
}
