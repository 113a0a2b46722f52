#pragma once
// The articles of one group handed out to the connections that fetch them, in the pending list's
// order, and the read mark they earn: the end of the unbroken run of articles dealt with, so
// articles finished out of order never let a kill or a Stop skip one still on its way.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "engine/SharedState.h"

namespace qm {

struct QueuedArticle {
    std::string line;  // its overview line
    long number = 0;
    std::uint64_t order = 0;  // place in the order handed out
};

class ArticleQueue {
public:
    // The naming of a picture that waits until every article before its own is dealt with:
    // commit gives 1 when done (0: the run is ending, nothing after it moves the mark); discard
    // removes what waited when its turn never comes.
    struct Deferred {
        std::function<int()> commit;
        std::function<void()> discard;
    };

    // mark: the group's read mark as the retrieval starts. markMoved is called (one call at a
    // time, marks rising) whenever the unbroken run of articles dealt with grows. Once over
    // answers true (a stop, the group abandoned) no connection waits for articles any more.
    ArticleQueue(SharedState& shared, std::function<bool()> over, long mark,
                 std::function<void(long)> markMoved);

    // The next article to ask for, without waiting: false when none is free now (the pending
    // dialog is open, another connection is taking one, or none is left).
    bool TryTake(QueuedArticle& article);
    // The same, waiting while articles handed out to other connections may still come back:
    // false once every article is dealt with, or on a stop.
    bool Take(QueuedArticle& article);
    // A connection was lost with article still owed: the next connection to take one gets it.
    void GiveBack(QueuedArticle article);
    ~ArticleQueue();
    ArticleQueue(const ArticleQueue&) = delete;
    ArticleQueue& operator=(const ArticleQueue&) = delete;

    // article needs no more work (fetched, or passed over for good) but, if given, naming its
    // picture, which happens once the articles before it are dealt with.
    void Finish(const QueuedArticle& article, Deferred naming = {});
    // article will not be dealt with in this retrieval (a stop, the group abandoned): the mark
    // stays before it.
    void Release(const QueuedArticle& article);
    // Entries the pending dialog removed since the last call.
    long TakeRemoved();

    long Mark() const;
    // Nothing is left to hand out: the pending list is empty and nothing was given back.
    bool Exhausted() const;
    // Exhausted, and every article handed out is dealt with or released.
    bool Finished() const;

private:
    bool TakeHoldingTurn(QueuedArticle& article, bool wait);

    SharedState& shared_;
    std::function<bool()> over_;
    std::function<void(long)> markMoved_;
    std::mutex turn_;  // one connection at a time takes from the pending list, in order
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QueuedArticle> returned_;               // by order
    std::unordered_map<std::uint64_t, long> numbers_;  // order -> number, not yet in the run
    std::map<std::uint64_t, Deferred> finished_;       // beyond the unbroken run
    bool halted_ = false;  // a naming failed: the run is ending and the mark stays
    std::uint64_t nextOrder_ = 0;
    std::uint64_t runEnd_ = 0;  // the first order not yet dealt with
    long outstanding_ = 0;      // handed out, not finished (given back ones included)
    long mark_;
    long removed_ = 0;
};

}  // namespace qm
