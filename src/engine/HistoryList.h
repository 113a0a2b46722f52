#pragma once
// The history list: lowercased names of the files already saved, oldest first, kept for one run
// and stored in the text file "HistList"; plus the hit log "HistLog.txt" that records which entry
// made the selection skip an article.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class EngineStatus;

class HistoryList {
public:
    // The files live in directory ("" means the current directory).
    explicit HistoryList(std::string directory = "");
    HistoryList(const HistoryList&) = delete;
    HistoryList& operator=(const HistoryList&) = delete;

    // Replaces the list with the newest maxHist lines of "HistList", lowercased, after copying the
    // file to "~HistList". A missing file gives an empty list. Empty lines are not names and are
    // skipped: as entries they would match every subject.
    void Load(long maxHist);

    // Appends a saved file's name (lowercased) at the tail.
    void Add(std::string_view name);

    // Makes "HistList" hold every entry longer than 3 characters. While the file is exactly as
    // this list's last save left it, only the entries added since are appended; otherwise it is
    // replaced whole, so a failed save leaves the previous file intact. A failure shows "Unable
    // to open HistList" and the list in memory stays as it is.
    bool Save(EngineStatus& status) const;

    void Clear();
    // Takes back the newest entry (its picture could not be saved after all); the next save
    // rewrites the file.
    void RemoveLast();

    const std::vector<std::string>& Entries() const { return entries_; }
    size_t Size() const { return entries_.size(); }
    // Whether entry (lowercased) is in the list.
    bool Contains(std::string_view entry) const;
    // Differs after every change of the entries, and between any two lists.
    std::uint64_t Generation() const { return generation_; }

    std::string FilePath() const;
    std::string BackupPath() const;

private:
    // What the file holds after this list's last save: its identity, size and entry count.
    struct FileState {
        ino_t inode;
        off_t size;
        time_t mtimeSec;
        long mtimeNsec;
        size_t entries;  // entries of the list the file holds (not compared)
        bool operator!=(const FileState& o) const {
            return inode != o.inode || size != o.size || mtimeSec != o.mtimeSec ||
                   mtimeNsec != o.mtimeNsec;
        }
    };

    void Touch();
    std::string SavedText(size_t from) const;
    bool AppendNewEntries() const;
    bool RewriteFile() const;
    std::optional<FileState> CurrentFileState() const;
    void RememberFileState() const;

    std::string directory_;
    std::vector<std::string> entries_;
    std::uint64_t generation_ = 0;
    mutable std::optional<FileState> fileState_;
};

// "HistLog.txt": one line per history hit, the entry, " -- " and the subject, all lowercased.
class HistoryHitLog {
public:
    explicit HistoryHitLog(std::string directory = "");
    // Appends one line; when the file cannot be opened the hit simply goes unrecorded.
    void Log(std::string_view entry, std::string_view subject) const;
    std::string FilePath() const;

private:
    std::string directory_;
};

// A file name inside directory ("" means the current directory).
std::string PathInDirectory(const std::string& directory, const std::string& name);

}  // namespace qm
