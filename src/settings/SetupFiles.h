#pragma once
// The plain files the setup sheet edits beside the profile: the From exclude list, the history
// file it can clear and the download log it can empty. Paths without a directory are relative to
// the current directory, as the engine opens them.

#include <string>
#include <vector>

namespace qm {

inline constexpr const char* kFromExcludesFile = "FromExcludes";
inline constexpr const char* kHistoryFileName = "HistList";

// The entries of the From exclude file in file order, as stored (the engine lowercases them when
// it reads). Empty lines are no entries and are left out; a missing file is an empty list.
std::vector<std::string> ReadFromExcludes(const std::string& path = kFromExcludesFile);

// Whether text can be a From exclude: one that is empty or only blanks would match (nearly)
// every sender and reject every article.
bool UsableFromExclude(const std::string& text);

// Replaces the file with the entries, one line each ending in "\n". The file is replaced whole
// (a temporary file renamed over it), so the engine or a crash never meets half a list. Line ends
// inside an entry are removed and empty entries left out. False with errno.
bool WriteFromExcludes(const std::vector<std::string>& entries,
                       const std::string& path = kFromExcludesFile);

// Makes the history file exist and be empty. False with errno when it cannot be written.
bool ClearHistoryFile(const std::string& path = kHistoryFileName);

// Empties an existing file in place (a viewer that follows the log keeps following it); a missing
// file is already empty. False with errno on any other failure.
bool EmptyFile(const std::string& path);

}  // namespace qm
