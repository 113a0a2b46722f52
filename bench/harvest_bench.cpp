// Harvest throughput against a real news server: posts uuencoded articles to a private INN
// instance, fetches them with a bare client (the ceiling), with the engine's line socket alone,
// and with a full engine run (read marks, history saves, log and description lines, files), then
// measures the harvest's peak memory and times each kind of file work on its own.
//
//   harvest_bench [--articles N] [--size KB]
//
// Needs INN (scripts/install-deps.sh) and root, like the INN integration tests.

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchArticles.h"
#include "BenchSupport.h"
#include "decode/SafeFileName.h"
#include "decode/UUDecoder.h"
#include "engine/DownloadLog.h"
#include "engine/EngineStatus.h"
#include "engine/HistoryList.h"
#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "net/Socket.h"
#include "settings/ProfileStore.h"
#include "support/InnServer.h"
#include "support/NewsModel.h"
#include "support/NullStatus.h"
#include "support/RawNntpClient.h"
#include "util/TextFiles.h"

namespace {

using qm::bench::Clock;
using qm::bench::LoadAverage;
using qm::bench::Random;
using qm::bench::RandomBytes;
using qm::bench::SecondsSince;
using qm::bench::WorkDir;
using qm::bench::YesPrompt;

constexpr const char* kGroup = "alt.binaries.pictures.bench";
constexpr const char* kHost = "127.0.0.1";
constexpr long kHistSaveFrequency = 5;  // the default, as a real harvest runs it
constexpr int kGroupsPerServer = 150;   // read marks in each server section of the profile
constexpr double kRawShareTarget = 0.25;
constexpr double kMemoryTargetMiB = 64;
// Client work between two articles in the raw client's second form: about what saving one
// article costs the engine.
constexpr std::chrono::microseconds kClientWork{300};

struct Options {
    long articles = 1000;
    long sizeKb = 50;
};

// ---------------------------------------------------------------------------- articles

std::string PictureName(long index) {
    return qm::bench::PictureName("bench", index);
}

bool PostArticles(qm::test::InnServer& server, const Options& options) {
    return qm::bench::PostPictures(server, kGroup, "bench", options.articles,
                                   static_cast<size_t>(options.sizeKb) * 1024,
                                   0x5eed0fbe9c4ull + static_cast<std::uint64_t>(::getpid()));
}

// ---------------------------------------------------------------------------- raw client

struct FetchResult {
    long articles = 0;
    std::int64_t bytes = 0;
    double seconds = 0;
    double firstByteSeconds = 0;  // summed waits from ARTICLE sent to the first reply bytes
    bool ok = false;
};

// Keeps the CPU busy for the given time without a system call, as decoding and saving would.
void Spin(std::chrono::microseconds time) {
    auto until = Clock::now() + time;
    while (Clock::now() < until) {
    }
}

// The ceiling: sends ARTICLE n and reads each reply to its final "." with large receives, the
// way the engine's socket does (no Nagle delay, quick ACKs re-armed after every receive).
class RawFetcher {
public:
    ~RawFetcher() {
        if (fd_ >= 0) ::close(fd_);
    }

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
        return ReadStatus() / 100 == 2;
    }

    // Fetches every article of group, spinning for work after each one; the time covers the
    // ARTICLE commands only.
    FetchResult FetchGroup(const std::string& group, std::chrono::microseconds work) {
        FetchResult result;
        long count = 0, first = 0, last = 0;
        if (!Send("GROUP " + group + "\r\n") || ReadStatus() != 211 ||
            std::sscanf(statusLine_.c_str(), "%*d %ld %ld %ld", &count, &first, &last) != 3) {
            return result;
        }
        auto start = Clock::now();
        for (long n = first; n <= last; ++n) {
            auto sent = Clock::now();
            if (!Send("ARTICLE " + std::to_string(n) + "\r\n")) return result;
            std::int64_t bytes = ReadArticleReply(sent, result.firstByteSeconds);
            if (bytes < 0) return result;
            result.bytes += bytes;
            ++result.articles;
            if (work.count() > 0) Spin(work);
        }
        result.seconds = SecondsSince(start);
        result.ok = true;
        return result;
    }

private:
    bool Send(const std::string& text) {
        return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }

    ssize_t Receive() {
        ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        return n;
    }

    // Reads one status line (only used outside the timed loop); returns its code.
    int ReadStatus() {
        statusLine_.clear();
        char c;
        while (::recv(fd_, &c, 1, 0) == 1) {
            statusLine_ += c;
            if (c == '\n') return std::atoi(statusLine_.c_str());
        }
        return 0;
    }

    // Bytes of one ARTICLE reply up to and including its ".\r\n"; -1 on failure. A dot-stuffed
    // body never holds "\r\n.\r\n", so it can only be the end of the reply.
    std::int64_t ReadArticleReply(Clock::time_point sent, double& firstByteSeconds) {
        static const char kEnd[] = "\r\n.\r\n";
        std::int64_t total = 0;
        char tail[5] = {0, 0, 0, 0, 0};
        for (;;) {
            ssize_t n = Receive();
            if (n <= 0) return -1;
            if (total == 0) firstByteSeconds += SecondsSince(sent);
            total += n;
            for (ssize_t i = std::max<ssize_t>(0, n - 5); i < n; ++i) {
                std::memmove(tail, tail + 1, 4);
                tail[4] = buffer_[static_cast<size_t>(i)];
            }
            if (total == n && std::strncmp(buffer_.data(), "220", 3) != 0) {
                return total;  // a one-line error reply: the caller counts it short
            }
            if (std::memcmp(tail, kEnd, 5) == 0) return total;
        }
    }

    int fd_ = -1;
    std::vector<char> buffer_ = std::vector<char>(qm::CLineSocket::kReceiveChunk);
    std::string statusLine_;
};

FetchResult FetchRaw(int port, std::chrono::microseconds work = {}) {
    RawFetcher fetcher;
    return fetcher.Connect(port) ? fetcher.FetchGroup(kGroup, work) : FetchResult{};
}

// The engine's own socket, reading every article line by line and keeping nothing.
FetchResult FetchWithLineSocket(int port, long first, long last) {
    FetchResult result;
    qm::CLineSocket socket;
    if (socket.ConnectToServer(kHost, port) != 1) return result;
    socket.SendLine("GROUP " + std::string(kGroup) + "\r\n");
    if (socket.ReadLine().rfind("211", 0) != 0) return result;
    std::string line;
    auto start = Clock::now();
    for (long n = first; n <= last; ++n) {
        socket.SendLine("ARTICLE " + std::to_string(n) + "\r\n");
        if (!socket.ReadLine(line) || line.rfind("220", 0) != 0) return result;
        result.bytes += static_cast<std::int64_t>(line.size());
        while (socket.ReadLine(line) && line != ".\r\n") {
            result.bytes += static_cast<std::int64_t>(line.size());
        }
        result.bytes += static_cast<std::int64_t>(line.size());
        ++result.articles;
    }
    result.seconds = SecondsSince(start);
    result.ok = socket.IsConnected();
    return result;
}

// ---------------------------------------------------------------------------- the harvest

// The phases of one article in the retrieval loop, told apart by the status calls the engine
// makes on its way (bar 1 moves, the sender is shown, the subject is shown once the server
// answered 220, bar 2 reaches the end of the article, the thumbnail, the empty "Saving To").
enum Phase {
    kHistoryAndParse,  // the history save of every fifth article, the overview line parse
    kRequest,          // ARTICLE sent, its status line received
    kReadLines,        // the article's lines received, stored and watched for a name
    kSaveFile,         // partial file decoded; journal, history entry, name given; log line
    kAfterSave,        // Descript.ion line, rate display
    kBetween,          // read mark and its journal record, pending list, to the next article
    kPhaseCount,
};

const char* const kPhaseNames[kPhaseCount] = {
    "history save (every 5th) + overview parse",
    "ARTICLE + status line",
    "article lines received and stored",
    "decode, journal, history, name, log line",
    "Descript.ion line + rates",
    "read mark + journal, to the next article",
};

// Shows nothing; times the phases of every article, counts the saved pictures and keeps the
// final status.
class PhaseStatus : public qm::test::NullStatus {
public:
    void SetStatusText(const std::string& text) override { lastStatus = text; }
    void SetSubjectText(const std::string& text) override {
        if (!text.empty()) Enter(kReadLines);
    }
    void SetSavingToText(const std::string& text) override {
        if (text.empty() && phase_ == kAfterSave) Enter(kBetween);
    }
    void SetFromText(const std::string&) override { Enter(kRequest); }
    void SetProgress(qm::ProgressBar bar, long, long, bool reset) override {
        if (reset) return;
        if (bar == qm::ProgressBar::Article) Enter(kHistoryAndParse);
        if (bar == qm::ProgressBar::LinesDecoded) lastLineProgress_ = Clock::now();
    }
    void LoadThumbnail(const std::string&) override {
        ++saved;
        if (phase_ != kReadLines) return;
        // The last bar-2 move before the thumbnail is the one made when the article was read.
        seconds[kReadLines] += Seconds(last_, lastLineProgress_);
        last_ = lastLineProgress_;
        phase_ = kSaveFile;
        Enter(kAfterSave);
    }
    void EnablePending(bool enable) override {
        if (enable) retrievalStart = Clock::now();
        if (enable || retrievalStart == Clock::time_point{}) return;
        Enter(kPhaseCount);
        retrievalEnd = Clock::now();
    }

    std::string lastStatus;
    long saved = 0;
    Clock::time_point retrievalStart{}, retrievalEnd{};
    double seconds[kPhaseCount] = {};

private:
    static double Seconds(Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double>(to - from).count();
    }
    void Enter(int phase) {
        auto now = Clock::now();
        if (phase_ < kPhaseCount) seconds[phase_] += Seconds(last_, now);
        phase_ = phase;
        last_ = now;
    }

    int phase_ = kPhaseCount;  // none
    Clock::time_point last_{};
    Clock::time_point lastLineProgress_{};
};

// A profile as a long-time user has it, asking before Stop, Catch-up and Delete.
std::string RealisticProfile(int port, const std::string& downloadDir, const std::string& logFile) {
    return qm::bench::RealisticProfile(kHost, port, downloadDir, logFile, true, kHistSaveFrequency,
                                       kGroupsPerServer);
}

// Where one harvest keeps its files: the profile, the data directory (history, group list,
// download log) and the pictures.
struct Placement {
    std::string label;
    std::string profileDir, dataDir, pictureDir;
};

struct HarvestResult {
    double seconds = 0;           // the whole run
    double retrievalSeconds = 0;  // the retrieval loop alone
    double phases[kPhaseCount] = {};
    long saved = 0;
    std::string status;
    long maxRssKiB = 0;
    bool ok = false;
};

// Runs in a fresh process (so that its peak memory is the harvest's own): one engine run over
// the bench group, driven like the command-line runner, its figures written to resultFile.
int HarvestChild(int port, const std::string& resultFile, const Placement& at) {
    const std::string pictures = at.pictureDir + "/";
    const std::string profilePath = at.profileDir + "/quarrymoth.ini";
    if (!qm::ReplaceFileAtomically(profilePath,
                                   RealisticProfile(port, pictures, at.dataDir + "/DownloadLog")) ||
        !qm::ReplaceFileAtomically(at.dataDir + "/Groups." + kHost, std::string(kGroup) + "\n") ||
        ::chdir(at.dataDir.c_str()) != 0) {
        return 1;
    }
    qm::ProfileStore profile;
    profile.Load(profilePath);
    PhaseStatus status;
    YesPrompt prompt;
    qm::SharedState shared;
    auto start = Clock::now();
    {
        qm::CProcessGroups engine(profile, status, prompt, shared);
        engine.RunHere();
    }
    std::ofstream out(resultFile);
    out << SecondsSince(start) << " "
        << std::chrono::duration<double>(status.retrievalEnd - status.retrievalStart).count();
    for (double s : status.seconds) out << " " << s;
    out << " " << status.saved << "\n" << status.lastStatus << "\n";
    return out ? 0 : 1;
}

// Starts this program again with args and waits for it; returns its exit status and peak RSS.
int RunSelf(std::vector<std::string> args, long& maxRssKiB) {
    std::string self = "/proc/self/exe";
    std::vector<char*> argv{self.data()};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        ::execv(self.c_str(), argv.data());
        ::_exit(127);
    }
    int wstatus = 0;
    rusage usage{};
    if (::wait4(pid, &wstatus, 0, &usage) != pid) return -1;
    maxRssKiB = usage.ru_maxrss;
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

HarvestResult RunHarvest(int port, const Placement& at, const std::string& resultFile) {
    HarvestResult r;
    if (RunSelf({"--harvest-child", std::to_string(port), resultFile, at.profileDir, at.dataDir,
                 at.pictureDir},
                r.maxRssKiB) != 0) {
        return r;
    }
    std::ifstream in(resultFile);
    in >> r.seconds >> r.retrievalSeconds;
    for (double& s : r.phases) in >> s;
    in >> r.saved;
    in.ignore();
    std::getline(in, r.status);
    r.ok = static_cast<bool>(in);
    return r;
}

// ---------------------------------------------------------------------------- file work alone

struct Timing {
    long count = 0;
    double seconds = 0;
};

// The read mark written before every ARTICLE: one profile rewrite each.
Timing TimeReadMarkWrites(const std::string& dir, long count, int port, size_t& profileBytes) {
    const std::string path = dir + "/profile.ini";
    const std::string text = RealisticProfile(port, dir + "/pictures/", dir + "/DownloadLog");
    profileBytes = text.size();
    qm::ReplaceFileAtomically(path, text);
    qm::ProfileStore profile(path);
    auto start = Clock::now();
    for (long i = 0; i < count; ++i) profile.WriteInt(kHost, kGroup, i + 1);
    return {count, SecondsSince(start)};
}

class NullStatus : public PhaseStatus {};

// Every kHistSaveFrequency-th article saves the history; the list grows by one per article,
// on top of existing names already in the list.
Timing TimeHistorySaves(const std::string& dir, long articles, long existing) {
    qm::HistoryList history(dir);
    if (existing > 0) {
        std::string names;
        for (long i = 0; i < existing; ++i) names += "old_picture_" + std::to_string(i) + ".jpg\n";
        qm::ReplaceFileAtomically(history.FilePath(), names);
        history.Load(existing);
    }
    NullStatus status;
    Timing timing;
    for (long i = 0; i < articles; ++i) {
        if ((i + 1) % kHistSaveFrequency == 0) {
            auto start = Clock::now();
            history.Save(status);
            timing.seconds += SecondsSince(start);
            ++timing.count;
        }
        history.Add(PictureName(i));
    }
    return timing;
}

struct FileWorkTimings {
    Timing create, decode, logLines;
};

// What happens to each article once it is read: the picture file created under a free name,
// the stored lines decoded into it, and the log and description lines appended.
FileWorkTimings TimeFileWork(const std::string& dir, long articles, size_t bytes) {
    Random random(42);
    const std::string article = qm::test::UuencodeBody(RandomBytes(random, bytes), "x.jpg");
    std::vector<std::string> lines;
    std::istringstream in(article);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\r\n");
    const std::string pictures = dir + "/pictures/";
    qm::MakeDirectories(pictures);
    FileWorkTimings t;
    for (long i = 0; i < articles; ++i) {
        auto start = Clock::now();
        std::string saved = qm::CreateUniqueFile(pictures, PictureName(i));
        auto created = Clock::now();
        qm::CUUDecoder decoder(pictures + saved);
        for (const std::string& line : lines) decoder.DecodeLine(line);
        decoder.Close();
        auto decoded = Clock::now();
        qm::AppendDownloadLog(dir + "/DownloadLog", pictures, saved, "Bench Poster <b@x.invalid>");
        qm::AppendDescription(pictures, saved, saved + " (1/1)", "Bench Poster <b@x.invalid>");
        auto logged = Clock::now();
        t.create.seconds += std::chrono::duration<double>(created - start).count();
        t.decode.seconds += std::chrono::duration<double>(decoded - created).count();
        t.logLines.seconds += std::chrono::duration<double>(logged - decoded).count();
    }
    t.create.count = t.decode.count = t.logLines.count = articles;
    return t;
}

// ---------------------------------------------------------------------------- report

void PrintFetch(const char* what, const FetchResult& r) {
    std::printf("  %-40s %5ld articles %7.3f s %8.1f articles/s %7.1f MB/s", what, r.articles,
                r.seconds, r.articles / r.seconds, r.bytes / 1e6 / r.seconds);
    if (r.firstByteSeconds > 0) {
        std::printf("  first byte after %.0f us", r.firstByteSeconds * 1e6 / r.articles);
    }
    std::printf("\n");
}

void PrintTiming(const char* what, const Timing& t) {
    std::printf("  %-46s %6ld  %9.1f  %9.1f\n", what, t.count, t.seconds * 1e3,
                t.count ? t.seconds * 1e6 / static_cast<double>(t.count) : 0.0);
}

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

// The first placement is the user's (everything on the disk); the others move parts of the work
// to memory, which shows what the disk costs each part.
std::vector<Placement> Placements(const std::string& disk, const std::string& memory) {
    std::vector<Placement> list{{"all on disk", disk + "/1", disk + "/1/data", disk + "/1/pics"}};
    if (!memory.empty()) {
        list.push_back({"profile in tmpfs", memory + "/2", disk + "/2/data", disk + "/2/pics"});
        list.push_back(
            {"profile+data in tmpfs", memory + "/3", memory + "/3/data", disk + "/3/pics"});
        list.push_back({"all in tmpfs", memory + "/4", memory + "/4/data", memory + "/4/pics"});
    }
    for (const Placement& p : list) {
        qm::MakeDirectories(p.profileDir);
        qm::MakeDirectories(p.dataDir);
        qm::MakeDirectories(p.pictureDir);
    }
    return list;
}

void PrintPhases(const std::vector<Placement>& placements, const std::vector<HarvestResult>& runs,
                 long articles) {
    std::printf(
        "\nWhere the retrieval loop's time goes, in the harvest itself (us per article):\n");
    std::printf("  %-42s", "phase");
    for (const Placement& p : placements) std::printf(" %22s", p.label.c_str());
    std::printf("\n");
    for (int phase = 0; phase <= kPhaseCount; ++phase) {
        std::printf("  %-42s", phase < kPhaseCount ? kPhaseNames[phase] : "retrieval loop");
        for (const HarvestResult& r : runs) {
            double s = phase < kPhaseCount ? r.phases[phase] : r.retrievalSeconds;
            std::printf(" %15.1f %5.1f%%", s * 1e6 / articles, 100 * s / r.retrievalSeconds);
        }
        std::printf("\n");
    }
}

int RunBench(const Options& options) {
    using qm::test::InnServer;
    if (!InnServer::Available()) {
        std::fprintf(stderr, "harvest_bench: needs INN (scripts/install-deps.sh) and root\n");
        return 1;
    }
    std::printf("harvest_bench: %ld uuencoded articles of %ld KB random data (load average %s)\n",
                options.articles, options.sizeKb, LoadAverage().c_str());
    InnServer server;
    if (!server.Start() || !server.CreateGroup(kGroup)) {
        std::fprintf(stderr, "harvest_bench: %s\n", server.error().c_str());
        return 1;
    }
    auto postStart = Clock::now();
    if (!PostArticles(server, options)) {
        std::fprintf(stderr, "harvest_bench: posting failed: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("posted in %.1f s to INN on port %d\n\n", SecondsSince(postStart), server.port());

    std::printf("Fetching ARTICLE 1..%ld over one connection:\n", options.articles);
    FetchResult raw1 = FetchRaw(server.port());
    FetchResult raw2 = FetchRaw(server.port());
    FetchResult lines = FetchWithLineSocket(server.port(), 1, options.articles);
    FetchResult busy = FetchRaw(server.port(), kClientWork);
    if (!raw1.ok || !raw2.ok || !lines.ok || !busy.ok || raw1.articles != options.articles) {
        std::fprintf(stderr, "harvest_bench: fetching failed\n");
        return 1;
    }
    const FetchResult& raw = raw1.seconds < raw2.seconds ? raw1 : raw2;
    PrintFetch("raw client, run 1", raw1);
    PrintFetch("raw client, run 2", raw2);
    PrintFetch("engine line socket, lines only", lines);
    PrintFetch("raw client, 300 us busy after each", busy);

    const WorkDir diskDir("/tmp/qm-harvest-bench-");
    const WorkDir memoryDir("/dev/shm/qm-harvest-bench-");
    const std::string& disk = diskDir.path();
    const std::string& memory = memoryDir.path();
    if (disk.empty()) {
        std::fprintf(stderr, "harvest_bench: cannot make a work directory under /tmp\n");
        return 1;
    }
    std::vector<Placement> placements = Placements(disk, memory);
    std::vector<HarvestResult> runs;
    std::printf("\nFull harvests (retrieval loop; ratio to the faster raw run; peak RSS):\n");
    for (const Placement& at : placements) {
        HarvestResult r = RunHarvest(server.port(), at, disk + "/result.txt");
        if (!r.ok || r.saved != options.articles || r.status != "Operation complete") {
            std::fprintf(stderr, "harvest_bench: harvest (%s) saved %ld of %ld, status \"%s\"\n",
                         at.label.c_str(), r.saved, options.articles, r.status.c_str());
            return 1;
        }
        FetchResult loop{.articles = r.saved, .bytes = raw.bytes, .seconds = r.retrievalSeconds};
        std::string label = "harvest, " + at.label;
        PrintFetch(label.c_str(), loop);
        std::printf("  %-40s whole run %.3f s, ratio %.3f, peak RSS %.1f MiB\n", "", r.seconds,
                    raw.seconds / r.retrievalSeconds, r.maxRssKiB / 1024.0);
        runs.push_back(r);
    }
    long idleRssKiB = 0;
    RunSelf({"--idle-child"}, idleRssKiB);
    const HarvestResult& user = runs.front();
    double share = raw.seconds / user.retrievalSeconds;
    double rssMiB = user.maxRssKiB / 1024.0;
    std::printf(
        "\n  harvest rate / raw client rate (all on disk): %.3f, target at least %.2f: %s\n", share,
        kRawShareTarget, share >= kRawShareTarget ? "met" : "NOT MET");
    std::printf(
        "  harvest peak memory: %.1f MiB, target under %.0f MiB: %s"
        " (an idle bench process: %.1f MiB)\n",
        rssMiB, kMemoryTargetMiB, rssMiB < kMemoryTargetMiB ? "met" : "NOT MET",
        idleRssKiB / 1024.0);
    PrintPhases(placements, runs, options.articles);

    // Each kind of file work alone, on the disk, with the data volume of the harvest.
    const std::string parts = disk + "/parts";
    qm::MakeDirectories(parts + "/big");
    size_t profileBytes = 0;
    Timing marks = TimeReadMarkWrites(parts, options.articles, server.port(), profileBytes);
    Timing history = TimeHistorySaves(parts, options.articles, 0);
    Timing bigHistory = TimeHistorySaves(parts + "/big", options.articles, 20000);
    FileWorkTimings files =
        TimeFileWork(parts, options.articles, static_cast<size_t>(options.sizeKb) * 1024);
    std::printf("\nEach operation alone, on the disk:\n");
    std::printf("  %-46s %6s  %9s  %9s\n", "operation", "count", "total ms", "per op us");
    PrintTiming("line socket fetch (ARTICLE + ReadLine)", {lines.articles, lines.seconds});
    char label[80];
    std::snprintf(label, sizeof label, "read-mark write (profile of %zu bytes)", profileBytes);
    PrintTiming(label, marks);
    PrintTiming("history save (list growing to N names)", history);
    PrintTiming("history save (20,000 names already)", bigHistory);
    PrintTiming("file create (free name, O_EXCL)", files.create);
    PrintTiming("uudecode + write + close", files.decode);
    PrintTiming("download log + Descript.ion lines", files.logLines);

    std::printf("\nload average at the end: %s\n", LoadAverage().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::strcmp(argv[1], "--harvest-child") == 0) {
        return HarvestChild(std::atoi(argv[2]), argv[3], {"", argv[4], argv[5], argv[6]});
    }
    if (argc == 2 && std::strcmp(argv[1], "--idle-child") == 0) return 0;
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: harvest_bench [--articles N] [--size KB]\n");
        return 2;
    }
    return RunBench(options);
}
