// The desktop keyring for real: GNOME Keyring on a private session bus. Its own calls, a harvest
// by the runner that logs in with the password kept there, and the runner's error when the
// keyring is locked, silent or has no session bus at all.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "PrivateKeyring.h"
#include "keyring/SecretServiceKeyring.h"
#include "support/NewsModel.h"
#include "support/ScriptServer.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

using Outcome = KeyringAnswer::Outcome;
using Clock = std::chrono::steady_clock;

class DesktopKeyring : public ::testing::Test {
protected:
    void SetUp() override {
        std::string problem;
        if (!PrivateKeyring::Installed(problem)) GTEST_SKIP() << problem;
        desktop_ = PrivateKeyring::Shared(problem);
        ASSERT_NE(desktop_, nullptr) << problem;
    }
    // What a test locked or froze is as it was for the next.
    void TearDown() override {
        if (!desktop_) return;
        desktop_->Freeze(false);
        EXPECT_TRUE(desktop_->Unlock());
    }

    PrivateKeyring* desktop_ = nullptr;
    SecretServiceKeyring keyring_{std::chrono::seconds(5)};
};

TEST_F(DesktopKeyring, KeepsFindsReplacesAndForgetsByHostAndUser) {
    EXPECT_TRUE(keyring_.Offered().IsDone());
    ASSERT_TRUE(keyring_.Store("news.example", "joe", "first").IsDone());
    ASSERT_TRUE(keyring_.Store("news.example", "joe", "p\xc3\xa4ss w:rd").IsDone());
    ASSERT_TRUE(keyring_.Store("news.example", "ann", "hers").IsDone());
    EXPECT_EQ(keyring_.Lookup("news.example", "joe").password, "p\xc3\xa4ss w:rd");
    EXPECT_EQ(keyring_.Lookup("news.example", "ann").password, "hers");
    EXPECT_EQ(keyring_.Lookup("other.example", "joe").outcome, Outcome::NotFound);
    EXPECT_EQ(keyring_.Lookup("news.example", "").outcome, Outcome::NotFound);

    ASSERT_TRUE(keyring_.Remove("news.example", "joe").IsDone());
    EXPECT_EQ(keyring_.Lookup("news.example", "joe").outcome, Outcome::NotFound);
    EXPECT_EQ(keyring_.Lookup("news.example", "ann").password, "hers");
    EXPECT_TRUE(keyring_.Remove("news.example", "joe").IsDone());  // none left: no error
}

// A locked keyring would need the user to unlock it: every call says so at once instead.
TEST_F(DesktopKeyring, ALockedKeyringIsReportedAtOnceAndNeverUnlocked) {
    ASSERT_TRUE(keyring_.Store("news.example", "joe", "secret").IsDone());
    ASSERT_TRUE(desktop_->Lock());
    const auto start = Clock::now();
    for (const KeyringAnswer& answer :
         {keyring_.Lookup("news.example", "joe"), keyring_.Lookup("news.example", "ann"),
          keyring_.Store("news.example", "joe", "new"), keyring_.Remove("news.example", "joe")}) {
        EXPECT_EQ(answer.outcome, Outcome::Unreachable);
        EXPECT_EQ(answer.reason, "the keyring is locked");
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

TEST_F(DesktopKeyring, AKeyringThatDoesNotAnswerIsGivenUpAfterTheTimeout) {
    SecretServiceKeyring quick(std::chrono::milliseconds(500));
    desktop_->Freeze(true);
    const auto start = Clock::now();
    const KeyringAnswer answer = quick.Lookup("news.example", "joe");
    const auto took = Clock::now() - start;
    desktop_->Freeze(false);
    EXPECT_EQ(answer.outcome, Outcome::Unreachable);
    EXPECT_EQ(answer.reason, "no answer within 0.5 seconds");
    EXPECT_LT(took, std::chrono::seconds(3));
}

// The runner against a server that wants a login first and takes only "kept secret", with one
// picture in alt.pics; the profile keeps the password in the keyring.
class KeyringRunner : public DesktopKeyring {
protected:
    void SetUp() override {
        DesktopKeyring::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ModelArticle picture;
        picture.subject = "kept.jpg";
        picture.body = UuencodeBody(RandomBytes(3000, 7), "kept.jpg");
        model_.AddArticle("alt.pics", 1, picture);
        model_.Serve(server_);
        server_.On("AUTHINFO USER", "381 more\r\n");
        server_.On("AUTHINFO PASS", ScriptServer::TextResponder([](const std::string& command) {
                       return std::string(command == "AUTHINFO PASS kept secret" ? "281 ok\r\n"
                                                                                 : "481 no\r\n");
                   }));
        ::mkdir((dir_ / "data").c_str(), 0700);
        ::mkdir((dir_ / "dl").c_str(), 0700);
        TempDir::WriteFile(dir_ / "data/Groups.127.0.0.1", "alt.pics\n");
        WriteProfile(true);
    }
    void WriteProfile(bool forceLogin) {
        TempDir::WriteFile(
            dir_ / "p.ini",
            "[Quarrymoth]\nNNTPHost=127.0.0.1\nNNTPPort=" + std::to_string(server_.port()) +
                "\nDownloadDirectory=" + (dir_ / "dl/") +
                "\nMinLines=0\nPipelineDepth=1\n[127.0.0.1]\nUserAuthentication=1\n"
                "ForceAuthInfo=" +
                (forceLogin ? "1" : "0") +
                "\nUsername=joe\nPassword=\nPasswordInKeyring=1\nConnections=1\n"
                "UseCompression=0\n");
    }
    // The runner, its environment first changed by env's assignments ("-u NAME" unsets one).
    ProcessResult Run(std::vector<std::string> env = {}) {
        std::vector<std::string> args{"/usr/bin/env"};
        args.insert(args.end(), env.begin(), env.end());
        for (const char* arg : {QM_CLI_PATH, "run", "--profile"}) args.emplace_back(arg);
        args.push_back(dir_ / "p.ini");
        args.emplace_back("--datadir");
        args.push_back(dir_ / "data");
        return RunProcess(args);
    }
    int Logins() const {
        int count = 0;
        for (const std::string& command : server_.Received()) count += command.starts_with("AUTH");
        return count;
    }

    TempDir dir_;
    ScriptServer server_;
    NewsModel model_;
};

TEST_F(KeyringRunner, AHarvestLogsInWithThePasswordFromTheKeyring) {
    ASSERT_TRUE(keyring_.Store("127.0.0.1", "joe", "kept secret").IsDone());
    const ProcessResult r = Run();
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(TempDir::Exists(dir_ / "dl/kept.jpg")) << r.output;
    EXPECT_EQ(Logins(), 2);
    EXPECT_EQ(r.output.find("keyring"), std::string::npos) << r.output;
}

// Never an empty password in its place, and never a wait for an unlock: the run ends at once.
TEST_F(KeyringRunner, AKeyringOutOfReachEndsTheRunAtOnceWithTheReason) {
    ASSERT_TRUE(keyring_.Store("127.0.0.1", "joe", "kept secret").IsDone());
    ASSERT_TRUE(desktop_->Lock());
    auto start = Clock::now();
    ProcessResult r = Run();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Error--the password for 127.0.0.1 is in the desktop keyring, which "
                            "cannot be reached: the keyring is locked\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(Logins(), 0);

    // A scheduled job: no session bus (and no display to start one for).
    const std::string noBus = dir_ / "no-bus";
    ::mkdir(noBus.c_str(), 0700);
    start = Clock::now();
    r = Run({"-u", "DBUS_SESSION_BUS_ADDRESS", "-u", "DISPLAY", "XDG_RUNTIME_DIR=" + noBus});
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Error--the password for 127.0.0.1 is in the desktop keyring, which "
                            "cannot be reached: "),
              std::string::npos)
        << r.output;
    EXPECT_EQ(Logins(), 0);
    EXPECT_FALSE(TempDir::Exists(dir_ / "dl/kept.jpg"));
}

// Without a login there is no password to fetch, and nothing is said about the keyring.
TEST_F(KeyringRunner, NothingIsSaidWhenNoPasswordIsNeeded) {
    WriteProfile(false);
    const std::string noBus = dir_ / "no-bus";
    ::mkdir(noBus.c_str(), 0700);
    const ProcessResult r =
        Run({"-u", "DBUS_SESSION_BUS_ADDRESS", "-u", "DISPLAY", "XDG_RUNTIME_DIR=" + noBus});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find("keyring"), std::string::npos) << r.output;
    EXPECT_EQ(Logins(), 0);
    EXPECT_TRUE(TempDir::Exists(dir_ / "dl/kept.jpg"));
}

}  // namespace
}  // namespace qm::test
