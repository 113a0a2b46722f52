// The replay of a killed run's journal: pictures decoded in full get their names, partial ones go,
// and read marks come back unless the user has changed the profile since.

#include <gtest/gtest.h>

#include "engine/RecoveryJournal.h"
#include "settings/ProfileStore.h"
#include "support/TempDir.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

using test::TempDir;

// A run killed after it decoded p1 in full (named pic.jpg, history "pic.jpg", article 5), moved
// the mark to 6 and began writing p2.
void KilledRun(ProfileStore& profile, const std::string& dl) {
    TempDir::WriteFile(dl + ".qm-partial-1-1", "whole picture");
    TempDir::WriteFile(dl + ".qm-partial-1-2", "half a pic");
    TempDir::WriteFile(dl + "pic.jpg", "an older picture");
    RecoveryJournal journal;
    ASSERT_TRUE(journal.Reset(profile.DiskIdentity()));
    journal.NotePartial(dl + ".qm-partial-1-1");
    journal.NoteSaved({"h", "alt.a", 5, dl + ".qm-partial-1-1", dl, "pic.jpg", "pic.jpg"});
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
    EXPECT_EQ(RecoverInterruptedRun(RecoveryJournal::kFileName, profile, "HistList"), 1);
    EXPECT_EQ(TempDir::ReadFile(dl + "pic(1).jpg"), "whole picture");
    EXPECT_EQ(TempDir::ReadFile(dl + "pic.jpg"), "an older picture");
    EXPECT_FALSE(TempDir::Exists(dl + ".qm-partial-1-2"));
    EXPECT_EQ(TempDir::ReadFile("HistList"), "pic.jpg\n");
    EXPECT_EQ(ProfileStore(dir / "p.ini").GetInt("h", "alt.a", 0), 6);
    EXPECT_FALSE(TempDir::Exists(RecoveryJournal::kFileName));
    // Replaying again changes nothing.
    EXPECT_EQ(RecoverInterruptedRun(RecoveryJournal::kFileName, profile, "HistList"), 0);

    // The user marked the group unread after the crash: the replay must not undo that.
    std::remove((dl + "pic(1).jpg").c_str());
    KilledRun(profile, dl);
    ::usleep(10 * 1000);
    ASSERT_TRUE(profile.WriteInt("h", "alt.a", 0));
    EXPECT_EQ(RecoverInterruptedRun(RecoveryJournal::kFileName, profile, "HistList"), 1);
    EXPECT_EQ(profile.GetInt("h", "alt.a", -1), 0);
    EXPECT_EQ(TempDir::ReadFile("HistList"), "pic.jpg\n");  // already there: not added twice
}

}  // namespace
}  // namespace qm
