#include "support/RawDeflate.h"

#include <zlib.h>

#include <algorithm>

namespace qm::test {
namespace {

constexpr int kRawWindowBits = -15;

// Runs one zlib call over all of data until it leaves output room unused.
template <typename Step>
bool Drain(z_stream& z, std::string_view data, std::string& out, Step step) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    char chunk[16384];
    do {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        const int rc = step(z);
        if (rc != Z_OK && rc != Z_BUF_ERROR && rc != Z_STREAM_END) return false;
        out.append(chunk, sizeof chunk - z.avail_out);
        if (rc == Z_STREAM_END) return true;
    } while (z.avail_out == 0 || z.avail_in > 0);
    return true;
}

}  // namespace

struct RawDeflate::Streams {
    z_stream out{};
    z_stream in{};
    Streams() {
        deflateInit2(&out, Z_BEST_SPEED, Z_DEFLATED, kRawWindowBits, 8, Z_DEFAULT_STRATEGY);
        inflateInit2(&in, kRawWindowBits);
    }
    ~Streams() {
        deflateEnd(&out);
        inflateEnd(&in);
    }
};

RawDeflate::RawDeflate() : streams_(std::make_unique<Streams>()) {}

RawDeflate::~RawDeflate() = default;

std::string RawDeflate::Compress(std::string_view data) {
    std::string out;
    Drain(streams_->out, data, out, [](z_stream& z) { return deflate(&z, Z_SYNC_FLUSH); });
    return out;
}

bool RawDeflate::Inflate(std::string_view data, std::string& out) {
    return Drain(streams_->in, data, out, [](z_stream& z) { return inflate(&z, Z_SYNC_FLUSH); });
}

std::string RawDeflate::Bomb(size_t count, char fill) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, kRawWindowBits, 9, Z_DEFAULT_STRATEGY);
    const std::string block(size_t{1} << 20, fill);
    std::string out;
    for (size_t left = count; left > 0;) {
        const size_t take = std::min(left, block.size());
        left -= take;
        Drain(z, std::string_view(block).substr(0, take), out,
              [&](z_stream& s) { return deflate(&s, left == 0 ? Z_FINISH : Z_NO_FLUSH); });
    }
    deflateEnd(&z);
    return out;
}

}  // namespace qm::test
