#include "engine/HistoryList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RecordingStatus.h"
#include "support/TempDir.h"

namespace qm {
namespace {

using test::RecordingStatus;
using test::TempDir;
using Names = std::vector<std::string>;

class HistoryListTest : public ::testing::Test {
protected:
    std::string HistFile() const { return dir_ / "HistList"; }
    std::string Backup() const { return dir_ / "~HistList"; }
    void WriteHist(const std::string& content) { TempDir::WriteFile(HistFile(), content); }

    TempDir dir_;
    RecordingStatus status_;
    HistoryList list_{dir_.path()};
};

TEST_F(HistoryListTest, LoadKeepsTheNewestMaxHistLinesLowercasedAndSaveWritesThem) {
    WriteHist("One.jpg\ntwo.jpg\nThree.JPG\nfour.jpg\nFIVE.jpg\n");
    list_.Load(3);
    EXPECT_EQ(list_.Entries(), (Names{"three.jpg", "four.jpg", "five.jpg"}));
    ASSERT_TRUE(list_.Save(status_));
    EXPECT_EQ(TempDir::ReadFile(HistFile()), "three.jpg\nfour.jpg\nfive.jpg\n");
    EXPECT_EQ(status_.Count("status"), 0);
}

TEST_F(HistoryListTest, LaterSavesAddToTheFileUnlessSomeoneElseChangedIt) {
    list_.Load(100);
    list_.Add("a1.jpg");
    ASSERT_TRUE(list_.Save(status_));
    list_.Add("b2.jpg");
    list_.Add("c3");  // too short to be saved
    ASSERT_TRUE(list_.Save(status_));
    EXPECT_EQ(TempDir::ReadFile(HistFile()), "a1.jpg\nb2.jpg\n");
    WriteHist("");  // cleared by the user while the run goes on
    list_.Add("d4.jpg");
    ASSERT_TRUE(list_.Save(status_));
    EXPECT_EQ(TempDir::ReadFile(HistFile()), "a1.jpg\nb2.jpg\nd4.jpg\n");
    WriteHist("x.jpg\ny.jpg\n1234567\n");  // replaced by another file of another size
    list_.Add("e5.jpg");
    ASSERT_TRUE(list_.Save(status_));
    EXPECT_EQ(TempDir::ReadFile(HistFile()), "a1.jpg\nb2.jpg\nd4.jpg\ne5.jpg\n");
    EXPECT_EQ(status_.Count("status"), 0);
}

TEST_F(HistoryListTest, LoadCopiesThePreviousFileToTheBackupEveryTime) {
    TempDir::WriteFile(Backup(), "stale backup that is much longer than the new one\n");
    WriteHist("A.jpg\r\nb.jpg\r\nc.jpg");
    list_.Load(1);
    EXPECT_EQ(TempDir::ReadFile(Backup()), "A.jpg\nb.jpg\nc.jpg\n");
    EXPECT_EQ(list_.Entries(), (Names{"c.jpg"}));

    list_.Add("d.jpg");
    ASSERT_TRUE(list_.Save(status_));
    list_.Load(10);
    EXPECT_EQ(TempDir::ReadFile(Backup()), "c.jpg\nd.jpg\n");
}

TEST_F(HistoryListTest, CrlfLinesAreReadWithoutTheirLineEnds) {
    WriteHist("Sunset.JPG\r\nbeach_01.jpg\r\n");
    list_.Load(20000);
    EXPECT_EQ(list_.Entries(), (Names{"sunset.jpg", "beach_01.jpg"}));
}

TEST_F(HistoryListTest, EmptyLinesAreNotEntries) {
    WriteHist("a.jpg\n\n\r\nb.jpg\n");
    list_.Load(2);
    EXPECT_EQ(list_.Entries(), (Names{"a.jpg", "b.jpg"}));
}

TEST_F(HistoryListTest, MissingFileGivesAnEmptyListAndTheFirstSaveCreatesIt) {
    list_.Load(20000);
    EXPECT_TRUE(list_.Entries().empty());
    EXPECT_FALSE(TempDir::Exists(Backup()));
    list_.Add("Picture.JPG");
    ASSERT_TRUE(list_.Save(status_));
    EXPECT_EQ(TempDir::ReadFile(HistFile()), "picture.jpg\n");
}

TEST_F(HistoryListTest, MaxHistZeroEmptiesTheListAndTheNextSaveWritesAnEmptyFile) {
    WriteHist("a.jpg\nb.jpg\n");
    list_.Load(0);
    EXPECT_TRUE(list_.Entries().empty());
    ASSERT_TRUE(list_.Save(status_));
    EXPECT_EQ(TempDir::ReadFile(HistFile()), "");
}

TEST_F(HistoryListTest, EntriesOfThreeCharactersStayInMemoryButAreNotSaved) {
    list_.Add("a.j");
    list_.Add("ab.j");
    EXPECT_EQ(list_.Entries(), (Names{"a.j", "ab.j"}));
    ASSERT_TRUE(list_.Save(status_));
    EXPECT_EQ(TempDir::ReadFile(HistFile()), "ab.j\n");
    list_.Load(20000);
    EXPECT_EQ(list_.Entries(), (Names{"ab.j"}));
}

TEST_F(HistoryListTest, FailedSaveReportsAndKeepsTheList) {
    // A directory below a regular file can never be written, not even by root.
    TempDir::WriteFile(dir_ / "plainfile", "x");
    HistoryList unwritable(dir_ / "plainfile");
    unwritable.Add("kept.jpg");
    EXPECT_FALSE(unwritable.Save(status_));
    EXPECT_EQ(status_.Values("status"), (Names{"Unable to open HistList"}));
    EXPECT_EQ(unwritable.Entries(), (Names{"kept.jpg"}));
}

TEST_F(HistoryListTest, GenerationChangesWithEveryChange) {
    HistoryList other(dir_.path());
    EXPECT_NE(list_.Generation(), other.Generation());
    const auto before = list_.Generation();
    list_.Add("x.jpg");
    const auto added = list_.Generation();
    EXPECT_NE(before, added);
    list_.Clear();
    EXPECT_NE(added, list_.Generation());
    EXPECT_TRUE(list_.Entries().empty());
}

TEST(HistoryHitLogTest, AppendsLowercasedLinesKeepingTheFile) {
    TempDir dir;
    TempDir::WriteFile(dir / "HistLog.txt", "old line\n");
    HistoryHitLog log(dir.path());
    log.Log("Sunset.jpg", "Re: Sunset.JPG");
    log.Log("b.gif", "b.gif (1/1)");
    EXPECT_EQ(TempDir::ReadFile(dir / "HistLog.txt"),
              "old line\nsunset.jpg -- re: sunset.jpg\nb.gif -- b.gif (1/1)\n");
}

TEST(HistoryHitLogTest, UnopenableLogIsSilentlySkipped) {
    TempDir dir;
    TempDir::WriteFile(dir / "plainfile", "x");
    HistoryHitLog log(dir / "plainfile");
    log.Log("a.jpg", "a.jpg");
    EXPECT_EQ(TempDir::ReadFile(dir / "plainfile"), "x");
}

}  // namespace
}  // namespace qm
