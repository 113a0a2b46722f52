#pragma once
// The parts of multi-part posts fetched so far, kept in the data directory until their post is
// whole: yEnc parts decoded into one file per post at their own offsets, uuencoded parts as
// fetched, one file each. A post's record is replaced whole after each part is written, so a
// kill leaves every part either recorded with its bytes on disk or not recorded at all.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "decode/YEncDecoder.h"

namespace qm {

struct StoredPost {
    enum class Encoding { YEnc, UU };
    struct Part {
        long number = 0;
        std::uint64_t begin = 0;  // yEnc: the part's bytes in the file, counted from 1
        std::uint64_t end = 0;
        std::uint32_t crc = 0;    // yEnc: CRC32 of the part's bytes
        std::uint64_t bytes = 0;  // what it takes on disk
    };

    std::string id;    // the stem of its files
    std::string key;   // PostKey: subject without counter, sender, count of parts
    std::string name;  // the file name its parts announce
    long total = 0;
    Encoding encoding = Encoding::YEnc;
    std::uint64_t size = 0;  // yEnc: of the whole file
    std::optional<std::uint32_t> fileCrc;
    std::time_t lastNewPart = 0;
    std::string group;        // where the latest part was fetched: the picture is saved for it
    std::vector<Part> parts;  // in part order

    const Part* Find(long number) const;
    bool Complete() const { return static_cast<long>(parts.size()) == total; }
    std::uint64_t BytesOnDisk() const;
};

class PartStore {
public:
    // directory: where the store keeps its files (created when missing).
    explicit PartStore(const std::string& directory);

    // Reads every post's record. Files of no readable record (a kill while the first part of a
    // post was written, or a record from elsewhere) are removed. False with errno when the
    // directory cannot be made or read.
    bool Load(std::time_t now);

    const StoredPost* Find(const std::string& key) const;
    std::size_t PendingCount() const { return posts_.size(); }
    std::uint64_t BytesOnDisk() const;
    std::vector<const StoredPost*> Posts() const;

    // Whether a yEnc part fits the post of key (total parts of the subject's counter): the same
    // count of parts, file size and name as parts stored before, and bytes that overlap none of
    // theirs. Nothing stored yet: any part fits.
    bool Admits(const std::string& key, long total, const YEncPartInfo& info) const;
    // The file a yEnc part of key is decoded into, at its own offset.
    std::string DataPath(const std::string& key) const;
    // Records a yEnc part decoded and checked into DataPath(key). False with errno.
    bool RecordYEncPart(const std::string& key, const YEncPartInfo& info, const std::string& group,
                        std::time_t now);

    // Keeps a uuencoded part: its body lines as fetched. name: the "begin" line's, from part 1.
    bool StoreUUPart(const std::string& key, long total, long number, const std::string& name,
                     std::string_view body, const std::string& group, std::time_t now);
    std::string UUPartPath(const StoredPost& post, long number) const;

    // Checks a complete yEnc post's file: its size, and its crc32 (or, where none was given, the
    // parts' CRCs combined). True when whole.
    bool VerifyWhole(const StoredPost& post) const;

    // Forgets a post and removes its files.
    bool Remove(const std::string& key);

    // Completed posts are remembered, so parts listed again (cross-posts, later scans, re-posts
    // with the same key) do not save the picture twice.
    bool IsCompleted(const std::string& key) const { return completed_.contains(key); }
    bool MarkCompleted(const std::string& key, std::time_t now);
    // How long a completed post is remembered.
    static constexpr std::time_t kKeepCompleted = 60 * 24 * 3600;

    // The posts whose last new part came more than waitDays ago, removed; the oldest first.
    std::vector<StoredPost> Expire(std::time_t now, long waitDays);
    // While the store holds more than maxBytes, the post with the oldest last new part goes.
    std::vector<StoredPost> Bound(std::uint64_t maxBytes);

    static std::string IdOf(const std::string& key);

private:
    std::string RecordPath(const std::string& id) const;
    std::string CompletedPath() const;
    bool SaveRecord(const StoredPost& post, const StoredPost::Part& added) const;
    bool AddPart(StoredPost& post, const StoredPost::Part& part);
    std::optional<StoredPost> ReadRecord(const std::string& path) const;
    void RemoveFiles(const StoredPost& post) const;
    void LoadCompleted(std::time_t now);
    StoredPost& PostFor(const std::string& key, long total, StoredPost::Encoding encoding,
                        const std::string& name);

    std::string dir_;
    std::unordered_map<std::string, StoredPost> posts_;  // by key
    std::unordered_set<std::string> completed_;          // keys
};

// Combines the CRC32 of two byte runs into the CRC32 of the two back to back.
std::uint32_t Crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondSize);

}  // namespace qm
