#include "engine/HistoryList.h"

#include <atomic>
#include <deque>
#include <fstream>
#include <iterator>

#include "engine/EngineStatus.h"
#include "settings/TextFiles.h"

namespace qm {

namespace {

constexpr const char* kHistoryFile = "HistList";
constexpr const char* kHitLogFile = "HistLog.txt";
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
    return PathInDirectory(directory_, std::string("~") + kHistoryFile);
}

void HistoryList::Touch() {
    generation_ = NextGeneration();
}

void HistoryList::Load(long maxHist) {
    entries_.clear();
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

void HistoryList::Add(std::string_view name) {
    entries_.push_back(Lowercase(name));
    Touch();
}

bool HistoryList::Save(EngineStatus& status) const {
    std::string content;
    for (const std::string& entry : entries_) {
        if (entry.size() < kShortestSavedEntry) continue;
        content += entry;
        content += '\n';
    }
    if (!ReplaceFileAtomically(FilePath(), content)) {
        status.SetStatusText("Unable to open HistList");
        return false;
    }
    return true;
}

void HistoryList::Clear() {
    entries_.clear();
    Touch();
}

HistoryHitLog::HistoryHitLog(std::string directory) : directory_(std::move(directory)) {}

std::string HistoryHitLog::FilePath() const {
    return PathInDirectory(directory_, kHitLogFile);
}

void HistoryHitLog::Log(std::string_view entry, std::string_view subject) const {
    std::string line(entry);
    line += " -- ";
    line += subject;
    line += '\n';
    AppendToFile(FilePath(), Lowercase(line));
}

}  // namespace qm
