#pragma once
// The conversation that opens the work on each group: the AUTHINFO USER / PASS exchange, the
// GROUP command, and the parse of its reply.

#include <string>

#include "engine/EngineStatus.h"
#include "net/Socket.h"
#include "settings/ProfileStore.h"

namespace qm {

struct AuthResult {
    std::string reply;      // the last reply line received
    bool passSent = false;  // AUTHINFO PASS was sent
    // The engine's verdict: a 481, 482 or 502 to USER or to PASS means the server refused us,
    // except a 502 to USER on a connection that has already authenticated: that is how servers
    // answer a repeated exchange.
    bool Failed(bool alreadyAuthenticated) const;
};

// Runs the exchange with the settings of the host's section, asking for the password through
// prompt when the section says so (a cancelled prompt sends an empty password).
AuthResult SendAuthInfo(CLineSocket& socket, const ProfileStore& profile, const std::string& host,
                        EnginePrompt& prompt);

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

// The leading decimal number of a reply line (0 for an empty line).
long ReplyCode(const std::string& line);

enum class GroupOpen { Selected, Skipped, Invalid, AuthFailed };

// Authentication (forced or on 480) and GROUP for one group, as the engine runs it.
// authenticated tells, and learns, whether this connection has authenticated.
GroupOpen OpenGroup(CLineSocket& socket, const ProfileStore& profile, const std::string& host,
                    const std::string& group, EnginePrompt& prompt, bool& authenticated,
                    GroupReply& reply);

}  // namespace qm
