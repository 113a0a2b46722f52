#include "engine/ArticleSelector.h"

#include <algorithm>

#include "engine/EngineState.h"
#include "engine/EngineStatus.h"
#include "engine/SharedState.h"
#include "settings/FromExcludes.h"
#include "util/TextFiles.h"

namespace qm {

namespace {

// Exclude lists ignore empty entries, which would otherwise reject every article.
std::vector<std::string> WithoutEmpty(std::vector<std::string> list) {
    list.erase(std::remove(list.begin(), list.end(), std::string()), list.end());
    return list;
}

}  // namespace

SelectionSettings SelectionSettings::From(const EngineSettings& s) {
    SelectionSettings out;
    out.subjectIncl = s.subjectIncl;
    out.subjectIncl2 = s.subjectIncl2;
    out.subjectExcl = s.subjectExcl;
    out.minLines = s.minLines;
    out.maxLines = s.maxLines;
    out.logHistoryHits = s.logHistoryHits;
    return out;
}

std::vector<std::string> SplitColonList(std::string_view text) {
    const std::string lower = Lowercase(text);
    std::vector<std::string> list;
    size_t start = 0;
    for (size_t colon = lower.find(':'); colon != std::string::npos;
         colon = lower.find(':', start)) {
        list.push_back(lower.substr(start, colon - start));
        start = colon + 1;
    }
    if (start < lower.size()) list.push_back(lower.substr(start));
    return list;
}

std::vector<std::string> LoadFromExcludes(const std::string& path) {
    std::vector<std::string> list = ReadFromExcludes(path);
    for (std::string& entry : list) entry = Lowercase(entry);
    return list;
}

bool ListMatches(const std::vector<std::string>& list, std::string_view text) {
    return std::any_of(list.begin(), list.end(), [text](const std::string& entry) {
        return text.find(entry) != std::string_view::npos;
    });
}

ArticleSelector::ArticleSelector(const SelectionSettings& settings, EngineStatus& status,
                                 const SharedState& shared, std::string directory)
    : include_(SplitColonList(settings.subjectIncl)),
      include2_(SplitColonList(settings.subjectIncl2)),
      exclude_(WithoutEmpty(SplitColonList(settings.subjectExcl))),
      minLines_(settings.minLines),
      maxLines_(settings.maxLines),
      logHistoryHits_(settings.logHistoryHits),
      status_(status),
      shared_(shared),
      directory_(directory),
      hitLog_(std::move(directory)) {}

ArticleSelector::ArticleSelector(const EngineSettings& settings, EngineStatus& status,
                                 const SharedState& shared, const HistoryList& history)
    : ArticleSelector(SelectionSettings::From(settings), status, shared) {
    RefreshHistory(history);
}

void ArticleSelector::BeginGroup(bool cacheSubjects) {
    BeginGroup(cacheSubjects, LoadFromExcludes(PathInDirectory(directory_, kFromExcludesFile)));
}

void ArticleSelector::BeginGroup(bool cacheSubjects, std::vector<std::string> senderExcludes) {
    cacheSubjects_ = cacheSubjects;
    senderExcludes_ = WithoutEmpty(std::move(senderExcludes));
}

void ArticleSelector::RefreshHistory(const HistoryList& history) {
    if (history.Generation() == lookupGeneration_) return;
    lookup_.Build(history.Entries());
    lookupGeneration_ = history.Generation();
}

void ArticleSelector::ResetPassCounters() {
    historySkipped_ = 0;
    otherSkipped_ = 0;
}

bool ArticleSelector::Select(std::string_view /*number*/, std::string_view subject,
                             std::string_view sender, long lines, std::string_view /*date*/) {
    return Judge(subject, sender, lines, false);
}

bool ArticleSelector::SelectPost(std::string_view subject, std::string_view sender,
                                 long totalLines) {
    return Judge(subject, sender, totalLines, true);
}

bool ArticleSelector::Judge(std::string_view subject, std::string_view sender, long lines,
                            bool numberedAsParts) {
    if (lines < minLines_ || lines > maxLines_) return false;
    LowercaseInto(subject, lowerSubject_);
    if (!PassesIncludes(lowerSubject_, numberedAsParts)) return false;
    if (Excluded(lowerSubject_, sender)) return RejectAsOther();
    const HistoryIndex::Hit hit = lookup_.Find(lowerSubject_);
    if (hit.position != HistoryIndex::kNoHit) return RejectAsHistory(hit, lowerSubject_);
    return true;
}

bool ArticleSelector::PassesIncludes(const std::string& lowerSubject, bool numberedAsParts) const {
    if (!include_.empty() && !ListMatches(include_, lowerSubject)) return false;
    // The second list only concerns postings numbered as parts, which carry a '/'.
    if (!numberedAsParts && lowerSubject.find('/') == std::string::npos) return true;
    if (include2_.empty()) return true;
    return ListMatches(include2_, lowerSubject);
}

bool ArticleSelector::Excluded(const std::string& lowerSubject, std::string_view sender) {
    if (!exclude_.empty() && ListMatches(exclude_, lowerSubject)) return true;
    if (!senderExcludes_.empty()) {
        LowercaseInto(sender, lowerSender_);
        if (ListMatches(senderExcludes_, lowerSender_)) return true;
    }
    return cacheSubjects_ && shared_.SubjectCacheContains(lowerSubject);
}

void ArticleSelector::CountHistorySkipped() {
    status_.SetHistorySkipped(++historySkipped_);
}

bool ArticleSelector::RejectAsOther() {
    status_.SetOtherSkipped(++otherSkipped_);
    return false;
}

bool ArticleSelector::RejectAsHistory(const HistoryIndex::Hit& hit,
                                      const std::string& lowerSubject) {
    status_.SetHistorySkipped(++historySkipped_);
    if (logHistoryHits_) hitLog_.Log(lowerSubject.substr(hit.start, hit.length), lowerSubject);
    return false;
}

}  // namespace qm
