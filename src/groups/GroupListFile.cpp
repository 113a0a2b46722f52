#include "groups/GroupListFile.h"

#include <fstream>

#include "util/TextFiles.h"

namespace qm {

std::optional<std::vector<std::string>> ReadGroupListFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    while (ReadTextLine(in, line)) {
        // A group name holds no blank: one left at either end would be a different read mark key.
        // A CR left by a line end of several would end up inside the GROUP command.
        size_t first = line.find_first_not_of(" \t\r");
        size_t last = line.find_last_not_of(" \t\r");
        lines.push_back(first == std::string::npos ? "" : line.substr(first, last - first + 1));
    }
    return lines;
}

std::vector<std::string> ReadListLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (in && ReadTextLine(in, line)) lines.push_back(line);
    return lines;
}

bool WriteListLines(const std::string& path, const std::vector<std::string>& lines) {
    if (path.empty()) return false;
    size_t size = 0;
    for (const std::string& line : lines) size += line.size() + 2;
    std::string content;
    content.reserve(size);
    for (const std::string& line : lines) {
        content += line;
        content += "\r\n";
    }
    return ReplaceFileAtomically(path, content);
}

}  // namespace qm
