#include "net/Nntp.h"

#include "util/TextFiles.h"

namespace qm {

long ReplyCode(std::string_view line) {
    return LeadingNumber(line);
}

bool ValidMessageId(std::string_view id) {
    if (id.size() < 3 || id.size() > 250 || id.front() != '<' || id.back() != '>') return false;
    for (char c : id) {
        if (c <= ' ' || c > '~') return false;
    }
    return true;
}

bool AuthResult::Failed(bool alreadyAuthenticated) const {
    long code = ReplyCode(reply);
    if (code == 502 && !passSent && alreadyAuthenticated) return false;
    return code == 481 || code == 482 || code == 502;
}

AuthResult SendAuthInfo(CLineSocket& socket, const std::string& user, const std::string& password) {
    AuthResult result;
    socket.SendLine("AUTHINFO USER " + user + "\r\n");
    result.reply = socket.ReadLine();
    if (ReplyCode(result.reply) != 381) return result;
    socket.SendLine("AUTHINFO PASS " + password + "\r\n");
    result.reply = socket.ReadLine();
    result.passSent = true;
    return result;
}

}  // namespace qm
