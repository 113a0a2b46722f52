#pragma once
// The pending-articles dialog's side of the handshake with the engine, without any drawing: while
// a session is open the engine parks before its next article; the session edits the pending list
// and, when it ends, either keeps its removals (OK) or puts the list back as it found it (Cancel).

#include <string>
#include <vector>

#include "engine/SharedState.h"

namespace qm {

class PendingDialogSession {
public:
    // Opens a session only while a group's retrieval loop runs (see IsOpen()).
    explicit PendingDialogSession(SharedState& shared);
    ~PendingDialogSession();  // an unfinished session ends as Cancel
    PendingDialogSession(const PendingDialogSession&) = delete;
    PendingDialogSession& operator=(const PendingDialogSession&) = delete;

    // False when the session was refused, or released by a Stop; it then changes nothing.
    bool IsOpen() const;
    // The records as they were when the session opened.
    const std::vector<std::string>& Snapshot() const { return snapshot_; }

    // Removes, for each article number, the first record whose number field equals it exactly;
    // their lower-case subjects are remembered. Returns how many records went.
    long Remove(const std::vector<std::string>& numbers);

    // Keeps the removals; with cacheSubjects the removed subjects join the run's subject cache.
    void Ok(bool cacheSubjects);
    // Puts every removed record back.
    void Cancel();

private:
    void Close();

    SharedState& shared_;
    std::vector<std::string> snapshot_;
    std::vector<std::string> removedSubjects_;
    bool hadChanges_ = false;
    std::uint64_t session_ = 0;
};

}  // namespace qm
