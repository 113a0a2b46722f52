#pragma once
// The server's group list: a worker thread connects, sends LIST and hands every group whose name
// passes the group filter to a receiver (the group selection dialog), one name at a time, waiting
// for the receiver to acknowledge each before it reads on, so the receiver is never flooded.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/UserPrompt.h"
#include "settings/ProfileStore.h"

namespace qm {

class CLineSocket;
class NewsSession;
class PasswordKeyring;

// What the worker tells its receiver, in this order: the list is emptied, status lines and
// names, the first item is to be selected, and the retrieval is done. Every call must return at
// once (post the news to the receiver's own thread); every text is the receiver's own copy.
class GroupListSink {
public:
    virtual ~GroupListSink() = default;
    virtual void ListStatus(std::string text) = 0;
    virtual void ListCleared() = 0;
    // The receiver calls GroupListWorker::Acknowledge() once it has taken the name.
    virtual void ListGroup(std::string name) = 0;
    virtual void ListSelectFirst() = 0;
    virtual void ListDone() = 0;
};

// The filter text split at every separator; empty pieces count ("a:" gives "a" and "").
std::vector<std::string> SplitList(const std::string& text, char separator);
// Whether a group name passes the filter: an empty term lets every name through, any other
// term must occur in the name, case and all.
bool PassesGroupFilter(std::string_view name, const std::vector<std::string>& terms);
// The group name of a line of the LIST reply: its first word.
std::string_view GroupNameOfListLine(std::string_view line);

class GroupListWorker {
public:
    // ackWindow: how many handed-over names may wait for their acknowledgement before the
    // worker waits. 1 is the strict rhythm (each name acknowledged before the next line is
    // read); a window of a few hundred keeps the receiver just as safe from being flooded but
    // spares a round trip between the threads per group, which on a busy machine is what a list
    // of 100,000 groups takes its time for.
    GroupListWorker(ProfileStore& profile, UserPrompt& prompt, GroupListSink& sink,
                    int ackWindow = 1);
    ~GroupListWorker();  // abandons a running retrieval
    GroupListWorker(const GroupListWorker&) = delete;
    GroupListWorker& operator=(const GroupListWorker&) = delete;

    // Starts a retrieval with these filter terms; false while one is still running. A Stop left
    // over from an earlier retrieval is forgotten.
    bool Start(std::vector<std::string> filterTerms);
    // Ends the retrieval at the next reply line (or at once while it waits for one).
    void Stop();
    // The receiver has taken the name last handed over.
    void Acknowledge();
    // The receiver goes away: the retrieval ends at once, nothing more reaches the receiver
    // after this returns, and the thread is joined.
    void Abandon();
    bool Running() const { return running_; }
    // Waits for the retrieval's thread to end (tests, and before a new start).
    void Join();
    // The keyring a retrieval reads a password kept there from (the desktop's unless tests
    // hand in their own); before Start.
    void UseKeyring(PasswordKeyring& keyring) { keyring_ = &keyring; }

    // How long the worker waits for an acknowledgement before it reads on.
    static constexpr int kAckWaitMs = 2000;

private:
    // How the LIST command was answered. Stopped: a Stop ended the login before the answer.
    enum class ListStart { Listing, Refused, LoginFailed, Stopped };

    void Work(const std::vector<std::string>& terms);
    bool Connect(NewsSession& session, const std::string& host);
    ListStart RequestList(NewsSession& session, std::string& refusal);
    void ReadGroups(CLineSocket& socket, const std::vector<std::string>& terms);
    std::string EndStatus(const NewsSession& session, const std::string& host,
                          const std::string& refusal) const;
    void Status(const std::string& text);
    void Done();
    bool TakeStop();
    bool StopOrAbandon();
    bool Abandoned();
    template <typename Fn>
    void Tell(Fn&& fn);
    void HandOver(std::string name);

    // Not const: a certificate the user chooses to trust is stored in the server's section.
    ProfileStore& profile_;
    UserPrompt& prompt_;
    GroupListSink& sink_;
    PasswordKeyring* keyring_;

    std::mutex tellMutex_;
    mutable std::mutex mutex_;
    std::condition_variable acknowledged_;
    const int ackWindow_;
    int unacknowledged_ = 0;
    bool stop_ = false;
    bool abandoned_ = false;
    std::atomic<bool> running_{false};
    // The worker thread's own counts of the retrieval: LIST lines read, names handed over.
    long scanned_ = 0;
    long added_ = 0;
    std::thread thread_;
};

}  // namespace qm
