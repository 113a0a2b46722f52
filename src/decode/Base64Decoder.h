#pragma once
// Writes the bytes of base64 (MIME) text into a file, one text line per call, carrying an
// incomplete group of four characters from one call to the next.

#include <string>
#include <string_view>

#include "decode/BufferedOutputFile.h"

namespace qm {

// Value of a character in the MIME base64 alphabet: "A"-"Z" 0-25, "a"-"z" 26-51, "0"-"9" 52-61,
// "+" 62, "/" 63; "=" gives -1 and every other character -2.
int Base64Value(char c);

class CBase64Decoder {
public:
    CBase64Decoder() = default;
    // Closes an open file keeping what was decoded; a failure is lost here, so call Close().
    ~CBase64Decoder() = default;
    CBase64Decoder(const CBase64Decoder&) = delete;
    CBase64Decoder& operator=(const CBase64Decoder&) = delete;

    // Creates or truncates the output file. 0 on success, nonzero on failure.
    int OpenOutput(const std::string& path);

    // Decodes the text and queues the bytes for the file. Characters outside the alphabet are
    // skipped; a group of four completes across calls. A "=" in third or fourth place ends the
    // group and the call: the rest of the text is ignored and the next call starts a fresh group.
    // Returns the number of bytes produced, or -1 when no file is open or writing has failed.
    long DecodeAndWrite(std::string_view text);

    // Writes out every byte still buffered and closes the file. Returns false when the file could
    // not be created or any write or the close failed. Bytes are written in large blocks, so a
    // write failure may surface only here: the caller must check this result.
    bool Close();

    bool Failed() const { return file_.Failed(); }
    // errno of the failure (IsDiskFullError tells a full disk).
    int LastErrno() const { return file_.LastErrno(); }

private:
    struct Decoded {
        std::size_t bytes;
        bool padded;  // a "=" ended the call
    };
    Decoded DecodeSlice(const unsigned char* text, std::size_t size, unsigned char* out);
    bool EmitGroup(unsigned char*& out) const;

    BufferedOutputFile file_;
    unsigned char group_[4] = {};
    int groupCount_ = 0;
};

}  // namespace qm
