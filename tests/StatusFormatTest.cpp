#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/StatusFormat.h"
#include "app/StatusModel.h"
#include "app/TerminalStatus.h"
#include "decode/PartialPicture.h"
#include "decode/SafeFileName.h"
#include "support/TempDir.h"

namespace qm {
namespace {

TEST(StatusFormat, FiguresLookAsTheWindowShowsThem) {
    EXPECT_EQ(GroupThousands(0), "0");
    EXPECT_EQ(GroupThousands(999), "999");
    EXPECT_EQ(GroupThousands(1000), "1,000");
    EXPECT_EQ(GroupThousands(1234567), "1,234,567");
    EXPECT_EQ(GroupThousands(5000000000LL), "5,000,000,000");
    int percent = -1;
    EXPECT_EQ(ProgressText(0, 0, percent), "0 of 1 (0%)");
    EXPECT_EQ(percent, 0);
    EXPECT_EQ(ProgressText(3, 12, percent), "3 of 12 (25%)");
    EXPECT_EQ(ProgressText(7, 7, percent), "7 of 7 (100%)");
    EXPECT_EQ(percent, 100);
    EXPECT_EQ(RateText(1000, 0), "0");
    EXPECT_EQ(RateText(1000, 3), "333");
    EXPECT_EQ(TimeLeftText(3725), "01:02:05");
    EXPECT_EQ(TimeLeftText(86400 + 3661), "1 01:01:01");
    EXPECT_EQ(TimeLeftText(0), "00:00:00");
    EXPECT_EQ(ElapsedText(25 * 3600), " 1:00:00");  // days drop out
    EXPECT_EQ(ElapsedText(13 * 3600 + 61), "13:01:01");
    EXPECT_EQ(GroupSecondsLeft(1000, 0), 0);
    EXPECT_EQ(GroupSecondsLeft(1000, 600), 100);
}

TEST(TerminalStatus, PrintsTheModelsFiguresWithoutTheServersControlCharacters) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    SharedState shared;
    {
        TerminalStatus terminal(out, shared, true);
        StatusModel model(shared, terminal);
        const std::string hostile =
            "a\x1b]0;title\x07"
            "b\x1b[2J";
        model.SetSubjectText(hostile);
        model.SetSubjectText("R&D.jpg");
        model.SetFromText("x\ry\x7f");
        model.SetProgress(ProgressBar::Article, 3, 12, false);
        model.ShowRate(RateKind::Binary, 0.5, 1000);  // half a second counts
        EXPECT_EQ(shared.LastSubject(), hostile);     // the subject on display before
        EXPECT_EQ(model.Text(StatusField::ArticleProgress), "3 of 12 (25%)");
    }
    std::fclose(out);
    EXPECT_EQ(std::string(text, size),
              "Subject: a?]0;title?b?[2J\nSubject: R&D.jpg\nFrom: x?y?\n"
              "Article Progress: 3 of 12 (25%)\nBinary Bytes/Sec: 2000\n");
    std::free(text);
}

TEST(SafeFileName, NamesFromArticlesStayInsideTheSaveDirectory) {
    EXPECT_EQ(SafeFileName("../../x.jpg"), "x.jpg");
    EXPECT_EQ(SafeFileName("/etc/passwd"), "passwd");
    EXPECT_EQ(SafeFileName("c:\\pics\\a.jpg"), "a.jpg");
    EXPECT_EQ(SafeFileName("a\r\nb.jpg"), "ab.jpg");
    EXPECT_EQ(SafeFileName(std::string("a\0b.jpg", 7)), "ab.jpg");
    EXPECT_EQ(SafeFileName(".."), "");
    EXPECT_EQ(SafeFileName("pics/.."), "");
    EXPECT_EQ(SafeFileName("dir/"), "");
    // Shortening drops the cut character's continuation bytes: nothing usable may be left.
    EXPECT_EQ(SafeFileName(std::string(241, '\x80') + "."), "");
    EXPECT_EQ(SafeFileName(".." + std::string(239, '\x80')), "");
    EXPECT_EQ(SafeFileName("two words.jpg"), "two words.jpg");
    std::string longName = SafeFileName(std::string(600, 'x') + ".jpeg");
    EXPECT_LE(longName.size(), 240u);
    EXPECT_EQ(longName.substr(longName.size() - 5), ".jpeg");
    // The hidden names of pictures in progress are never a posted picture's.
    EXPECT_EQ(SafeFileName(".qm-partial-123-4"), "qm-partial-123-4");
    EXPECT_EQ(SafeFileName("pics/.qm-partial-x.jpg"), "qm-partial-x.jpg");
    EXPECT_EQ(SafeFileName(".qm-\x01partial-1-1"), "qm-partial-1-1");
    EXPECT_EQ(SafeFileName("qm-partial-1-1"), "qm-partial-1-1");
    EXPECT_EQ(SafeFileName(".qm-partial.jpg"), ".qm-partial.jpg");
}

TEST(SafeFileName, ExistingFilesAreNeverOverwritten) {
    test::TempDir dir;
    std::string base = dir.path() + "/";
    EXPECT_EQ(CreateUniqueFile(base, "a.jpg"), "a.jpg");
    test::TempDir::WriteFile(base + "a.jpg", "first");
    EXPECT_EQ(CreateUniqueFile(base, "a.jpg"), "a(1).jpg");
    EXPECT_EQ(CreateUniqueFile(base, "a.jpg"), "a(2).jpg");
    EXPECT_EQ(CreateUniqueFile(base, "noext"), "noext");
    EXPECT_EQ(CreateUniqueFile(base, "noext"), "noext(1)");
    EXPECT_EQ(test::TempDir::ReadFile(base + "a.jpg"), "first");
    EXPECT_EQ(CreateUniqueFile(base + "missing/", "a.jpg"), "");
}

TEST(PartialPicture, TemporaryFilesAreMadeAnewAndNeverEmptyAFile) {
    test::TempDir dir;
    const std::string base = dir.path() + "/";
    std::vector<std::string> announced;
    // A file already lies where the first name points (left by a crashed run of the same
    // process number): it is kept as it is and the next name is taken.
    const std::string path = CreatePartialPicture(base, [&](const std::string& p) {
        if (announced.empty()) test::TempDir::WriteFile(p, "a stale file");
        announced.push_back(p);
        return true;
    });
    ASSERT_EQ(announced.size(), 2u);
    EXPECT_EQ(path, announced[1]);
    EXPECT_EQ(test::TempDir::ReadFile(announced[0]), "a stale file");
    EXPECT_EQ(test::TempDir::ReadFile(path), "");
    std::string at, name;
    ASSERT_TRUE(SplitPartialPicturePath(path, at, name));
    EXPECT_EQ(at, base);
    EXPECT_TRUE(IsPartialPictureName(name));
    // The journal refuses the name: nothing is created.
    errno = 0;
    EXPECT_EQ(CreatePartialPicture(base,
                                   [](const std::string&) {
                                       errno = ENOSPC;
                                       return false;
                                   }),
              "");
    EXPECT_EQ(errno, ENOSPC);
    // The write test removes only what it made.
    EXPECT_EQ(ProbeWritable(base), 0);
    EXPECT_EQ(test::TempDir::ReadFile(announced[0]), "a stale file");

    for (const char* other : {".qm-partial-1", ".qm-partial-1-2x", ".qm-partial--2",
                              "qm-partial-1-2", ".qm-partial-1-2/x"})
        EXPECT_FALSE(IsPartialPictureName(other)) << other;
    EXPECT_FALSE(SplitPartialPicturePath(base + "pic.jpg", at, name));
    EXPECT_TRUE(SplitPartialPicturePath("/d/pics.qm-partial-7-8", at, name));  // no "/" at its end
    EXPECT_EQ(at, "/d/pics");
}

}  // namespace
}  // namespace qm
