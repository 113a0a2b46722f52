// Harvest rate over TLS against plain, from a private INN instance on loopback: the same group
// of uuencoded articles is harvested by full engine runs plainly, over TLS from the first byte
// (the reader daemon's own port) and after STARTTLS, in alternating rounds; the best round of
// each counts. Target: TLS at least 0.7 of the plain rate.
//
//   tls_bench [--articles N] [--size KB] [--rounds R]
//
// Needs INN (scripts/install-deps.sh) and root, like the INN integration tests.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchArticles.h"
#include "BenchSupport.h"
#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "support/InnServer.h"
#include "support/NewsModel.h"
#include "support/NullStatus.h"
#include "util/TextFiles.h"

namespace {

using qm::bench::Clock;
using qm::bench::LoadAverage;
using qm::bench::SecondsSince;
using qm::bench::WorkDir;

constexpr const char* kGroup = "alt.binaries.pictures.tlsbench";
constexpr const char* kHost = "127.0.0.1";
constexpr double kTarget = 0.7;

struct Options {
    long articles = 1000;
    long sizeKb = 50;
    int rounds = 3;
};

class CountingStatus : public qm::test::NullStatus {
public:
    void SetStatusText(const std::string& text) override { last = text; }
    void SetArticlesSaved(long n) override { saved = n; }
    void SetBytesTransferred(std::int64_t n) override { bytes = n; }
    std::string last;
    long saved = 0;
    std::int64_t bytes = 0;
};

class NoPrompt : public qm::UserPrompt {
public:
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    bool AskPassword(std::string&) override { return false; }
};

bool PostArticles(qm::test::InnServer& server, const Options& options) {
    return qm::bench::PostPictures(server, kGroup, "tls", options.articles,
                                   static_cast<size_t>(options.sizeKb) * 1024, 0x7151beefull);
}

struct Run {
    double seconds = 0;
    long saved = 0;
    std::int64_t bytes = 0;
    std::string status;
};

// One whole engine run from a fresh profile (no read marks) into a fresh directory.
Run Harvest(int port, int useTls) {
    Run r;
    CountingStatus status;
    NoPrompt prompt;
    r.seconds = qm::bench::HarvestFresh(port, kGroup, {qm::kUseTLS.Change(kHost, useTls)}, status,
                                        prompt, r.status);
    r.saved = status.saved;
    r.bytes = status.bytes;
    if (r.status.empty()) r.status = status.last;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--articles")) options.articles = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--size")) options.sizeKb = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rounds")) options.rounds = std::atoi(argv[i + 1]);
    }
    qm::test::InnServer server;
    if (!server.Start() || !server.CreateGroup(kGroup)) {
        std::fprintf(stderr, "tls_bench: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("posting %ld articles of %ld KB ...\n", options.articles, options.sizeKb);
    if (!PostArticles(server, options)) {
        std::fprintf(stderr, "tls_bench: %s\n", server.error().c_str());
        return 1;
    }
    qm::test::InnServer::Certificate cert = server.MakeCertificate("IP:127.0.0.1", false);
    const int tlsPort = server.StartTlsReader(cert);
    if (tlsPort == 0 || !server.OfferStartTls(cert)) {
        std::fprintf(stderr, "tls_bench: %s\n", server.error().c_str());
        return 1;
    }
    ::setenv("SSL_CERT_FILE", server.TestCaFile().c_str(), 1);

    struct Mode {
        const char* name;
        int port, useTls;
        double best = 0;  // articles per second
        double mbps = 0;
    };
    std::vector<Mode> modes{{"plain", server.port(), 0},
                            {"TLS (own port)", tlsPort, 1},
                            {"STARTTLS", server.port(), 2}};
    std::printf("load %s\n", LoadAverage().c_str());
    for (int round = 1; round <= options.rounds; ++round) {
        for (Mode& m : modes) {
            Run r = Harvest(m.port, m.useTls);
            const double rate = r.seconds > 0 ? r.saved / r.seconds : 0;
            const double mbps = r.seconds > 0 ? r.bytes / r.seconds / 1e6 : 0;
            std::printf(
                "round %d  %-15s %5ld saved in %6.2f s  %7.1f articles/s  %6.1f MB/s  (%s)\n",
                round, m.name, r.saved, r.seconds, rate, mbps, r.status.c_str());
            if (r.saved != options.articles) {
                std::fprintf(stderr, "tls_bench: %s saved %ld of %ld\n", m.name, r.saved,
                             options.articles);
                return 1;
            }
            if (rate > m.best) {
                m.best = rate;
                m.mbps = mbps;
            }
        }
    }
    std::printf("\nbest of %d rounds (load %s):\n", options.rounds, LoadAverage().c_str());
    for (const Mode& m : modes) {
        std::printf("  %-15s %7.1f articles/s  %6.1f MB/s  %.2f of plain\n", m.name, m.best, m.mbps,
                    m.best / modes[0].best);
    }
    const double ratio = modes[1].best / modes[0].best;
    std::printf("TLS / plain = %.2f (target >= %.1f): %s\n", ratio, kTarget,
                ratio >= kTarget ? "met" : "NOT met");
    return ratio >= kTarget ? 0 : 2;
}
