#include "engine/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "settings/DataFiles.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

std::string HolderOf(int fd) {
    char buf[32] = {};
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    long pid = n > 0 ? StrictLeadingNumber(std::string_view(buf, static_cast<size_t>(n))) : -1;
    return pid > 0 ? "(process " + std::to_string(pid) + ") " : "";
}

}  // namespace

RunLock::~RunLock() {
    Release();
}

bool RunLock::Acquire(const std::vector<std::string>& paths, std::string& error) {
    Release();
    for (const std::string& path : paths) {
        // Beside the file a link points to, so two links to one profile share one lock.
        const std::string lockPath = ResolvedFilePath(path) + kLockSuffix;
        int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = "Error--unable to lock " + lockPath + ": " + std::strerror(errno);
            Release();
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error = "Error--another run " + HolderOf(fd) + "is using " + path;
            ::close(fd);
            Release();
            return false;
        }
        std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
            // The lock holds without the note of who holds it.
        }
        fds_.push_back(fd);
    }
    return true;
}

void RunLock::Release() {
    for (int fd : fds_) ::close(fd);
    fds_.clear();
}

}  // namespace qm
