#include "app/FileActions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "util/TextFiles.h"

namespace qm {

bool ThumbnailWanted(const std::string& path) {
    if (path.empty()) return true;
    std::string lower = Lowercase(path);
    return lower.find(".jpg") != std::string::npos || lower.find(".jpeg") != std::string::npos;
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string PictureCaption(const std::string& path, int width, int height) {
    if (path.empty()) return "";
    return FileNameOf(path) + " (" + std::to_string(width) + " x " + std::to_string(height) + ")";
}

std::string PropertiesText(const std::string& path, const std::string& subject,
                           const std::string& from) {
    return "Filename:\t" + path + "\n\nSubject:\t" + subject + "\n\nFrom:\t" + from;
}

namespace {

// Whether the open file's last byte is a line end (an empty file counts as ended).
bool EndsWithLineEnd(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size == 0) return true;
    char last = '\n';
    return ::pread(fd, &last, 1, info.st_size - 1) != 1 || last == '\n';
}

}  // namespace

bool AppendFromExclude(const std::string& text) {
    // One entry is one line: a line end inside would make an empty or a second entry.
    std::string entry;
    for (char c : text) {
        if (c != '\r' && c != '\n') entry += c;
    }
    if (entry.empty()) return true;
    int fd = ::open("FromExcludes", O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string line = (EndsWithLineEnd(fd) ? "" : "\n") + entry + "\n";
    bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    int saved = errno;
    if (::close(fd) != 0 && ok) return false;
    errno = saved;
    return ok;
}

std::string FindSlideShowProgram() {
    for (const char* name : {"QMSlideShow", "QMSlideshow"}) {
        struct stat info {};
        if (::stat(name, &info) == 0 && S_ISREG(info.st_mode)) return name;
    }
    return "";
}

}  // namespace qm
