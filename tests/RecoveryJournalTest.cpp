// The replay of a killed run's journal: pictures decoded in full get their names, partial ones go,
// and read marks come back unless the user has changed the profile since. A torn, corrupt or
// foreign journal acts on nothing but the run's own partial pictures and read marks.

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/PictureFingerprint.h"
#include "engine/RecoveryJournal.h"
#include "engine/RecoveryScope.h"
#include "settings/ProfileStore.h"
#include "support/EngineHarness.h"
#include "support/TempDir.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

using test::TempDir;

RecoveryResult Replay(ProfileStore& profile, const std::string& dl) {
    return RecoverInterruptedRun(kRunJournalFile, profile, "HistList", "ContentIndex",
                                 RecoveryScope(profile, "h", dl));
}

ContentIndex::Entry WholeContent(const std::string& name) {
    return ContentIndex::Entry::Of(FingerprintBytes("whole picture"), name);
}

// A run killed after it decoded p1 in full (named pic.jpg, history "pic.jpg", article 5, its
// content journaled), moved the mark to 6 and began writing p2.
void KilledRun(ProfileStore& profile, const std::string& dl) {
    TempDir::WriteFile(dl + ".qm-partial-1-1", "whole picture");
    TempDir::WriteFile(dl + ".qm-partial-1-2", "half a pic");
    TempDir::WriteFile(dl + "pic.jpg", "an older picture");
    RecoveryJournal journal;
    ASSERT_TRUE(journal.Reset(profile.DiskIdentity()));
    journal.NotePartial(dl + ".qm-partial-1-1");
    journal.NoteSaved({"h", "alt.a", 5, dl + ".qm-partial-1-1", dl, "pic.jpg", "pic.jpg",
                       WholeContent("pic.jpg")});
    journal.NoteMark("h", "alt.a", 6);
    journal.NotePartial(dl + ".qm-partial-1-2");
}

TEST(RecoveryJournal, ReplayFinishesWholePicturesRemovesPartialOnesAndRestoresMarks) {
    TempDir dir;
    dir.Enter();
    ProfileStore profile(dir / "p.ini");
    profile.WriteInt("h", "alt.a", 1);
    std::string dl = dir / "dl/";
    MakeDirectory(dl);
    KilledRun(profile, dl);
    RecoveryResult result = Replay(profile, dl);
    EXPECT_EQ(result.named, 1);
    EXPECT_EQ(result.skipped, 0);  // a journal of this run names only what is its own
    EXPECT_EQ(TempDir::ReadFile(dl + "pic(1).jpg"), "whole picture");
    EXPECT_EQ(TempDir::ReadFile(dl + "pic.jpg"), "an older picture");
    EXPECT_FALSE(TempDir::Exists(dl + ".qm-partial-1-2"));
    EXPECT_EQ(TempDir::ReadFile("HistList"), "pic.jpg\n");
    // The content index knows the picture by the name it was given.
    EXPECT_EQ(TempDir::ReadFile("ContentIndex"), ContentIndex::Line(WholeContent("pic(1).jpg")));
    EXPECT_EQ(ProfileStore(dir / "p.ini").GetInt("h", "alt.a", 0), 6);
    EXPECT_FALSE(TempDir::Exists(kRunJournalFile));
    // Replaying again changes nothing.
    EXPECT_EQ(Replay(profile, dl).named, 0);

    // The user marked the group unread after the crash: the replay must not undo that.
    std::remove((dl + "pic(1).jpg").c_str());
    KilledRun(profile, dl);
    ::usleep(10 * 1000);
    ASSERT_TRUE(profile.WriteInt("h", "alt.a", 0));
    EXPECT_EQ(Replay(profile, dl).named, 1);
    EXPECT_EQ(profile.GetInt("h", "alt.a", -1), 0);
    EXPECT_EQ(TempDir::ReadFile("HistList"), "pic.jpg\n");  // already there: not added twice
}

// Every file of the tree below root with its content, to see that a replay changed nothing.
std::string TreeText(const std::string& root) {
    std::string text;
    for (const char* name : {"dl/pic.jpg", "dl/.qm-partial-1-1", "dl/cars/.qm-partial-2-1",
                             "out/keep.jpg", "out/.qm-partial-1-1", "HistList"}) {
        text += std::string(name) + "=" +
                (TempDir::Exists(root + name) ? TempDir::ReadFile(root + name) : "-");
        text += "\n";
    }
    return text;
}

TEST(RecoveryJournal, AForeignJournalRemovesMovesAndSetsNothingOutsideTheRun) {
    TempDir dir;
    dir.Enter();
    const std::string root = dir.path() + "/", dl = root + "dl/", out = root + "out/";
    MakeDirectory(dl);
    MakeDirectory(dl + "cars");
    MakeDirectory(out);
    ProfileStore profile(root + "p.ini");
    profile.WriteString("Quarrymoth", "DownloadDirectory", dl);
    profile.WriteInt("h", "UseTLS", 1);
    profile.WriteInt("h", "alt.a", 3);
    TempDir::WriteFile(dl + "pic.jpg", "a saved picture");
    TempDir::WriteFile(dl + ".qm-partial-1-1", "whole picture");
    TempDir::WriteFile(dl + "cars/.qm-partial-2-1", "in a directory no group uses");
    TempDir::WriteFile(out + "keep.jpg", "the user's file");
    TempDir::WriteFile(out + ".qm-partial-1-1", "another program's file");
    const std::string ours = dl + ".qm-partial-1-1";
    const std::string journal =
        "P\t" + profile.DiskIdentity() + "\n" + "T\t" + dl + "pic.jpg\n" +  // a saved picture
        "T\t" + out + "keep.jpg\n" +                                        // outside
        "T\t" + out + ".qm-partial-1-1\n" +                                 // outside
        "T\t" + dl + "cars/.qm-partial-2-1\n" +                             // no group's
        "T\t" + dl + "../out/.qm-partial-1-1\n" +                           // climbs out
        "T\t" + dl + ".qm-partial-1-1x\n" +                                 // not our form
        "S\th\talt.a\t5\t" + out + ".qm-partial-1-1\t" + out +
        "\tin.jpg\tin.jpg\n" +  // would move a file in
        "S\th\talt.a\t5\t" + ours + "\t" + dl + "\t../up.jpg\t../up.jpg\n" + "S\th\talt.a\t5\t" +
        ours + "\t../\tup.jpg\tup.jpg\n" + "S\th\talt.a\t5\t" + ours + "\t" + dl + "\t..\t\n" +
        "S\th\talt.a\t5\t" + ours + "\t" + dl + "\t.qm-partial-9-9\t\n" + "S\th\talt.a\t5\t" +
        ours + "\t" + dl + "\tx.jpg\tother\n" +
        "M\tQuarrymoth\tDownloadDirectory\t0\n" +  // another section
        "M\th\tUseTLS\t0\n" +                      // a server setting
        "M\tother\talt.a\t9\n" +                   // another server
        "M\th\talt.a\t-1\n" + "M\th\talt.a\t7x\n" + "X\tgarbage\n" + "\n" +
        "M\th\talt.a\t7\n" +     // the one record of this run
        "T\t" + dl + "pic.jpg";  // torn: ignored, not counted
    const std::string before = TreeText(root);
    for (int replay = 1; replay <= 2; ++replay) {
        TempDir::WriteFile(kRunJournalFile, journal);
        RecoveryResult result = Replay(profile, dl);
        EXPECT_EQ(result.named, 0) << replay;
        EXPECT_EQ(result.skipped, 19) << replay;
        EXPECT_EQ(TreeText(root), before) << replay;
        EXPECT_FALSE(TempDir::Exists(root + "up.jpg"));
        EXPECT_FALSE(TempDir::Exists(dl + "in.jpg"));
        EXPECT_FALSE(TempDir::Exists(dl + "x.jpg"));
        EXPECT_FALSE(TempDir::Exists(kRunJournalFile));
        ProfileStore reloaded(root + "p.ini");
        EXPECT_EQ(reloaded.GetString("Quarrymoth", "DownloadDirectory", ""), dl);
        EXPECT_EQ(reloaded.GetInt("h", "UseTLS", 0), 1);
        EXPECT_EQ(reloaded.GetString("other", "alt.a", "none"), "none");
        EXPECT_EQ(reloaded.GetInt("h", "alt.a", 0), 7);
    }
}

TEST(RecoveryJournal, PartialPicturesGoFromTheGroupDirectoriesTheProfileConfigures) {
    TempDir dir;
    dir.Enter();
    const std::string dl = dir.path() + "/dl/";
    ProfileStore profile(dir / "p.ini");
    profile.WriteInt("DownloadDirs", "Enable", 1);
    profile.WriteString("DownloadDirs", "alt.cars", "cars");
    for (const char* sub : {"", "cars/", "boats/", "alt.boats/", "/"}) {
        MakeDirectories(dl + sub);
        TempDir::WriteFile(dl + sub + ".qm-partial-1-1", "partial");
    }
    auto replayAll = [&] {
        std::string journal = "P\t" + profile.DiskIdentity() + "\n";
        for (const char* sub : {"", "cars/", "boats/", "alt.boats/", "/"})
            journal += "T\t" + dl + sub + ".qm-partial-1-1\n";
        TempDir::WriteFile(kRunJournalFile, journal);
        return Replay(profile, dl).skipped;
    };
    // A group's sub-path, and the download directory and one more "/" for groups without one.
    EXPECT_EQ(replayAll(), 3);
    EXPECT_FALSE(TempDir::Exists(dl + "cars/.qm-partial-1-1"));
    EXPECT_FALSE(TempDir::Exists(dl + "/.qm-partial-1-1"));  // the same file as dl's own
    EXPECT_TRUE(TempDir::Exists(dl + "boats/.qm-partial-1-1"));
    EXPECT_TRUE(TempDir::Exists(dl + "alt.boats/.qm-partial-1-1"));

    // Each group in a directory of its name: any name a group may have.
    profile.WriteInt("DownloadDirs", "UseGroupName", 1);
    EXPECT_EQ(replayAll(), 2);  // the download directory, with or without one more "/"
    EXPECT_FALSE(TempDir::Exists(dl + "boats/.qm-partial-1-1"));
    EXPECT_FALSE(TempDir::Exists(dl + "alt.boats/.qm-partial-1-1"));
}

}  // namespace

namespace test {
namespace {

TEST(RecoveryJournal, AStartSaysOnceHowManyRecordsItSkipped) {
    EngineHarness h;
    h.SetGroups({"alt.pics"});
    TempDir::WriteFile(kRunJournalFile, "T\t/etc/passwd\nM\tQuarrymoth\tDownloadDirectory\t0\nT\t" +
                                            h.DownloadDir() + ".qm-partial-1-1\n");
    h.Run();
    const std::string text = "Recovery skipped 2 journal records that name nothing of this run";
    const std::vector<std::string> lines = h.status.Values("status");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), text), 1);
    EXPECT_EQ(h.FinalStatus(), "Operation complete");
}

}  // namespace
}  // namespace test
}  // namespace qm
