#pragma once
// The list files of a news server's groups: "Groups." + host holds the active groups in the
// order the engine walks them, "AllGroups." + host the server's groups that passed the group
// filter, sorted. One name a line, each line ended by CR LF.

#include <optional>
#include <string>
#include <vector>

#include "settings/DataFiles.h"

namespace qm {

// Every line of the file without its line end and without blanks or CRs at either end, or nullopt
// when it cannot be opened.
std::optional<std::vector<std::string>> ReadGroupListFile(const std::string& path);

// Every line exactly as it stands, without its line end (CR LF or LF), empty lines included; an
// empty list when the file cannot be opened. What the group selection shows and writes back.
std::vector<std::string> ReadListLines(const std::string& path);

// Writes the lines, each ended by CR LF, replacing the file whole and atomically: a failed write
// leaves the previous file as it was. False when it could not be written.
bool WriteListLines(const std::string& path, const std::vector<std::string>& lines);

}  // namespace qm
