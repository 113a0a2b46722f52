#include "groups/GroupListWorker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "keyring/SecretServiceKeyring.h"
#include "net/Nntp.h"
#include "net/Socket.h"
#include "session/NewsSession.h"
#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace qm {

std::vector<std::string> SplitList(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos;
         at = text.find(separator, start)) {
        pieces.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

bool PassesGroupFilter(std::string_view name, const std::vector<std::string>& terms) {
    for (const std::string& term : terms) {
        if (term.empty() || name.find(term) != std::string_view::npos) return true;
    }
    return false;
}

std::string_view GroupNameOfListLine(std::string_view line) {
    line = WithoutLineEnd(line);
    size_t end = line.find_first_of(" \t");
    return end == std::string_view::npos ? line : line.substr(0, end);
}

GroupListWorker::GroupListWorker(ProfileStore& profile, UserPrompt& prompt, GroupListSink& sink,
                                 int ackWindow)
    : profile_(profile),
      prompt_(prompt),
      sink_(sink),
      keyring_(&DesktopKeyring()),
      ackWindow_(std::max(ackWindow, 1)) {}

GroupListWorker::~GroupListWorker() {
    Abandon();
}

bool GroupListWorker::Start(std::vector<std::string> filterTerms) {
    if (running_) return false;
    Join();
    {
        std::lock_guard lock(mutex_);
        if (abandoned_) return false;
        stop_ = false;
        unacknowledged_ = 0;
    }
    prompt_.AllowQuestions();
    running_ = true;
    thread_ = std::thread([this, terms = std::move(filterTerms)] {
        Work(terms);
        running_ = false;
    });
    return true;
}

void GroupListWorker::Stop() {
    std::lock_guard lock(mutex_);
    stop_ = true;
}

void GroupListWorker::Acknowledge() {
    {
        std::lock_guard lock(mutex_);
        if (unacknowledged_ > 0) --unacknowledged_;
    }
    acknowledged_.notify_all();
}

void GroupListWorker::Abandon() {
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    acknowledged_.notify_all();
    prompt_.CancelQuestions();
    { std::lock_guard wait(tellMutex_); }  // a notice being posted now is the last one
    Join();
}

void GroupListWorker::Join() {
    if (thread_.joinable()) thread_.join();
}

bool GroupListWorker::TakeStop() {
    std::lock_guard lock(mutex_);
    bool stop = stop_;
    stop_ = false;
    return stop;
}

bool GroupListWorker::StopOrAbandon() {
    std::lock_guard lock(mutex_);
    return stop_ || abandoned_;
}

bool GroupListWorker::Abandoned() {
    std::lock_guard lock(mutex_);
    return abandoned_;
}

// The telling lock is held while the sink posts, and Abandon() takes it once after setting the
// flag, so once Abandon() has returned nothing more is posted. It is not the lock of the events:
// a sink may acknowledge from within ListGroup.
template <typename Fn>
void GroupListWorker::Tell(Fn&& fn) {
    std::lock_guard lock(tellMutex_);
    if (!Abandoned()) fn();
}

void GroupListWorker::HandOver(std::string name) {
    {
        std::lock_guard lock(mutex_);
        ++unacknowledged_;
    }
    bool told = false;
    Tell([&] {
        sink_.ListGroup(std::move(name));
        told = true;
    });
    if (!told) return;
    std::unique_lock lock(mutex_);
    // A receiver that does not answer in time holds the worker no longer: the name is its own
    // copy, so it may still arrive safely later.
    acknowledged_.wait_for(lock, std::chrono::milliseconds(kAckWaitMs),
                           [this] { return unacknowledged_ < ackWindow_ || abandoned_; });
}

void GroupListWorker::Status(const std::string& text) {
    Tell([&] { sink_.ListStatus(text); });
}

void GroupListWorker::Done() {
    Tell([&] { sink_.ListDone(); });
}

void GroupListWorker::Work(const std::vector<std::string>& terms) {
    const std::string host = kNNTPHost.Read(profile_);
    scanned_ = 0;
    added_ = 0;
    Status("  Connecting to " + host);
    Tell([&] { sink_.ListCleared(); });
    NewsSession session(
        profile_, prompt_, LoginRule::Strict, [this](const std::string& text) { Status(text); },
        "  ");
    KeyringPasswords passwords(*keyring_);
    session.SetKeyring(&passwords);
    if (!Connect(session, host)) return Done();
    std::string refusal;
    switch (RequestList(session, refusal)) {
        case ListStart::LoginFailed:
            session.ReportLoginFailure();
            return Done();
        case ListStart::Listing:
            ReadGroups(session.Socket(), terms);
            break;
        case ListStart::Refused:
        case ListStart::Stopped:
            break;
    }
    if (session.AbortedByStop()) TakeStop();
    Tell([&] { sink_.ListSelectFirst(); });
    Status(EndStatus(session, host, refusal));
    Done();
}

bool GroupListWorker::Connect(NewsSession& session, const std::string& host) {
    if (host.empty()) {
        Status("  Can't connect to server");
        return false;
    }
    session.SetSocketSetup([this](CLineSocket& socket) {
        CLineSocket::Timeouts timeouts;
        timeouts.stopGrace = std::chrono::milliseconds(0);
        socket.SetTimeouts(timeouts);
        // While connecting only the receiver's going away ends the wait; a Stop counts from the
        // first reply line, so it does not pass for a failed connection.
        socket.SetStopCheck([this] { return Abandoned(); });
    });
    const NewsConnectOutcome outcome = session.Connect(host, ConfiguredPort(profile_));
    if (outcome != NewsConnectOutcome::Connected) {
        if (outcome == NewsConnectOutcome::NoConnection) Status("  Can't connect to server");
        return false;
    }
    Status("  Connected to " + host + (session.UsesTls() ? " (TLS)" : ""));
    session.Socket().SetStopCheck([this] { return StopOrAbandon(); });
    return true;
}

// The login when forced, LIST, and its first reply line (a 480 answered as the session's
// rules say). Listing: the 215 came and the groups follow.
GroupListWorker::ListStart GroupListWorker::RequestList(NewsSession& session,
                                                        std::string& refusal) {
    std::string reply;
    if (!session.LogInIfForced() || !session.Request("LIST\r\n", reply, true)) {
        // A Stop pressed while the server had yet to answer the login ends as any Stop does.
        return session.AbortedByStop() ? ListStart::Stopped : ListStart::LoginFailed;
    }
    if (Abandoned() || reply == ".\r\n") return ListStart::Refused;
    const long code = ReplyCode(reply);
    // A 480 the user has no credentials for: the retrieval ends as though the list were empty.
    if (code == 480) return ListStart::Refused;
    if (code != 215) {
        refusal = std::string(WithoutLineEnd(reply));
        return ListStart::Refused;
    }
    return TakeStop() ? ListStart::Refused : ListStart::Listing;
}

// The lines of the LIST reply up to its "." line, a Stop, or the receiver's going away.
void GroupListWorker::ReadGroups(CLineSocket& socket, const std::vector<std::string>& terms) {
    std::string line;
    while (socket.ReadLine(line) && !Abandoned()) {
        if (line == ".\r\n" || TakeStop()) break;
        std::string_view text = line;
        if (text.starts_with("..")) text.remove_prefix(1);  // dot-stuffed
        std::string_view name = GroupNameOfListLine(text);
        if (!name.empty() && PassesGroupFilter(name, terms)) {
            HandOver(std::string(name));
            ++added_;
        }
        if (++scanned_ % 10 == 0) {
            char status[80];
            std::snprintf(status, sizeof status, "  %5ld groups scanned -- %5ld added", scanned_,
                          added_);
            Status(status);
        }
    }
}

std::string GroupListWorker::EndStatus(const NewsSession& session, const std::string& host,
                                       const std::string& refusal) const {
    if (!refusal.empty()) return "  Error -- " + refusal;
    if (session.Connected() || session.AbortedByStop()) {
        char text[120];
        std::snprintf(text, sizeof text,
                      "  Operation complete -- %ld groups scanned; %ld groups added", scanned_,
                      added_);
        return text;
    }
    return "  Error -- Connection to " + host + " lost";
}

}  // namespace qm
