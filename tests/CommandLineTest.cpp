// The command-line runner as a user meets it: usage, and profiles it cannot use.

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace qm::test
