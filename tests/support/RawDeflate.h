#pragma once
// RawDeflate: the server's side of a compressed connection for tests: raw deflate (no zlib
// header) out, each piece flushed so the client can read it at once, and inflate in.

#include <memory>
#include <string>
#include <string_view>

namespace qm::test {

class RawDeflate {
public:
    RawDeflate();
    ~RawDeflate();
    RawDeflate(const RawDeflate&) = delete;
    RawDeflate& operator=(const RawDeflate&) = delete;

    // data deflated and sync-flushed.
    std::string Compress(std::string_view data);
    // Appends what data inflates to; false when it is not part of a deflate stream.
    bool Inflate(std::string_view data, std::string& out);

    // A deflate stream (ended) of count bytes of fill: a few KB of input for megabytes of output.
    static std::string Bomb(size_t count, char fill);

private:
    struct Streams;
    std::unique_ptr<Streams> streams_;
};

}  // namespace qm::test
