#pragma once
// The values the engine and the windows share during a run, each access under one lock. It also
// carries the pending-articles handshake: the engine parks between two articles while the dialog
// is open and can never stay parked once the dialog has closed.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qm {

class SharedState {
public:
    // Pending list (overview lines of the articles chosen in the current group).
    void AppendPending(const std::string& line);
    // Engine side, before each article: parks while the pending dialog is open, then takes the
    // head of the list. removed receives how many entries the dialog removed since the last call.
    // False when the list is empty. Without wait, false at once while the dialog is open.
    bool TakeNextPending(std::string& line, long& removed, bool wait = true);
    void ClearPending();
    size_t PendingCount() const;
    void TrimPendingFront(size_t keepNewest);
    std::vector<std::string> PendingSnapshot() const;
    // The article numbers of the first count entries (the commands the engine may send ahead).
    std::vector<long> PendingNumbers(size_t count) const;
    // Sum of the line-count fields of the pending list (for the time-left estimate).
    std::int64_t PendingLineSum() const;

    // Subject cache: lower-case subjects removed in the pending dialog.
    void ClearSubjectCache();
    void AddToSubjectCache(const std::string& lowerSubject);
    bool SubjectCacheContains(const std::string& lowerSubject) const;

    void SetBinaryRate(std::int64_t rate);
    std::int64_t BinaryRate() const;

    void SetLastSubject(const std::string& s);
    void SetLastFrom(const std::string& s);
    void SetCurrentPicturePath(const std::string& s);
    std::string LastSubject() const;
    std::string LastFrom() const;
    std::string CurrentPicturePath() const;

    bool EngineParked() const;
    bool PendingDialogOpen() const;

    // Engine side: a group's retrieval loop starts and ends. Only in between can a pending dialog
    // session open; the end releases any session still open.
    void BeginRetrieval();
    void EndRetrieval();
    // Stop and the end of the program: an engine parked for the dialog runs on at once, and the
    // open session (if any) no longer touches the pending list.
    void ReleasePendingDialog();

private:
    friend class PendingDialogSession;
    // Dialog side of the handshake (see PendingDialogSession). Opening gives the session's number
    // (0: refused, no retrieval loop runs or a session is open), the list as it is and whether
    // removals were already waiting for the engine. The other calls do nothing for a session that
    // is no longer the open one.
    std::uint64_t OpenPendingDialog(bool& hadChanges, std::vector<std::string>& records);
    // Runs edit on the pending list under the lock; edit returns how many entries it removed.
    void EditPending(std::uint64_t session,
                     const std::function<long(std::deque<std::string>&)>& edit);
    void RestorePending(std::uint64_t session, const std::vector<std::string>& snapshot,
                        bool hadChanges);
    void ClosePendingDialog(std::uint64_t session);
    bool SessionIsOpen(std::uint64_t session) const;

    mutable std::mutex mutex_;
    std::condition_variable dialogClosed_;
    std::deque<std::string> pending_;
    std::vector<std::string> subjectCache_;
    std::int64_t binaryRate_ = 0;
    std::string lastSubject_, lastFrom_, currentPicturePath_;
    bool pendingDialogOpen_ = false;
    bool engineParked_ = false;
    bool pendingChanged_ = false;
    bool retrievalRunning_ = false;
    std::uint64_t openSession_ = 0;  // 0: none
    std::uint64_t lastSession_ = 0;
    long removedCount_ = 0;
};

}  // namespace qm
