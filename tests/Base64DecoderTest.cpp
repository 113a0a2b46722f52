#include "decode/Base64Decoder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "support/TempDir.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(const std::string& data) {
    std::string text;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        unsigned bits = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            bits = (bits << 8) | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= n ? kAlphabet[(bits >> (18 - 6 * k)) & 63] : '=';
        }
    }
    return text;
}

class Base64DecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = temp_.path();
        path_ = dir_ + "/out.jpg";
        ASSERT_EQ(decoder_.OpenOutput(path_), 0);
    }

    std::string Output() {
        EXPECT_TRUE(decoder_.Close());
        return test::TempDir::ReadFile(path_);
    }

    test::TempDir temp_;
    std::string dir_;
    std::string path_;
    CBase64Decoder decoder_;
};

TEST(Base64ValueTest, MapsTheMimeAlphabet) {
    for (int c = 0; c < 256; ++c) {
        const auto pos = kAlphabet.find(static_cast<char>(c));
        const int expected = c == '=' ? -1 : pos == std::string::npos ? -2 : static_cast<int>(pos);
        EXPECT_EQ(Base64Value(static_cast<char>(c)), expected) << c;
    }
}

TEST_F(Base64DecoderTest, DecodesKnownTextAndSkipsForeignCharacters) {
    EXPECT_EQ(decoder_.DecodeAndWrite("YWJj"), 3);
    EXPECT_EQ(decoder_.DecodeAndWrite(" Y W-J.j\r\n"), 3);
    EXPECT_EQ(decoder_.DecodeAndWrite(std::string(76, 'A') + "\r\n"), 57);
    EXPECT_EQ(decoder_.DecodeAndWrite(""), 0);
    EXPECT_EQ(Output(), "abcabc" + std::string(57, '\0'));
}

TEST_F(Base64DecoderTest, CarriesGroupsAcrossCalls) {
    EXPECT_EQ(decoder_.DecodeAndWrite("YWJjY\r\n"), 3);
    EXPECT_EQ(decoder_.DecodeAndWrite("W\r\n"), 0);
    EXPECT_EQ(decoder_.DecodeAndWrite("Jj"), 3);
    EXPECT_EQ(decoder_.DecodeAndWrite("YWJ\r\n"), 0);
    EXPECT_EQ(decoder_.DecodeAndWrite("j"), 3);  // one character completing a group keeps all three
    EXPECT_EQ(Output(), "abcabcabc");
}

TEST_F(Base64DecoderTest, PaddingEndsTheCallAndTheNextCallStartsAfresh) {
    EXPECT_EQ(decoder_.DecodeAndWrite("YQ==YWJj\r\n"), 1);
    EXPECT_EQ(decoder_.DecodeAndWrite("YWI=\r\n"), 2);
    EXPECT_EQ(decoder_.DecodeAndWrite("YQ=x"), 1);  // a third "=" ends the group at once
    EXPECT_EQ(decoder_.DecodeAndWrite("YWJj"), 3);
    EXPECT_EQ(Output(), "aabaabc");
}

TEST_F(Base64DecoderTest, EarlyPaddingDecodesAsAllBitsSet) {
    EXPECT_EQ(decoder_.DecodeAndWrite("=AAAA=AA"), 6);
    EXPECT_EQ(Output(), std::string("\xFC\x00\x00\xFF\xF0\x00", 6));
}

TEST_F(Base64DecoderTest, RandomRoundTripsWithAnyLineWidth) {
    std::mt19937 rng(4321);
    std::string expected;
    for (int round = 0; round < 200; ++round) {
        std::string data(rng() % 3000, '\0');
        for (auto& c : data) c = static_cast<char>(rng());
        // Padding ends a call, so each encoded piece goes through its own series of calls.
        const std::string text = Base64Encode(data);
        const std::size_t width = 1 + rng() % 100;
        long produced = 0;
        for (std::size_t pos = 0; pos < text.size(); pos += width) {
            produced += decoder_.DecodeAndWrite(text.substr(pos, width) + "\r\n");
        }
        EXPECT_EQ(produced, static_cast<long>(data.size()));
        expected += data;
    }
    // One call far larger than the output buffer.
    std::string big(BufferedOutputFile::kBufferSize * 3 + 1, '\0');
    for (auto& c : big) c = static_cast<char>(rng());
    EXPECT_EQ(decoder_.DecodeAndWrite(Base64Encode(big)), static_cast<long>(big.size()));
    EXPECT_TRUE(Output() == expected + big);
}

TEST_F(Base64DecoderTest, CreateFailureIsReported) {
    CBase64Decoder decoder;
    EXPECT_NE(decoder.OpenOutput(dir_ + "/missing/out.jpg"), 0);
    EXPECT_EQ(decoder.DecodeAndWrite("YWJj"), -1);
    EXPECT_FALSE(decoder.Close());
    EXPECT_EQ(decoder.LastErrno(), ENOENT);
    EXPECT_FALSE(IsDiskFullError(decoder.LastErrno()));
}

TEST_F(Base64DecoderTest, FullDiskIsReportedWhereverTheWriteHappens) {
    CBase64Decoder small;
    ASSERT_EQ(small.OpenOutput("/dev/full"), 0);
    EXPECT_EQ(small.DecodeAndWrite("YWJj"), 3);  // still buffered
    EXPECT_FALSE(small.Close());
    EXPECT_TRUE(IsDiskFullError(small.LastErrno()));

    CBase64Decoder large;
    ASSERT_EQ(large.OpenOutput("/dev/full"), 0);
    const std::string line = std::string(76, 'Q') + "\r\n";
    long last = 0;
    for (std::size_t i = 0; i < BufferedOutputFile::kBufferSize / 57 + 1 && last >= 0; ++i) {
        last = large.DecodeAndWrite(line);
    }
    EXPECT_EQ(last, -1);
    EXPECT_EQ(large.DecodeAndWrite(line), -1);  // no write is attempted after a failure
    EXPECT_FALSE(large.Close());
    EXPECT_EQ(large.LastErrno(), ENOSPC);
}

}  // namespace
}  // namespace qm
