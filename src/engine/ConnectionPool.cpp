#include "engine/ConnectionPool.h"

#include "engine/EngineState.h"
#include "engine/GroupSelection.h"

namespace qm {

void ConnectionPool::OpenAhead() {
    FinishOpening();
    extras_.resize(static_cast<std::size_t>(engine_.settings.connections - 1));
    for (Extra& extra : extras_) {
        if (extra.refused || (extra.session && extra.session->Connected())) continue;
        extra.opener = std::thread([this, &extra] { Connect(extra); });
    }
}

void ConnectionPool::Fetch(const std::function<void(NewsSession&)>& work) {
    EngineState& e = engine_;
    FinishOpening();
    extras_.resize(static_cast<std::size_t>(e.settings.connections - 1));
    {
        std::lock_guard lock(e.work);
        opening_ = 0;
        using_ = 1;
        for (const Extra& extra : extras_) opening_ += extra.refused ? 0 : 1;
        if (opening_ == 0) ReportCount();
    }
    std::vector<std::thread> threads;
    for (Extra& extra : extras_) {
        if (extra.refused) continue;
        threads.emplace_back([this, &extra, &work] {
            const bool opened = Connect(extra) && SelectGroup(extra);
            Counted(opened);
            if (opened) work(*extra.session);
        });
    }
    work(e.session);
    for (std::thread& thread : threads) thread.join();
}

void ConnectionPool::ReplaceLostOwn() {
    EngineState& e = engine_;
    if (e.Connected()) return;
    for (Extra& extra : extras_) {
        if (!extra.session || !extra.session->Connected()) continue;
        if (e.session.Stalled()) e.TurnOffCompressionAfterStall();
        e.session.TakeOver(*extra.session);
        return;
    }
}

void ConnectionPool::CloseAll() {
    FinishOpening();
    extras_.clear();
}

void ConnectionPool::FinishOpening() {
    for (Extra& extra : extras_) {
        if (extra.opener.joinable()) extra.opener.join();
    }
}

// A server that will not have the connection (none made, a refusing greeting) is not asked again
// in this run.
bool ConnectionPool::Connect(Extra& extra) {
    EngineState& e = engine_;
    if (!extra.session) extra.session = e.MakeSession();
    NewsSession& session = *extra.session;
    if (session.Connected()) return true;
    const NewsConnectOutcome outcome = session.Connect(e.settings.host, e.settings.port);
    if (outcome == NewsConnectOutcome::Connected && !session.GreetedWithRefusal()) return true;
    session.Close();
    extra.refused = !e.stop;
    return false;
}

bool ConnectionPool::SelectGroup(Extra& extra) {
    GroupReply reply;
    if (!engine_.stop &&
        OpenGroup(*extra.session, engine_.currentGroup, reply) == GroupOpen::Selected) {
        return true;
    }
    extra.session->Close();
    return false;
}

void ConnectionPool::Counted(bool opened) {
    std::lock_guard lock(engine_.work);
    if (opened) ++using_;
    if (--opening_ == 0) ReportCount();
}

// Once every further connection has been tried: how many the run has, if fewer than asked for.
void ConnectionPool::ReportCount() {
    EngineState& e = engine_;
    if (using_ >= e.settings.connections || countShown_) return;
    countShown_ = true;
    e.status.SetStatusText("  Using " + std::to_string(using_) + " of " +
                           std::to_string(e.settings.connections) + " connections to " +
                           e.settings.host);
}

}  // namespace qm
