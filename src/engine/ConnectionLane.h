#pragma once
// One connection's share of fetching a group's articles when the run uses several: it takes the
// queue's next articles, keeps up to the pipeline depth of them in flight, reads and saves each
// on its own thread, and hands what it still owes back to the queue when its connection is lost.

#include <chrono>
#include <cstddef>
#include <deque>

#include "engine/ArticleQueue.h"
#include "engine/ArticleRetrieval.h"

namespace qm {

class GroupProcessor;
class HeaderScan;

class ConnectionLane {
public:
    ConnectionLane(GroupProcessor& group, const HeaderScan& scan, NewsSession& session,
                   ArticleQueue& queue);

    // Fetches until the queue has nothing left, a stop, the group is abandoned or the
    // connection is lost.
    void Run();
    // The connection broke: its articles went back to the queue.
    bool Lost() const { return lost_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Owed {
        QueuedArticle queued;
        CurrentArticle article;
        Clock::time_point sent;
    };

    bool Over() const;
    bool Fill();
    void Send(Owed& owed);
    bool Settle(int result);
    bool LogInAgain();
    bool DiscardFront();
    void Leave();

    GroupProcessor& group_;
    const HeaderScan& scan_;
    EngineState& engine_;
    NewsSession& session_;
    ArticleQueue& queue_;
    ArticleRetriever retriever_;
    std::size_t depth_;
    std::deque<Owed> owed_;
    bool loginTried_ = false;  // for the article at the front
    bool lost_ = false;
};

}  // namespace qm
