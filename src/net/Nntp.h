#pragma once
// The NNTP conventions every conversation with the server shares: reply codes, multi-line replies
// (read up to their "." line, obeying a stop), message-ids fit to send, and the AUTHINFO USER /
// PASS exchange. Knows the line socket and nothing above it.

#include <atomic>
#include <string>
#include <string_view>

#include "net/Socket.h"

namespace qm {

// The leading decimal number of a reply line (0 for an empty line).
long ReplyCode(std::string_view line);

// Reads the lines of a multi-line reply up to its final ".\r\n", handing each to fn. False when
// the connection is gone, or when a stop was requested: a server that keeps sending must not
// hold the run, so the rest of the reply is abandoned with the connection.
template <typename Fn>
bool ReadMultiLine(CLineSocket& socket, const std::atomic<bool>& stop, Fn&& fn) {
    std::string line;
    while (socket.ReadLine(line)) {
        if (line == ".\r\n") return true;
        if (stop) {
            socket.AbandonForStop();
            return false;
        }
        fn(line);
    }
    return false;
}

// A message-id as NNTP defines it: "<" to ">", printable US-ASCII without blanks, at most 250
// octets. Anything else must not go into a command.
bool ValidMessageId(std::string_view id);

struct AuthResult {
    std::string reply;      // the last reply line received
    bool passSent = false;  // AUTHINFO PASS was sent
    // The verdict: a 481, 482 or 502 to USER or to PASS means the server refused us, except a
    // 502 to USER on a connection that has already authenticated: that is how servers answer a
    // repeated exchange.
    bool Failed(bool alreadyAuthenticated) const;
};

// AUTHINFO USER, and AUTHINFO PASS when the server asks for it with 381.
AuthResult SendAuthInfo(CLineSocket& socket, const std::string& user, const std::string& password);

// A capability line "COMPRESS ..." that names DEFLATE among its algorithms (in any case).
bool ListsCompressDeflate(std::string_view capabilityLine);
// CAPABILITIES, and COMPRESS DEFLATE when the server lists it; on its 206 the rest of the
// connection is compressed. True when it is. Anything else leaves the connection as it was, or
// broken when it broke on the way (a capability list without end is cut off with it).
bool NegotiateDeflate(CLineSocket& socket);

}  // namespace qm
