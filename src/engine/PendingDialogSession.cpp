#include "engine/PendingDialogSession.h"

#include <algorithm>

#include "engine/OverviewLine.h"
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

long PendingDialogSession::Remove(const std::vector<std::string>& numbers) {
    long removed = 0;
    shared_.EditPending(session_, [&](std::deque<std::string>& records) {
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
