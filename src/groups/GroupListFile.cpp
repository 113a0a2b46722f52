#include "groups/GroupListFile.h"

#include <fstream>

#include "settings/TextFiles.h"

namespace qm {

std::string ActiveGroupFileName(const std::string& host) {
    return "Groups." + host;
}

std::optional<std::vector<std::string>> ReadGroupListFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    while (ReadTextLine(in, line)) lines.push_back(line);
    return lines;
}

}  // namespace qm
