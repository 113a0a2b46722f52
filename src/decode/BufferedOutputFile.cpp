#include "decode/BufferedOutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qm {

BufferedOutputFile::~BufferedOutputFile() {
    Close();
}

bool BufferedOutputFile::Open(const std::string& path) {
    if (!OpenFile(path)) return false;
    // Truncate only a file that holds something: ext4 flushes a truncated file when it is
    // closed, which would cost every freshly created (empty) picture a trip to the disk.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && (st.st_size == 0 || ::ftruncate(fd_, 0) == 0)) return true;
    return Abandon(errno);
}

bool BufferedOutputFile::OpenAt(const std::string& path, std::uint64_t offset) {
    if (!OpenFile(path)) return false;
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0) return true;
    return Abandon(errno);
}

// Opens path for writing, creating it when missing, and keeps its bytes.
bool BufferedOutputFile::OpenFile(const std::string& path) {
    Close();
    used_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return Fail(errno);
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<unsigned char[]>(kBufferSize);
    return true;
}

bool BufferedOutputFile::Abandon(int err) {
    ::close(fd_);
    fd_ = -1;
    return Fail(err);
}

unsigned char* BufferedOutputFile::Reserve(std::size_t count) {
    if (fd_ < 0) return nullptr;
    if (kBufferSize - used_ < count && !Flush()) return nullptr;
    return buffer_.get() + used_;
}

bool BufferedOutputFile::Flush() {
    if (fd_ < 0) return Fail(EBADF);
    const unsigned char* data = buffer_.get();
    std::size_t left = used_;
    if (observer_ != nullptr && left > 0) observer_(observerContext_, data, left);
    used_ = 0;  // whatever happens, these bytes are never offered again
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0 && errno == EINTR) continue;
        // A write that accepts nothing without an error would loop forever; count it as full.
        if (written <= 0) return Fail(written < 0 ? errno : ENOSPC);
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool BufferedOutputFile::Close() {
    if (fd_ < 0) return true;
    bool ok = Flush();
    // close(2) can report a write the kernel deferred (network and quota-limited file systems).
    if (::close(fd_) != 0 && errno != EINTR) ok = Fail(errno);
    fd_ = -1;
    return ok;
}

bool BufferedOutputFile::Fail(int err) {
    failed_ = true;
    lastErrno_ = err;
    return false;
}

}  // namespace qm
