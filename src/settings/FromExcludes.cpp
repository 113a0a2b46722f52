#include "settings/FromExcludes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "util/TextFiles.h"

namespace qm {
namespace {

// One entry is one line: a line end inside would make an empty or a second entry.
std::string OneLine(const std::string& entry) {
    std::string line;
    for (char c : entry) {
        if (c != '\r' && c != '\n') line += c;
    }
    return line;
}

bool EndsWithLineEnd(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size == 0) return true;
    char last = '\n';
    return ::pread(fd, &last, 1, info.st_size - 1) != 1 || last == '\n';
}

}  // namespace

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
        std::string line = OneLine(entry);
        if (line.empty()) continue;
        content += line;
        content += '\n';
    }
    return ReplaceFileAtomically(path, content);
}

bool AppendFromExclude(const std::string& text, const std::string& path) {
    const std::string entry = OneLine(text);
    if (!UsableFromExclude(entry)) return true;
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string line = (EndsWithLineEnd(fd) ? "" : "\n") + entry + "\n";
    bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    int saved = errno;
    if (::close(fd) != 0 && ok) return false;
    errno = saved;
    return ok;
}

}  // namespace qm
