#pragma once
// Makes the content index anew from the pictures already in the download directories, for those
// saved before the index existed or after it was cleared. Reads every picture file below the
// directories given (by its kind's usual extension), oldest first; of several files with the same
// bytes the oldest is the one the index names. It never changes a picture.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qm {

class ContentIndexRebuild {
public:
    struct Result {
        bool written = false;    // the index file now holds what was found
        bool cancelled = false;  // the caller asked to stop: the old index stays as it was
        std::size_t pictures = 0;
        int err = 0;  // of a failed write
    };
    // Told after each picture (done of total); may be called on any thread the rebuild runs on.
    using Progress = std::function<void(std::size_t done, std::size_t total)>;

    // The picture files below dirs, oldest first (then by path).
    static std::vector<std::string> ListPictures(const std::vector<std::string>& dirs);
    // Whether a file name is a picture's by its extension (any case).
    static bool IsPictureFile(const std::string& name);

    // Replaces the index at indexPath by the newest maxEntries pictures below dirs. cancel is
    // looked at between two pictures.
    static Result Run(const std::vector<std::string>& dirs, const std::string& indexPath,
                      long maxEntries, const Progress& progress, const std::atomic<bool>& cancel);
};

}  // namespace qm
