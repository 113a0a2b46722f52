#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <thread>

#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "support/TempDir.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

using test::TempDir;

TEST(ProfileStore, MissingFileGivesEveryReaderItsOwnDefault) {
    TempDir dir;
    ProfileStore profile(dir / "quarrymoth.ini");
    EXPECT_EQ(kMinLines.Read(profile), 500);
    EXPECT_EQ(kMaxLines.Read(profile), 3000);
    EXPECT_EQ(kMaxLines.ReadPage(profile), "2500");
    EXPECT_EQ(kNNTPPort.ReadPage(profile), "119");
    EXPECT_EQ(kNNTPHost.Read(profile), "");
    EXPECT_EQ(kGroupIncl.Read(profile), "pictures");
    EXPECT_EQ(kSubjectIncl.ReadPage(profile), "jpg:gif");
    EXPECT_EQ(kSubjectIncl.Read(profile), "");
    EXPECT_EQ(kPriority.Read(profile), 3);
    std::string dirDefault = kDownloadDirectory.ReadPage(profile);
    EXPECT_EQ(dirDefault.substr(dirDefault.size() - 15), "/QMDownloadDir/");
    EXPECT_FALSE(TempDir::Exists(dir / "quarrymoth.ini"));
}

TEST(ProfileStore, IntegerRuleTakesLeadingDigits) {
    TempDir dir;
    TempDir::WriteFile(dir / "p.ini", "[Quarrymoth]\nMaxLines=abc\nMinLines=1500xyz\nMaxHist=\n");
    ProfileStore profile(dir / "p.ini");
    EXPECT_EQ(kMaxLines.Read(profile), 0);
    EXPECT_EQ(kMinLines.Read(profile), 1500);
    EXPECT_EQ(kMaxHist.Read(profile), 0);
    EXPECT_EQ(profile.GetString("Quarrymoth", "MaxLines", "x"), "abc");
    // Digits only: a sign or a blank in front is no digit.
    EXPECT_EQ(LeadingNumber("-1"), 0);
    EXPECT_EQ(LeadingNumber(" 5"), 0);
    EXPECT_EQ(LeadingNumber("9223372036854775807"), 9223372036854775807L);
    EXPECT_EQ(LeadingNumber("99999999999999999999"), LONG_MAX);
    EXPECT_EQ(StrictLeadingNumber("9223372036854775807x"), 9223372036854775807L);
    EXPECT_EQ(StrictLeadingNumber("9223372036854775808"), -1);
    EXPECT_EQ(StrictLeadingNumber("x"), -1);
}

TEST(ProfileStore, SectionsAndKeysIgnoreCaseAndServersKeepTheirOwnSections) {
    TempDir dir;
    TempDir::WriteFile(dir / "p.ini",
                       "[quarrymoth]\r\nnntphost=news.one\r\n[NEWS.ONE]\r\nalt.pics=42\r\n");
    ProfileStore profile(dir / "p.ini");
    EXPECT_EQ(kNNTPHost.Read(profile), "news.one");
    EXPECT_EQ(profile.GetInt("news.one", "ALT.PICS", 1), 42);
    EXPECT_EQ(profile.GetInt("news.two", "alt.pics", 1), 1);
    profile.WriteInt("news.two", "alt.pics", 7);
    EXPECT_EQ(profile.GetInt("news.one", "alt.pics", 1), 42);
    EXPECT_EQ(profile.GetInt("news.two", "alt.pics", 1), 7);
}

TEST(ProfileStore, RewriteKeepsCommentsUnknownLinesAndIsPrivate) {
    TempDir dir;
    std::string path = dir / "p.ini";
    TempDir::WriteFile(
        path, "; my notes\n[Quarrymoth]\nNNTPHost=a\ngarbage line\nFuture=1\n\n[Other]\nx=y\n");
    ProfileStore profile(path);
    ASSERT_TRUE(profile.WriteString("Quarrymoth", "nntphost", "b"));
    ASSERT_TRUE(profile.WriteString("Quarrymoth", "LogFile", "two\nlines\r\nhere"));
    std::string text = TempDir::ReadFile(path);
    EXPECT_NE(text.find("; my notes\n"), std::string::npos);
    EXPECT_NE(text.find("garbage line\n"), std::string::npos);
    EXPECT_NE(text.find("Future=1\n"), std::string::npos);
    EXPECT_NE(text.find("NNTPHost=b\n"), std::string::npos);
    EXPECT_NE(text.find("LogFile=two lines  here\n"), std::string::npos);
    EXPECT_NE(text.find("[Other]\nx=y\n"), std::string::npos);
    // A new key lands in its own section, before the blank line that ends it.
    EXPECT_LT(text.find("LogFile="), text.find("[Other]"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ProfileStore again(path);
    EXPECT_EQ(kLogFile.Read(again), "two lines  here");
}

TEST(ProfileStore, FailedWriteLeavesTheOldFileWholeAndKeepsTheValueInMemory) {
    TempDir dir;
    std::string path = dir / "p.ini";
    TempDir::WriteFile(path, "[Quarrymoth]\nNNTPHost=a\n");
    ProfileStore profile(path);
    // Block the temporary file's name so the replacement cannot be written.
    std::string tmp = path + ".tmp" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0);
    EXPECT_FALSE(profile.WriteString("Quarrymoth", "NNTPHost", "b"));
    EXPECT_EQ(kNNTPHost.Read(profile), "b");
    EXPECT_EQ(TempDir::ReadFile(path), "[Quarrymoth]\nNNTPHost=a\n");
    ::rmdir(tmp.c_str());
    EXPECT_TRUE(profile.WriteString("Quarrymoth", "MinLines", "10"));
    EXPECT_NE(TempDir::ReadFile(path).find("NNTPHost=b"), std::string::npos);
}

TEST(ProfileStore, UnreadableFileIsNeverOverwritten) {
    TempDir dir;
    std::string path = dir / "p.ini";
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);  // a directory cannot be read as a profile
    ProfileStore profile;
    EXPECT_FALSE(profile.Load(path));
    EXPECT_FALSE(profile.WriteString("Quarrymoth", "NNTPHost", "x"));
    EXPECT_EQ(kNNTPHost.Read(profile), "x");
}

TEST(ProfileStore, ThreadsReadAndWriteAtOnce) {
    TempDir dir;
    ProfileStore profile(dir / "p.ini");
    std::thread writer([&] {
        for (int i = 1; i <= 200; ++i) profile.WriteInt("news", "alt.pics", i);
    });
    long last = 0;
    for (int i = 0; i < 2000; ++i) {
        long v = profile.GetInt("news", "alt.pics", 0);
        EXPECT_GE(v, last);  // a reader never sees a value go backwards
        last = v;
    }
    writer.join();
    EXPECT_EQ(ProfileStore(dir / "p.ini").GetInt("news", "alt.pics", 0), 200);
}

TEST(ProfileStore, FrequentWritesReachTheFileAtLeastOncePerIntervalAndOnFlush) {
    TempDir dir;
    std::string path = dir / "p.ini";
    {
        ProfileStore profile(path);
        EXPECT_TRUE(profile.WriteIntSoon("news", "alt.pics", 1));  // the first one is written
        EXPECT_NE(TempDir::ReadFile(path).find("alt.pics=1"), std::string::npos);
        for (int i = 2; i <= 50; ++i) profile.WriteIntSoon("news", "alt.pics", i);
        EXPECT_EQ(profile.GetInt("news", "alt.pics", 0), 50);
        EXPECT_NE(TempDir::ReadFile(path).find("alt.pics=1\n"), std::string::npos);
        EXPECT_TRUE(profile.Flush());
        EXPECT_NE(TempDir::ReadFile(path).find("alt.pics=50"), std::string::npos);
        profile.WriteIntSoon("news", "alt.pics", 51);
        profile.WriteString("Quarrymoth", "NNTPHost", "h");  // an ordinary write saves all
        EXPECT_NE(TempDir::ReadFile(path).find("alt.pics=51"), std::string::npos);
        profile.WriteIntSoon("news", "alt.pics", 52);
    }
    EXPECT_NE(TempDir::ReadFile(path).find("alt.pics=52"), std::string::npos);  // destructor
}

TEST(ProfileStore, AStoreNeverWritesBackAStaleCopyAndKeepsALinkALink) {
    TempDir dir;
    std::string target = dir / "real.ini";
    std::string link = dir / "link.ini";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ProfileStore window(link);  // a long-lived store
    ASSERT_TRUE(window.WriteString("Quarrymoth", "NNTPHost", "h"));
    ProfileStore run(link);
    ::usleep(10 * 1000);  // a later time of change for the file the run writes
    ASSERT_TRUE(run.WriteInt("h", "alt.pics", 42));
    ASSERT_TRUE(window.WriteString("Quarrymoth", "MinLines", "7"));
    ProfileStore reread(link);
    EXPECT_EQ(reread.GetInt("h", "alt.pics", 0), 42);  // the run's mark survived the window
    EXPECT_EQ(kMinLines.Read(reread), 7);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(TempDir::ReadFile(target).find("alt.pics=42"), std::string::npos);
}

TEST(ProfileStore, WhatItStoresReadsBackAndWhatCannotIsRefused) {
    TempDir dir;
    std::string path = dir / "p.ini";
    TempDir::WriteFile(path, "[h]\r\r\nalt.a=3\r\r\nnote]\r\r\n");
    ProfileStore profile(path);
    for (const char* bad : {"a=b", ";c", "#d", "[e", " f", "g ", "h\ni", ""}) {
        EXPECT_FALSE(profile.WriteInt("h", bad, 1)) << bad;
    }
    ASSERT_TRUE(profile.WriteInt("h", "alt.b", 4));
    ASSERT_TRUE(profile.WriteInt("h", "alt.b", 5));
    ProfileStore again(path);
    EXPECT_EQ(again.GetInt("h", "alt.a", 0), 3);  // a bare CR is line end, also when rewritten
    EXPECT_EQ(again.GetInt("h", "alt.b", 0), 5);
    EXPECT_EQ(TempDir::ReadFile(path).find("a=b"), std::string::npos);
    EXPECT_EQ(TempDir::ReadFile(path).find("[note]"), std::string::npos);
}

TEST(ProfileStore, ABatchOfThousandsOfChangesRewritesTheFileOnce) {
    TempDir dir;
    std::string path = dir / "p.ini";
    TempDir::WriteFile(path, "[news]\nalt.keep=1\nalt.gone=2\n");
    ProfileStore profile(path);
    std::vector<ProfileStore::Change> changes;
    for (int g = 0; g < 3000; ++g) changes.push_back({"news", "alt.g" + std::to_string(g), "0"});
    changes.push_back({"news", "alt.gone", std::nullopt});
    const auto saves = profile.SaveCount();
    ASSERT_TRUE(profile.Apply(changes));
    EXPECT_EQ(profile.SaveCount(), saves + 1);
    ProfileStore again(path);
    EXPECT_EQ(again.Keys("news").size(), 3001u);
    EXPECT_EQ(again.Keys("news").front(), "alt.keep");
    EXPECT_EQ(again.GetString("news", "alt.gone", "none"), "none");
    EXPECT_EQ(again.GetInt("news", "alt.g2999", 7), 0);
    // One key it cannot store refuses the whole batch.
    EXPECT_FALSE(profile.Apply({{"news", "alt.x", "1"}, {"news", "a=b", "1"}}));
    EXPECT_EQ(profile.GetString("news", "alt.x", "none"), "none");
    ASSERT_TRUE(profile.RemoveKey("news", "alt.keep"));
    EXPECT_EQ(ProfileStore(path).GetString("news", "alt.keep", "none"), "none");
}

TEST(SettingsKeys, ConfiguredPortFallsBackTo119) {
    TempDir dir;
    ProfileStore profile(dir / "p.ini");
    EXPECT_EQ(ConfiguredPort(profile), 119);
    for (const char* bad : {"", "abc", "0", "70000", "12x", "-5"}) {
        kNNTPPort.Write(profile, bad);
        EXPECT_EQ(ConfiguredPort(profile), 119) << bad;
    }
    kNNTPPort.Write(profile, " 8119 ");
    EXPECT_EQ(ConfiguredPort(profile), 8119);
}

}  // namespace
}  // namespace qm
