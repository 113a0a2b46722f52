#pragma once
// The run's further connections to the server, beyond the engine's own: opened ahead while a
// group's headers are scanned, kept from group to group, and not asked for again once the server
// refused one. Says once how many the run has when the server grants fewer than asked for.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "session/NewsSession.h"

namespace qm {

struct EngineState;

class ConnectionPool {
public:
    explicit ConnectionPool(EngineState& engine) : engine_(engine) {}
    ~ConnectionPool() { CloseAll(); }
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // Starts connecting the further connections the run lacks, each on a thread of its own.
    void OpenAhead();
    // Runs work on the engine's connection on this thread and, each on a thread of its own, on
    // every further connection that can serve the current group (connected if need be, the
    // group selected); returns when all of them are done. done tells, once the engine's own
    // work has returned, whether nothing is left for the others.
    void Fetch(const std::function<void(NewsSession&)>& work, const std::function<bool()>& done);
    // The engine's own connection is gone while a further one lives on: the engine goes on
    // with that one.
    void ReplaceLostOwn();
    // Waits for connections being opened and closes them all (the end of the run).
    void CloseAll();

private:
    struct Extra {
        std::unique_ptr<NewsSession> session;
        bool refused = false;  // the server would not have it
        std::thread opener;
    };

    void FinishOpening();
    void EnsureSlots();
    bool Connect(Extra& extra);
    bool SelectGroup(Extra& extra);
    void Counted(bool opened);
    void ReportCount();

    EngineState& engine_;
    std::vector<Extra> extras_;
    // Guarded by the engine's work lock while the connections open.
    long opening_ = 0;
    long using_ = 0;
    bool countShown_ = false;
    // The work is done: connections still being opened are given up, as after a stop.
    std::atomic<bool> givingUp_{false};
};

}  // namespace qm
