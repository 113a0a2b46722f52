#include "engine/PendingDialogSession.h"

#include <algorithm>

#include "engine/OverviewLine.h"
#include "util/TextFiles.h"

namespace qm {

PendingDialogSession::PendingDialogSession(SharedState& shared)
    : shared_(shared), snapshot_(shared.OpenPendingDialog(hadChanges_)) {}

PendingDialogSession::~PendingDialogSession() {
    if (open_) Cancel();
}

long PendingDialogSession::Remove(const std::vector<std::string>& numbers) {
    long removed = 0;
    shared_.EditPending([&](std::deque<std::string>& records) {
        for (const std::string& number : numbers) {
            auto it = std::find_if(records.begin(), records.end(), [&](const std::string& r) {
                return ParseOverviewLine(r).number == number;
            });
            if (it == records.end()) continue;
            removedSubjects_.push_back(Lowercase(ParseOverviewLine(*it).subject));
            records.erase(it);
            ++removed;
        }
        return removed;
    });
    return removed;
}

void PendingDialogSession::Ok(bool cacheSubjects) {
    if (!open_) return;
    if (cacheSubjects) {
        for (const std::string& s : removedSubjects_) shared_.AddToSubjectCache(s);
    }
    removedSubjects_.clear();
    Close();
}

void PendingDialogSession::Cancel() {
    if (!open_) return;
    shared_.RestorePending(snapshot_, hadChanges_);
    removedSubjects_.clear();
    Close();
}

void PendingDialogSession::Close() {
    open_ = false;
    snapshot_.clear();
    shared_.ClosePendingDialog();
}

}  // namespace qm
