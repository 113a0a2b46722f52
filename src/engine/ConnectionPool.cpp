#include "engine/ConnectionPool.h"

#include "engine/EngineState.h"
#include "engine/GroupSelection.h"

namespace qm {

void ConnectionPool::OpenAhead() {
    FinishOpening();
    EnsureSlots();
    for (Extra& extra : extras_) {
        if (extra.refused || (extra.session && extra.session->Connected())) continue;
        extra.opener = std::thread([this, &extra] { Connect(extra); });
    }
}

// The engine's connection starts at once; a further one joins when it is open, so a server slow
// to greet a further connection holds up nothing. Once the work is done (done()), connections
// still being opened are given up without counting as refused.
void ConnectionPool::Fetch(const std::function<void(NewsSession&)>& work,
                           const std::function<bool()>& done) {
    EngineState& e = engine_;
    EnsureSlots();
    {
        std::lock_guard lock(e.work);
        opening_ = static_cast<long>(extras_.size());
        using_ = 1;
    }
    std::vector<std::thread> threads;
    for (Extra& extra : extras_) {
        threads.emplace_back([this, &extra, &work] {
            if (extra.opener.joinable()) extra.opener.join();
            const bool opened =
                !extra.refused && !givingUp_ && Connect(extra) && SelectGroup(extra);
            Counted(opened);
            if (opened) work(*extra.session);
        });
    }
    work(e.session);
    if (done()) givingUp_ = true;
    for (std::thread& thread : threads) thread.join();
    givingUp_ = false;
}

void ConnectionPool::EnsureSlots() {
    extras_.resize(static_cast<std::size_t>(engine_.settings.connections - 1));
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
    if (!extra.session) {
        extra.session = e.MakeSession([this] { return givingUp_.load(); });
    }
    NewsSession& session = *extra.session;
    if (session.Connected()) return true;
    const NewsConnectOutcome outcome = session.Connect(e.settings.host, e.settings.port);
    if (outcome == NewsConnectOutcome::Connected && !session.GreetedWithRefusal()) return true;
    session.Close();
    extra.refused = !e.stop && !givingUp_;
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
