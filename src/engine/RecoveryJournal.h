#pragma once
// The run's journal: what a harvest has done since its read marks last reached the profile file,
// so that a run killed at any instant (a crash, kill -9, a power-off of the program) neither
// saves a picture twice nor skips one for good. The next run replays it before it starts.

#include <optional>
#include <string>
#include <vector>

#include "engine/ContentIndex.h"
#include "settings/DataFiles.h"

namespace qm {

class ProfileStore;

// What one finished article did: the picture's temporary file, the name it is to get, the
// history entry it adds ("" for none), the read mark it allows and what the content index learns
// of it (its name is the picture's).
struct SavedArticle {
    std::string host, group;
    long number = 0;
    std::string partialPath, directory, name, historyEntry;
    std::optional<ContentIndex::Entry> content;
};

class RecoveryJournal {
public:
    explicit RecoveryJournal(std::string path = kRunJournalFile) : path_(std::move(path)) {}
    ~RecoveryJournal();
    RecoveryJournal(const RecoveryJournal&) = delete;
    RecoveryJournal& operator=(const RecoveryJournal&) = delete;

    // Empties the journal: everything in it is in the profile file, which is as profileIdentity
    // describes it. False when the journal cannot be written.
    bool Reset(const std::string& profileIdentity);
    // A partial picture is about to be written at path.
    bool NotePartial(const std::string& path);
    // The article is complete; written before the picture gets its name.
    bool NoteSaved(const SavedArticle& article);
    // A read mark set without a picture (an article without one, a group's end).
    bool NoteMark(const std::string& host, const std::string& group, long number);
    // The run ended with everything on disk: the journal goes away.
    void Remove();

private:
    bool Append(const std::vector<std::string>& fields);

    std::string path_;
    int fd_ = -1;
};

class RecoveryScope;

// What a replay did: the pictures it named, and the records it skipped because they name nothing
// of this run.
struct RecoveryResult {
    int named = 0;
    int skipped = 0;
};

// Finishes what an interrupted run left in the journal at path: pictures written in full get
// their names, their history entries reach historyPath and their content contentIndexPath, read
// marks reach the profile (only while
// the profile is still as the run left it, so a later Mark Unread is never undone), partial
// pictures are removed, and the journal is deleted. Only records that name things within scope
// are acted on, so a torn, corrupt or foreign journal can neither remove, move nor overwrite
// anything else; the rest are counted as skipped.
RecoveryResult RecoverInterruptedRun(const std::string& path, ProfileStore& profile,
                                     const std::string& historyPath,
                                     const std::string& contentIndexPath,
                                     const RecoveryScope& scope);

}  // namespace qm
