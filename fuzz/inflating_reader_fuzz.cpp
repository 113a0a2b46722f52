// The line socket reading a compressed connection. The first input byte chooses what the rest is:
// a raw deflate stream as a server might send it (bit 0 clear), or text that is deflated here in
// flushed pieces (bit 0 set; a second byte of 128 or more repeats it, so that lines beyond the
// cap occur).
// Properties: the lines handed out are exactly the complete lines the stream inflates to, in
// order, none longer than the cap; a line beyond the cap or data that does not inflate ends the
// connection instead.

#include <zlib.h>

#include <algorithm>

#include "FuzzSupport.h"
#include "net/Socket.h"

using namespace qm;
using namespace qm::fuzz;

namespace {

// Just beyond the line cap: longer texts find nothing new and only slow the fuzzer down.
constexpr size_t kMaxPlain = CLineSocket::kMaxLineLength + 2 * CLineSocket::kReceiveChunk;
constexpr size_t kReferenceLimit = size_t{8} << 20;

struct Reference {
    std::string text;     // what the stream inflates to
    bool broken = false;  // the stream does not inflate (whole)
};

// zlib in one go, as the reference the socket's slices must agree with.
Reference InflateAll(std::string_view stream) {
    Reference ref;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) std::abort();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    char chunk[65536];
    int rc = Z_OK;
    while (rc == Z_OK && ref.text.size() < kReferenceLimit) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_SYNC_FLUSH);
        ref.text.append(chunk, sizeof chunk - z.avail_out);
        if (rc == Z_BUF_ERROR && z.avail_in == 0) rc = Z_STREAM_END;  // all of it taken
    }
    // Bytes after the stream's end are no part of it either.
    ref.broken = rc != Z_STREAM_END || z.avail_in != 0;
    inflateEnd(&z);
    return ref;
}

std::string DeflateInPieces(std::string_view text, size_t piece) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::abort();
    std::string out;
    char chunk[65536];
    for (size_t at = 0; at < text.size(); at += piece) {
        const std::string_view part = text.substr(at, piece);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data()));
        z.avail_in = static_cast<uInt>(part.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(chunk);
            z.avail_out = sizeof chunk;
            deflate(&z, Z_SYNC_FLUSH);
            out.append(chunk, sizeof chunk - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    std::string stream;
    Reference ref;
    if ((data[0] & 1) != 0) {
        const std::string_view text = AsText(data + 3, size - 3);
        const size_t repeats = data[1] < 128 ? 1 : static_cast<size_t>(data[1] - 127) * 128;
        for (size_t i = 0; i < repeats && ref.text.size() + text.size() <= kMaxPlain; ++i)
            ref.text += text;
        stream = DeflateInPieces(ref.text, 1 + size_t{data[2]} * 16);
    } else {
        stream.assign(AsText(data + 1, size - 1));
        ref = InflateAll(stream);
    }

    ScriptedPeer server(stream);
    CLineSocket socket;
    if (!socket.Adopt(server.EngineEnd()) || !socket.StartCompression()) std::abort();
    std::string handedOut, line;
    while (socket.ReadLine(line)) {
        FUZZ_CHECK(line.ends_with('\n') && line.size() <= CLineSocket::kMaxLineLength);
        FUZZ_CHECK(line.find('\n') == line.size() - 1);
        handedOut += line;
        FUZZ_CHECK(handedOut.size() <= ref.text.size());
    }
    socket.Disconnect();
    server.Received();

    // Whole lines of the inflated text, in order, and nothing else.
    FUZZ_CHECK(ref.text.compare(0, handedOut.size(), handedOut) == 0);
    const std::string_view rest = std::string_view(ref.text).substr(handedOut.size());
    const size_t nextEnd = rest.find('\n');
    const size_t nextLength = nextEnd == std::string_view::npos ? rest.size() : nextEnd + 1;
    if (!ref.broken && ref.text.size() < kReferenceLimit) {
        // Reading stopped only at the end of the text or at a line beyond the cap.
        FUZZ_CHECK(nextEnd == std::string_view::npos || nextLength > CLineSocket::kMaxLineLength);
    }
    return 0;
}
