#include "engine/ConnectionLane.h"

#include "engine/GroupProcessor.h"
#include "engine/HeaderScan.h"

namespace qm {

ConnectionLane::ConnectionLane(GroupProcessor& group, const HeaderScan& scan, NewsSession& session,
                               ArticleQueue& queue)
    : group_(group),
      scan_(scan),
      engine_(group.engine_),
      session_(session),
      queue_(queue),
      retriever_(group.engine_, session),
      depth_(static_cast<std::size_t>(group.engine_.settings.pipelineDepth)) {
    retriever_.LeaveLossToCaller();
    retriever_.DeferCommits();
}

bool ConnectionLane::Over() const {
    return engine_.stop || group_.abandoned_;
}

void ConnectionLane::Run() {
    EngineState& e = engine_;
    while (!Over()) {
        if (!Fill()) {
            lost_ = !e.stop;
            break;
        }
        if (owed_.empty()) break;
        e.pause.Pass();
        Owed& next = owed_.front();
        if (!group_.BeginArticle(next.article)) {
            // Its post was given up meanwhile: the reply already on its way is read and dropped.
            if (e.stop) break;
            if (!DiscardFront()) {
                lost_ = !e.stop;
                break;
            }
            continue;
        }
        retriever_.article = next.article;
        retriever_.SetCommandSent(next.sent);
        if (!Settle(retriever_.ReceiveArticle(next.queued.number))) break;
    }
    Leave();
}

// Sends commands until depth of them are in flight. While some are, it takes only what is free
// at once; with none, it waits for articles another connection may give back. False when the
// connection broke.
bool ConnectionLane::Fill() {
    while (owed_.size() < depth_ && !Over()) {
        QueuedArticle queued;
        if (!(owed_.empty() ? queue_.Take(queued) : queue_.TryTake(queued))) break;
        group_.NoteRemoved(queue_.TakeRemoved());
        Owed owed{std::move(queued), {}, {}};
        group_.Describe(scan_, owed.queued.line, owed.article);
        if (!group_.StillWanted(owed.article)) {
            group_.BeginArticle(owed.article);  // counted as started, never asked for
            queue_.Finish(owed.queued);
            continue;
        }
        Send(owed);
        owed_.push_back(std::move(owed));
    }
    return session_.Connected();
}

void ConnectionLane::Send(Owed& owed) {
    ArticleRetriever::SendArticleCommand(session_.Socket(), owed.queued.number);
    owed.sent = Clock::now();
}

// What the front article's result means. False when this connection's work ends here.
bool ConnectionLane::Settle(int result) {
    EngineState& e = engine_;
    if (result == ArticleRetriever::kLoginAsked && !loginTried_) {
        loginTried_ = true;
        return LogInAgain();
    }
    if (result == ArticleRetriever::kLoginAsked) result = 1;  // refused like any other article
    if (result == ArticleRetriever::kFetchAgain && session_.Connected()) {
        // A part that failed its check: asked for once more, behind the commands in flight.
        Owed again = std::move(owed_.front());
        owed_.pop_front();
        Send(again);
        owed_.push_back(std::move(again));
        return true;
    }
    ArticleQueue::Deferred naming = retriever_.TakeDeferred();
    if (result != 1 && !session_.Connected()) {
        lost_ = !e.stop;
        return false;
    }
    if (result != 1 && e.stop) return false;
    loginTried_ = false;
    {
        std::lock_guard lock(e.work);
        e.status.SetArticlesSaved(++e.pass.articlesSaved);
        if (result == 1) e.NoteProgress();
    }
    queue_.Finish(owed_.front().queued, std::move(naming));
    owed_.pop_front();
    return true;
}

// The server wants a login before it hands out articles: the replies to the commands sent after
// the front one come before any answer to the login, so they are read and dropped first; after
// the login every article still owed is asked for again.
bool ConnectionLane::LogInAgain() {
    EngineState& e = engine_;
    for (std::size_t i = 1; i < owed_.size(); ++i) {
        if (!ArticleRetriever::DiscardReply(session_.Socket(), e.stop)) {
            lost_ = !e.stop;
            return false;
        }
    }
    if (session_.AnswerLoginRequest(false) != NewsSession::LoginAnswer::LoggedIn) {
        if (!session_.Connected() || session_.AbortedByStop()) {
            lost_ = !e.stop;
        } else {
            group_.Abandon(true);
        }
        return false;
    }
    for (Owed& owed : owed_) Send(owed);
    return session_.Connected();
}

bool ConnectionLane::DiscardFront() {
    if (!ArticleRetriever::DiscardReply(session_.Socket(), engine_.stop)) return false;
    if (!engine_.stop) queue_.Finish(owed_.front().queued);
    owed_.pop_front();
    return true;
}

// What is still owed when the work ends: given back for another connection when this one was
// lost; otherwise the replies on their way are read and dropped so the connection stays in step
// for the next group, or, after a stop, the connection is given up.
void ConnectionLane::Leave() {
    if (lost_) {
        for (Owed& owed : owed_) queue_.GiveBack(std::move(owed.queued));
        owed_.clear();
        // The engine's own connection is made again (or replaced) by the engine's rules.
        if (&session_ != &engine_.session && session_.Stalled())
            engine_.TurnOffCompressionAfterStall();
        return;
    }
    for (const Owed& owed : owed_) queue_.Release(owed.queued);
    if (owed_.empty() || !session_.Connected()) {
        owed_.clear();
        return;
    }
    if (engine_.stop) {
        session_.Socket().AbandonForStop();
    } else {
        for (std::size_t i = 0; i < owed_.size(); ++i) {
            if (!ArticleRetriever::DiscardReply(session_.Socket(), engine_.stop)) break;
        }
    }
    owed_.clear();
}

}  // namespace qm
