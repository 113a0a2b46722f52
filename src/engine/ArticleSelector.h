#pragma once
// The article selection: decides for each overview line whether its article is fetched, from the
// line limits, the subject include and exclude lists, the sender excludes, the subject cache of
// the pending dialog and the history, and counts the rejections the window shows.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/HistoryIndex.h"
#include "engine/HistoryList.h"
#include "settings/DataFiles.h"

namespace qm {

class EngineStatus;
class SharedState;
struct EngineSettings;

// The filters of one run.
struct SelectionSettings {
    std::string subjectIncl;   // colon list
    std::string subjectIncl2;  // colon list, for subjects with a '/'
    std::string subjectExcl;   // colon list
    long minLines = 500;
    long maxLines = 3000;
    bool logHistoryHits = false;

    static SelectionSettings From(const EngineSettings& settings);
};

// Lowercases text and cuts it at every ':'; empty parts between colons are kept, an empty last
// part is not ("jpg:gif:" gives two entries, "jpg::gif" three).
std::vector<std::string> SplitColonList(std::string_view text);

// The lines of the sender exclude file, lowercased; a missing file gives an empty list.
std::vector<std::string> LoadFromExcludes(const std::string& path = kFromExcludesFile);

// True when at least one entry occurs in text (an empty entry occurs everywhere).
bool ListMatches(const std::vector<std::string>& list, std::string_view text);

class ArticleSelector {
public:
    // "FromExcludes" and "HistLog.txt" are in directory ("" means the current directory).
    ArticleSelector(const SelectionSettings& settings, EngineStatus& status,
                    const SharedState& shared, std::string directory = "");
    // The engine's form: filters from the run's snapshot, lookup taken from history.
    ArticleSelector(const EngineSettings& settings, EngineStatus& status, const SharedState& shared,
                    const HistoryList& history);

    // At the start of every group: the subject cache switch and the sender excludes, read from
    // "FromExcludes" or given. Empty exclude entries are dropped: they would reject everything.
    void BeginGroup(bool cacheSubjects);
    void BeginGroup(bool cacheSubjects, std::vector<std::string> senderExcludes);

    // Brings the history lookup up to date before a group's overview scan (cheap when the list
    // has not changed since the last time).
    void RefreshHistory(const HistoryList& history);

    // True when the article goes on the pending list. The number and date do not take part.
    bool Select(std::string_view number, std::string_view subject, std::string_view sender,
                long lines, std::string_view date);
    // A multi-part post, judged once: on its subject without the part counter and on the lines of
    // all its parts. It is numbered as parts, so the second include list always applies.
    bool SelectPost(std::string_view subject, std::string_view sender, long totalLines);
    // A post already completed, listed again: skipped as the history skips a name.
    void CountHistorySkipped();

    // At the start of every pass over the group list.
    void ResetPassCounters();
    long HistorySkipped() const { return historySkipped_; }
    long OtherSkipped() const { return otherSkipped_; }
    // An article fetched and then passed over (a yEnc post that failed its check, one part of a
    // multi-part post) counts among the other files skipped too.
    void CountOtherSkipped() { RejectAsOther(); }

private:
    bool Judge(std::string_view subject, std::string_view sender, long lines, bool numberedAsParts);
    bool PassesIncludes(const std::string& lowerSubject, bool numberedAsParts) const;
    bool Excluded(const std::string& lowerSubject, std::string_view sender);
    bool RejectAsOther();
    bool RejectAsHistory(const HistoryIndex::Hit& hit, const std::string& lowerSubject);

    std::vector<std::string> include_;
    std::vector<std::string> include2_;
    std::vector<std::string> exclude_;
    std::vector<std::string> senderExcludes_;
    long minLines_;
    long maxLines_;
    bool logHistoryHits_;
    bool cacheSubjects_ = false;

    EngineStatus& status_;
    const SharedState& shared_;
    std::string directory_;
    HistoryHitLog hitLog_;
    HistoryIndex lookup_;
    std::string lowerSubject_, lowerSender_;  // reused for every line: no allocation per header
    std::uint64_t lookupGeneration_ = 0;      // of the list the lookup was built from; 0: none
    long historySkipped_ = 0;
    long otherSkipped_ = 0;
};

}  // namespace qm
