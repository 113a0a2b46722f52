#include "engine/HistoryList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <fstream>
#include <iterator>

#include "engine/EngineStatus.h"
#include "settings/DataFiles.h"
#include "util/TextFiles.h"

namespace qm {

namespace {

constexpr size_t kShortestSavedEntry = 4;

std::uint64_t NextGeneration() {
    static std::atomic<std::uint64_t> counter{0};
    return ++counter;
}

}  // namespace

std::string PathInDirectory(const std::string& directory, const std::string& name) {
    return directory.empty() ? name : WithTrailingSlash(directory) + name;
}

HistoryList::HistoryList(std::string directory)
    : directory_(std::move(directory)), generation_(NextGeneration()) {}

std::string HistoryList::FilePath() const {
    return PathInDirectory(directory_, kHistoryFile);
}

std::string HistoryList::BackupPath() const {
    return PathInDirectory(directory_, kHistoryBackupFile);
}

void HistoryList::Touch() {
    generation_ = NextGeneration();
}

void HistoryList::Load(long maxHist) {
    entries_.clear();
    fileState_.reset();
    Touch();
    std::ifstream in(FilePath(), std::ios::binary);
    if (!in) return;
    std::string backup;
    std::deque<std::string> newest;
    std::string line;
    while (ReadTextLine(in, line)) {
        backup += line;
        backup += '\n';
        if (line.empty()) continue;
        newest.push_back(Lowercase(line));
        if (static_cast<long>(newest.size()) > maxHist) newest.pop_front();
    }
    ReplaceFileAtomically(BackupPath(), backup);
    entries_.assign(std::make_move_iterator(newest.begin()), std::make_move_iterator(newest.end()));
}

bool HistoryList::Contains(std::string_view entry) const {
    return std::find(entries_.begin(), entries_.end(), entry) != entries_.end();
}

void HistoryList::Add(std::string_view name) {
    entries_.push_back(Lowercase(name));
    Touch();
}

std::string HistoryList::SavedText(size_t from) const {
    std::string content;
    for (size_t i = from; i < entries_.size(); ++i) {
        if (entries_[i].size() < kShortestSavedEntry) continue;
        content += entries_[i];
        content += '\n';
    }
    return content;
}

bool HistoryList::Save(EngineStatus& status) const {
    if (!AppendNewEntries() && !RewriteFile()) {
        status.SetStatusText("Unable to open HistList");
        return false;
    }
    return true;
}

// While the file is exactly as the last save left it, a save only has to add the entries that
// came since; rewriting the whole file each time costs a rename per save.
bool HistoryList::AppendNewEntries() const {
    if (!fileState_ || CurrentFileState() != fileState_) return false;
    std::string added = SavedText(fileState_->entries);
    if (!added.empty() && !AppendToFile(FilePath(), added)) {
        if (::truncate(FilePath().c_str(), fileState_->size) != 0) fileState_.reset();
        return false;
    }
    RememberFileState();
    return true;
}

std::optional<HistoryList::FileState> HistoryList::CurrentFileState() const {
    struct stat st {};
    if (::stat(FilePath().c_str(), &st) != 0) return std::nullopt;
    return FileState{st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, 0};
}

void HistoryList::RememberFileState() const {
    fileState_ = CurrentFileState();
    if (fileState_) fileState_->entries = entries_.size();
}

bool HistoryList::RewriteFile() const {
    fileState_.reset();
    if (!ReplaceFileAtomically(FilePath(), SavedText(0))) return false;
    RememberFileState();
    return true;
}

void HistoryList::RemoveLast() {
    if (entries_.empty()) return;
    entries_.pop_back();
    fileState_.reset();
    Touch();
}

void HistoryList::Clear() {
    entries_.clear();
    fileState_.reset();
    Touch();
}

HistoryHitLog::HistoryHitLog(std::string directory) : directory_(std::move(directory)) {}

std::string HistoryHitLog::FilePath() const {
    return PathInDirectory(directory_, kHistoryHitLogFile);
}

void HistoryHitLog::Log(std::string_view entry, std::string_view subject) const {
    std::string line(entry);
    line += " -- ";
    line += subject;
    line += '\n';
    AppendToFile(FilePath(), Lowercase(line));
}

}  // namespace qm
