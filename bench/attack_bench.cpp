// Memory of the engine under a hostile server: each attack runs one whole engine run in a child
// process against a scripted server in this one, and the child reports its peak resident memory
// (VmHWM) and what stays resident once the run is over (VmRSS).
//
//   attack_bench
//
// Attacks: an XOVER reply of millions of lines to a request for 3 articles, a NEWNEWS list of
// millions of ids for a group of 3 articles, and an article of 2-byte lines far past the size cap.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "settings/ProfileStore.h"
#include "support/NntpFixtures.h"
#include "support/NullStatus.h"
#include "support/RecordingStatus.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"
#include "util/TextFiles.h"

namespace {

using qm::test::Reply;
using qm::test::ScriptServer;

constexpr double kPeakTargetMiB = 512;
constexpr double kAfterTargetMiB = 64;

double StatusMiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::strlen(field))) / 1024;
    }
    return -1;
}

struct Result {
    double peakMiB = -1, afterMiB = -1, seconds = 0;
};

// One engine run against port in a child process, forked before the attack's reply is built so
// that the child's memory holds nothing of the server's.
class EngineChild {
public:
    EngineChild(int port, bool ageLimit) {
        if (::pipe(go_) != 0 || ::pipe(result_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) RunAndReport(port, ageLimit);
    }

    // Lets the child start its run and waits for its figures.
    Result Finish() {
        const auto start = std::chrono::steady_clock::now();
        char go = 1;
        Result r;
        if (::write(go_[1], &go, 1) != 1 || ::read(result_[0], &r, sizeof r) != sizeof r) r = {};
        int wstatus = 0;
        ::waitpid(pid_, &wstatus, 0);
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return r;
    }

private:
    [[noreturn]] void RunAndReport(int port, bool ageLimit) {
        char go = 0;
        if (::read(go_[0], &go, 1) != 1) _exit(1);
        qm::test::TempDir dir;
        dir.Enter();
        qm::MakeDirectory(dir / "dl");
        {
            qm::ProfileStore profile(dir / "p.ini");
            profile.WriteString("Quarrymoth", "NNTPHost", "127.0.0.1");
            profile.WriteString("Quarrymoth", "NNTPPort", std::to_string(port));
            profile.WriteString("Quarrymoth", "DownloadDirectory", dir / "dl/");
            profile.WriteString("Quarrymoth", "MinLines", "0");
            profile.WriteString("Quarrymoth", "UseMaxDays", ageLimit ? "1" : "0");
            qm::test::TempDir::WriteFile("Groups.127.0.0.1", "alt.attack\n");
            qm::test::NullStatus status;
            qm::test::ScriptedPrompt prompt;
            qm::SharedState shared;
            qm::CProcessGroups engine(profile, status, prompt, shared);
            engine.RunHere();
        }
        Result r;
        r.peakMiB = StatusMiB("VmHWM:");
        r.afterMiB = StatusMiB("VmRSS:");
        _exit(::write(result_[1], &r, sizeof r) == sizeof r ? 0 : 1);
    }

    int go_[2] = {-1, -1};
    int result_[2] = {-1, -1};
    pid_t pid_ = -1;
};

void Report(const char* name, const Result& r) {
    bool met = r.peakMiB >= 0 && r.peakMiB < kPeakTargetMiB && r.afterMiB < kAfterTargetMiB;
    std::printf("  %-44s peak %7.1f MiB   after the run %6.1f MiB   %5.1f s   %s\n", name,
                r.peakMiB, r.afterMiB, r.seconds, met ? "met" : "NOT MET");
}

void Serve(ScriptServer& server) {
    server.On("GROUP alt.attack", "211 3 1 3 alt.attack\r\n");
    server.On("LIST OVERVIEW.FMT", "215 fmt\r\nSubject:\r\n.\r\n");
}

}  // namespace

int main() {
    std::printf(
        "attack_bench: peak resident memory of one engine run per attack (targets: peak "
        "under %.0f MiB, after the run under %.0f MiB)\n",
        kPeakTargetMiB, kAfterTargetMiB);
    {
        ScriptServer server;
        Serve(server);
        EngineChild child(server.port(), false);
        std::string reply = "224 overview\r\n";
        for (long n = 0; reply.size() < (size_t{400} << 20); ++n) {
            reply += qm::test::OverviewLine(1000 + n % 1000000, "flood.jpg", "f", "d", 10, 1000);
            reply += "\r\n";
        }
        server.On("XOVER ", reply + ".\r\n");
        Report("XOVER: 400 MB of lines for 3 articles", child.Finish());
    }
    {
        ScriptServer server;
        Serve(server);
        EngineChild child(server.port(), true);
        std::string reply = "230 ids\r\n";
        for (long n = 0; reply.size() < (size_t{400} << 20); ++n) {
            reply += "<" + std::to_string(n) + "@flood.example>\r\n";
        }
        server.On("NEWNEWS ", reply + ".\r\n");
        server.On("HEAD ", "430 no\r\n");
        Report("NEWNEWS: 400 MB of ids for 3 articles", child.Finish());
    }
    {
        ScriptServer server;
        Serve(server);
        EngineChild child(server.port(), false);
        server.On("XOVER ",
                  qm::test::MultiLineReply(
                      "224 overview", {qm::test::OverviewLine(1, "big.jpg", "f", "d", 10, 1000)}));
        std::string article = "220 1 <1@x>\r\nSubject: big.jpg\r\n\r\nbegin 644 big.jpg\r\n";
        article.reserve(size_t{1200} << 20);
        while (article.size() < (size_t{1100} << 20)) article += "\r\n";
        server.On("ARTICLE ", article + ".\r\n");
        Report("ARTICLE: 1.1 GB of 2-byte lines", child.Finish());
    }
    return 0;
}
