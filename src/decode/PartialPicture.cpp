#include "decode/PartialPicture.h"

#include "decode/SafeFileName.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace qm {
namespace {

constexpr const char* kPrefix = ".qm-partial-";

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

}  // namespace

std::string PartialPicturePath(const std::string& dir) {
    static std::atomic<unsigned long> counter{0};
    return dir + kPrefix + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

int CreatePartialPicture(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

bool IsPartialPictureName(const std::string& name) {
    return name.rfind(kPrefix, 0) == 0;
}

std::string CommitPartialPicture(const std::string& partialPath, const std::string& dir,
                                 const std::string& name) {
    return TryFreeNames(name, [&](const std::string& candidate) {
        return MoveWithoutReplacing(partialPath, dir + candidate);
    });
}

int ProbeWritable(const std::string& dir) {
    const std::string path = PartialPicturePath(dir);
    if (int err = CreatePartialPicture(path); err != 0) return err;
    ::unlink(path.c_str());
    return 0;
}

}  // namespace qm
