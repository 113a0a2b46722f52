#pragma once
// The content of every saved picture, so that the same picture under another name is not saved
// again: the file "ContentIndex" beside the history, one line a picture, appended as pictures are
// saved. A line holds, separated by tabs, the SHA-256 of the bytes (64 hex digits), their count,
// the perceptual hash (16 hex digits, "-" for kinds not decoded), width "x" height in pixels and
// the saved file's name. A later line for the same bytes gives them its name. Each line is one
// write, so a kill leaves at worst a last line without its end: loading passes over it, as over
// any line that is no entry, and the next line appended starts on a line of its own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/PictureFingerprint.h"
#include "engine/ShapeIndex.h"

namespace qm {

class ContentIndex {
public:
    struct Entry {
        ContentDigest digest;
        std::optional<std::uint64_t> shape;
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        std::string name;

        std::uint64_t Pixels() const { return std::uint64_t{width} * height; }
        bool operator==(const Entry&) const = default;
        static Entry Of(const PictureFingerprint& print, std::string name);
    };

    // Perceptual hashes at most this many bits apart show the same picture (see the
    // near-duplicate benchmark for how the figure was chosen).
    static constexpr int kNearRadius = 10;

    explicit ContentIndex(std::string path);
    ContentIndex(const ContentIndex&) = delete;
    ContentIndex& operator=(const ContentIndex&) = delete;

    // Replaces the index with the newest maxEntries pictures of the file (a missing file gives an
    // empty index). When lines were passed over or cut by the limit, the file is rewritten to hold
    // what was kept. Returns the number of lines passed over.
    std::size_t Load(long maxEntries);
    // Adds a saved picture: its line reaches the file first. False when the file cannot be
    // written (the index in memory is then as it was). A name with a tab or a line end cannot be
    // stored; that picture goes without.
    bool Add(const Entry& entry);
    // Takes back the newest entry (its picture could not be named after all): the file is
    // rewritten without it.
    bool RemoveLast();
    void Clear();

    const Entry* FindSame(const ContentDigest& digest) const;
    struct NearHit {
        const Entry* entry = nullptr;
        int distance = 0;
    };
    // The picture whose perceptual hash is nearest to shape within kNearRadius bits.
    std::optional<NearHit> FindNear(std::uint64_t shape) const;

    const std::vector<Entry>& Entries() const { return entries_; }
    std::size_t Size() const { return entries_.size(); }
    const std::string& Path() const { return path_; }

    static std::string Line(const Entry& entry);  // with its line end
    // One line without its line end; nothing when it is no entry.
    static std::optional<Entry> ParseLine(std::string_view line);
    // Makes the file at path hold exactly entries, replacing it whole.
    static bool WriteFile(const std::string& path, const std::vector<Entry>& entries);
    // Appends one entry to the file at path without loading it (the replay of a run's journal).
    static bool AppendEntry(const std::string& path, const Entry& entry);
    static bool Storable(const Entry& entry);

private:
    // Open addressing over entry positions, keyed by the digest's first bytes and its size.
    std::size_t SlotOf(const ContentDigest& digest) const;
    // Files entries_[position]; an entry for the same bytes already there takes its name instead
    // (and the new one is dropped). True when it was new.
    bool Insert(std::size_t position);
    std::size_t FileLoaded();
    void Reindex();
    void FileShapes();

    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t position = kEmpty;
    };
    void Reserve(std::size_t entries, std::size_t filed);

    std::string path_;
    std::vector<Entry> entries_;
    std::vector<Slot> slots_;
    ShapeIndex shapes_{kNearRadius};
    bool lastAddNew_ = false;  // the newest entry came with the last Add
};

}  // namespace qm
