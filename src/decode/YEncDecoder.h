#pragma once
// Turns the yEnc attachment among the lines of one article into one output file and checks it
// against the size and CRC32 its trailer announces. Retrieval creates one decoder per article and
// feeds it every line, headers included, with leading dots already unstuffed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "decode/BufferedOutputFile.h"

namespace qm {

// CRC-32 as zip, PNG and yEnc use it (reflected polynomial 0xEDB88320); crc is the value so far,
// 0 for the start.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

enum class YEncVerdict {
    kOk,            // whole: the size and the CRC32 agree with the trailer
    kNoBegin,       // no "=ybegin" line with a name: nothing was written
    kMultiPart,     // one part of a larger file: decoding stopped at its "=ypart" line
    kTruncated,     // the "=yend" line never came
    kSizeMismatch,  // the decoded size differs from the one announced (or none was announced)
    kCrcMismatch,   // the CRC32 of the decoded bytes differs from the trailer's
    kWriteError,    // the file could not be created, written or closed: see LastErrno()
    kForeignPart,   // asked for a part: the body is no part, or one that does not fit its post
};

// Text for a status line: "CRC32 mismatch", "size mismatch", ...
const char* YEncVerdictText(YEncVerdict verdict);

// The fields of a "=ybegin" line. name is the rest of the line after "name=", without line end.
struct YEncBegin {
    std::optional<std::uint64_t> size;
    std::optional<std::uint64_t> part;
    std::optional<std::uint64_t> total;
    std::string name;
};

// What the "=ybegin", "=ypart" and "=yend" lines of one part of a multi-part file say.
struct YEncPartInfo {
    std::uint64_t part = 0;
    std::uint64_t total = 0;
    std::uint64_t size = 0;   // of the whole file
    std::uint64_t begin = 0;  // the part's bytes in the file, counted from 1, end included
    std::uint64_t end = 0;
    std::string name;
    std::optional<std::uint32_t> fileCrc;  // the trailer's crc32= of the whole file, if given
    std::uint32_t crc = 0;                 // of the part's bytes, once decoded
};

class CYEncDecoder {
public:
    // outputPath is the file to write; the name on the "=ybegin" line is never used as a path.
    explicit CYEncDecoder(std::string outputPath);
    // Decodes one part of a multi-part file into outputPath at the part's own place, leaving the
    // rest of the file as it is. admit sees the part's lines before anything is written and may
    // refuse it (a part that does not fit its post): the verdict is then kForeignPart. The part
    // is checked against its own size and pcrc32.
    using PartAdmission = std::function<bool(const YEncPartInfo&)>;
    CYEncDecoder(std::string outputPath, PartAdmission admit);
    CYEncDecoder(const CYEncDecoder&) = delete;
    CYEncDecoder& operator=(const CYEncDecoder&) = delete;
    ~CYEncDecoder() = default;

    // Takes one line of the article, line end included. Lines before the "=ybegin" line and after
    // the "=yend" line are ignored, and so is a second attachment.
    void DecodeLine(std::string_view line);

    // Ends the article: writes out what is buffered, closes the file and gives the verdict. The
    // file keeps what was decoded whatever the verdict; the caller removes it when not kOk.
    YEncVerdict Close();

    int LastErrno() const { return file_.LastErrno(); }
    std::uint64_t DecodedSize() const { return decoded_; }
    // For a part: what its lines said (complete once the verdict is kOk).
    const YEncPartInfo& PartInfo() const { return partInfo_; }

    // The fields of a "=ybegin" line; nothing when the line is not one or names no file.
    static std::optional<YEncBegin> ParseBegin(std::string_view line);

private:
    enum class State { kWaiting, kHeader, kData, kEnded, kFinished };

    void Begin(std::string_view line);
    void Part(std::string_view line);
    void End(std::string_view line);
    void Data(std::string_view line);
    void Fail(YEncVerdict verdict);
    void BeginPart(const YEncBegin& begin);
    void PlacePart(std::string_view line);
    void EndPart(std::string_view line);

    std::string path_;
    BufferedOutputFile file_;
    State state_ = State::kWaiting;
    YEncVerdict verdict_ = YEncVerdict::kNoBegin;
    std::optional<std::uint64_t> announcedSize_;
    std::uint64_t decoded_ = 0;
    std::uint32_t crc_ = 0;  // of the bytes written out so far
    // The trailer's crc32= and pcrc32=, checked once the last bytes are written out.
    std::optional<std::uint32_t> announcedCrc_[2];
    PartAdmission admit_;  // set: a part is expected
    YEncPartInfo partInfo_;
};

}  // namespace qm
