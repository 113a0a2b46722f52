#include "engine/GroupSelection.h"

#include "engine/OverviewLine.h"
#include "groups/ServerLogin.h"
#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace qm {

std::string SelectGroup(CLineSocket& socket, const std::string& group) {
    socket.SendLine("GROUP " + group + "\r\n");
    return socket.ReadLine();
}

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

namespace {

bool Authenticate(CLineSocket& socket, const ProfileStore& profile, const std::string& host,
                  UserPrompt& prompt, bool& authenticated) {
    if (LogIn(socket, profile, host, prompt).Failed(authenticated)) return false;
    authenticated = true;
    return true;
}

}  // namespace

GroupOpen OpenGroup(CLineSocket& socket, const ProfileStore& profile, const std::string& host,
                    const std::string& group, UserPrompt& prompt, bool& authenticated,
                    GroupReply& reply) {
    if (profile.GetInt(host, kForceAuthInfo, 0) != 0) {
        if (!Authenticate(socket, profile, host, prompt, authenticated))
            return GroupOpen::AuthFailed;
    }
    std::string line = SelectGroup(socket, group);
    if (ReplyCode(line) == 480) {
        if (profile.GetInt(host, kUserAuthentication, 0) != 0) {
            if (!Authenticate(socket, profile, host, prompt, authenticated)) {
                return GroupOpen::AuthFailed;
            }
            line = SelectGroup(socket, group);
        } else {
            prompt.ShowMessage(
                "The server has requested authentication.\n\n"
                "Please go to the Authentication tab in the Setup\n"
                "dialog and enter the required username and password\n"
                "for " +
                host);
        }
    }
    if (ReplyCode(line) != 211) return GroupOpen::Skipped;
    reply = ParseGroupReply(line);
    if (!reply.valid) return GroupOpen::Invalid;
    return reply.count == 0 ? GroupOpen::Skipped : GroupOpen::Selected;
}

}  // namespace qm
