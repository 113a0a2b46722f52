#pragma once
// The conversation that opens the work on each group: authentication when forced or asked for,
// the GROUP command, and the parse of its reply.

#include <string>

#include "engine/EngineStatus.h"
#include "net/Nntp.h"
#include "net/Socket.h"
#include "settings/ProfileStore.h"

namespace qm {

// Sends GROUP and returns the reply line.
std::string SelectGroup(CLineSocket& socket, const std::string& group);

struct GroupReply {
    long code = 0;
    long count = 0;
    long first = 0;
    long last = 0;
    bool valid = true;  // false when a number does not fit: it would name other articles
};

// Reads code, count, first and last from a 211 reply; missing or non-numeric tokens give 0.
GroupReply ParseGroupReply(const std::string& line);

enum class GroupOpen { Selected, Skipped, Invalid, AuthFailed };

// Authentication (forced or on 480) and GROUP for one group, as the engine runs it.
// authenticated tells, and learns, whether this connection has authenticated.
GroupOpen OpenGroup(CLineSocket& socket, const ProfileStore& profile, const std::string& host,
                    const std::string& group, UserPrompt& prompt, bool& authenticated,
                    GroupReply& reply);

}  // namespace qm
