#include "net/DeflateStream.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace qm {
namespace {

// Raw deflate: a negative window size leaves out the zlib header and checksum.
constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;
constexpr size_t kCompressSlice = 4096;

}  // namespace

struct DeflateStream::Streams {
    z_stream deflater{};
    z_stream inflater{};
    bool deflaterReady = false;
    bool inflaterReady = false;

    ~Streams() {
        if (deflaterReady) deflateEnd(&deflater);
        if (inflaterReady) inflateEnd(&inflater);
    }
};

std::unique_ptr<DeflateStream> DeflateStream::Create() {
    auto streams = std::make_unique<Streams>();
    streams->deflaterReady = deflateInit2(&streams->deflater, Z_DEFAULT_COMPRESSION, Z_DEFLATED,
                                          kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) == Z_OK;
    streams->inflaterReady = inflateInit2(&streams->inflater, kRawWindowBits) == Z_OK;
    if (!streams->deflaterReady || !streams->inflaterReady) return nullptr;
    return std::unique_ptr<DeflateStream>(new DeflateStream(std::move(streams)));
}

DeflateStream::DeflateStream(std::unique_ptr<Streams> streams) : streams_(std::move(streams)) {}

DeflateStream::~DeflateStream() = default;

bool DeflateStream::Compress(std::string_view data, std::string& out) {
    z_stream& z = streams_->deflater;
    // zlib counts in unsigned int; a command is far shorter, but a longer text goes in pieces.
    do {
        const size_t take = std::min<size_t>(data.size(), UINT_MAX);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = static_cast<uInt>(take);
        data.remove_prefix(take);
        const int flush = data.empty() ? Z_SYNC_FLUSH : Z_NO_FLUSH;
        do {  // until deflate leaves room unused: the input is taken (and flushed)
            const size_t at = out.size();
            out.resize(at + kCompressSlice);
            z.next_out = reinterpret_cast<Bytef*>(out.data() + at);
            z.avail_out = static_cast<uInt>(kCompressSlice);
            const int rc = deflate(&z, flush);
            out.resize(out.size() - z.avail_out);
            if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
        } while (z.avail_out == 0);
    } while (!data.empty());
    return true;
}

void DeflateStream::Feed(const char* data, size_t size) {
    std::copy_n(data, size, InputSpace(size));
    Received(size);
}

char* DeflateStream::InputSpace(size_t size) {
    input_.resize(size);
    return input_.data();
}

void DeflateStream::Received(size_t size) {
    z_stream& z = streams_->inflater;
    z.next_in = reinterpret_cast<Bytef*>(input_.data());
    z.avail_in = static_cast<uInt>(std::min({size, input_.size(), size_t{UINT_MAX}}));
}

DeflateStream::Inflated DeflateStream::Inflate(char* out, size_t room, size_t& got) {
    z_stream& z = streams_->inflater;
    got = 0;
    room = std::min<size_t>(room, UINT_MAX);
    while (got == 0) {
        if (z.avail_in == 0) return Inflated::NeedInput;
        if (ended_ || room == 0) return Inflated::Error;
        const uInt before = z.avail_in;
        z.next_out = reinterpret_cast<Bytef*>(out);
        z.avail_out = static_cast<uInt>(room);
        const int rc = inflate(&z, Z_SYNC_FLUSH);
        got = room - z.avail_out;
        if (rc == Z_STREAM_END) {
            ended_ = true;
        } else if (rc != Z_OK || (got == 0 && z.avail_in == before)) {
            return Inflated::Error;  // a corrupt stream, or one that would never move on
        }
    }
    return Inflated::Some;
}

}  // namespace qm
