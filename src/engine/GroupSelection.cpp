#include "engine/GroupSelection.h"

#include "engine/OverviewLine.h"
#include "net/Nntp.h"
#include "util/TextFiles.h"

namespace qm {

namespace {

// Cuts text at its first space: returns the part before it and leaves the rest in text.
std::string CutAtSpace(std::string& text) {
    size_t space = text.find(' ');
    std::string head = text.substr(0, space);
    text = space == std::string::npos ? std::string() : text.substr(space + 1);
    return head;
}

}  // namespace

namespace {

// A number of the reply: 0 when it has no digits, and the reply invalid when it does not fit.
long ReplyNumber(const std::string& token, bool& valid) {
    if (LeadingNumber(token) == 0) return 0;
    long n = StrictLeadingNumber(token);
    if (n < 0) valid = false;
    return n < 0 ? 0 : n;
}

}  // namespace

GroupReply ParseGroupReply(const std::string& line) {
    GroupReply r;
    std::string rest = line;
    r.code = LeadingNumber(CutAtSpace(rest));
    r.count = ReplyNumber(CutAtSpace(rest), r.valid);
    r.first = ReplyNumber(CutAtSpace(rest), r.valid);
    r.last = ReplyNumber(rest, r.valid);
    return r;
}

GroupOpen OpenGroup(NewsSession& session, const std::string& group, GroupReply& reply) {
    std::string line;
    if (!session.SelectGroup(group, line)) return GroupOpen::AuthFailed;
    if (ReplyCode(line) != 211) return GroupOpen::Skipped;
    reply = ParseGroupReply(line);
    if (!reply.valid) return GroupOpen::Invalid;
    return reply.count == 0 ? GroupOpen::Skipped : GroupOpen::Selected;
}

}  // namespace qm
