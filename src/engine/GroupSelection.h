#pragma once
// The conversation that opens the work on each group: the GROUP command (with the session's login
// when forced or asked for) and the parse of its reply.

#include <string>

#include "session/NewsSession.h"

namespace qm {

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

// GROUP for one group, as the engine runs it: AuthFailed when the login was refused.
GroupOpen OpenGroup(NewsSession& session, const std::string& group, GroupReply& reply);

}  // namespace qm
