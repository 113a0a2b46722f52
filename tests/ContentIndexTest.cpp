// The content index on its own: its file (load, trim, torn and hostile lines, appends), the two
// lookups, and the perceptual hash of real encoders' pictures.

#include <gtest/gtest.h>

#include <random>

#include "engine/ContentIndex.h"
#include "engine/PerceptualHash.h"
#include "engine/PictureFingerprint.h"
#include "support/RealEncoders.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

ContentIndex::Entry Picture(const std::string& bytes, const std::string& name) {
    return ContentIndex::Entry::Of(FingerprintBytes(bytes), name);
}

TEST(ContentIndexFile, LoadKeepsTheNewestEntriesAndRewritesWhatItPassedOver) {
    TempDir dir;
    const std::string path = dir / "ContentIndex";
    const auto a = Picture("aaaa", "a.jpg"), b = Picture("bbbb", "b b.jpg"),
               c = Picture("cccc", "c.jpg");
    const std::string torn = ContentIndex::Line(c).substr(0, 40);
    TempDir::WriteFile(path, ContentIndex::Line(a) + "garbage\tline\n" + ContentIndex::Line(b) +
                                 ContentIndex::Line(Picture("aaaa", "a(1).jpg")) + torn);
    ContentIndex index(path);
    EXPECT_EQ(index.Load(10), 3u);  // the garbage, the second line of "aaaa", the torn line
    ASSERT_EQ(index.Size(), 2u);
    EXPECT_EQ(index.FindSame(a.digest)->name, "a(1).jpg");  // a later line renames
    EXPECT_EQ(index.FindSame(b.digest)->name, "b b.jpg");
    EXPECT_EQ(index.FindSame(c.digest), nullptr);
    EXPECT_EQ(TempDir::ReadFile(path),
              ContentIndex::Line(index.Entries()[0]) + ContentIndex::Line(b));

    // A new line after a torn one starts a line of its own, whether appended by a run or a replay.
    TempDir::WriteFile(path, ContentIndex::Line(a) + torn);
    ASSERT_TRUE(ContentIndex::AppendEntry(path, b));
    ASSERT_TRUE(index.Add(c) || true);
    ContentIndex reloaded(path);
    EXPECT_EQ(reloaded.Load(10), 1u);
    EXPECT_NE(reloaded.FindSame(b.digest), nullptr);
    EXPECT_NE(reloaded.FindSame(c.digest), nullptr);

    // The limit keeps the newest; 0 keeps none; a missing file is an empty index.
    EXPECT_EQ(reloaded.Load(1), 0u);
    ASSERT_EQ(reloaded.Size(), 1u);
    EXPECT_EQ(reloaded.Entries()[0].name, "c.jpg");
    EXPECT_EQ(TempDir::ReadFile(path), ContentIndex::Line(c));
    reloaded.Load(0);
    EXPECT_EQ(reloaded.Size(), 0u);
    EXPECT_EQ(TempDir::ReadFile(path), "");
    ContentIndex missing(dir / "none");
    EXPECT_EQ(missing.Load(10), 0u);
    EXPECT_FALSE(TempDir::Exists(dir / "none"));
}

TEST(ContentIndexFile, LinesRoundTripAndHostileFieldsAreRefused) {
    ContentIndex::Entry e = Picture("xyz", "pic.jpg");
    e.shape = 0x0123456789abcdefULL;
    e.width = 640;
    e.height = 480;
    const std::string line = ContentIndex::Line(e);
    EXPECT_EQ(ContentIndex::ParseLine(line.substr(0, line.size() - 1)), e);
    const std::string hex = e.digest.Hex();
    for (const std::string& bad :
         {hex + "\t3\t-\t0x0\t", hex + "\t-3\t-\t0x0\tn", hex + "\t3\t0123\t0x0\tn",
          hex + "\t3\t-\t640\tn", hex + "\t3\t-\t0x0\tn\tm", hex.substr(1) + "\t3\t-\t0x0\tn",
          "g" + hex.substr(1) + "\t3\t-\t0x0\tn", hex + "\t99999999999999999999999\t-\t0x0\tn"})
        EXPECT_FALSE(ContentIndex::ParseLine(bad)) << bad;
    // A name no line can hold is not stored, and taking back the newest then takes nothing.
    TempDir dir;
    ContentIndex index(dir / "ContentIndex");
    ASSERT_TRUE(index.Add(Picture("one", "one.jpg")));
    ASSERT_TRUE(index.Add(Picture("two", "t\two.jpg")));
    EXPECT_TRUE(index.RemoveLast());
    EXPECT_EQ(index.Size(), 1u);
    ASSERT_TRUE(index.Add(Picture("three", "three.jpg")));
    EXPECT_TRUE(index.RemoveLast());
    EXPECT_EQ(TempDir::ReadFile(dir / "ContentIndex"),
              ContentIndex::Line(Picture("one", "one.jpg")));
}

// The quarter tables find exactly what comparing with every hash finds.
TEST(ShapeSearch, NearestMatchesAFullScanAtEveryDistance) {
    std::mt19937_64 rng(5);
    std::vector<std::uint64_t> hashes;
    ShapeIndex index(10);
    for (std::uint32_t i = 0; i < 3000; ++i) {
        // Half random, half a few bits away from an earlier one.
        std::uint64_t h = rng();
        if (i % 2 == 1) {
            h = hashes[rng() % hashes.size()];
            for (int k = static_cast<int>(rng() % 14); k > 0; --k) h ^= 1ULL << (rng() % 64);
        }
        hashes.push_back(h);
        index.Add(h, i);
    }
    for (int probe = 0; probe < 2000; ++probe) {
        std::uint64_t q = hashes[rng() % hashes.size()];
        for (int k = static_cast<int>(rng() % 13); k > 0; --k) q ^= 1ULL << (rng() % 64);
        int bestDistance = 99;
        std::uint32_t bestId = 0;
        for (std::uint32_t i = 0; i < hashes.size(); ++i) {
            const int d = HashDistance(q, hashes[i]);
            if (d < bestDistance) {
                bestDistance = d;
                bestId = i;
            }
        }
        const auto found = index.Nearest(q);
        if (bestDistance > 10) {
            EXPECT_FALSE(found);
            continue;
        }
        ASSERT_TRUE(found);
        EXPECT_EQ(found->distance, bestDistance);
        EXPECT_EQ(found->id, bestId);
    }
}

class PictureShapes : public ::testing::Test {
protected:
    void SetUp() override {
        if (!RealEncodersAvailable()) GTEST_SKIP() << "cjpeg is not installed";
    }
    static std::uint64_t Shape(const std::string& bytes) {
        const PictureFingerprint print = FingerprintBytes(bytes);
        EXPECT_TRUE(print.shape);
        return print.shape.value_or(0);
    }
    static std::string Jpeg(int width, int height, unsigned scene, int quality) {
        std::string error;
        return CjpegEncode(SceneImage(width, height, scene), quality, error);
    }
};

TEST_F(PictureShapes, ResizedRecompressedAndReencodedCopiesStayNearOthersDoNot) {
    const std::string original = Jpeg(1200, 800, 1, 92);
    const PictureFingerprint print = FingerprintBytes(original);
    EXPECT_EQ(print.width, 1200u);
    EXPECT_EQ(print.height, 800u);
    const std::uint64_t shape = Shape(original);
    EXPECT_LE(HashDistance(shape, Shape(Jpeg(600, 400, 1, 60))), ContentIndex::kNearRadius);
    EXPECT_LE(HashDistance(shape, Shape(Jpeg(1000, 667, 1, 75))), ContentIndex::kNearRadius);
    const std::string png = PngEncode(SceneImage(900, 600, 1));
    ASSERT_FALSE(png.empty());
    EXPECT_EQ(FingerprintBytes(png).width, 900u);
    EXPECT_LE(HashDistance(shape, Shape(png)), ContentIndex::kNearRadius);
    // A tiny picture is decoded whole and still hashed.
    EXPECT_LE(HashDistance(shape, Shape(Jpeg(48, 32, 1, 90))), ContentIndex::kNearRadius + 6);
    for (unsigned scene = 2; scene < 12; ++scene)
        EXPECT_GT(HashDistance(shape, Shape(Jpeg(1200, 800, scene, 92))), ContentIndex::kNearRadius)
            << scene;
    // Kinds not decoded, and broken pictures, have no shape but are still known by their bytes.
    EXPECT_FALSE(FingerprintBytes("GIF89a....").shape);
    EXPECT_FALSE(FingerprintBytes(original.substr(0, 200)).shape);
    EXPECT_TRUE(FingerprintBytes(original.substr(0, 200)).valid);
}

}  // namespace
}  // namespace qm::test
