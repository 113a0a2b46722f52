#pragma once
// DeflateStream: the pair of raw deflate streams (zlib, no header or trailer) of a compressed
// connection. Commands are compressed and flushed whole; received bytes are inflated one slice at
// a time into the caller's buffer, so a small input that inflates hugely never lands in memory.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class DeflateStream {
public:
    enum class Inflated {
        Some,       // got > 0 bytes were written
        NeedInput,  // everything received so far is inflated
        Error,      // the input is not a deflate stream (or goes on after its end)
    };

    // Null when zlib cannot set the streams up.
    static std::unique_ptr<DeflateStream> Create();
    ~DeflateStream();
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    // Appends data, compressed and flushed so that the peer can inflate all of it at once, to
    // out. False when zlib fails.
    bool Compress(std::string_view data, std::string& out);

    // Received bytes, to be inflated next. Only when the last Inflate answered NeedInput (or
    // before the first): what was fed before is inflated by then.
    void Feed(const char* data, size_t size);
    // The same without a copy: up to size bytes are written at InputSpace(size), then Received()
    // says how many came.
    char* InputSpace(size_t size);
    void Received(size_t size);

    // Inflates what was fed into out[0, room), at most room bytes, and stops there: the rest
    // waits for the next call.
    Inflated Inflate(char* out, size_t room, size_t& got);

private:
    struct Streams;
    explicit DeflateStream(std::unique_ptr<Streams> streams);

    std::unique_ptr<Streams> streams_;
    std::vector<char> input_;
    bool ended_ = false;  // the peer's stream has ended: nothing may follow
};

}  // namespace qm
