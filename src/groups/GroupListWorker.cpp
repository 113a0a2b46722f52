#include "groups/GroupListWorker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "groups/NewsConnection.h"
#include "groups/ServerLogin.h"
#include "net/Nntp.h"
#include "net/Socket.h"
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
    : profile_(profile), prompt_(prompt), sink_(sink), ackWindow_(std::max(ackWindow, 1)) {}

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

bool GroupListWorker::Authenticate(CLineSocket& socket, const std::string& host) {
    AuthResult result = LogIn(socket, profile_, host, prompt_);
    // Only an accepted login counts here: a list fetched without one would be cut short again.
    return ReplyCode(result.reply) == 281;
}

void GroupListWorker::Work(const std::vector<std::string>& terms) {
    const std::string host = ReadText(profile_, "NNTPHost");
    Tell([&] { sink_.ListStatus("  Connecting to " + host); });
    Tell([&] { sink_.ListCleared(); });
    if (host.empty()) {
        Tell([&] { sink_.ListStatus("  Can't connect to server"); });
        Tell([&] { sink_.ListDone(); });
        return;
    }

    CLineSocket socket;
    CLineSocket::Timeouts timeouts;
    timeouts.stopGrace = std::chrono::milliseconds(0);
    socket.SetTimeouts(timeouts);
    // While connecting only the receiver's going away ends the wait; a Stop counts from the
    // first reply line, so it does not pass for a failed connection.
    socket.SetStopCheck([this] { return Abandoned(); });
    NewsConnectOutcome outcome = ConnectToNewsServer(
        socket, profile_, host, ConfiguredPort(profile_), prompt_,
        [this](const std::string& text) { Tell([&] { sink_.ListStatus(text); }); });
    if (outcome != NewsConnectOutcome::Connected) {
        if (outcome == NewsConnectOutcome::NoConnection)
            Tell([&] { sink_.ListStatus("  Can't connect to server"); });
        Tell([&] { sink_.ListDone(); });
        return;
    }
    Tell([&] { sink_.ListStatus("  Connected to " + host + (socket.UsesTls() ? " (TLS)" : "")); });
    socket.SetStopCheck([this] { return StopOrAbandon(); });

    const bool userAuthentication = profile_.GetInt(host, kUserAuthentication, 0) != 0;
    bool authenticated = false;
    auto authenticationFailed = [&] {
        Tell([&] { sink_.ListStatus("  Authentication failed"); });
        Tell([&] { sink_.ListDone(); });
    };
    if (profile_.GetInt(host, kForceAuthInfo, 0) != 0) {
        if (!Authenticate(socket, host)) return authenticationFailed();
        authenticated = true;
    }
    socket.SendLine("LIST\r\n");

    long scanned = 0;
    long added = 0;
    bool inBody = false;  // the 215 line has come: what follows up to "." are groups
    std::string refusal;
    std::string line;
    while (socket.ReadLine(line) && !Abandoned()) {
        if (line == ".\r\n") break;
        if (!inBody) {
            long code = ReplyCode(line);
            if (code == 480) {
                if (!userAuthentication) {
                    prompt_.ShowMessage(
                        "The server has requested authentication.\n\n"
                        "Please go to the Authentication tab in the Setup\n"
                        "dialog and enter the required username and password\n"
                        "for " +
                        host);
                    break;
                }
                // A second 480 after an accepted login would ask for ever.
                if (authenticated || !Authenticate(socket, host)) return authenticationFailed();
                authenticated = true;
                socket.SendLine("LIST\r\n");
                continue;
            }
            if (code != 215) {
                refusal = std::string(WithoutLineEnd(line));
                break;
            }
            inBody = true;
            if (TakeStop()) break;
            continue;
        }
        if (TakeStop()) break;
        std::string_view text = line;
        if (text.starts_with("..")) text.remove_prefix(1);  // dot-stuffed
        std::string_view name = GroupNameOfListLine(text);
        if (!name.empty() && PassesGroupFilter(name, terms)) {
            HandOver(std::string(name));
            ++added;
        }
        ++scanned;
        if (scanned % 10 == 0) {
            char status[80];
            std::snprintf(status, sizeof status, "  %5ld groups scanned -- %5ld added", scanned,
                          added);
            Tell([&] { sink_.ListStatus(status); });
        }
    }
    if (socket.AbortedByStop()) TakeStop();

    Tell([&] { sink_.ListSelectFirst(); });
    std::string status;
    if (!refusal.empty()) {
        status = "  Error -- " + refusal;
    } else if (socket.IsConnected() || socket.AbortedByStop()) {
        char text[120];
        std::snprintf(text, sizeof text,
                      "  Operation complete -- %ld groups scanned; %ld groups added", scanned,
                      added);
        status = text;
    } else {
        status = "  Error -- Connection to " + host + " lost";
    }
    Tell([&] { sink_.ListStatus(status); });
    Tell([&] { sink_.ListDone(); });
}

}  // namespace qm
