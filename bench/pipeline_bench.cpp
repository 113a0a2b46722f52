// Pipelined retrieval against a real news server: posts uuencoded articles to a private INN
// instance, then
//   - harvests them with the full engine through a relay that delays every chunk by 10 ms each
//     way (a server 20 ms away), at pipeline depths 1, 4, 16 and 64: with one command in flight
//     the round trip bounds the rate, with many it should not;
//   - on loopback with the files on tmpfs, compares the engine's harvest at depths 4 and 16 with
//     a bare client that keeps 16 ARTICLE commands in flight and only counts the bytes.
//
//   pipeline_bench [--articles N] [--size KB]
//
// Needs INN (scripts/install-deps.sh) and root, like the INN integration tests. Targets are
// reported as PASS or MISS; the exit status says only whether the benchmark ran.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchArticles.h"
#include "BenchSupport.h"
#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "net/UserPrompt.h"
#include "settings/ProfileStore.h"
#include "support/DelayProxy.h"
#include "support/InnServer.h"
#include "support/NewsModel.h"
#include "support/NullStatus.h"
#include "util/TextFiles.h"

namespace {

using qm::bench::Clock;
using qm::bench::LoadAverage;
using qm::bench::SecondsSince;
using qm::bench::WorkDir;
using qm::bench::YesPrompt;

constexpr const char* kGroup = "alt.binaries.pictures.pipeline";
constexpr const char* kHost = "127.0.0.1";
constexpr const char* kMainSection = "Quarrymoth";
constexpr long kHistSaveFrequency = 5;
constexpr int kGroupsPerServer = 150;
constexpr std::chrono::milliseconds kOneWayDelay{10};
constexpr long kDelayedDepths[] = {1, 4, 16, 64};
constexpr long kLoopbackDepths[] = {4, 16};
constexpr std::size_t kRawWindow = 16;
constexpr int kRawRuns = 3;              // on loopback
constexpr double kDepthGainTarget = 10;  // depth 16 over depth 1 through the delay
constexpr double kRawShareTarget = 0.5;  // engine over the bare client on loopback

struct Options {
    long articles = 1000;
    long sizeKb = 10;
};

// ---------------------------------------------------------------------------- articles

bool PostArticles(qm::test::InnServer& server, const Options& options) {
    return qm::bench::PostPictures(server, kGroup, "pipe", options.articles,
                                   static_cast<size_t>(options.sizeKb) * 1024,
                                   0x9193e11e5ull + static_cast<std::uint64_t>(::getpid()));
}

// ---------------------------------------------------------------------------- results

struct Rate {
    long articles = 0;
    std::int64_t bytes = 0;
    double seconds = 0;
    bool ok = false;

    double ArticlesPerSecond() const { return seconds > 0 ? articles / seconds : 0; }
    double MegabytesPerSecond() const { return seconds > 0 ? bytes / 1e6 / seconds : 0; }
};

void PrintRate(const std::string& what, const Rate& r, const std::string& note = "") {
    std::printf("  %-34s %5ld articles %8.3f s %8.1f articles/s %7.2f MB/s%s\n", what.c_str(),
                r.articles, r.seconds, r.ArticlesPerSecond(), r.MegabytesPerSecond(), note.c_str());
}

void PrintTarget(const std::string& what, double ratio, double target) {
    std::printf("  %-44s %7.2f  target >= %-4g %s\n", what.c_str(), ratio, target,
                ratio >= target ? "PASS" : "MISS");
}

// ---------------------------------------------------------------------------- bare client

// The ceiling: its own socket, window ARTICLE commands ahead of the replies, and nothing done
// with a reply but finding its end.
class PipelinedFetcher {
public:
    explicit PipelinedFetcher(std::size_t window) : window_(window) {}
    ~PipelinedFetcher() {
        if (fd_ >= 0) ::close(fd_);
    }
    PipelinedFetcher(const PipelinedFetcher&) = delete;
    PipelinedFetcher& operator=(const PipelinedFetcher&) = delete;

    Rate FetchGroup(int port, const std::string& group) {
        Rate result;
        if (!Connect(port) || !Send("GROUP " + group + "\r\n")) return result;
        long count = 0, first = 0, last = 0;
        if (ReadStatusLine() != 211 ||
            std::sscanf(status_.c_str(), "%*d %ld %ld %ld", &count, &first, &last) != 3) {
            return result;
        }
        status_.clear();  // from here on it collects the code of the reply being read
        const auto start = Clock::now();
        long next = first;  // the next article to ask for
        long done = 0;      // replies read to their end
        const long total = last - first + 1;
        std::string commands;
        for (; next <= last && static_cast<std::size_t>(next - first) < window_; ++next) {
            commands += "ARTICLE " + std::to_string(next) + "\r\n";
        }
        if (!Send(commands)) return result;
        while (done < total) {
            ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
            if (n <= 0) return result;
            result.bytes += n;
            long finished = Scan(buffer_.data(), static_cast<std::size_t>(n), result.articles);
            done += finished;
            commands.clear();
            for (; finished > 0 && next <= last; --finished, ++next) {
                commands += "ARTICLE " + std::to_string(next) + "\r\n";
            }
            if (!commands.empty() && !Send(commands)) return result;
        }
        result.seconds = SecondsSince(start);
        result.ok = result.articles == total;
        return result;
    }

private:
    // Where the scanner stands in the reply being read. In the body, the states follow the
    // bytes of "\r\n.\r\n"; a dot-stuffed body never holds it, so it can only be the end.
    enum State { kStatus, kMidLine, kCr, kLineStart, kDot, kDotCr };

    bool Connect(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
        return ReadStatusLine() / 100 == 2;
    }

    bool Send(const std::string& text) {
        return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }

    // One status line outside the timed part, a byte at a time so nothing after it is taken.
    int ReadStatusLine() {
        status_.clear();
        char c;
        while (::recv(fd_, &c, 1, 0) == 1) {
            status_ += c;
            if (c == '\n') return std::atoi(status_.c_str());
        }
        return 0;
    }

    // Follows the replies through data; returns how many ended in it, and counts those that
    // were articles (220) in articles.
    long Scan(const char* data, std::size_t size, long& articles) {
        long ended = 0;
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            switch (state_) {
                case kStatus:
                    if (status_.size() < 3) status_ += c;
                    if (c != '\n') break;
                    if (status_ == "220") {
                        state_ = kLineStart;
                    } else {
                        ++ended;  // a one-line refusal: counted as a reply, not an article
                        status_.clear();
                    }
                    break;
                case kMidLine: {
                    const void* cr = std::memchr(data + i, '\r', size - i);
                    if (!cr) return ended;
                    i = static_cast<std::size_t>(static_cast<const char*>(cr) - data);
                    state_ = kCr;
                    break;
                }
                case kCr:
                    state_ = c == '\n' ? kLineStart : c == '\r' ? kCr : kMidLine;
                    break;
                case kLineStart:
                    state_ = c == '.' ? kDot : c == '\r' ? kCr : kMidLine;
                    break;
                case kDot:
                    state_ = c == '\r' ? kDotCr : kMidLine;
                    break;
                case kDotCr:
                    if (c == '\n') {
                        ++ended;
                        ++articles;
                        status_.clear();
                        state_ = kStatus;
                    } else {
                        state_ = c == '\r' ? kCr : kMidLine;
                    }
                    break;
            }
        }
        return ended;
    }

    std::size_t window_;
    int fd_ = -1;
    State state_ = kStatus;
    std::string status_;
    std::vector<char> buffer_ = std::vector<char>(std::size_t{64} * 1024);
};

Rate FetchRaw(int port, std::size_t window = kRawWindow) {
    PipelinedFetcher fetcher(window);
    return fetcher.FetchGroup(port, kGroup);
}

// ---------------------------------------------------------------------------- the harvest

// Shows nothing; keeps what the figures need: when the retrieval loop ran, the pictures saved,
// the bytes read and the final status.
class CountingStatus : public qm::test::NullStatus {
public:
    void SetStatusText(const std::string& text) override { lastStatus = text; }
    void SetBytesTransferred(std::int64_t total) override { bytes = total; }
    void LoadThumbnail(const std::string&) override { ++saved; }
    void EnablePending(bool enable) override {
        (enable ? retrievalStart : retrievalEnd) = Clock::now();
    }

    std::string lastStatus;
    long saved = 0;
    std::int64_t bytes = 0;
    Clock::time_point retrievalStart{}, retrievalEnd{};
};

struct HarvestResult {
    Rate retrieval;      // the retrieval loop alone
    double seconds = 0;  // the whole run: connect, group, overview scan, retrieval
    std::string status;
};

// One full engine run over the bench group from port, in a fresh directory under base: its own
// profile (read marks from scratch), history, log and pictures.
HarvestResult Harvest(int port, long depth, const std::string& base, long articles) {
    HarvestResult result;
    const std::string dir = base + "/depth" + std::to_string(depth);
    const std::string pictures = dir + "/pictures/";
    const std::string profilePath = dir + "/quarrymoth.ini";
    qm::MakeDirectories(pictures);
    const std::string text = qm::bench::RealisticProfile(
        kHost, port, pictures, dir + "/DownloadLog", false, kHistSaveFrequency, kGroupsPerServer);
    if (!qm::ReplaceFileAtomically(profilePath, text) ||
        !qm::ReplaceFileAtomically(dir + "/Groups." + kHost, std::string(kGroup) + "\n") ||
        ::chdir(dir.c_str()) != 0) {
        result.status = "cannot prepare " + dir;
        return result;
    }
    qm::ProfileStore profile;
    profile.Load(profilePath);
    profile.WriteInt(kMainSection, "PipelineDepth", depth);
    CountingStatus status;
    YesPrompt prompt;
    qm::SharedState shared;
    const auto start = Clock::now();
    {
        qm::CProcessGroups engine(profile, status, prompt, shared);
        engine.RunHere();
    }
    result.seconds = SecondsSince(start);
    if (::chdir("/") != 0) return result;
    result.status = status.lastStatus;
    result.retrieval.articles = status.saved;
    result.retrieval.bytes = status.bytes;
    result.retrieval.seconds =
        std::chrono::duration<double>(status.retrievalEnd - status.retrievalStart).count();
    result.retrieval.ok = status.saved == articles && status.lastStatus == "Operation complete";
    return result;
}

bool Report(long depth, const HarvestResult& r, long articles) {
    char note[64];
    std::snprintf(note, sizeof note, "  (whole run %.3f s)", r.seconds);
    PrintRate("engine, depth " + std::to_string(depth), r.retrieval, note);
    if (!r.retrieval.ok) {
        std::fprintf(stderr, "pipeline_bench: depth %ld saved %ld of %ld, status \"%s\"\n", depth,
                     r.retrieval.articles, articles, r.status.c_str());
    }
    return r.retrieval.ok;
}

// ---------------------------------------------------------------------------- the runs

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "--articles" || arg == "--size") && i + 1 < argc) {
            long value = std::strtol(argv[++i], nullptr, 10);
            if (value <= 0) return false;
            (arg == "--articles" ? options.articles : options.sizeKb) = value;
        } else {
            return false;
        }
    }
    return true;
}

// Through the relay: the engine at each depth, and the bare client for what the link allows.
bool RunDelayed(int innPort, const Options& options) {
    qm::test::DelayProxy proxy(innPort, kOneWayDelay);
    if (!proxy.Start()) {
        std::fprintf(stderr, "pipeline_bench: %s\n", proxy.error().c_str());
        return false;
    }
    const WorkDir work("/tmp/qm-pipeline-bench-");
    if (work.path().empty()) {
        std::fprintf(stderr, "pipeline_bench: cannot make a work directory under /tmp\n");
        return false;
    }
    std::printf(
        "\nThrough the relay, %lld ms each way (files on disk under /tmp; load average %s):\n",
        static_cast<long long>(kOneWayDelay.count()), LoadAverage().c_str());
    Rate single = FetchRaw(proxy.port(), 1);
    Rate raw = FetchRaw(proxy.port());
    if (!single.ok || !raw.ok) {
        std::fprintf(stderr, "pipeline_bench: the bare client failed through the relay\n");
        return false;
    }
    PrintRate("bare client, window 1", single);
    PrintRate("bare client, window " + std::to_string(kRawWindow), raw);
    double depth1 = 0, depth16 = 0;
    for (long depth : kDelayedDepths) {
        HarvestResult r = Harvest(proxy.port(), depth, work.path(), options.articles);
        if (!Report(depth, r, options.articles)) return false;
        if (depth == 1) depth1 = r.retrieval.ArticlesPerSecond();
        if (depth == 16) depth16 = r.retrieval.ArticlesPerSecond();
    }
    std::printf("  load average after: %s\n", LoadAverage().c_str());
    PrintTarget("depth 16 / depth 1 (articles/s)", depth16 / depth1, kDepthGainTarget);
    return true;
}

// On loopback, all files on tmpfs: the engine against the bare client (its best run).
bool RunLoopback(int innPort, const Options& options) {
    const WorkDir work("/dev/shm/qm-pipeline-bench-");
    if (work.path().empty()) {
        std::fprintf(stderr, "pipeline_bench: cannot make a work directory under /dev/shm\n");
        return false;
    }
    std::printf("\nOn loopback, no delay (files on tmpfs; load average %s):\n",
                LoadAverage().c_str());
    // The bare client's runs are short and the machine is shared: the best of a few is the
    // ceiling, which makes the engine's share the harder to reach.
    Rate raw;
    const std::string bare = "bare client, window " + std::to_string(kRawWindow);
    for (int run = 1; run <= kRawRuns; ++run) {
        Rate r = FetchRaw(innPort);
        if (!r.ok) {
            std::fprintf(stderr, "pipeline_bench: the bare client failed on loopback\n");
            return false;
        }
        PrintRate(bare + ", run " + std::to_string(run), r);
        if (run == 1 || r.seconds < raw.seconds) raw = r;
    }
    std::vector<double> shares;
    for (long depth : kLoopbackDepths) {
        HarvestResult r = Harvest(innPort, depth, work.path(), options.articles);
        if (!Report(depth, r, options.articles)) return false;
        shares.push_back(r.retrieval.ArticlesPerSecond() / raw.ArticlesPerSecond());
    }
    std::printf("  load average after: %s\n", LoadAverage().c_str());
    for (std::size_t i = 0; i < shares.size(); ++i) {
        PrintTarget("engine depth " + std::to_string(kLoopbackDepths[i]) + " / bare client",
                    shares[i], kRawShareTarget);
    }
    return true;
}

int RunBench(const Options& options) {
    using qm::test::InnServer;
    if (!InnServer::Available()) {
        std::fprintf(stderr, "pipeline_bench: needs INN (scripts/install-deps.sh) and root\n");
        return 1;
    }
    std::printf("pipeline_bench: %ld uuencoded articles of %ld KB random data (load average %s)\n",
                options.articles, options.sizeKb, LoadAverage().c_str());
    InnServer server;
    if (!server.Start() || !server.CreateGroup(kGroup)) {
        std::fprintf(stderr, "pipeline_bench: %s\n", server.error().c_str());
        return 1;
    }
    const auto postStart = Clock::now();
    if (!PostArticles(server, options)) {
        std::fprintf(stderr, "pipeline_bench: posting failed: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("posted in %.1f s to INN on port %d\n", SecondsSince(postStart), server.port());
    if (!RunDelayed(server.port(), options) || !RunLoopback(server.port(), options)) return 1;
    std::printf("\nload average at the end: %s\n", LoadAverage().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: pipeline_bench [--articles N] [--size KB]\n");
        return 2;
    }
    return RunBench(options);
}
