#pragma once
// Turns the first uuencoded attachment among the lines of one article into one output file.
// Retrieval creates one decoder per article and feeds it every line, headers included.

#include <string>
#include <string_view>

#include "decode/BufferedOutputFile.h"

namespace qm {

class CUUDecoder {
public:
    enum State {
        kWaitingForBegin = 0,  // ignoring lines up to the first begin line
        kDecoding = 1,         // writing the bytes of data lines
        kExpectingEnd = 2,     // the zero-count line closed the file
        kFinished = 3,         // done or failed; every further line is ignored
    };

    // outputPath is the file to write; the name on the begin line is never used as a path.
    explicit CUUDecoder(std::string outputPath);
    // Closes an open file keeping what was decoded; a failure is lost here, so call Close().
    ~CUUDecoder() = default;
    CUUDecoder(const CUUDecoder&) = delete;
    CUUDecoder& operator=(const CUUDecoder&) = delete;

    // Takes one line of the article, line end included. Results by the state the line met:
    //   waiting:   0 (not a begin line, or the file was created), 1 (the file cannot be created);
    //   decoding:  0 (data decoded, or the zero-count line closed the file),
    //              1 (line shorter than its count, write failure or close failure);
    //   expecting end: 2 when the line is exactly "end", else 1;
    //   finished:  2.
    int DecodeLine(std::string_view line);

    // Ends the article: writes out every byte still buffered and closes the file. Returns false
    // when the error flag is set, now or earlier. Decoded bytes are buffered and written in large
    // blocks, so a write failure can surface on a later line than the one whose bytes it lost, at
    // the zero-count line, or only here: retrieval must call Close() before judging the result.
    bool Close();

    // Set when the output file cannot be created or a write or close of it failed. A data line
    // shorter than its count stops decoding without setting it.
    bool ErrorFlag() const { return error_; }
    // errno of the failure behind the error flag (IsDiskFullError tells a full disk).
    int LastErrno() const { return file_.LastErrno(); }
    State CurrentState() const { return state_; }
    // The zero-count line that ends the data has come: the file is whole (an article cut short,
    // or one of the first parts of a multi-part post, ends before it).
    bool WholeFile() const { return wholeFile_; }

    // True for uuencode's own begin line: "begin", a space, an octal mode of three or four digits,
    // a space, and a name of at least one character before the line end.
    static bool IsBeginLine(std::string_view line);

private:
    int StartFile(std::string_view line);
    int DecodeData(std::string_view line);
    int StopAtShortLine();
    int CloseFile(State onSuccess);
    int FailWrite();

    std::string path_;
    BufferedOutputFile file_;
    State state_ = kWaitingForBegin;
    bool error_ = false;
    bool wholeFile_ = false;
};

}  // namespace qm
