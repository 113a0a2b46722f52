#include "decode/PartialPicture.h"

#include "decode/SafeFileName.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string_view>

namespace qm {
namespace {

constexpr std::string_view kPrefix = ".qm-partial-";
// Names tried before giving up: more stale files than this are no accident.
constexpr int kCreateAttempts = 1000;

// Moves from to to unless to exists. renameat2 does it in one step; file systems without it get
// link and unlink, which also never replace a file.
bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

// A temporary path in dir that no other picture in progress uses.
std::string PartialPicturePath(const std::string& dir) {
    static std::atomic<unsigned long> counter{0};
    return dir + std::string(kPrefix) + std::to_string(::getpid()) + "-" +
           std::to_string(++counter);
}

// Skips a run of at least one decimal digit.
bool SkipDigits(const std::string& text, size_t& pos) {
    const size_t start = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos;
    return pos > start;
}

}  // namespace

std::string CreatePartialPicture(const std::string& dir,
                                 const std::function<bool(const std::string&)>& announce) {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string path = PartialPicturePath(dir);
        if (announce && !announce(path)) return "";
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) return "";
    }
    errno = EEXIST;
    return "";
}

bool IsPartialPictureName(const std::string& name) {
    if (!IsReservedName(name)) return false;
    size_t pos = kPrefix.size();
    if (!SkipDigits(name, pos) || pos == name.size() || name[pos] != '-') return false;
    ++pos;
    return SkipDigits(name, pos) && pos == name.size();
}

bool IsReservedName(const std::string& name) {
    return name.starts_with(kPrefix);
}

bool SplitPartialPicturePath(const std::string& path, std::string& dir, std::string& name) {
    const size_t at = path.rfind(kPrefix);
    if (at == std::string::npos || !IsPartialPictureName(path.substr(at))) return false;
    dir = path.substr(0, at);
    name = path.substr(at);
    return true;
}

std::string CommitPartialPicture(const std::string& partialPath, const std::string& dir,
                                 const std::string& name) {
    return TryFreeNames(name, [&](const std::string& candidate) {
        return MoveWithoutReplacing(partialPath, dir + candidate);
    });
}

int ProbeWritable(const std::string& dir) {
    const std::string path = CreatePartialPicture(dir);
    if (path.empty()) return errno;
    ::unlink(path.c_str());
    return 0;
}

}  // namespace qm
