#include "net/Nntp.h"

#include <algorithm>

#include "util/TextFiles.h"

namespace qm {
namespace {

// Far more than any server lists; a list that goes on is not a capability list.
constexpr int kMaxCapabilityLines = 1000;

// The next blank-separated word of text, taken off its front.
std::string_view NextWord(std::string_view& text) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        text = {};
        return {};
    }
    text.remove_prefix(start);
    const size_t end = std::min(text.find_first_of(" \t"), text.size());
    std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

// expected in lower case.
bool SameWord(std::string_view word, std::string_view expected) {
    return word.size() == expected.size() && StartsWithNoCase(word, expected);
}

bool CapabilitiesListDeflate(CLineSocket& socket) {
    socket.SendLine("CAPABILITIES\r\n");
    std::string line;
    if (!socket.ReadLine(line) || ReplyCode(line) != 101) return false;
    bool listed = false;
    for (int n = 0; socket.ReadLine(line); ++n) {
        if (line == ".\r\n") return listed;
        if (n == kMaxCapabilityLines) {
            socket.Disconnect();  // the rest would pass for the answer to the next command
            return false;
        }
        listed = listed || ListsCompressDeflate(line);
    }
    return false;
}

}  // namespace

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

bool ListsCompressDeflate(std::string_view capabilityLine) {
    std::string_view rest = WithoutLineEnd(capabilityLine);
    if (!SameWord(NextWord(rest), "compress")) return false;
    for (std::string_view word = NextWord(rest); !word.empty(); word = NextWord(rest)) {
        if (SameWord(word, "deflate")) return true;
    }
    return false;
}

bool NegotiateDeflate(CLineSocket& socket) {
    if (!CapabilitiesListDeflate(socket)) return false;
    socket.SendLine("COMPRESS DEFLATE\r\n");
    std::string reply;
    if (!socket.ReadLine(reply) || ReplyCode(reply) != 206) return false;
    return socket.StartCompression();
}

}  // namespace qm
