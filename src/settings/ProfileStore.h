#pragma once
// The profile store: named sections of key=value text in one INI file, shared by every thread.
// Reads are served from memory; every write updates memory at once and replaces the file
// atomically. A store may live for days beside other writers: before it rewrites the file it
// rereads it when it changed on disk, so it never writes back a stale copy of their values.

#include <chrono>
#include <cstdint>
#include <istream>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace qm {

class ProfileStore {
public:
    ProfileStore() = default;
    explicit ProfileStore(std::string path) { Load(std::move(path)); }

    // Reads the file at path (a missing file is an empty profile). Returns false when the file
    // exists but cannot be read; the store then never writes to it, so nothing of it is lost.
    bool Load(std::string path);

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& def) const;
    long GetInt(const std::string& section, const std::string& key, long def) const;

    // Store a value; returns false when the file could not be rewritten (the value is still
    // visible to readers in memory), or when the key or section could not be read back from the
    // file (a key with "=", a line end or blanks at either end, or one beginning with ";", "#" or
    // "["): such a value is refused and not stored at all.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInt(const std::string& section, const std::string& key, long value);

    // One change of a batch: a value to store, or (nullopt) a key to remove.
    struct Change {
        std::string section, key;
        std::optional<std::string> value;
    };
    // Applies every change with one rewrite of the file (a dialog's OK, Mark All Unread over
    // thousands of groups). When any key cannot be stored, nothing is applied and false returned.
    bool Apply(const std::vector<Change>& changes);
    bool RemoveKey(const std::string& section, const std::string& key);
    // The keys of a section, in file order.
    std::vector<std::string> Keys(const std::string& section) const;

    // For values written many times a second (the engine's read mark before every article): the
    // value is visible in memory at once, and the file is rewritten at most once per interval;
    // the next ordinary write, Flush() or the destructor writes what is still pending.
    bool WriteIntSoon(const std::string& section, const std::string& key, long value);
    bool Flush();
    static constexpr std::chrono::milliseconds kSoonInterval{1000};

    ~ProfileStore();
    ProfileStore(const ProfileStore&) = delete;
    ProfileStore& operator=(const ProfileStore&) = delete;

    const std::string& Path() const { return path_; }
    // The file on disk as it is now (device, inode, size, time of change), for telling whether
    // anybody has rewritten it since; "none" when it does not exist.
    std::string DiskIdentity() const;
    // Counts the successful rewrites of the file by this store.
    std::uint64_t SaveCount() const;
    bool Writable() const;
    // Whether a key (or a section name) would read back as itself from the file.
    static bool StorableKey(const std::string& key);
    static bool StorableSection(const std::string& section);

    // The integer rule: leading decimal digits (after an optional sign), 0 when there are none.
    static long ParseInt(const std::string& text);

private:
    struct Line {
        std::string raw;  // the line as read (used for lines that are not key=value)
        std::string key;  // empty for a non key=value line
        std::string value;
    };
    struct Section {
        std::string name;  // empty for the lines before the first section header
        std::string header;
        std::vector<Line> lines;
        // Lowercased key -> its first line, so a profile with a mark for each of thousands of
        // groups is not searched line by line for every mark.
        std::unordered_map<std::string, size_t> keys;

        Line* Find(const std::string& key);
        const Line* Find(const std::string& key) const;
        void Add(Line line, size_t pos);
        void Remove(const std::string& key);
    };

    using Write = Change;
    struct FileIdentity {
        unsigned long long device = 0, inode = 0;
        long long size = -1, mtimeSec = 0, mtimeNsec = 0;
        bool operator==(const FileIdentity&) const = default;
    };

    void Parse(std::istream& in);
    bool ReloadIfChangedLocked();
    void RememberUnsaved(const std::string& section, const std::string& key,
                         std::optional<std::string> value);
    FileIdentity CurrentIdentity() const;
    const Section* FindSection(const std::string& name) const;
    void SetLocked(const std::string& section, const std::string& key, const std::string& value);
    void RemoveLocked(const std::string& section, const std::string& key);
    void ApplyLocked(const Change& change);
    Section& SectionFor(const std::string& name);
    bool SaveLocked();
    std::string Serialize() const;

    mutable std::mutex mutex_;
    std::string path_;
    std::vector<Section> sections_;
    bool readOnly_ = false;
    bool dirty_ = false;          // memory holds values the file does not have yet
    std::vector<Write> unsaved_;  // those values, in the order written
    FileIdentity identity_;       // the file as this store last read or wrote it
    std::uint64_t saveCount_ = 0;
    std::chrono::steady_clock::time_point lastSave_{};
};

}  // namespace qm
