// How well the near-duplicate check tells a repost from a different picture, on real photographs:
// the nature wallpapers of Debian's mate-backgrounds package. From each photograph come pictures
// of their own (the whole frame and three windows shifted by a quarter of its width), and from
// each of those the copies a repost shows: resized, recompressed, cropped by a few pixels, turned
// into PNG. Every picture is hashed by the engine's own fingerprint code; a pair is a duplicate
// when both come from the same picture, and the check calls it one when the hashes lie within
// the radius. Prints precision and recall over all pairs at the engine's radius and at others.
// Then harvests the same pictures with reposts among them from the INN test instance with the
// content checks on and off, and compares the rates (needs INN and root; skipped without).
//
//   near_duplicate_bench [--photos DIR] [--no-harvest]
//
// The photographs are read from DIR, else from where the package installs them, else the package
// is fetched into a temporary directory (apt-get download, then dpkg-deb -x; nothing is
// installed). Exits 1 without figures when no photographs can be had.

#include <png.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "BenchArticles.h"
#include "BenchSupport.h"
#include "engine/ContentIndex.h"
#include "engine/PerceptualHash.h"
#include "engine/PictureFingerprint.h"
#include "engine/ProcessGroups.h"
#include "engine/SharedState.h"
#include "engine/SmallPicture.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"
#include "support/InnServer.h"
#include "support/NewsModel.h"
#include "support/NullStatus.h"
#include "util/TextFiles.h"

namespace {

using qm::bench::Clock;
using qm::bench::Random;
using qm::bench::SecondsSince;

constexpr const char* kPackage = "mate-backgrounds";
constexpr const char* kPhotoDir = "/usr/share/backgrounds/mate/nature";

// ---- Pictures in memory, read and written by the same libraries the engine reads them with.

struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;  // row by row, three bytes a pixel
};

using TjHandle = std::unique_ptr<void, int (*)(tjhandle)>;

std::optional<Rgb> DecodeJpeg(const std::string& bytes) {
    TjHandle handle(tjInitDecompress(), tjDestroy);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (!handle || tjDecompressHeader3(handle.get(), data, bytes.size(), &width, &height,
                                       &subsampling, &colorspace) != 0)
        return std::nullopt;
    Rgb out{width, height, std::vector<unsigned char>(std::size_t(width) * height * 3)};
    if (tjDecompress2(handle.get(), data, bytes.size(), out.pixels.data(), width, 0, height,
                      TJPF_RGB, 0) != 0)
        return std::nullopt;
    return out;
}

std::string EncodeJpeg(const Rgb& picture, int quality) {
    TjHandle handle(tjInitCompress(), tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (!handle ||
        tjCompress2(handle.get(), picture.pixels.data(), picture.width, 0, picture.height, TJPF_RGB,
                    &jpeg, &size, TJSAMP_420, quality, 0) != 0) {
        tjFree(jpeg);
        return {};
    }
    std::string bytes(reinterpret_cast<const char*>(jpeg), size);
    tjFree(jpeg);
    return bytes;
}

std::string EncodePng(const Rgb& picture) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGB;
    image.flags = PNG_IMAGE_FLAG_FAST;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, picture.pixels.data(), 0, nullptr))
        return {};
    std::string bytes(size, '\0');
    if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, picture.pixels.data(), 0,
                                   nullptr))
        return {};
    bytes.resize(size);
    return bytes;
}

Rgb Crop(const Rgb& picture, int x, int y, int width, int height) {
    Rgb out{width, height, std::vector<unsigned char>(std::size_t(width) * height * 3)};
    for (int row = 0; row < height; ++row) {
        const unsigned char* from = &picture.pixels[(std::size_t(y + row) * picture.width + x) * 3];
        std::copy(from, from + std::size_t(width) * 3, &out.pixels[std::size_t(row) * width * 3]);
    }
    return out;
}

// For each target pixel along one axis, the source pixels it covers and by how much, so that a
// target pixel is the average of the area it covers (partly covered pixels by the part covered).
struct Tap {
    int source;
    float weight;
};

std::vector<std::vector<Tap>> AreaTaps(int from, int to) {
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(to));
    const double scale = static_cast<double>(from) / to;
    for (int t = 0; t < to; ++t) {
        const double a = t * scale, b = std::min<double>(from, (t + 1) * scale);
        for (int s = static_cast<int>(a); s < from && s < b; ++s) {
            const double covered = std::min<double>(b, s + 1) - std::max<double>(a, s);
            if (covered > 0) taps[t].push_back({s, static_cast<float>(covered / scale)});
        }
    }
    return taps;
}

// Resized by area averaging, rows first, then columns.
Rgb AreaResize(const Rgb& picture, int width, int height) {
    const auto across = AreaTaps(picture.width, width);
    const auto down = AreaTaps(picture.height, height);
    std::vector<float> rows(std::size_t(width) * picture.height * 3);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < width; ++x)
            for (const Tap& tap : across[x])
                for (int c = 0; c < 3; ++c)
                    rows[(std::size_t(y) * width + x) * 3 + c] +=
                        tap.weight *
                        picture.pixels[(std::size_t(y) * picture.width + tap.source) * 3 + c];
    Rgb out{width, height, std::vector<unsigned char>(std::size_t(width) * height * 3)};
    std::vector<float> sum(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (const Tap& tap : down[y])
            for (std::size_t i = 0; i < sum.size(); ++i)
                sum[i] += tap.weight * rows[std::size_t(tap.source) * width * 3 + i];
        for (std::size_t i = 0; i < sum.size(); ++i)
            out.pixels[std::size_t(y) * width * 3 + i] =
                static_cast<unsigned char>(std::clamp(std::lround(sum[i]), 0L, 255L));
    }
    return out;
}

// ---- The photographs.

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The JPEGs of dir, by name.
std::vector<std::filesystem::path> Photographs(const std::string& dir) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.path().extension() == ".jpg") found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

// The package unpacked into work (nothing installed); the directory of its photographs, or "".
std::string FetchPackage(const std::string& work) {
    const std::string command = "cd '" + work + "' && apt-get download " + kPackage +
                                " >fetch.log 2>&1 && dpkg-deb -x " + kPackage +
                                "_*.deb root >>fetch.log 2>&1";
    std::printf("fetching %s: apt-get download, dpkg-deb -x into %s\n", kPackage, work.c_str());
    if (std::system(command.c_str()) != 0) {
        std::printf("%s", ReadFile(work + "/fetch.log").c_str());
        return {};
    }
    return work + "/root" + kPhotoDir;
}

// ---- The pictures of the measure.

enum class Kind { kOriginal, kResized, kRecompressed, kCropped, kPng, kCombined, kCount };

const char* KindName(Kind kind) {
    static const char* const kNames[] = {
        "original", "resized 50-90%", "recompressed q60-95", "cropped <= 2%",
        "PNG",      "all combined"};
    return kNames[static_cast<int>(kind)];
}

struct Sample {
    int photo;   // which photograph
    int source;  // which picture cut from it: the same source means the same picture
    Kind kind;
    std::uint64_t hash;
};

// The variants of one picture (its pixels as saved, decoded): one of each kind in turn, with
// parameters drawn from the ranges a repost shows.
std::vector<std::pair<Kind, std::string>> Variants(const Rgb& saved, int count, Random& random) {
    std::vector<std::pair<Kind, std::string>> out;
    auto between = [&](double low, double high) { return low + (high - low) * random.Unit(); };
    auto resized = [&](const Rgb& p) {
        const double f = between(0.5, 0.9);
        return AreaResize(p, std::max(1, static_cast<int>(std::lround(p.width * f))),
                          std::max(1, static_cast<int>(std::lround(p.height * f))));
    };
    auto cropped = [&](const Rgb& p) {
        // Up to 2% of each side's length taken off, split at random between the two ends.
        const int dx = static_cast<int>(p.width * between(0.0, 0.02));
        const int dy = static_cast<int>(p.height * between(0.0, 0.02));
        const int left = static_cast<int>(random.Next() % static_cast<unsigned>(dx + 1));
        const int top = static_cast<int>(random.Next() % static_cast<unsigned>(dy + 1));
        return Crop(p, left, top, p.width - dx, p.height - dy);
    };
    auto quality = [&] { return 60 + static_cast<int>(random.Next() % 36); };
    for (int i = 0; i < count; ++i) {
        const Kind kind = static_cast<Kind>(1 + i % (static_cast<int>(Kind::kCount) - 1));
        switch (kind) {
            case Kind::kResized:
                out.emplace_back(kind, EncodeJpeg(resized(saved), 90));
                break;
            case Kind::kRecompressed:
                out.emplace_back(kind, EncodeJpeg(saved, quality()));
                break;
            case Kind::kCropped:
                out.emplace_back(kind, EncodeJpeg(cropped(saved), 90));
                break;
            case Kind::kPng:
                out.emplace_back(kind, EncodePng(i % 2 ? resized(saved) : saved));
                break;
            default: {
                const Rgb p = resized(cropped(saved));
                out.emplace_back(kind,
                                 random.Next() % 3 == 0 ? EncodePng(p) : EncodeJpeg(p, quality()));
            }
        }
    }
    return out;
}

// The engine's perceptual hash of the picture in bytes, through its fingerprint code.
std::optional<std::uint64_t> EngineHash(const std::string& bytes) {
    const qm::PictureFingerprint print = qm::FingerprintBytes(bytes);
    return print.shape;
}

// The pictures cut from one photograph: the whole frame as published, and windows of half its
// width and three quarters of its height, a quarter of the width apart (each a picture of its
// own, saved as JPEG at quality 95), each with its variants.
bool AddPhotograph(int photo, const std::string& bytes, int variants, Random& random,
                   std::vector<Sample>& samples) {
    const std::optional<Rgb> full = DecodeJpeg(bytes);
    if (!full) return false;
    std::vector<std::string> saved{bytes};
    const int w = full->width / 2, h = full->height * 3 / 4, y = full->height / 8;
    for (int k = 0; k < 3; ++k)
        saved.push_back(EncodeJpeg(Crop(*full, k * full->width / 4, y, w, h), 95));
    for (std::size_t s = 0; s < saved.size(); ++s) {
        const int source = photo * 4 + static_cast<int>(s);
        const std::optional<std::uint64_t> hash = EngineHash(saved[s]);
        const std::optional<Rgb> pixels = DecodeJpeg(saved[s]);
        if (!hash || !pixels) return false;
        samples.push_back({photo, source, Kind::kOriginal, *hash});
        for (const auto& [kind, variant] : Variants(*pixels, variants, random)) {
            const std::optional<std::uint64_t> h2 = EngineHash(variant);
            if (!h2) return false;
            samples.push_back({photo, source, kind, *h2});
        }
    }
    return true;
}

// ---- The measure.

// Pair counts by the distance of their hashes (0 to 64).
struct Histogram {
    std::vector<long> same = std::vector<long>(65);       // the same picture
    std::vector<long> neighbour = std::vector<long>(65);  // another cut of the same photograph
    std::vector<long> other = std::vector<long>(65);      // another photograph
    long Within(const std::vector<long>& counts, int radius) const {
        long n = 0;
        for (int d = 0; d <= radius; ++d) n += counts[d];
        return n;
    }
    long Total(const std::vector<long>& counts) const { return Within(counts, 64); }
};

Histogram CountPairs(const std::vector<Sample>& samples) {
    Histogram histogram;
    for (std::size_t i = 0; i < samples.size(); ++i)
        for (std::size_t j = i + 1; j < samples.size(); ++j) {
            const Sample &a = samples[i], &b = samples[j];
            const int d = qm::HashDistance(a.hash, b.hash);
            if (a.source == b.source)
                ++histogram.same[d];
            else if (a.photo == b.photo)
                ++histogram.neighbour[d];
            else
                ++histogram.other[d];
        }
    return histogram;
}

struct Score {
    double precision;
    double recall;
};

Score ScoreAt(const Histogram& h, int radius) {
    const long tp = h.Within(h.same, radius);
    const long fp = h.Within(h.neighbour, radius) + h.Within(h.other, radius);
    return {tp + fp ? static_cast<double>(tp) / static_cast<double>(tp + fp) : 1.0,
            static_cast<double>(tp) / static_cast<double>(h.Total(h.same))};
}

// The hashes with as many bits set as clear: between two of them the distance is always even,
// so an odd radius decides as the even one below it.
std::size_t Balanced(const std::vector<Sample>& samples) {
    return static_cast<std::size_t>(
        std::count_if(samples.begin(), samples.end(),
                      [](const Sample& s) { return qm::HashDistance(s.hash, 0) == 32; }));
}

void PrintTable(const Histogram& h, bool evenOnly) {
    std::printf("\n radius   recall  precision   missed  false: neighbour  other   (pairs)\n");
    for (int r = 2; r <= 20; r += evenOnly ? 2 : 1) {
        const Score s = ScoreAt(h, r);
        std::printf("  %2d%s    %.4f   %.5f   %6ld         %6ld  %6ld%s\n", r,
                    r == qm::ContentIndex::kNearRadius ? "*" : " ", s.recall, s.precision,
                    h.Total(h.same) - h.Within(h.same, r), h.Within(h.neighbour, r),
                    h.Within(h.other, r),
                    s.recall >= 0.95 && s.precision >= 0.99 ? "  meets both" : "");
    }
    std::printf("  (* the engine's radius%s)\n",
                evenOnly ? "; every hash has 32 of its 64 bits set, so distances are even" : "");
}

// Recall at radius of the pairs of each kind of variant with the picture it was made from.
void PrintRecallByKind(const std::vector<Sample>& samples, int radius) {
    std::printf("\nrecall at radius %d against the picture as saved, by kind of copy:\n", radius);
    for (int k = 1; k < static_cast<int>(Kind::kCount); ++k) {
        long pairs = 0, found = 0, worst = 0;
        for (const Sample& original : samples) {
            if (original.kind != Kind::kOriginal) continue;
            for (const Sample& copy : samples) {
                if (copy.source != original.source || static_cast<int>(copy.kind) != k) continue;
                const int d = qm::HashDistance(original.hash, copy.hash);
                ++pairs;
                found += d <= radius;
                worst = std::max<long>(worst, d);
            }
        }
        std::printf("  %-20s %4ld pairs  recall %.4f  largest distance %ld\n",
                    KindName(static_cast<Kind>(k)), pairs,
                    pairs ? static_cast<double>(found) / static_cast<double>(pairs) : 0.0, worst);
    }
}

// The check as a run makes it: every picture as saved goes into a content index, and each copy
// is looked up there; the nearest picture within the radius must be the one it was made from.
void PrintIndexLookups(const std::vector<Sample>& samples, const std::string& dir) {
    qm::ContentIndex index(dir + "/ContentIndex");
    for (const Sample& s : samples) {
        if (s.kind != Kind::kOriginal) continue;
        qm::ContentIndex::Entry entry;
        entry.digest.sha256[0] = static_cast<unsigned char>(s.source);
        entry.digest.size = 1;
        entry.shape = s.hash;
        entry.name = "picture_" + std::to_string(s.source);
        if (!index.Add(entry)) {
            std::printf("cannot write the content index in %s\n", dir.c_str());
            return;
        }
    }
    long right = 0, wrong = 0, missed = 0;
    for (const Sample& s : samples) {
        if (s.kind == Kind::kOriginal) continue;
        const auto hit = index.FindNear(s.hash);
        if (!hit)
            ++missed;
        else if (hit->entry->name == "picture_" + std::to_string(s.source))
            ++right;
        else
            ++wrong;
    }
    std::printf(
        "\nlooked up in a content index of the %zu pictures as saved: of %ld copies %ld "
        "found their picture, %ld another, %ld none\n",
        index.Size(), right + wrong + missed, right, wrong, missed);
}

int PrecisionRecall(const std::vector<std::filesystem::path>& photos, const std::string& work) {
    constexpr int kVariants = 20;  // per picture: 12 photographs x 4 pictures x 21 = 1,008
    Random random(24);
    std::vector<Sample> samples;
    const auto start = Clock::now();
    for (std::size_t p = 0; p < photos.size(); ++p) {
        if (!AddPhotograph(static_cast<int>(p), ReadFile(photos[p]), kVariants, random, samples)) {
            std::printf("cannot decode or hash %s\n", photos[p].c_str());
            return 1;
        }
    }
    const Histogram h = CountPairs(samples);
    std::printf(
        "%zu photographs, %zu pictures hashed in %.1f s; pairs: %ld of the same picture, %ld of "
        "neighbouring cuts of one photograph, %ld of different photographs (load %s)\n",
        photos.size(), samples.size(), SecondsSince(start), h.Total(h.same), h.Total(h.neighbour),
        h.Total(h.other), qm::bench::LoadAverage().c_str());
    PrintTable(h, Balanced(samples) == samples.size());
    const int radius = qm::ContentIndex::kNearRadius;
    PrintRecallByKind(samples, radius);
    PrintIndexLookups(samples, work);
    const Score s = ScoreAt(h, radius);
    std::printf(
        "\nat the engine's radius %d: recall %.4f (target >= 0.95) %s, precision %.5f "
        "(target >= 0.99) %s\n",
        radius, s.recall, s.recall >= 0.95 ? "PASS" : "MISS", s.precision,
        s.precision >= 0.99 ? "PASS" : "MISS");
    return 0;
}

// ---- The harvest rate with the content checks on and off.

// Keeps what the rate needs: when the retrieval loop ran, and the counters as last shown.
class RateStatus : public qm::test::NullStatus {
public:
    void SetArticlesSaved(long count) override { fetched = count; }
    void SetHistorySkipped(long count) override { skipped = count; }
    void EnablePending(bool enable) override {
        if (enable) start = Clock::now();
        if (enable || start == Clock::time_point{}) return;
        end = Clock::now();
    }
    double Seconds() const { return std::chrono::duration<double>(end - start).count(); }

    long fetched = 0;
    long skipped = 0;
    Clock::time_point start{}, end{};
};

// The pictures posted: of each photograph the whole frame and three windows (as in the measure
// above, at the photograph's full size, JPEG quality 90), then a repost of each resized to 80% at
// quality 75, then the whole frames again byte for byte under new names.
std::vector<std::string> HarvestPictures(const std::vector<std::filesystem::path>& photos) {
    std::vector<std::string> first, reposts, copies;
    for (const auto& path : photos) {
        const std::optional<Rgb> full = DecodeJpeg(ReadFile(path));
        if (!full) return {};
        const int w = full->width / 2, h = full->height * 3 / 4, y = full->height / 8;
        std::vector<Rgb> cuts{*full};
        for (int k = 0; k < 3; ++k) cuts.push_back(Crop(*full, k * full->width / 4, y, w, h));
        for (const Rgb& cut : cuts) {
            first.push_back(EncodeJpeg(cut, 90));
            reposts.push_back(
                EncodeJpeg(AreaResize(cut, cut.width * 4 / 5, cut.height * 4 / 5), 75));
        }
        copies.push_back(first[first.size() - cuts.size()]);
    }
    first.insert(first.end(), reposts.begin(), reposts.end());
    first.insert(first.end(), copies.begin(), copies.end());
    return first;
}

struct HarvestRun {
    double seconds = 0;  // of the retrieval loop
    long fetched = 0;
    long skipped = 0;  // as history hits, by name or by content
    long saved = 0;    // files in the download directory
};

long FilesIn(const std::string& dir) {
    std::error_code error;
    long count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        count += entry.is_regular_file();
    return count;
}

// One engine run over group from a fresh profile and directory; checks: the exact and the
// near-duplicate check both on (near-duplicates skipped), or both off.
std::optional<HarvestRun> Harvest(int port, const std::string& group, bool checks) {
    constexpr const char* kHost = "127.0.0.1";
    qm::bench::WorkDir dir("/tmp/qm-bench-near-harvest-");
    const std::string pictures = dir.path() + "/pictures/";
    std::filesystem::create_directories(pictures);
    if (!qm::ReplaceFileAtomically(dir.path() + "/Groups." + kHost, group + "\n") ||
        ::chdir(dir.path().c_str()) != 0)
        return std::nullopt;
    qm::ProfileStore profile(dir.path() + "/quarrymoth.ini");
    profile.Apply({qm::kNNTPHost.Change(kHost), qm::kNNTPPort.Change(std::to_string(port)),
                   qm::kDownloadDirectory.Change(pictures), qm::kMinLines.Change(1),
                   qm::kMaxLines.Change(1000000), qm::kSkipNearDuplicates.ChangeFlag(checks)});
    RateStatus status;
    qm::bench::YesPrompt prompt;
    qm::SharedState shared;
    {
        qm::CProcessGroups engine(profile, status, prompt, shared);
        engine.SetContentChecks(checks);
        engine.RunHere();
    }
    if (::chdir("/") != 0 || status.end == Clock::time_point{}) return std::nullopt;
    return HarvestRun{status.Seconds(), status.fetched, status.skipped, FilesIn(pictures)};
}

// What the checks add to each picture: its fingerprint (SHA-256 of the bytes, the decode at an
// eighth and the perceptual hash), timed alone beside a picture's share of a run without checks;
// and the decode with the hash alone, the part only the near-duplicate check needs.
volatile std::uint64_t hashSink = 0;

double BestOf3(const std::vector<std::string>& pictures, bool whole) {
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        std::uint64_t hashes = 0;
        for (const std::string& picture : pictures) {
            std::optional<std::uint64_t> hash;
            if (whole) {
                hash = qm::FingerprintBytes(picture).shape;
            } else {
                const std::optional<qm::SmallPicture> small = qm::DecodeSmall(picture);
                hash = small ? std::optional(qm::PerceptualHash(*small)) : std::nullopt;
            }
            if (!hash) return 0;
            hashes ^= *hash;
        }
        hashSink = hashes;  // so that the work is not left out
        best = std::min(best, SecondsSince(start));
    }
    return best / static_cast<double>(pictures.size());
}

void PrintFingerprintCost(const std::vector<std::string>& pictures, double perPictureOff) {
    std::printf(
        "fingerprint of a picture alone: %.2f ms (decode small and hash %.2f ms), against "
        "%.2f ms a picture takes in a run without checks\n",
        BestOf3(pictures, true) * 1e3, BestOf3(pictures, false) * 1e3, perPictureOff * 1e3);
}

int HarvestRate(const std::vector<std::filesystem::path>& photos) {
    using qm::test::InnServer;
    constexpr const char* kGroup = "alt.binaries.pictures.reposts";
    constexpr int kRuns = 6;  // each way, alternating; the machine is shared, the best is kept
    if (!InnServer::Available()) {
        std::printf("\nharvest rate: skipped, needs INN (scripts/install-deps.sh) and root\n");
        return 0;
    }
    const std::vector<std::string> pictures = HarvestPictures(photos);
    InnServer server;
    if (pictures.empty() || !server.Start() || !server.CreateGroup(kGroup)) {
        std::printf("\nharvest rate: cannot start INN: %s\n", server.error().c_str());
        return 1;
    }
    std::vector<std::string> articles;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const std::string name = qm::bench::PictureName("repost", static_cast<long>(i));
        bytes += pictures[i].size();
        std::string article = "From: Bench Poster <bench@quarrymoth.invalid>\nNewsgroups: ";
        article += kGroup;
        article.append("\nSubject: ").append(name).append(" (1/1)\nMessage-ID: <").append(name);
        article.append("@bench.quarrymoth.invalid>\n\n")
            .append(qm::test::UuencodeBody(pictures[i], name));
        articles.push_back(std::move(article));
    }
    const long count = static_cast<long>(articles.size());
    if (!server.PostAll(articles) ||
        !server.WaitForArticles(kGroup, count, std::chrono::seconds(120))) {
        std::printf("\nharvest rate: posting failed: %s\n", server.error().c_str());
        return 1;
    }
    std::printf(
        "\nharvest: %ld pictures (%zu distinct, %zu reposts resized and recompressed, "
        "%zu exact copies; %.1f MB) from INN on port %d, %d runs each way, best kept\n",
        count, photos.size() * 4, photos.size() * 4, photos.size(),
        static_cast<double>(bytes) / 1e6, server.port(), kRuns);
    std::vector<double> seconds[2];
    for (int round = 0; round < 2 * kRuns; ++round) {
        const bool checks = round % 2 == 1;
        const std::optional<HarvestRun> run = Harvest(server.port(), kGroup, checks);
        if (!run) {
            std::printf("harvest run failed\n");
            return 1;
        }
        std::printf(
            "  checks %-3s %.3f s  %6.1f pictures/s  fetched %ld, saved %ld, history "
            "skipped %ld\n",
            checks ? "on" : "off", run->seconds, static_cast<double>(count) / run->seconds,
            run->fetched, run->saved, run->skipped);
        seconds[checks].push_back(run->seconds);
    }
    for (auto& runs : seconds) std::sort(runs.begin(), runs.end());
    const double ratio = seconds[0].front() / seconds[1].front();  // rate on / rate off
    std::printf(
        "harvest rate with both checks on / off: %.3f best against best (%.3f median "
        "against median) (target >= 0.9) %s  (load %s)\n",
        ratio, seconds[0][kRuns / 2] / seconds[1][kRuns / 2], ratio >= 0.9 ? "PASS" : "MISS",
        qm::bench::LoadAverage().c_str());
    PrintFingerprintCost(pictures, seconds[0].front() / static_cast<double>(count));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = kPhotoDir;
    bool harvest = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--photos") == 0 && i + 1 < argc) dir = argv[++i];
        if (std::strcmp(argv[i], "--no-harvest") == 0) harvest = false;
    }
    qm::bench::WorkDir work("/tmp/qm-bench-near-");
    if (work.path().empty()) {
        std::printf("cannot make a temporary directory in /tmp\n");
        return 1;
    }
    std::vector<std::filesystem::path> photos = Photographs(dir);
    if (photos.empty()) photos = Photographs(FetchPackage(work.path()));
    if (photos.empty()) {
        std::printf("the photographs of Debian package %s cannot be had: no figures\n", kPackage);
        return 1;
    }
    std::printf("photographs: %zu nature wallpapers of Debian package %s\n", photos.size(),
                kPackage);
    if (PrecisionRecall(photos, work.path()) != 0) return 1;
    return harvest ? HarvestRate(photos) : 0;
}
