#pragma once
// The From exclude list, the one setting kept in a plain file: one entry a line, each ended by
// "\n". The setup sheet and the pending dialog rewrite it whole, the main window appends to it
// and the engine reads it at the start of every group; all of them through these functions, so
// they agree on blank lines and line ends.

#include <string>
#include <vector>

#include "settings/DataFiles.h"

namespace qm {

// The entries in file order, as stored (a "\r" before the line end is not part of an entry).
// Empty lines are no entries and are left out; a missing file is an empty list.
std::vector<std::string> ReadFromExcludes(const std::string& path = kFromExcludesFile);

// Whether text can be a From exclude: one that is empty or only blanks would match (nearly)
// every sender and reject every article.
bool UsableFromExclude(const std::string& text);

// Replaces the file with the entries, one line each. The file is replaced whole (a temporary
// file renamed over it), so the engine or a crash never meets half a list. Line ends inside an
// entry are removed and empty entries left out. False with errno.
bool WriteFromExcludes(const std::vector<std::string>& entries,
                       const std::string& path = kFromExcludesFile);

// Appends one entry as a line, creating the file when needed; a last line without its line end
// is ended first. Line ends inside the entry are removed; an empty or blank entry adds nothing.
// False with errno.
bool AppendFromExclude(const std::string& entry, const std::string& path = kFromExcludesFile);

}  // namespace qm
