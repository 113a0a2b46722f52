// The command-line runner as a user meets it: usage, and profiles it cannot use.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

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
                                                 {QM_CLI_PATH, "run", "--bogus"}}) {
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
