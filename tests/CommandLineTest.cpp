// The command-line runner as a user meets it: usage, and profiles it cannot use.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include "engine/ContentIndex.h"
#include "engine/RunLock.h"
#include "support/NewsModel.h"
#include "support/ScriptServer.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

TEST(CommandLineRunner, HelpSucceedsAndBadUsageIsRefused) {
    ProcessResult help = RunProcess({QM_CLI_PATH, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("Usage: quarrymoth-cli run", 0), 0u) << help.output;

    for (const std::vector<std::string>& args : {std::vector<std::string>{QM_CLI_PATH},
                                                 {QM_CLI_PATH, "fetch"},
                                                 {QM_CLI_PATH, "run", "--profile"},
                                                 {QM_CLI_PATH, "run", "--bogus"},
                                                 {QM_CLI_PATH, "index", "--yes"},
                                                 {QM_CLI_PATH, "index", "--datadir"}}) {
        ProcessResult bad = RunProcess(args);
        EXPECT_EQ(bad.exitCode, 2) << args.back();
        EXPECT_NE(bad.errors.find("Usage:"), std::string::npos) << args.back();
        EXPECT_TRUE(bad.output.empty()) << bad.output;
    }
}

TEST(CommandLineRunner, UnusableProfilesAreReportedAndLeftAlone) {
    TempDir dir;
    std::string garbled = dir / "garbled.ini";
    std::string junk("\x01\x02[[[=\xff\nNNTPHost\n=oops\n\0\0", 22);
    TempDir::WriteFile(garbled, junk);
    ProcessResult r =
        RunProcess({QM_CLI_PATH, "run", "--profile", garbled, "--datadir", dir / "data"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("No news server specified"), std::string::npos) << r.output;
    EXPECT_EQ(TempDir::ReadFile(garbled), junk);

    std::string unreadable = dir / "dir.ini";
    ::mkdir(unreadable.c_str(), 0700);
    r = RunProcess({QM_CLI_PATH, "run", "--profile", unreadable, "--datadir", dir / "data"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("cannot read the profile " + unreadable), std::string::npos)
        << r.output;

    std::string blocked = dir / "file";
    TempDir::WriteFile(blocked, "x");
    TempDir::WriteFile(dir / "p.ini", "[Quarrymoth]\nNNTPHost=news.example.com\n");
    r = RunProcess({QM_CLI_PATH, "run", "--profile", dir / "p.ini", "--datadir", blocked + "/sub"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("cannot use the working directory"), std::string::npos) << r.output;
}

// A runner harvesting from a server that goes silent after the greeting's first GROUP.
// The content index made anew from the pictures already saved: every picture below the download
// directory (or the directories named) once, the oldest copy of the same bytes named, other files
// left out; and never while a run holds the data directory.
TEST(CommandLineRunner, IndexRebuildsTheContentIndexFromSavedPictures) {
    TempDir dir;
    ::mkdir((dir / "data").c_str(), 0700);
    ::mkdir((dir / "dl").c_str(), 0700);
    ::mkdir((dir / "dl/alt.pics").c_str(), 0700);
    ::mkdir((dir / "more").c_str(), 0700);
    TempDir::WriteFile(dir / "p.ini", "[Quarrymoth]\nDownloadDirectory=" + dir.path() + "/dl/\n");
    const std::string one = FakeJpeg(2000, 1), two = FakeJpeg(3000, 2);
    TempDir::WriteFile(dir / "dl/one.jpg", one);
    TempDir::WriteFile(dir / "dl/alt.pics/Two.JPG", two);
    TempDir::WriteFile(dir / "dl/alt.pics/copy.jpg", one);
    TempDir::WriteFile(dir / "dl/Descript.ion", "one.jpg a picture\n");
    TempDir::WriteFile(dir / "dl/.qm-partial-1-1", one + "x");
    TempDir::WriteFile(dir / "more/three.png", "not really a png");
    ::utimes((dir / "dl/one.jpg").c_str(), nullptr);
    const timeval old[2] = {{1000000, 0}, {1000000, 0}};
    ::utimes((dir / "dl/alt.pics/copy.jpg").c_str(), old);  // the oldest copy of one

    const std::vector<std::string> base{QM_CLI_PATH,   "index",     "--profile",
                                        dir / "p.ini", "--datadir", dir / "data"};
    ProcessResult r = RunProcess(base);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, "Indexed 2 pictures\n");
    ContentIndex index(dir / "data/ContentIndex");
    EXPECT_EQ(index.Load(100), 0u);
    ASSERT_EQ(index.Size(), 2u);
    EXPECT_EQ(index.FindSame(FingerprintBytes(one).digest)->name, "copy.jpg");
    EXPECT_EQ(index.FindSame(FingerprintBytes(two).digest)->name, "Two.JPG");

    std::vector<std::string> named = base;
    named.push_back(dir / "more");
    r = RunProcess(named);
    EXPECT_EQ(r.output, "Indexed 1 pictures\n");
    EXPECT_EQ(index.Load(100), 0u);
    ASSERT_EQ(index.Size(), 1u);
    EXPECT_EQ(index.Entries()[0].name, "three.png");

    RunLock lock;
    std::string error;
    ASSERT_TRUE(lock.Acquire({dir / "data/"}, error));
    r = RunProcess(base);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("another run"), std::string::npos) << r.output;
    EXPECT_EQ(index.Load(100), 0u);
    EXPECT_EQ(index.Size(), 1u);  // left as it was
}

class InterruptedRunner : public ::testing::Test {
protected:
    void SetUp() override {
        server_.On("GROUP ", Reply{.silent = true});
        TempDir::WriteFile(dir_ / "p.ini", "[Quarrymoth]\nNNTPHost=127.0.0.1\nNNTPPort=" +
                                               std::to_string(server_.port()) +
                                               "\nDownloadDirectory=" + dir_.path() + "/\n");
        ::mkdir((dir_ / "data").c_str(), 0700);
        TempDir::WriteFile(dir_ / "data/Groups.127.0.0.1", "alt.pics\n");
    }
    ProcessResult RunInterrupted(int interrupts) {
        return RunProcess(
            {QM_CLI_PATH, "run", "--profile", dir_ / "p.ini", "--datadir", dir_ / "data"},
            [&](pid_t pid) {
                for (int i = 0; i < 500 && server_.Received().empty(); ++i) ::usleep(10000);
                for (int i = 0; i < interrupts; ++i) {
                    ::kill(pid, SIGINT);
                    ::usleep(100000);
                }
            });
    }
    TempDir dir_;
    ScriptServer server_;
};

TEST_F(InterruptedRunner, FirstCtrlCStopsTheRunAsTheStopButtonDoes) {
    auto start = std::chrono::steady_clock::now();
    ProcessResult r = RunInterrupted(1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("  Operation complete"), std::string::npos) << r.output;
}

TEST_F(InterruptedRunner, SecondCtrlCEndsAtOnce) {
    auto start = std::chrono::steady_clock::now();
    ProcessResult r = RunInterrupted(2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_EQ(r.output.find("Operation complete"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace qm::test
