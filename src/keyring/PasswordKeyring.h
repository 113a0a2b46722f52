#pragma once
// PasswordKeyring: where a news server's password is kept outside the profile, keyed by the host
// and the user name. Plain C++ so the session, the pages and the tests never see the desktop's
// own libraries; every call gives up after its timeout and never asks the user to unlock.

#include <string>

namespace qm {

// What a keyring call came to. Unreachable carries the reason in words for the user.
struct KeyringAnswer {
    enum class Outcome { Done, NotFound, Unreachable };
    Outcome outcome = Outcome::Unreachable;
    std::string password;  // a lookup that was Done
    std::string reason;    // Unreachable: why

    static KeyringAnswer Done(std::string password = {}) {
        return {Outcome::Done, std::move(password), {}};
    }
    static KeyringAnswer NotFound() { return {Outcome::NotFound, {}, {}}; }
    static KeyringAnswer Unreachable(std::string reason) {
        return {Outcome::Unreachable, {}, std::move(reason)};
    }
    bool IsDone() const { return outcome == Outcome::Done; }
};

class PasswordKeyring {
public:
    virtual ~PasswordKeyring() = default;
    // Done when the session offers a keyring that can be used at all.
    virtual KeyringAnswer Offered() = 0;
    // The password kept for user at host: Done with it, NotFound, or Unreachable (a locked
    // keyring among the reasons: it is never unlocked from here).
    virtual KeyringAnswer Lookup(const std::string& host, const std::string& user) = 0;
    // Keeps password for user at host, replacing one kept before.
    virtual KeyringAnswer Store(const std::string& host, const std::string& user,
                                const std::string& password) = 0;
    // Forgets the password kept for user at host; Done also when there was none.
    virtual KeyringAnswer Remove(const std::string& host, const std::string& user) = 0;
};

}  // namespace qm
