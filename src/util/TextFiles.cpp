#include "util/TextFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace qm {

std::string Lowercase(std::string_view text) {
    std::string out;
    LowercaseInto(text, out);
    return out;
}

void LowercaseInto(std::string_view text, std::string& out) {
    out.assign(text);
    for (char& c : out) c = AsciiLower(c);
}

namespace {

// Reads the leading digits into value; false when they do not fit.
bool ReadDigits(std::string_view text, long& value, bool& any) {
    value = 0;
    any = false;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        any = true;
        const int digit = c - '0';
        if (value > (LONG_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

}  // namespace

long LeadingNumber(std::string_view text) {
    long value = 0;
    bool any = false;
    return ReadDigits(text, value, any) ? value : LONG_MAX;
}

long StrictLeadingNumber(std::string_view text) {
    long value = 0;
    bool any = false;
    return ReadDigits(text, value, any) && any ? value : -1;
}

std::string_view WithoutLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (AsciiLower(text[i]) != prefix[i]) return false;
    }
    return true;
}

bool ReadTextLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool WriteWhole(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {  // nothing taken and no error: a full device that does not say so
            errno = ENOSPC;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string ResolvedFilePath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string target(real);
        std::free(real);
        return target;
    }
    // A dangling link: the file it names does not exist yet, so create that one.
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) return path;
    target.resize(static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (target[0] != '/' && slash != std::string::npos) target = path.substr(0, slash + 1) + target;
    return target;
}

bool ReplaceFileAtomically(const std::string& linkOrPath, std::string_view content, unsigned mode) {
    const std::string path = ResolvedFilePath(linkOrPath);
    std::string tmp = path + ".tmp" + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    ::fchmod(fd, mode);
    bool ok = WriteWhole(fd, content);
    int err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        errno = err;
    }
    return ok;
}

bool AppendToFile(const std::string& path, std::string_view text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = WriteWhole(fd, text);
    return ::close(fd) == 0 && ok;
}

bool IsDiskFullError(int err) {
    return err == ENOSPC || err == EDQUOT || err == EFBIG;
}

bool IsNameRefusedError(int err) {
    return err == ENAMETOOLONG || err == EILSEQ || err == EINVAL;
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && DirectoryExists(path));
}

bool MakeDirectories(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (!part.empty() && !DirectoryExists(part) && !MakeDirectory(part)) return false;
        }
    }
    return DirectoryExists(path);
}

std::string CurrentDirectory() {
    char buf[4096];
    if (!::getcwd(buf, sizeof buf)) return "./";
    return WithTrailingSlash(buf);
}

std::string WithTrailingSlash(const std::string& dir) {
    if (dir.empty() || dir.back() == '/') return dir;
    return dir + "/";
}

}  // namespace qm
