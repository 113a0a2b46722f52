#include "decode/YEncDecoder.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/NewsModel.h"
#include "support/RealEncoders.h"
#include "support/TempDir.h"

namespace qm {
namespace {

using test::YEncode;
using test::YEncPart;

// The lines as the engine stores them: each with CR LF, leading dots already unstuffed.
std::vector<std::string> StoredLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start) + "\r\n");
        start = end + 1;
    }
    return lines;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

class YEncDecoderTest : public ::testing::Test {
protected:
    YEncVerdict Decode(const std::string& text, const std::string& path) {
        CYEncDecoder decoder(path);
        for (const std::string& line : StoredLines(text)) decoder.DecodeLine(line);
        const YEncVerdict verdict = decoder.Close();
        lastErrno_ = decoder.LastErrno();
        return verdict;
    }
    YEncVerdict Decode(const std::string& text) { return Decode(text, path_); }
    std::string Output() const { return test::TempDir::ReadFile(path_); }

    test::TempDir temp_;
    std::string path_ = temp_ / "out.bin";
    int lastErrno_ = 0;
};

TEST(Crc32, MatchesTheCheckValueAndAddsUpPiece_by_piece) {
    EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
    const std::string data = test::RandomBytes(1003, 7);
    std::uint32_t crc = 0;
    for (std::size_t at = 0, step = 1; at < data.size(); at += step, step += 5) {
        crc = Crc32(crc, data.data() + at, std::min(step, data.size() - at));
    }
    EXPECT_EQ(crc, test::BitwiseCrc32(data));
}

// Every character an encoder must or may escape, at a line's start, middle and end; the CRC is
// the one zlib gives for these 15 bytes.
TEST_F(YEncDecoderTest, KnownVectorWithEveryEscape) {
    const std::string data =
        "\x04\xD6\x37\xE3\xDF"   // "." first, NUL, "a", CR, TAB last
        "\xF6\xE0\x13\x38\xF6"   // SPACE first, LF, "=", "b", SPACE last
        "\x37\xDF\xF6\x04\xF6";  // TAB, SPACE and "." inside a line; SPACE at the data's end
    const std::string text =
        "=ybegin line=8 size=15 name=vector.bin\n"
        "=n=@a=M=I\n"
        "=`=J=}b=`\n"
        "a\t .=`\n"
        "=yend size=15 crc32=b9692585\n";
    EXPECT_EQ(YEncode(data, "vector.bin", std::nullopt, 8), text);
    EXPECT_EQ(Decode(text), YEncVerdict::kOk);
    EXPECT_EQ(Output(), data);
    // Other encoders leave "." and the blanks at line edges plain: they are data all the same.
    std::string plain = Replaced(Replaced(text, "=n=@", ".=@"), "=M=I\n", "=M\t\n");
    plain = Replaced(Replaced(plain, "=`=J", " =J"), ".=`\n", ". \n");
    EXPECT_EQ(Decode(plain), YEncVerdict::kOk);
    EXPECT_EQ(Output(), data);
}

// Escapes our encoder never writes, inside lines long enough to be decoded in blocks: an escaped
// "=", "=y" that is data, and a "=" just before the line end, which escapes nothing.
TEST_F(YEncDecoderTest, UnusualEscapesInsideLongLines) {
    auto plain = [](std::string_view text) {
        std::string bytes;
        for (char c : text) bytes += static_cast<char>(c - 42);
        return bytes;
    };
    const std::string data = plain("0123456789") + static_cast<char>('=' - 106) +
                             plain("abcdefghijklmnopqrstuvwxyz") + static_cast<char>('y' - 106) +
                             plain("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", test::BitwiseCrc32(data));
    const std::string size = std::to_string(data.size());
    EXPECT_EQ(Decode("=ybegin line=128 size=" + size + " name=odd.bin\n" +
                     "0123456789==abcdefghijklmnopqrstuvwxyz\n"
                     "=yABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789=\n=yend size=" +
                     size + " crc32=" + crc + "\n"),
              YEncVerdict::kOk);
    EXPECT_EQ(Output(), data);
}

TEST_F(YEncDecoderTest, RoundTripsOfEverySizeAndLineLength) {
    std::string everyByte;
    for (int i = 0; i < 256 * 3; ++i) everyByte += static_cast<char>(i);
    std::vector<std::string> files{"", "x", everyByte, test::RandomBytes(100003, 3)};
    for (std::size_t size : {15, 16, 17, 31, 33, 1000}) files.push_back(test::RandomBytes(size, 9));
    // One line far longer than the decoder's slice, with an escape on every slice boundary.
    files.push_back("\x37" + std::string(150000, '\x13'));
    for (const std::string& file : files) {
        for (std::size_t lineLength : {128, 1, 400000}) {
            if (lineLength == 1 && file.size() > 1000) continue;
            SCOPED_TRACE(std::to_string(file.size()) + " bytes, lines of " +
                         std::to_string(lineLength));
            EXPECT_EQ(Decode(YEncode(file, "f.jpg", std::nullopt, lineLength)), YEncVerdict::kOk);
            EXPECT_TRUE(Output() == file);
        }
    }
}

TEST_F(YEncDecoderTest, DamagedArticlesAreToldApart) {
    const std::string file = test::RandomBytes(5000, 4);
    const std::string good = YEncode(file, "pic.jpg");
    const std::string crc = good.substr(good.rfind("crc32="), 14);  // "crc32=" and 8 digits
    std::string upper = crc;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t trailer = good.rfind("=yend");
    const std::size_t lastData = good.rfind('\n', trailer - 2) + 1;
    struct Case {
        const char* what;
        std::string text;
        YEncVerdict verdict;
    };
    std::string flipped = good;
    flipped[good.find('\n') + 10] ^= 1;  // one character of the first data line
    const std::vector<Case> cases{
        {"a character changed", flipped, YEncVerdict::kCrcMismatch},
        {"a CRC that is no number", Replaced(good, crc, "crc32=" + std::string(8, 'x')),
         YEncVerdict::kCrcMismatch},
        {"the CRC in capitals", Replaced(good, crc, "crc32=" + upper.substr(6)), YEncVerdict::kOk},
        {"a nine-digit CRC", Replaced(good, crc, crc + "0"), YEncVerdict::kCrcMismatch},
        {"the trailer's size", Replaced(good, "=yend size=5000", "=yend size=4999"),
         YEncVerdict::kSizeMismatch},
        {"the header's size", Replaced(good, "size=5000 name", "size=5001 name"),
         YEncVerdict::kSizeMismatch},
        {"no size anywhere",
         Replaced(Replaced(good, " size=5000 name", " name"), "=yend size=5000", "=yend"),
         YEncVerdict::kSizeMismatch},
        {"a data line lost", good.substr(0, lastData) + good.substr(trailer),
         YEncVerdict::kSizeMismatch},
        {"no trailer", good.substr(0, trailer), YEncVerdict::kTruncated},
        {"a second header before the trailer", good.substr(0, trailer) + YEncode("abc", "next.jpg"),
         YEncVerdict::kTruncated},
        {"no header", good.substr(good.find('\n') + 1), YEncVerdict::kNoBegin},
        {"a header without a name", Replaced(good, " name=pic.jpg", ""), YEncVerdict::kNoBegin},
        {"text around it", "Hello\n\n" + good + "-- \nsignature\n=yend size=1\n", YEncVerdict::kOk},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Decode(c.text), c.verdict) << c.what;
    }
}

TEST_F(YEncDecoderTest, OnlyAWholeFileInOnePartIsDecoded) {
    const std::string file = test::RandomBytes(3000, 5);
    EXPECT_EQ(Decode(YEncode(file, "p.jpg", YEncPart{2, 3, 1001, 2000})), YEncVerdict::kMultiPart);
    EXPECT_EQ(Decode(YEncode(file, "p.jpg", YEncPart{1, 3, 1, 1000})), YEncVerdict::kMultiPart);
    // Without total=, only the part's range tells a piece from the whole.
    EXPECT_EQ(Decode(Replaced(YEncode(file, "p.jpg", YEncPart{1, 1, 1, 1000}), " total=1", "")),
              YEncVerdict::kMultiPart);
    EXPECT_EQ(Decode(YEncode(file, "p.jpg", YEncPart{1, 1, 1, 3000})), YEncVerdict::kOk);
    EXPECT_EQ(Output(), file);
}

TEST_F(YEncDecoderTest, WriteFailuresCarryTheirErrno) {
    const std::string text = YEncode(test::RandomBytes(300000, 6), "big.jpg");
    EXPECT_EQ(Decode(text, temp_ / "missing/out.bin"), YEncVerdict::kWriteError);
    EXPECT_EQ(lastErrno_, ENOENT);
    // Every check passes, but the bytes never reached the disk.
    EXPECT_EQ(Decode(text, "/dev/full"), YEncVerdict::kWriteError);
    EXPECT_EQ(lastErrno_, ENOSPC);
}

}  // namespace
}  // namespace qm
