#include "engine/DownloadLog.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace qm {
namespace {

using test::TempDir;

TEST(DownloadLogTest, AppendsOneLinePerFileKeepingTheLog) {
    TempDir dir;
    const std::string log = dir / "DownloadLog";
    TempDir::WriteFile(log, "earlier run\n");
    EXPECT_TRUE(AppendDownloadLog(log, "/home/u/pics/", "Sunset.JPG", "Joe <joe@example.com>"));
    EXPECT_TRUE(AppendDownloadLog(log, "/home/u/pics/", "my file.jpg", "Ann"));
    EXPECT_EQ(TempDir::ReadFile(log),
              "earlier run\n"
              "/home/u/pics/Sunset.JPG -> Joe <joe@example.com>\n"
              "/home/u/pics/my file.jpg -> Ann\n");
}

TEST(DownloadLogTest, DirectoryAndNameAreJoinedAsTheyAre) {
    TempDir dir;
    const std::string log = dir / "log.txt";
    EXPECT_TRUE(AppendDownloadLog(log, "/home/u/pics", "a.jpg", "x"));
    EXPECT_EQ(TempDir::ReadFile(log), "/home/u/picsa.jpg -> x\n");
}

TEST(DownloadLogTest, UnopenableLogWritesNothing) {
    TempDir dir;
    dir.Enter();
    EXPECT_FALSE(AppendDownloadLog("", "/home/u/pics/", "a.jpg", "x"));
    EXPECT_FALSE(AppendDownloadLog(dir / "missing/log.txt", "/home/u/pics/", "a.jpg", "x"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(DescriptionFileTest, AppendsLowercasedNameWithSubjectAndSender) {
    TempDir dir;
    const std::string saveDir = dir.path() + "/";
    TempDir::WriteFile(saveDir + "Descript.ion", "old.jpg old -> someone\n");
    EXPECT_TRUE(AppendDescription(saveDir, "Sunset.JPG", "[2] Sunset.JPG (1/1)", "Joe <j@x.org>"));
    EXPECT_EQ(TempDir::ReadFile(saveDir + "Descript.ion"),
              "old.jpg old -> someone\nsunset.jpg [2] Sunset.JPG (1/1) -> Joe <j@x.org>\n");
}

TEST(DescriptionFileTest, SaveDirectoryWithoutSeparatorPrefixesTheFileName) {
    TempDir dir;
    EXPECT_TRUE(AppendDescription(dir / "pics", "a.jpg", "A", "B"));
    EXPECT_EQ(TempDir::ReadFile(dir / "picsDescript.ion"), "a.jpg A -> B\n");
}

TEST(DescriptionFileTest, MissingDirectoryWritesNothing) {
    TempDir dir;
    EXPECT_FALSE(AppendDescription(dir / "missing/", "a.jpg", "A", "B"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace qm
