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

#include "decode/SafeFileName.h"
#include "decode/UUDecoder.h"
#include "engine/DownloadLog.h"
#include "engine/EngineStatus.h"
#include "engine/HistoryList.h"
#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "net/Socket.h"
#include "settings/ProfileStore.h"
#include "settings/TextFiles.h"
#include "support/InnServer.h"
#include "support/RawNntpClient.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kGroup = "alt.binaries.pictures.bench";
constexpr const char* kHost = "127.0.0.1";
constexpr int kPostBatch = 100;         // articles held in memory at once while posting
constexpr long kHistSaveFrequency = 5;  // the default, as a real harvest runs it
constexpr int kGroupsPerServer = 150;   // read marks in each server section of the profile
constexpr double kRawShareTarget = 0.25;
constexpr double kMemoryTargetMiB = 64;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Options {
    long articles = 1000;
    long sizeKb = 50;
};

// ---------------------------------------------------------------------------- articles

class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed ? seed : 1) {}
    std::uint64_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }

  private:
    std::uint64_t state_;
};

std::string PictureName(long index) {
    char name[32];
    std::snprintf(name, sizeof name, "bench_%05ld.jpg", index + 1);
    return name;
}

// Classic uuencode: 45 bytes a line, "`" for zero, then the zero-count line and "end".
std::string Uuencode(const std::string& data, const std::string& name) {
    auto enc = [](unsigned v) { return static_cast<char>(v ? v + 32 : '`'); };
    std::string out = "begin 644 " + name + "\n";
    out.reserve(data.size() * 4 / 3 + data.size() / 45 * 2 + 64);
    for (size_t at = 0; at < data.size(); at += 45) {
        size_t n = std::min<size_t>(45, data.size() - at);
        out += enc(static_cast<unsigned>(n));
        for (size_t i = 0; i < n; i += 3) {
            unsigned char b[3] = {0, 0, 0};
            for (size_t k = 0; k < 3 && i + k < n; ++k)
                b[k] = static_cast<unsigned char>(data[at + i + k]);
            out += enc(b[0] >> 2);
            out += enc(((b[0] & 3) << 4) | (b[1] >> 4));
            out += enc(((b[1] & 15) << 2) | (b[2] >> 6));
            out += enc(b[2] & 63);
        }
        out += '\n';
    }
    return out + "`\nend\n";
}

std::string RandomBytes(Random& random, size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i += 8) {
        std::uint64_t v = random.Next();
        for (size_t k = 0; k < 8 && i + k < size; ++k)
            data[i + k] = static_cast<char>(v >> (8 * k));
    }
    return data;
}

std::string MakeArticle(Random& random, long index, size_t bytes) {
    const std::string name = PictureName(index);
    return "From: Bench Poster <bench@quarrymoth.invalid>\nNewsgroups: " + std::string(kGroup) +
           "\nSubject: " + name + " (1/1)\nMessage-ID: <" + name + "." +
           std::to_string(random.Next() % 1000000007) + "@bench.quarrymoth.invalid>\n\n" +
           Uuencode(RandomBytes(random, bytes), name);
}

bool PostArticles(qm::test::InnServer& server, const Options& options) {
    Random random(0x5eed0fbe9c4ull + static_cast<std::uint64_t>(::getpid()));
    for (long first = 0; first < options.articles; first += kPostBatch) {
        std::vector<std::string> batch;
        for (long i = first; i < std::min(options.articles, first + kPostBatch); ++i) {
            batch.push_back(MakeArticle(random, i, static_cast<size_t>(options.sizeKb) * 1024));
        }
        if (!server.PostAll(batch)) return false;
    }
    return server.WaitForArticles(kGroup, options.articles, std::chrono::seconds(120));
}

// ---------------------------------------------------------------------------- raw client

struct FetchResult {
    long articles = 0;
    std::int64_t bytes = 0;
    double seconds = 0;
    bool ok = false;
};

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

    // Fetches every article of group; the time covers the ARTICLE commands only.
    FetchResult FetchGroup(const std::string& group) {
        FetchResult result;
        long count = 0, first = 0, last = 0;
        if (!Send("GROUP " + group + "\r\n") || ReadStatus() != 211 ||
            std::sscanf(statusLine_.c_str(), "%*d %ld %ld %ld", &count, &first, &last) != 3) {
            return result;
        }
        auto start = Clock::now();
        for (long n = first; n <= last; ++n) {
            if (!Send("ARTICLE " + std::to_string(n) + "\r\n")) return result;
            std::int64_t bytes = ReadArticleReply();
            if (bytes < 0) return result;
            result.bytes += bytes;
            ++result.articles;
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
    std::int64_t ReadArticleReply() {
        static const char kEnd[] = "\r\n.\r\n";
        std::int64_t total = 0;
        char tail[5] = {0, 0, 0, 0, 0};
        for (;;) {
            ssize_t n = Receive();
            if (n <= 0) return -1;
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

FetchResult FetchRaw(int port) {
    RawFetcher fetcher;
    return fetcher.Connect(port) ? fetcher.FetchGroup(kGroup) : FetchResult{};
}

// The engine's own socket, reading every article line by line and keeping nothing.
FetchResult FetchWithLineSocket(int port, long first, long last) {
    FetchResult result;
    qm::CLineSocket socket(true);
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

// Shows nothing; notes only when the retrieval loop starts and ends, the saved pictures and the
// final status.
class TimingStatus : public qm::EngineStatus {
  public:
    void SetStatusText(const std::string& text) override { lastStatus = text; }
    void SetSubjectText(const std::string&) override {}
    void SetSavingToText(const std::string&) override {}
    void SetFromText(const std::string&) override {}
    void SetBytesTransferred(std::int64_t) override {}
    void SetArticlesScanned(long) override {}
    void SetArticlesSaved(long) override {}
    void SetHistorySkipped(long) override {}
    void SetOtherSkipped(long) override {}
    void ShowRate(int, std::int64_t, std::int64_t) override {}
    void ShowRateSince(int, std::time_t, std::time_t, std::int64_t) override {}
    void SetProgress(int, long, long, bool) override {}
    void SetScanProgress(long, long) override {}
    void UpdateGroupTimeLeft() override {}
    void LoadThumbnail(const std::string&) override { ++saved; }
    void EnablePending(bool enable) override {
        if (enable) retrievalStart = Clock::now();
        if (!enable && retrievalStart != Clock::time_point{}) retrievalEnd = Clock::now();
    }
    void EngineFinished() override {}

    std::string lastStatus;
    long saved = 0;
    Clock::time_point retrievalStart{}, retrievalEnd{};
};

class YesPrompt : public qm::EnginePrompt {
  public:
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    bool AskPassword(std::string&) override { return false; }
};

// A profile as a long-time user has it: every main key, and the read marks of two servers with
// kGroupsPerServer groups each. The harvest's own keys come last.
std::string RealisticProfile(int port, const std::string& downloadDir, const std::string& logFile) {
    std::ostringstream out;
    out << "[Quarrymoth]\nNNTPHost=" << kHost << "\nNNTPHost2=news.example.net\nNNTPPort=" << port
        << "\nDownloadDirectory=" << downloadDir
        << "\nMinLines=1\nMaxLines=1000000\nReconnect=0\nShowThumbnail=1\nConfirmStop=1\n"
           "ConfirmCatchup=1\nConfirmDelete=1\nMaxHist=20000\nHistSaveFrequency="
        << kHistSaveFrequency
        << "\nSubjectIncl=jpg\nSubjectIncl2=1/1:01/01\nUseMaxCount=0\nMaxCount=\nUseMaxDays=0\n"
           "MaxDays=\nUseMaxHeaderCount=0\nMaxHeaderCount=\nUseFirstHeaderCount=0\n"
           "FirstHeaderCount=\nSubjectExcl=\nLimitCrossposts=0\nCrosspostLimit=\n"
           "EnableLogging=1\nLogFile="
        << logFile
        << "\nACDSeeDescription=1\nPriority=3\nGroupIncl=pictures\nLoopOnList=0\n"
           "CacheSubjects=0\nUseArticles=1\n\n[DownloadDirs]\nEnable=0\nUseGroupName=0\n";
    for (const char* server : {"news.example.net", kHost}) {
        out << "\n[" << server << "]\nUserAuthentication=0\n";
        for (int g = 0; g < kGroupsPerServer; ++g) {
            out << "alt.binaries.pictures.topic" << g << "=" << 100000 + g * 7919 << "\n";
        }
    }
    return out.str();
}

struct HarvestResult {
    double seconds = 0;           // the whole run
    double retrievalSeconds = 0;  // the retrieval loop alone
    long saved = 0;
    std::string status;
    long maxRssKiB = 0;
    bool ok = false;
};

// Runs in a fresh process (so that its peak memory is the harvest's own): one engine run over
// the bench group, driven like the command-line runner, with the figures written to resultFile.
int HarvestChild(const std::string& work, int port, const std::string& resultFile) {
    const std::string data = work + "/data";
    const std::string pictures = work + "/pictures/";
    qm::MakeDirectories(data);
    qm::MakeDirectories(pictures);
    if (!qm::ReplaceFileAtomically(work + "/quarrymoth.ini",
                                   RealisticProfile(port, pictures, data + "/DownloadLog")) ||
        !qm::ReplaceFileAtomically(data + "/Groups." + kHost, std::string(kGroup) + "\n") ||
        ::chdir(data.c_str()) != 0) {
        return 1;
    }
    qm::ProfileStore profile;
    profile.Load(work + "/quarrymoth.ini");
    TimingStatus status;
    YesPrompt prompt;
    qm::SharedState shared;
    auto start = Clock::now();
    {
        qm::CProcessGroups engine(profile, status, prompt, shared);
        engine.RunHere();
    }
    double seconds = SecondsSince(start);
    double retrieval =
        std::chrono::duration<double>(status.retrievalEnd - status.retrievalStart).count();
    std::ofstream out(resultFile);
    out << seconds << "\n"
        << retrieval << "\n"
        << status.saved << "\n"
        << status.lastStatus << "\n";
    return out ? 0 : 1;
}

// Starts this program again with args and waits for it; returns its exit status and peak RSS.
int RunSelf(const std::vector<std::string>& args, long& maxRssKiB) {
    std::vector<char*> argv;
    std::string self = "/proc/self/exe";
    argv.push_back(self.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
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

HarvestResult RunHarvest(const std::string& work, int port) {
    HarvestResult result;
    const std::string resultFile = work + "/result.txt";
    if (RunSelf({"--harvest-child", work, std::to_string(port), resultFile}, result.maxRssKiB) !=
        0) {
        return result;
    }
    std::ifstream in(resultFile);
    in >> result.seconds >> result.retrievalSeconds >> result.saved;
    in.ignore();
    std::getline(in, result.status);
    result.ok = static_cast<bool>(in);
    return result;
}

// ---------------------------------------------------------------------------- file work alone

struct Timing {
    long count = 0;
    double seconds = 0;
};

std::string MakeWorkDir(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

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

class NullStatus : public TimingStatus {};

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
    const std::string article = Uuencode(RandomBytes(random, bytes), "x.jpg");
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
    std::printf("  %-34s %6ld articles  %8.3f s  %8.1f articles/s  %8.1f MB/s\n", what, r.articles,
                r.seconds, r.articles / r.seconds, r.bytes / 1e6 / r.seconds);
}

void PrintRow(const char* what, const Timing& t, double harvestSeconds) {
    std::printf("  %-44s %6ld  %9.1f  %9.1f  %6.1f%%\n", what, t.count, t.seconds * 1e3,
                t.count ? t.seconds * 1e6 / static_cast<double>(t.count) : 0.0,
                100.0 * t.seconds / harvestSeconds);
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

int RunBench(const Options& options) {
    using qm::test::InnServer;
    if (!InnServer::Available()) {
        std::fprintf(stderr, "harvest_bench: needs INN (scripts/install-deps.sh) and root\n");
        return 1;
    }
    std::printf("harvest_bench: %ld uuencoded articles of %ld KB random data\n", options.articles,
                options.sizeKb);
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

    std::printf("Fetching (ARTICLE 1..%ld, one connection):\n", options.articles);
    FetchResult raw1 = FetchRaw(server.port());
    FetchResult raw2 = FetchRaw(server.port());
    FetchResult lines = FetchWithLineSocket(server.port(), 1, options.articles);
    if (!raw1.ok || !raw2.ok || !lines.ok || raw1.articles != options.articles) {
        std::fprintf(stderr, "harvest_bench: fetching failed\n");
        return 1;
    }
    const FetchResult& raw = raw1.seconds < raw2.seconds ? raw1 : raw2;
    PrintFetch("raw client, run 1", raw1);
    PrintFetch("raw client, run 2", raw2);
    PrintFetch("engine line socket, lines only", lines);

    const std::string work = MakeWorkDir("qm-harvest-bench-");
    HarvestResult harvest = RunHarvest(work, server.port());
    long idleRssKiB = 0;
    RunSelf({"--idle-child"}, idleRssKiB);
    if (!harvest.ok || harvest.saved != options.articles ||
        harvest.status != "Operation complete") {
        std::fprintf(stderr, "harvest_bench: the harvest saved %ld of %ld (status \"%s\")\n",
                     harvest.saved, options.articles, harvest.status.c_str());
        return 1;
    }
    FetchResult full{harvest.saved, raw.bytes, harvest.retrievalSeconds, true};
    PrintFetch("full harvest, retrieval loop", full);
    FetchResult whole{harvest.saved, raw.bytes, harvest.seconds, true};
    PrintFetch("full harvest, whole run", whole);
    double share = raw.seconds / harvest.retrievalSeconds;
    std::printf("\n  harvest rate / raw client rate: %.2f (target at least %.2f): %s\n", share,
                kRawShareTarget, share >= kRawShareTarget ? "met" : "NOT MET");
    double rssMiB = harvest.maxRssKiB / 1024.0;
    std::printf(
        "  harvest peak memory (max RSS): %.1f MiB (target under %.0f MiB): %s"
        "  [an idle bench process: %.1f MiB]\n",
        rssMiB, kMemoryTargetMiB, rssMiB < kMemoryTargetMiB ? "met" : "NOT MET",
        idleRssKiB / 1024.0);

    // Each kind of work alone, with the data volume of the harvest.
    const std::string micro = MakeWorkDir("qm-harvest-parts-");
    size_t profileBytes = 0;
    Timing marks = TimeReadMarkWrites(micro, options.articles, server.port(), profileBytes);
    Timing history = TimeHistorySaves(micro, options.articles, 0);
    qm::MakeDirectories(micro + "/big");
    Timing bigHistory = TimeHistorySaves(micro + "/big", options.articles, 20000);
    FileWorkTimings files =
        TimeFileWork(micro, options.articles, static_cast<size_t>(options.sizeKb) * 1024);
    Timing fetch{lines.articles, lines.seconds};
    Timing accounted{0, fetch.seconds + marks.seconds + history.seconds + files.create.seconds +
                            files.decode.seconds + files.logLines.seconds};
    Timing rest{0, harvest.retrievalSeconds - accounted.seconds};

    std::printf("\nWhere the harvest's retrieval time goes (each part timed alone):\n");
    std::printf("  %-44s %6s  %9s  %9s  %7s\n", "part", "count", "total ms", "per op us", "share");
    PrintRow("fetch: line socket, ARTICLE + ReadLine", fetch, harvest.retrievalSeconds);
    char markLabel[64];
    std::snprintf(markLabel, sizeof markLabel, "read-mark writes (profile of %zu bytes)",
                  profileBytes);
    PrintRow(markLabel, marks, harvest.retrievalSeconds);
    PrintRow("history saves (list growing to N names)", history, harvest.retrievalSeconds);
    PrintRow("file create (free name, O_EXCL)", files.create, harvest.retrievalSeconds);
    PrintRow("uudecode + write + close", files.decode, harvest.retrievalSeconds);
    PrintRow("download log + Descript.ion lines", files.logLines, harvest.retrievalSeconds);
    PrintRow("sum of the parts", accounted, harvest.retrievalSeconds);
    PrintRow("rest (line storage, name watch, status)", rest, harvest.retrievalSeconds);
    std::printf("  %-44s %6ld  %9.1f  %9.1f\n", "(history saves with 20,000 names already)",
                bigHistory.count, bigHistory.seconds * 1e3,
                bigHistory.count ? bigHistory.seconds * 1e6 / bigHistory.count : 0.0);

    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    std::filesystem::remove_all(micro, ignored);
    return share >= kRawShareTarget && rssMiB < kMemoryTargetMiB ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--harvest-child") == 0) {
        return HarvestChild(argv[2], std::atoi(argv[3]), argv[4]);
    }
    if (argc == 2 && std::strcmp(argv[1], "--idle-child") == 0) return 0;
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: harvest_bench [--articles N] [--size KB]\n");
        return 2;
    }
    return RunBench(options);
}
