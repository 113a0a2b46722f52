#pragma once
// KeyringPasswords: the passwords the connections of one run (or one Refresh) read from the
// keyring. The first answer for a server login is kept for the rest of the run, so several
// connections make one keyring call between them, and all of them learn the same reason when
// there is no password to be had.

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "keyring/PasswordKeyring.h"

namespace qm {

class KeyringPasswords {
public:
    explicit KeyringPasswords(PasswordKeyring& keyring) : keyring_(&keyring) {}

    // The keyring later runs ask (tests hand in their own).
    void Use(PasswordKeyring& keyring);
    // A new run: the keyring is asked again.
    void Forget();

    KeyringAnswer Lookup(const std::string& host, const std::string& user);
    // A login could not be made for want of a password, for the reason given (what the user is
    // told whichever connection reports the failure).
    void NoteNoPassword(const std::string& reason);
    std::string NoPasswordReason() const;

private:
    mutable std::mutex mutex_;
    PasswordKeyring* keyring_;
    std::map<std::pair<std::string, std::string>, KeyringAnswer> answers_;
    std::string noPassword_;
};

// What the user is told when the password kept in the keyring for user at host cannot be had.
std::string KeyringFailureText(const std::string& host, const std::string& user,
                               const KeyringAnswer& answer);

}  // namespace qm
