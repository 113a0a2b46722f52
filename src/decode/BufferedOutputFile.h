#pragma once
// An output file written through a large memory buffer with raw POSIX calls, so that decoders can
// hand it a few bytes at a time and the disk still sees big write(2) calls.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qm {

class BufferedOutputFile {
public:
    static constexpr std::size_t kBufferSize = std::size_t{256} << 10;

    BufferedOutputFile() = default;
    ~BufferedOutputFile();  // flushes and closes; errors are lost, so call Close() first
    BufferedOutputFile(const BufferedOutputFile&) = delete;
    BufferedOutputFile& operator=(const BufferedOutputFile&) = delete;

    // Creates or truncates the file (mode 0644), closing any file open before. False on failure.
    bool Open(const std::string& path);
    // Opens the file (creating it when missing) to write from offset on, leaving the bytes before
    // and after what is written as they are: one piece of a file assembled from parts.
    bool OpenAt(const std::string& path, std::uint64_t offset);
    bool IsOpen() const { return fd_ >= 0; }

    // Room for at least `count` bytes (count <= kBufferSize), flushing first when the buffer is
    // too full. Null when no file is open or that flush failed; a failed file stays unusable.
    unsigned char* Reserve(std::size_t count);
    // Keeps `count` bytes written at the pointer given by the last Reserve().
    void Commit(std::size_t count) { used_ += count; }

    // Writes every buffered byte to the file. False on a write failure.
    bool Flush();
    // Flushes and closes the file. False when the flush or close(2) failed. No-op when not open.
    bool Close();

    // Shown every block of bytes, in file order, just before it is written: a checksum over the
    // file costs one pass over large blocks instead of one call per decoded line.
    using BlockObserver = void (*)(void* context, const unsigned char* data, std::size_t size);
    void ObserveBlocks(BlockObserver observer, void* context) {
        observer_ = observer;
        observerContext_ = context;
    }

    // True once any open, write or close has failed; LastErrno() then tells why.
    bool Failed() const { return failed_; }
    int LastErrno() const { return lastErrno_; }

private:
    bool Fail(int err);
    bool OpenFile(const std::string& path);
    bool Abandon(int err);  // closes a file just opened that could not be readied

    int fd_ = -1;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
    int lastErrno_ = 0;
    BlockObserver observer_ = nullptr;
    void* observerContext_ = nullptr;
};

}  // namespace qm
