#pragma once
// The plain files the setup sheet empties beside the profile: the history file it can clear and
// the download log. Paths without a directory are relative to the current directory, as the
// engine opens them.

#include <string>

#include "settings/DataFiles.h"

namespace qm {

// Makes the history file exist and be empty, and the content index with it: what the history
// forgets by name it forgets by content too. False with errno when either cannot be written.
bool ClearHistoryFile(const std::string& path = kHistoryFile,
                      const std::string& contentIndexPath = kContentIndexFile);

// Empties an existing file in place (a viewer that follows the log keeps following it); a missing
// file is already empty. False with errno on any other failure.
bool EmptyFile(const std::string& path);

}  // namespace qm
