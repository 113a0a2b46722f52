#include "engine/PendingDialogSession.h"

#include <cstddef>
#include <string_view>
#include <unordered_map>

#include "engine/OverviewLine.h"
#include "engine/PartCounter.h"
#include "util/TextFiles.h"

namespace qm {

PendingDialogSession::PendingDialogSession(SharedState& shared)
    : shared_(shared), session_(shared.OpenPendingDialog(hadChanges_, snapshot_)) {}

PendingDialogSession::~PendingDialogSession() {
    if (session_ != 0) Cancel();
}

bool PendingDialogSession::IsOpen() const {
    return session_ != 0 && shared_.SessionIsOpen(session_);
}

namespace {

// What the subject cache remembers of a removed article: a part of a multi-part post stands for
// its post, whose every part carries the subject without its counter.
std::string_view PostSubject(std::string_view subject, std::string& storage) {
    const std::optional<PartCounter> counter = FindPartCounter(subject);
    if (!counter || !counter->MakesPart()) return subject;
    storage = SubjectWithoutCounter(subject, *counter);
    return storage;
}

}  // namespace

long PendingDialogSession::Remove(const std::vector<std::string>& numbers) {
    long removed = 0;
    shared_.EditPending(session_, [&](std::deque<std::string>& records) {
        // One walk over the list, not one search per number: a thousand removals from a list of
        // fifty thousand would otherwise parse tens of millions of records. The k-th request for
        // a number takes the k-th record carrying it, as k searches from the head would.
        std::unordered_map<std::string_view, std::vector<size_t>> requests;
        for (size_t i = 0; i < numbers.size(); ++i) requests[numbers[i]].push_back(i);
        std::unordered_map<std::string_view, size_t> served;
        std::vector<std::string> subjects(numbers.size());
        std::vector<char> found(numbers.size(), 0);
        size_t kept = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            const OverviewRecord record = ParseOverviewLine(records[i]);
            auto wanted = requests.find(record.number);
            if (wanted != requests.end()) {
                size_t& next = served[wanted->first];
                if (next < wanted->second.size()) {
                    const size_t request = wanted->second[next++];
                    std::string storage;
                    subjects[request] = Lowercase(PostSubject(record.subject, storage));
                    found[request] = 1;
                    ++removed;
                    continue;
                }
            }
            if (kept != i) records[kept] = std::move(records[i]);
            ++kept;
        }
        records.erase(records.begin() + static_cast<std::ptrdiff_t>(kept), records.end());
        for (size_t i = 0; i < numbers.size(); ++i) {
            if (found[i] != 0) removedSubjects_.push_back(std::move(subjects[i]));
        }
        return removed;
    });
    return removed;
}

void PendingDialogSession::Ok(bool cacheSubjects) {
    if (session_ == 0) return;
    if (cacheSubjects && IsOpen()) {
        for (const std::string& s : removedSubjects_) shared_.AddToSubjectCache(s);
    }
    removedSubjects_.clear();
    Close();
}

void PendingDialogSession::Cancel() {
    if (session_ == 0) return;
    shared_.RestorePending(session_, snapshot_, hadChanges_);
    removedSubjects_.clear();
    Close();
}

void PendingDialogSession::Close() {
    shared_.ClosePendingDialog(session_);
    session_ = 0;
    snapshot_.clear();
}

}  // namespace qm
