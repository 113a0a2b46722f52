#include "settings/SetupFiles.h"

#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "util/TextFiles.h"

namespace qm {

std::vector<std::string> ReadFromExcludes(const std::string& path) {
    std::vector<std::string> entries;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (in && ReadTextLine(in, line)) {
        if (!line.empty()) entries.push_back(line);
    }
    return entries;
}

bool UsableFromExclude(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") != std::string::npos;
}

bool WriteFromExcludes(const std::vector<std::string>& entries, const std::string& path) {
    std::string content;
    for (const std::string& entry : entries) {
        std::string line;
        for (char c : entry) {
            if (c != '\r' && c != '\n') line += c;
        }
        if (line.empty()) continue;
        content += line;
        content += '\n';
    }
    return ReplaceFileAtomically(path, content);
}

bool ClearHistoryFile(const std::string& path) {
    return ReplaceFileAtomically(path, "");
}

bool EmptyFile(const std::string& path) {
    if (::truncate(path.c_str(), 0) == 0) return true;
    return errno == ENOENT;
}

}  // namespace qm
