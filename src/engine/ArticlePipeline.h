#pragma once
// The ARTICLE commands in flight on the connection, oldest first. The retrieval loop works on the
// oldest while up to the pipeline depth of later ones are already on their way, so a distant
// server is never left waiting for the next command. Replies come back in the order sent.

#include <chrono>
#include <cstddef>
#include <deque>
#include <vector>

#include "engine/EngineState.h"

namespace qm {

class ArticlePipeline {
public:
    ArticlePipeline(EngineState& engine, std::size_t depth) : engine_(engine), depth_(depth) {}

    // Before reading the reply for number: the replies owed for articles sent ahead and since
    // removed from the pending list are read and dropped, number's own command goes out unless
    // it already has, and the next of upcoming (the pending list's head) follow up to the depth.
    // False when the connection broke or a stop abandoned it while dropping.
    bool Prepare(long number, const std::vector<long>& upcoming);
    // The reply of the oldest command has been read (or the connection broke while reading it).
    void Received();
    // How many later articles may still be sent ahead after the one being worked on.
    std::size_t Room() const;
    // End of a group's list: every reply still owed is read and dropped so the connection stays
    // in step for the next group; after a stop the connection is abandoned instead.
    void Finish();
    // Reads and drops every reply still owed, so the next command's reply is the next to come
    // (before a login in the middle of the list). False when the connection broke on the way.
    bool DropAll();
    // The connection is gone: nothing is owed on the next one.
    void Forget() { sent_.clear(); }

    std::size_t InFlight() const { return sent_.size(); }
    // When the oldest command in flight went out (after Prepare: the one for its number).
    std::chrono::steady_clock::time_point OldestSent() const;

private:
    struct Sent {
        long number;
        std::chrono::steady_clock::time_point at;
    };
    bool DropOldest();
    bool IsSent(long number) const;
    void Send(long number);

    EngineState& engine_;
    std::size_t depth_;
    std::deque<Sent> sent_;
};

}  // namespace qm
