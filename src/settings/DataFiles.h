#pragma once
// The names of the program's own files in the data directory (the current directory of a run):
// declared here once, so the engine, the windows and the runner open the same files.

#include <string>

namespace qm {

inline constexpr const char* kFromExcludesFile = "FromExcludes";
inline constexpr const char* kHistoryFile = "HistList";
// The copy of the history taken before each load.
inline constexpr const char* kHistoryBackupFile = "~HistList";
inline constexpr const char* kHistoryHitLogFile = "HistLog.txt";
// The content of every saved picture (bytes and look), beside the history of names.
inline constexpr const char* kContentIndexFile = "ContentIndex";
inline constexpr const char* kRunJournalFile = "RunJournal";
// The folder of the parts of multi-part posts still waiting for the rest.
inline constexpr const char* kPartStoreDirectory = "MultiPart";
// Beside the saved pictures, not in the data directory.
inline constexpr const char* kDescriptionFile = "Descript.ion";
// What a lock file adds to the name of what it locks.
inline constexpr const char* kLockSuffix = ".lock";
// The companion slide-show program, under either spelling.
inline constexpr const char* kSlideShowPrograms[] = {"QMSlideShow", "QMSlideshow"};

// The server's active groups, one per line in the order they are walked.
inline std::string ActiveGroupFileName(const std::string& host) {
    return "Groups." + host;
}
// The server's whole group list.
inline std::string AllGroupFileName(const std::string& host) {
    return "AllGroups." + host;
}
// The saved group categories of the server.
inline std::string CategoryFileName(const std::string& host) {
    return "GroupCat." + host;
}

}  // namespace qm
