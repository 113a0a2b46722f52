// Crash safety of a harvest from INN: the command-line runner is killed (SIGKILL) or interrupted
// (Ctrl-C) at many instants of a harvest and then run again normally. Afterwards every posted
// picture must be in the download directory exactly once with exactly its bytes, and nothing
// else may be there: no partial or temporary file, no second copy. The MIME pictures (two in
// three) are named only in a header, never in the subject, so the history cannot hold them back
// on the rerun; only the read marks can. One picture in eight is posted in three yEnc parts, out of
// order, and must come out whole and once from the part store.

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/InnServerSuite.h"
#include "support/NewsModel.h"
#include "support/RealEncoders.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kPerGroup = 400;
const std::vector<std::string> kGroups{"alt.binaries.qm.crash.one", "alt.binaries.qm.crash.two"};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kKillTrials = 12;  // a sanitized harvest takes several times as long
#else
constexpr int kKillTrials = 28;
#endif

// The three articles of a picture posted in parts, the second part first.
std::vector<std::string> PartArticles(const std::string& group, const std::string& name,
                                      const std::string& bytes) {
    std::vector<std::string> parts;
    const std::size_t step = (bytes.size() + 2) / 3;
    for (int k : {2, 1, 3}) {
        const std::size_t begin = (k - 1) * step + 1;
        const std::size_t end = std::min(bytes.size(), k * step);
        parts.push_back("From: poster@example.com\nNewsgroups: " + group + "\nSubject: \"" + name +
                        "\" yEnc (" + std::to_string(k) + "/3)\n\n" +
                        YEncode(bytes, name, YEncPart{k, 3, begin, end}));
    }
    return parts;
}

// The article of a group's i-th picture: uuencoded with its name in the subject, or base64 named
// only by its Content-Type (single part) or its Content-Disposition (multipart).
std::string PictureArticle(const std::string& group, int i, const std::string& name,
                           const std::string& bytes) {
    std::string head = "From: poster@example.com\nNewsgroups: " + group + "\n";
    const std::string number = std::to_string(i);
    switch (i % 3) {
        case 0:
            return head + "Subject: " + name + " (1/1)\n\n" + UuencodeBody(bytes, name);
        case 1:
            return head + "Subject: holiday snapshot " + number +
                   "\nMIME-Version: 1.0\nContent-Type: image/jpeg; name=\"" + name +
                   "\"\nContent-Transfer-Encoding: base64\n\n" + Base64Lines(bytes);
        default: {
            const std::string boundary = "----=_Part_" + number;
            return head + "Subject: a picture for you, " + number +
                   "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"" + boundary +
                   "\"\n\n--" + boundary +
                   "\nContent-Type: image/jpeg\nContent-Transfer-Encoding: base64\n"
                   "Content-Disposition: attachment; filename=\"" +
                   name + "\"\n\n" + Base64Lines(bytes) + "--" + boundary + "--\n";
        }
    }
}

class CrashSafety : public InnServerSuite {
protected:
    static void SetUpTestSuite() {  // each suite has a new server to post to
        InnServerSuite::SetUpTestSuite();
        prepared_.reset();
        pictures_.clear();
    }
    void SetUp() override {
        InnServerSuite::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!prepared_) prepared_ = Prepare();
        ASSERT_EQ(*prepared_, "");
    }

    // Posts the pictures once for the suite and times harvests that are left alone, which must
    // themselves save every picture once.
    static std::string Prepare() {
        std::vector<std::string> articles;
        std::string last;  // the name of the picture harvested last
        std::map<std::string, long> counts;
        for (const std::string& group : kGroups) {
            if (!server().CreateGroup(group)) return server().error();
            for (int i = 0; i < kPerGroup; ++i) {
                const unsigned seed = static_cast<unsigned>(pictures_.size()) + 1;
                const std::string name = "p" + std::to_string(1000 + seed) + ".jpg";
                const std::string bytes = FakeJpeg(12000 + (seed * 2654435761u) % 40000, seed);
                pictures_[bytes] = last = name;
                std::vector<std::string> posted{PictureArticle(group, i, name, bytes)};
                if (i % 8 == 4) posted = PartArticles(group, name, bytes);
                for (std::string& article : posted) articles.push_back(std::move(article));
                counts[group] += static_cast<long>(posted.size());
            }
        }
        if (!server().PostAll(articles)) return server().error();
        for (const std::string& group : kGroups) {
            if (!server().WaitForArticles(group, counts[group], std::chrono::seconds(60))) {
                return server().error();
            }
        }
        // The harvest lasts until the last picture appears (the runner may linger after it).
        // The second of two runs, on a warm server, gives its length.
        std::string faults;
        for (int run = 0; run < 2; ++run) {
            TempDir dir;
            Fresh(dir);
            const Clock::time_point start = Clock::now();
            Clock::time_point end = start;
            faults += RunToEnd(dir, [&] {
                if (end == start && TempDir::Exists(dir / "dl/" + last)) end = Clock::now();
            });
            if (end == start) end = Clock::now();
            harvest_ = std::chrono::duration_cast<milliseconds>(end - start);
            faults += Faults(dir);
        }
        return faults;
    }

    // Writes a fresh profile, group list and download directory into dir.
    static void Fresh(const TempDir& dir) {
        std::filesystem::create_directories(dir / "data");
        std::filesystem::create_directories(dir / "dl");
        TempDir::WriteFile(dir / "data/Groups.127.0.0.1", kGroups[0] + "\n" + kGroups[1] + "\n");
        TempDir::WriteFile(dir / "p.ini", "[Quarrymoth]\nNNTPHost=127.0.0.1\nNNTPPort=" +
                                              std::to_string(server().port()) +
                                              "\nDownloadDirectory=" + (dir / "dl/") +
                                              "\nMinLines=0\nMaxLines=100000\nSubjectIncl=\n"
                                              "SubjectIncl2=\n");
    }

    // Runs the runner on dir's profile; once `after` has passed and it still runs, it gets sig.
    // True in `signalled` when it did. tick, when given, is called about every millisecond.
    static ProcessResult Runner(const TempDir& dir, milliseconds after, int sig, bool& signalled,
                                const std::function<void()>& tick = {}) {
        signalled = false;
        return RunProcess(
            {QM_CLI_PATH, "run", "--profile", dir / "p.ini", "--datadir", dir / "data"},
            [&](pid_t pid) {
                const Clock::time_point until = Clock::now() + after;
                siginfo_t info{};
                while (Clock::now() < until) {
                    info.si_pid = 0;  // WNOWAIT leaves the child for RunProcess to collect
                    if (::waitid(P_PID, static_cast<id_t>(pid), &info,
                                 WEXITED | WNOHANG | WNOWAIT) == 0 &&
                        info.si_pid == pid) {
                        return;
                    }
                    if (tick) tick();
                    std::this_thread::sleep_for(milliseconds(1));
                }
                signalled = ::kill(pid, sig) == 0;
            });
    }

    // Runs the runner to its end; "" when it ended with exit code 0.
    static std::string RunToEnd(const TempDir& dir, const std::function<void()>& tick = {}) {
        bool timedOut = false;
        ProcessResult r = Runner(dir, milliseconds(180000), SIGKILL, timedOut, tick);
        if (timedOut) return "a normal run was still going after 180 s; killed it\n";
        if (r.exitCode == 0) return "";
        return "a normal run ended with " + std::to_string(r.exitCode) + ":\n" + r.output +
               r.errors;
    }

    // What is wrong in dir's download directory: files that are no posted picture (partial or
    // temporary ones), pictures saved more than once, pictures missing. "" when all is well.
    static std::string Faults(const TempDir& dir) {
        struct Tally {
            int count = 0;
            std::string names;
            void Add(const std::string& name) {
                if (++count <= 4) names += " " + name;
                if (count == 5) names += " ...";
            }
        } foreign, doubled, missing;
        std::map<std::string, std::vector<std::string>> saved;  // bytes -> names of its files
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "dl")) {
            if (entry.is_directory()) continue;
            const std::string name = entry.path().filename().string();
            const std::string bytes = TempDir::ReadFile(entry.path().string());
            if (pictures_.count(bytes) != 0) {
                saved[bytes].push_back(name);
            } else {
                foreign.Add(name + " (" + std::to_string(bytes.size()) + " bytes)");
            }
        }
        for (const auto& [bytes, name] : pictures_) {
            const std::vector<std::string>& files = saved[bytes];
            if (files.empty()) missing.Add(name);
            if (files.size() < 2) continue;
            std::string copies = name + " as";
            for (const std::string& file : files) copies += " " + file;
            doubled.Add(copies + ";");
        }
        if (foreign.count + doubled.count + missing.count == 0) return "";
        return std::to_string(foreign.count) + " partial or foreign files:" + foreign.names + "\n" +
               std::to_string(doubled.count) + " pictures saved more than once:" + doubled.names +
               "\n" + std::to_string(missing.count) + " pictures missing:" + missing.names + "\n";
    }

    // One trial: a harvest from scratch broken off by sig after `after`, then normal runs.
    static void Trial(int sig, milliseconds after) {
        SCOPED_TRACE((sig == SIGKILL ? "SIGKILL after " : "SIGINT after ") +
                     std::to_string(after.count()) + " ms of a " +
                     std::to_string(harvest_.count()) + " ms harvest");
        TempDir dir;
        Fresh(dir);
        bool signalled = false;
        Runner(dir, after, sig, signalled);
        ASSERT_EQ(RunToEnd(dir), "");
        const std::string faults = Faults(dir);
        EXPECT_TRUE(faults.empty()) << faults << (signalled ? "" : "(ended before the signal)");
        ASSERT_EQ(RunToEnd(dir), "");
        EXPECT_EQ(Faults(dir), faults) << "a second normal run changed the download directory";
    }

    // n trials broken off by sig, each at a random instant of its own n-th of the harvest.
    static void Trials(int sig, int n, unsigned seed) {
        std::mt19937 rng(seed);
        const double span = static_cast<double>(harvest_.count());
        for (int k = 0; k < n; ++k) {
            const double u = (k + static_cast<double>(rng()) / 4294967296.0) / n;
            Trial(sig, milliseconds(3 + static_cast<long>(u * span)));
        }
    }

    static inline std::optional<std::string> prepared_;  // what went wrong preparing, if tried
    static inline std::map<std::string, std::string> pictures_;  // bytes -> posted name
    static inline milliseconds harvest_{0};
};

TEST_F(CrashSafety, KilledAtAnyInstantTheRerunHasEveryPictureOnceAndWhole) {
    Trials(SIGKILL, kKillTrials, 7);
}

TEST_F(CrashSafety, InterruptedByCtrlCTheRerunHasEveryPictureOnceAndWhole) {
    Trials(SIGINT, 3, 11);
}

}  // namespace
}  // namespace qm::test
