#include "decode/UUDecoder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

char UuChar(int value, bool graveForZero) {
    return (value == 0 && graveForZero) ? '`' : static_cast<char>(value + 32);
}

// Reference encoder: 45 bytes per line, each line ending in CR LF, then the zero-count line.
std::vector<std::string> UuEncode(const std::string& data, bool graveForZero = true) {
    std::vector<std::string> lines{"begin 644 picture.jpg\r\n"};
    for (std::size_t pos = 0; pos < data.size(); pos += 45) {
        const std::size_t n = std::min<std::size_t>(45, data.size() - pos);
        std::string line(1, UuChar(static_cast<int>(n), graveForZero));
        for (std::size_t i = 0; i < n; i += 3) {
            unsigned char b[3] = {};
            for (std::size_t k = 0; k < 3 && i + k < n; ++k) b[k] = data[pos + i + k];
            line += UuChar(b[0] >> 2, graveForZero);
            line += UuChar(((b[0] & 3) << 4) | (b[1] >> 4), graveForZero);
            line += UuChar(((b[1] & 15) << 2) | (b[2] >> 6), graveForZero);
            line += UuChar(b[2] & 63, graveForZero);
        }
        lines.push_back(line + "\r\n");
    }
    lines.push_back(std::string(1, UuChar(0, graveForZero)) + "\r\n");
    lines.push_back("end\r\n");
    return lines;
}

class UUDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = temp_.path();
        path_ = dir_ + "/out.jpg";
    }

    std::string Decode(const std::vector<std::string>& lines) {
        CUUDecoder decoder(path_);
        for (const auto& line : lines) decoder.DecodeLine(line);
        EXPECT_TRUE(decoder.Close());
        EXPECT_FALSE(decoder.ErrorFlag());
        return test::TempDir::ReadFile(path_);
    }

    test::TempDir temp_;
    std::string dir_;
    std::string path_;
};

TEST_F(UUDecoderTest, WalksItsStatesWithTheDocumentedResults) {
    CUUDecoder decoder(path_);
    EXPECT_EQ(decoder.DecodeLine("Subject: a cat\r\n"), 0);
    EXPECT_EQ(decoder.DecodeLine("beginning of text\r\n"), 0);
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_EQ(decoder.DecodeLine("begin 644 cat.txt\r\n"), 0);
    EXPECT_EQ(decoder.CurrentState(), CUUDecoder::kDecoding);
    EXPECT_TRUE(std::filesystem::exists(path_));
    EXPECT_EQ(decoder.DecodeLine("#0V%T\r\n"), 0);
    EXPECT_EQ(decoder.DecodeLine("`\r\n"), 0);
    EXPECT_EQ(decoder.CurrentState(), CUUDecoder::kExpectingEnd);
    EXPECT_EQ(test::TempDir::ReadFile(path_), "Cat");  // the zero-count line flushes and closes
    EXPECT_EQ(decoder.DecodeLine("end\r\n"), 1);
    EXPECT_EQ(decoder.CurrentState(), CUUDecoder::kFinished);
    EXPECT_EQ(decoder.DecodeLine("begin 644 other.jpg\r\n"), 2);
    EXPECT_TRUE(decoder.Close());

    CUUDecoder exact(dir_ + "/exact");
    for (const char* line : {"begin 644 x\r\n", " \r\n"}) exact.DecodeLine(line);
    EXPECT_EQ(exact.DecodeLine("end"), 2);
}

TEST_F(UUDecoderTest, RecognisesOnlyUuencodesOwnBeginLine) {
    for (const char* line : {"begin 644 x.jpg\r\n", "begin 0644 x\r\n", "begin 644 x",
                             "begin 777 a b\n", "begin 644  \r\n"}) {
        EXPECT_TRUE(CUUDecoder::IsBeginLine(line)) << line;
    }
    for (const char* line :
         {"beginning of text\r\n", "begin  644 x\r\n", "begin 644 \r\n", "begin 644 ",
          "begin 644\r\n", "begin 648 x\r\n", "begin 64 x\r\n", "begin 06444 x\r\n",
          "Begin 644 x\r\n", "begin-base64 644 x\r\n", "begin 644\tx\r\n", "begin 644 \n", ""}) {
        EXPECT_FALSE(CUUDecoder::IsBeginLine(line)) << line;
    }
}

TEST_F(UUDecoderTest, WritesExactlyTheCountedBytes) {
    const std::string data = "The quick brown fox jumps over the lazy dog!!";  // 45 bytes
    ASSERT_EQ(data.size(), 45u);
    EXPECT_EQ(Decode(UuEncode(data)), data);
    EXPECT_EQ(Decode(UuEncode(data + "x")), data + "x");    // last line counts 1
    EXPECT_EQ(Decode(UuEncode(data + "xy")), data + "xy");  // last line counts 2
}

TEST_F(UUDecoderTest, CountsEveryCharacterModulo64) {
    // Space and grave accent both mean 0, as count and as data.
    const std::string zeros(6, '\0');
    EXPECT_EQ(Decode({"begin 644 z\r\n", "&````````\r\n", " \r\n"}), zeros);
    EXPECT_EQ(Decode({"begin 644 z\r\n", "&        \r\n", "`\r\n"}), zeros);
    // "a" is 65 modulo 64, one byte; data characters 64 apart decode alike.
    EXPECT_EQ(Decode({"begin 644 z\r\n", "a0V%T\r\n", "`\r\n"}), "C");
    EXPECT_EQ(Decode({"begin 644 z\r\n",
                      "#p\x96"
                      "e\x94\r\n",
                      "`\r\n"}),
              "Cat");
    // A line shorter than its count still decodes when its CR LF fill the last group.
    EXPECT_EQ(Decode({"begin 644 z\r\n", "#0V\r\n", "`\r\n"}), "Ckj");
}

TEST_F(UUDecoderTest, ShortLineKeepsEarlierDataWithoutErrorFlag) {
    CUUDecoder decoder(path_);
    decoder.DecodeLine("begin 644 cat.txt\r\n");
    EXPECT_EQ(decoder.DecodeLine("#0V%T\r\n"), 0);
    EXPECT_EQ(decoder.DecodeLine("M0V%T\r\n"), 1);  // promises 45 bytes
    EXPECT_EQ(decoder.CurrentState(), CUUDecoder::kFinished);
    EXPECT_FALSE(decoder.ErrorFlag());
    EXPECT_EQ(decoder.DecodeLine("#0V%T\r\n"), 2);
    EXPECT_TRUE(decoder.Close());
    EXPECT_EQ(test::TempDir::ReadFile(path_), "Cat");

    // Text ends at a NUL, and a blank line promises 45 bytes.
    for (std::string bad : {std::string("#0V\0T\r\n", 7), std::string("\r\n"), std::string()}) {
        CUUDecoder other(path_);
        other.DecodeLine("begin 644 x\r\n");
        EXPECT_EQ(other.DecodeLine(bad), 1);
        EXPECT_FALSE(other.ErrorFlag());
    }
}

TEST_F(UUDecoderTest, OnlyTheFirstAttachmentIsWritten) {
    auto lines = UuEncode("first");
    const auto second = UuEncode("second attachment");
    lines.insert(lines.end(), second.begin(), second.end());
    EXPECT_EQ(Decode(lines), "first");
}

TEST_F(UUDecoderTest, ArticleEndingWithoutZeroCountLineKeepsItsData) {
    auto lines = UuEncode("first part of a posting");
    lines.resize(lines.size() - 2);
    EXPECT_EQ(Decode(lines), "first part of a posting");
    lines = UuEncode("other data");
    lines.resize(lines.size() - 2);
    {
        CUUDecoder dropped(path_);  // destruction alone also flushes
        for (const auto& line : lines) dropped.DecodeLine(line);
    }
    EXPECT_EQ(test::TempDir::ReadFile(path_), "other data");
}

TEST_F(UUDecoderTest, RandomRoundTrips) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::size_t> sizes{0, 1, 2, 3, 44, 45, 46, 89, 90, 91, 300000};
    for (int i = 0; i < 100; ++i) sizes.push_back(rng() % 5000);
    for (std::size_t size : sizes) {
        std::string data(size, '\0');
        for (auto& c : data) c = static_cast<char>(byte(rng));
        EXPECT_EQ(Decode(UuEncode(data, size % 2 == 0)), data) << "size " << size;
    }
}

TEST_F(UUDecoderTest, MatchesTheSystemEncoderWhenPresent) {
    if (!std::filesystem::exists("/usr/bin/uuencode")) GTEST_SKIP() << "uuencode not installed";
    std::string data(100000, '\0');
    std::mt19937 rng(7);
    for (auto& c : data) c = static_cast<char>(rng());
    std::ofstream(dir_ + "/in.bin", std::ios::binary) << data;
    const std::string cmd = "/usr/bin/uuencode " + dir_ + "/in.bin pic.jpg > " + dir_ + "/in.uue";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(dir_ + "/in.uue");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\r\n");
    EXPECT_EQ(Decode(lines), data);
}

TEST_F(UUDecoderTest, CreateFailureSetsTheErrorFlag) {
    CUUDecoder decoder(dir_ + "/missing/out.jpg");
    EXPECT_EQ(decoder.DecodeLine("begin 644 x.jpg\r\n"), 1);
    EXPECT_TRUE(decoder.ErrorFlag());
    EXPECT_EQ(decoder.LastErrno(), ENOENT);
    EXPECT_FALSE(IsDiskFullError(decoder.LastErrno()));
    EXPECT_EQ(decoder.CurrentState(), CUUDecoder::kFinished);
    EXPECT_EQ(decoder.DecodeLine("#0V%T\r\n"), 2);
    EXPECT_FALSE(decoder.Close());
}

TEST_F(UUDecoderTest, FullDiskSurfacesAsErrorWithItsErrno) {
    // Small data is buffered: the failure shows at the zero-count line.
    CUUDecoder small("/dev/full");
    EXPECT_EQ(small.DecodeLine("begin 644 x.jpg\r\n"), 0);
    EXPECT_EQ(small.DecodeLine("#0V%T\r\n"), 0);
    EXPECT_EQ(small.DecodeLine("`\r\n"), 1);
    EXPECT_TRUE(small.ErrorFlag());
    EXPECT_TRUE(IsDiskFullError(small.LastErrno()));
    EXPECT_FALSE(small.Close());

    // Large data fails during the data lines; without a zero-count line, Close() reports it.
    std::string data(BufferedOutputFile::kBufferSize * 2, 'x');
    auto lines = UuEncode(data);
    lines.resize(lines.size() - 2);
    CUUDecoder large("/dev/full");
    int failures = 0;
    for (const auto& line : lines) failures += large.DecodeLine(line) == 1 ? 1 : 0;
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(large.ErrorFlag());
    EXPECT_EQ(large.LastErrno(), ENOSPC);
    EXPECT_FALSE(large.Close());

    lines = UuEncode("tail");
    lines.resize(lines.size() - 2);
    CUUDecoder unfinished("/dev/full");
    for (const auto& line : lines) EXPECT_EQ(unfinished.DecodeLine(line), 0);
    EXPECT_FALSE(unfinished.ErrorFlag());
    EXPECT_FALSE(unfinished.Close());
    EXPECT_EQ(unfinished.LastErrno(), ENOSPC);
}

}  // namespace
}  // namespace qm
