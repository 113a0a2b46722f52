#include "engine/RecoveryJournal.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <vector>

#include "decode/PartialPicture.h"
#include "engine/ArticleRetrieval.h"
#include "engine/RecoveryScope.h"
#include "settings/ProfileStore.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::set<std::string> HistoryEntries(const std::string& historyPath) {
    std::set<std::string> entries;
    std::ifstream in(historyPath, std::ios::binary);
    std::string line;
    while (ReadTextLine(in, line)) entries.insert(line);
    return entries;
}

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// The replay of one journal, record by record. A record is acted on only when everything it
// names lies within the scope; the others are counted.
class Replay {
public:
    Replay(ProfileStore& profile, const std::string& historyPath,
           const std::string& contentIndexPath, const RecoveryScope& scope)
        : profile_(profile),
          historyPath_(historyPath),
          contentIndexPath_(contentIndexPath),
          scope_(scope),
          history_(HistoryEntries(historyPath)) {}

    void Record(const std::vector<std::string>& f) {
        if (!Apply(f)) ++result_.skipped;
    }

    RecoveryResult Finish() {
        if (!missingHistory_.empty()) AppendToFile(historyPath_, missingHistory_);
        profile_.Flush();
        for (const std::string& path : partials_) ::unlink(path.c_str());
        return result_;
    }

private:
    bool Apply(const std::vector<std::string>& f) {
        const std::string& kind = f[0];
        if (kind == "P" && f.size() == 2) {
            marksApply_ = f[1] == profile_.DiskIdentity();
            return true;
        }
        if (kind == "T" && f.size() == 2) return Partial(f[1]);
        if (kind == "M" && f.size() == 4) return Mark(f[1], f[2], f[3]);
        if (kind == "S" && (f.size() == 8 || f.size() == 12)) return Saved(f);
        return false;
    }

    bool Partial(const std::string& path) {
        std::string dir;
        if (!scope_.IsPartialPicture(path, dir)) return false;
        partials_.push_back(path);
        return true;
    }

    bool Mark(const std::string& host, const std::string& group, const std::string& number) {
        const long n = scope_.ReadMark(host, group, number);
        if (n < 0) return false;
        if (marksApply_) profile_.WriteIntSoon(host, group, n);
        return true;
    }

    // The picture is named in the directory its partial file lies in, under a plain name, with
    // the history entry that name gives. The history entry is written before the picture is
    // named, so a picture that has its name already has its entry too: only a picture still
    // unnamed needs either. So with its content, which the index learns under the name given.
    bool Saved(const std::vector<std::string>& f) {
        const std::string &partial = f[4], &directory = f[5], &name = f[6], &entry = f[7];
        std::string dir;
        std::optional<ContentIndex::Entry> content;
        if (f.size() == 12) {
            content = ContentIndex::ParseLine(f[8] + '\t' + f[9] + '\t' + f[10] + '\t' + f[11] +
                                              '\t' + name);
            if (!content) return false;
        }
        if (scope_.ReadMark(f[1], f[2], f[3]) < 0 || !scope_.IsPartialPicture(partial, dir) ||
            directory != dir || !RecoveryScope::IsPictureName(name) ||
            entry != HistoryEntryFor(name))
            return false;
        if (Exists(partial)) {
            const std::string given = CommitPartialPicture(partial, directory, name);
            if (!given.empty()) {
                ++result_.named;
                if (content) {
                    content->name = given;
                    ContentIndex::AppendEntry(contentIndexPath_, *content);
                }
            }
            if (!entry.empty() && history_.insert(entry).second) missingHistory_ += entry + "\n";
        }
        return Mark(f[1], f[2], f[3]);
    }

    ProfileStore& profile_;
    std::string historyPath_;
    std::string contentIndexPath_;
    const RecoveryScope& scope_;
    std::set<std::string> history_;
    std::string missingHistory_;
    std::vector<std::string> partials_;
    bool marksApply_ = false;
    RecoveryResult result_;
};

}  // namespace

RecoveryJournal::~RecoveryJournal() {
    if (fd_ >= 0) ::close(fd_);
}

bool RecoveryJournal::Reset(const std::string& profileIdentity) {
    if (fd_ < 0) fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd_ < 0 || ::ftruncate(fd_, 0) != 0) return false;
    return Append({"P", profileIdentity});
}

bool RecoveryJournal::NotePartial(const std::string& path) {
    return Append({"T", path});
}

bool RecoveryJournal::NoteSaved(const SavedArticle& a) {
    std::vector<std::string> fields{"S",           a.host,      a.group, std::to_string(a.number),
                                    a.partialPath, a.directory, a.name,  a.historyEntry};
    if (a.content) {
        // The index line's own fields, without the name: the record's name is the picture's.
        const std::string line = ContentIndex::Line(*a.content);
        size_t start = 0;
        for (int i = 0; i < 4; ++i) {
            const size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
    }
    return Append(fields);
}

bool RecoveryJournal::NoteMark(const std::string& host, const std::string& group, long number) {
    return Append({"M", host, group, std::to_string(number)});
}

void RecoveryJournal::Remove() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
}

// One record, one write(2) to a file opened for appending: a killed process leaves whole records
// (and at worst a last line without its line end, which the replay ignores).
bool RecoveryJournal::Append(const std::vector<std::string>& fields) {
    if (fd_ < 0) return false;
    std::string line;
    for (const std::string& field : fields) {
        // A name with a tab or a line end cannot be journaled; that one article goes without.
        if (field.find_first_of("\t\n") != std::string::npos) return true;
        if (!line.empty()) line += '\t';
        line += field;
    }
    line += '\n';
    return ::write(fd_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

RecoveryResult RecoverInterruptedRun(const std::string& path, ProfileStore& profile,
                                     const std::string& historyPath,
                                     const std::string& contentIndexPath,
                                     const RecoveryScope& scope) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Replay replay(profile, historyPath, contentIndexPath, scope);
    size_t start = 0;
    for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
        replay.Record(SplitTabs(text.substr(start, lf - start)));
        start = lf + 1;
    }
    const RecoveryResult result = replay.Finish();
    ::unlink(path.c_str());
    return result;
}

}  // namespace qm
