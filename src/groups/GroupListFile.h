#pragma once
// The list files of a news server's groups: "Groups." + host holds the active groups in the
// order the engine walks them, one name a line.

#include <optional>
#include <string>
#include <vector>

namespace qm {

std::string ActiveGroupFileName(const std::string& host);

// Every line of the file without its line end and without blanks or CRs at either end, or nullopt
// when it cannot be opened.
std::optional<std::vector<std::string>> ReadGroupListFile(const std::string& path);

}  // namespace qm
