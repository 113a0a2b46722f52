#include "engine/SharedState.h"

#include "engine/OverviewLine.h"

namespace qm {

void SharedState::AppendPending(const std::string& line) {
    std::lock_guard lock(mutex_);
    pending_.push_back(line);
}

bool SharedState::TakeNextPending(std::string& line, long& removed, bool wait) {
    std::unique_lock lock(mutex_);
    if (pendingDialogOpen_ && !wait) {
        removed = 0;
        return false;
    }
    if (pendingDialogOpen_) {
        engineParked_ = true;
        dialogClosed_.wait(lock, [this] { return !pendingDialogOpen_; });
        engineParked_ = false;
    }
    removed = pendingChanged_ ? removedCount_ : 0;
    pendingChanged_ = false;
    removedCount_ = 0;
    if (pending_.empty()) return false;
    line = std::move(pending_.front());
    pending_.pop_front();
    return true;
}

void SharedState::ClearPending() {
    std::lock_guard lock(mutex_);
    pending_.clear();
}

size_t SharedState::PendingCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

void SharedState::TrimPendingFront(size_t keepNewest) {
    std::lock_guard lock(mutex_);
    while (pending_.size() > keepNewest) pending_.pop_front();
}

std::vector<std::string> SharedState::PendingSnapshot() const {
    std::lock_guard lock(mutex_);
    return {pending_.begin(), pending_.end()};
}

std::vector<long> SharedState::PendingNumbers(size_t count) const {
    std::lock_guard lock(mutex_);
    std::vector<long> numbers;
    for (size_t i = 0; i < count && i < pending_.size(); ++i) {
        numbers.push_back(StrictLeadingNumber(ParseOverviewLine(pending_[i]).number));
    }
    return numbers;
}

std::int64_t SharedState::PendingLineSum() const {
    std::lock_guard lock(mutex_);
    std::int64_t sum = 0;
    for (const std::string& line : pending_) sum += OverviewLineCount(line);
    return sum;
}

void SharedState::ClearSubjectCache() {
    std::lock_guard lock(mutex_);
    subjectCache_.clear();
}

void SharedState::AddToSubjectCache(const std::string& lowerSubject) {
    std::lock_guard lock(mutex_);
    subjectCache_.push_back(lowerSubject);
}

bool SharedState::SubjectCacheContains(const std::string& lowerSubject) const {
    std::lock_guard lock(mutex_);
    for (const std::string& s : subjectCache_) {
        if (s == lowerSubject) return true;
    }
    return false;
}

void SharedState::SetBinaryRate(std::int64_t rate) {
    std::lock_guard lock(mutex_);
    binaryRate_ = rate;
}

std::int64_t SharedState::BinaryRate() const {
    std::lock_guard lock(mutex_);
    return binaryRate_;
}

void SharedState::SetLastSubject(const std::string& s) {
    std::lock_guard lock(mutex_);
    lastSubject_ = s;
}

void SharedState::SetLastFrom(const std::string& s) {
    std::lock_guard lock(mutex_);
    lastFrom_ = s;
}

void SharedState::SetCurrentPicturePath(const std::string& s) {
    std::lock_guard lock(mutex_);
    currentPicturePath_ = s;
}

std::string SharedState::LastSubject() const {
    std::lock_guard lock(mutex_);
    return lastSubject_;
}

std::string SharedState::LastFrom() const {
    std::lock_guard lock(mutex_);
    return lastFrom_;
}

std::string SharedState::CurrentPicturePath() const {
    std::lock_guard lock(mutex_);
    return currentPicturePath_;
}

bool SharedState::EngineParked() const {
    std::lock_guard lock(mutex_);
    return engineParked_;
}

void SharedState::BeginRetrieval() {
    std::lock_guard lock(mutex_);
    retrievalRunning_ = true;
}

void SharedState::EndRetrieval() {
    {
        std::lock_guard lock(mutex_);
        retrievalRunning_ = false;
    }
    ReleasePendingDialog();
}

void SharedState::ReleasePendingDialog() {
    {
        std::lock_guard lock(mutex_);
        pendingDialogOpen_ = false;
        openSession_ = 0;  // whatever the session does later touches nothing
    }
    dialogClosed_.notify_all();
}

std::uint64_t SharedState::OpenPendingDialog(bool& hadChanges, std::vector<std::string>& records) {
    std::lock_guard lock(mutex_);
    // Only during a retrieval loop: a session opened after it could edit the next group's list.
    if (!retrievalRunning_ || pendingDialogOpen_) return 0;
    pendingDialogOpen_ = true;
    openSession_ = ++lastSession_;
    hadChanges = pendingChanged_;
    records.assign(pending_.begin(), pending_.end());
    return openSession_;
}

void SharedState::RestorePending(std::uint64_t session, const std::vector<std::string>& snapshot,
                                 bool hadChanges) {
    std::lock_guard lock(mutex_);
    if (session != openSession_) return;
    if (!hadChanges) {
        pendingChanged_ = false;
        removedCount_ = 0;
    }
    pending_.assign(snapshot.begin(), snapshot.end());
}

void SharedState::EditPending(std::uint64_t session,
                              const std::function<long(std::deque<std::string>&)>& edit) {
    std::lock_guard lock(mutex_);
    if (session != openSession_) return;
    long removed = edit(pending_);
    if (removed > 0) {
        removedCount_ += removed;
        pendingChanged_ = true;
    }
}

void SharedState::ClosePendingDialog(std::uint64_t session) {
    {
        std::lock_guard lock(mutex_);
        if (session != openSession_) return;
        pendingDialogOpen_ = false;
        openSession_ = 0;
    }
    dialogClosed_.notify_all();
}

bool SharedState::SessionIsOpen(std::uint64_t session) const {
    std::lock_guard lock(mutex_);
    return session != 0 && session == openSession_;
}

bool SharedState::PendingDialogOpen() const {
    std::lock_guard lock(mutex_);
    return pendingDialogOpen_;
}

}  // namespace qm
