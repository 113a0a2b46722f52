#include "engine/ContentIndexRebuild.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <unordered_set>

#include "decode/PartialPicture.h"
#include "engine/ContentIndex.h"
#include "engine/PictureFingerprint.h"
#include "util/TextFiles.h"

namespace qm {
namespace fs = std::filesystem;

bool ContentIndexRebuild::IsPictureFile(const std::string& name) {
    static const char* const kExtensions[] = {".jpg", ".jpeg", ".jpe",  ".png", ".gif",
                                              ".bmp", ".tif",  ".tiff", ".webp"};
    if (IsReservedName(name)) return false;
    const std::string lower = Lowercase(name);
    return std::any_of(std::begin(kExtensions), std::end(kExtensions),
                       [&](const char* ext) { return lower.ends_with(ext); });
}

std::vector<std::string> ContentIndexRebuild::ListPictures(const std::vector<std::string>& dirs) {
    struct Found {
        fs::file_time_type time;
        std::string path;
    };
    std::vector<Found> found;
    std::unordered_set<std::string> seen;  // a directory given twice, or inside another
    for (const std::string& dir : dirs) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (!it->is_regular_file(ec) || !IsPictureFile(it->path().filename().string()))
                continue;
            std::string path = fs::weakly_canonical(it->path(), ec).string();
            if (ec || !seen.insert(path).second) continue;
            found.push_back({it->last_write_time(ec), std::move(path)});
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.time != b.time ? a.time < b.time : a.path < b.path;
    });
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (Found& f : found) paths.push_back(std::move(f.path));
    return paths;
}

ContentIndexRebuild::Result ContentIndexRebuild::Run(const std::vector<std::string>& dirs,
                                                     const std::string& indexPath, long maxEntries,
                                                     const Progress& progress,
                                                     const std::atomic<bool>& cancel) {
    Result result;
    const std::vector<std::string> paths = ListPictures(dirs);
    std::vector<ContentIndex::Entry> entries;
    std::unordered_set<std::string> digests;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (cancel) {
            result.cancelled = true;
            return result;
        }
        const PictureFingerprint print = FingerprintFile(paths[i]);
        ContentIndex::Entry entry =
            ContentIndex::Entry::Of(print, fs::path(paths[i]).filename().string());
        if (print.valid && ContentIndex::Storable(entry) &&
            digests.insert(print.digest.Hex() + std::to_string(print.digest.size)).second)
            entries.push_back(std::move(entry));
        if (progress) progress(i + 1, paths.size());
    }
    const auto limit = static_cast<std::size_t>(std::max(0L, maxEntries));
    if (entries.size() > limit)
        entries.erase(entries.begin(), entries.end() - static_cast<std::ptrdiff_t>(limit));
    result.pictures = entries.size();
    result.written = ContentIndex::WriteFile(indexPath, entries);
    if (!result.written) result.err = errno;
    return result;
}

}  // namespace qm
