// The content index at size: loading a file of 1,000,000 pictures (the limit that matters is half
// a second), the exact lookup, and the near-duplicate search at 100,000 and 1,000,000 perceptual
// hashes beside comparing with every hash; also the SHA-256 rate that fingerprints pay per byte.

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "engine/ContentIndex.h"
#include "engine/PerceptualHash.h"
#include "engine/PictureFingerprint.h"

namespace {

using qm::ContentIndex;
using qm::bench::Clock;
using qm::bench::Random;
using qm::bench::SecondsSince;

// Pictures as a harvest makes them: random digests, hashes in families of near copies (a repost
// is a few bits from its original), names of the usual length.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<ContentIndex::Entry> MakeEntries(std::size_t count, Random& random) {
    std::vector<ContentIndex::Entry> entries(count);
    std::uint64_t family = 0;
    for (std::size_t i = 0; i < count; ++i) {
        ContentIndex::Entry& e = entries[i];
        for (unsigned char& b : e.digest.sha256) b = static_cast<unsigned char>(random.Next());
        e.digest.size = 20000 + random.Next() % 2000000;
        if (i % 4 == 0) family = random.Next();
        std::uint64_t shape = family;
        for (int k = static_cast<int>(random.Next() % 6); k > 0; --k)
            shape ^= 1ULL << (random.Next() % 64);
        e.shape = shape;
        e.width = 1024 + static_cast<std::uint32_t>(random.Next() % 3000);
        e.height = 768 + static_cast<std::uint32_t>(random.Next() % 2000);
        e.name = "picture_" + std::to_string(random.Next() % 100000000) + "_" + std::to_string(i) +
                 ".jpg";
    }
    return entries;
}

void LoadAndLookUp(const std::string& dir, std::size_t count) {
    Random random(7);
    const std::vector<ContentIndex::Entry> entries = MakeEntries(count, random);
    const std::string path = dir + "/ContentIndex";
    if (!ContentIndex::WriteFile(path, entries)) {
        std::printf("cannot write %s\n", path.c_str());
        return;
    }
    ContentIndex index(path);
    double best = 1e9, bestCpu = 1e9;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        const double cpu = CpuSeconds();
        index.Load(static_cast<long>(count));
        best = std::min(best, SecondsSince(start));
        bestCpu = std::min(bestCpu, CpuSeconds() - cpu);
    }
    std::printf(
        "load %zu entries: %.3f s wall, %.3f s CPU (best of 3; target <= 0.5 s), %zu kept\n", count,
        best, bestCpu, index.Size());

    constexpr int kLookups = 1000000;
    std::size_t hits = 0;
    auto start = Clock::now();
    for (int i = 0; i < kLookups; ++i) {
        qm::ContentDigest d = entries[random.Next() % count].digest;
        if (i % 2 == 1) d.sha256[0] ^= 1;  // half of them new pictures
        hits += index.FindSame(d) != nullptr;
    }
    const double exact = SecondsSince(start);
    std::printf("exact lookup at %zu: %.0f ns each (%zu of %d found)\n", count,
                exact / kLookups * 1e9, hits, kLookups);

    constexpr int kSearches = 20000;
    std::vector<std::uint64_t> probes(kSearches);
    for (int i = 0; i < kSearches; ++i) {
        std::uint64_t q = *entries[random.Next() % count].shape;
        if (i % 2 == 1) q = random.Next();  // half of them unlike anything
        for (int k = static_cast<int>(random.Next() % 8); k > 0; --k)
            q ^= 1ULL << (random.Next() % 64);
        probes[i] = q;
    }
    std::size_t near = 0;
    start = Clock::now();
    for (std::uint64_t q : probes) near += index.FindNear(q).has_value();
    const double search = SecondsSince(start);
    std::printf("near search at %zu (radius %d): %.1f us each (%zu of %d near)\n", count,
                ContentIndex::kNearRadius, search / kSearches * 1e6, near, kSearches);
    std::size_t scanNear = 0;
    const int scanned = kSearches / 20;
    start = Clock::now();
    for (int i = 0; i < scanned; ++i) {
        int bestDistance = 65;
        for (const ContentIndex::Entry& e : index.Entries())
            bestDistance = std::min(bestDistance, qm::HashDistance(probes[i], *e.shape));
        scanNear += bestDistance <= ContentIndex::kNearRadius;
    }
    std::printf("  (comparing with every hash: %.1f us each, %zu near)\n",
                SecondsSince(start) / scanned * 1e6, scanNear);
}

}  // namespace

int main() {
    qm::bench::WorkDir dir("/tmp/qm-content-bench.");
    if (dir.path().empty()) return 1;
    std::printf("load average %s\n", qm::bench::LoadAverage().c_str());
    LoadAndLookUp(dir.path(), 100000);
    LoadAndLookUp(dir.path(), 1000000);

    Random random(3);
    std::string bytes(8 << 20, '\0');
    for (char& c : bytes) c = static_cast<char>(random.Next());
    const auto start = Clock::now();
    for (int i = 0; i < 8; ++i) qm::FingerprintBytes(bytes);
    std::printf("SHA-256 of pictures: %.0f MB/s\n", 64.0 / SecondsSince(start));
    return 0;
}
