#include "session/KeyringPasswords.h"

namespace qm {

void KeyringPasswords::Use(PasswordKeyring& keyring) {
    std::lock_guard lock(mutex_);
    keyring_ = &keyring;
    answers_.clear();
    noPassword_.clear();
}

void KeyringPasswords::Forget() {
    std::lock_guard lock(mutex_);
    answers_.clear();
    noPassword_.clear();
}

// Held while the keyring answers: another connection asking the same waits for that answer.
KeyringAnswer KeyringPasswords::Lookup(const std::string& host, const std::string& user) {
    std::lock_guard lock(mutex_);
    const auto key = std::make_pair(host, user);
    const auto known = answers_.find(key);
    if (known != answers_.end()) return known->second;
    return answers_.emplace(key, keyring_->Lookup(host, user)).first->second;
}

void KeyringPasswords::NoteNoPassword(const std::string& reason) {
    std::lock_guard lock(mutex_);
    noPassword_ = reason;
}

std::string KeyringPasswords::NoPasswordReason() const {
    std::lock_guard lock(mutex_);
    return noPassword_;
}

std::string KeyringFailureText(const std::string& host, const std::string& user,
                               const KeyringAnswer& answer) {
    if (answer.outcome == KeyringAnswer::Outcome::NotFound) {
        return "Error--the desktop keyring holds no password for " + user + " at " + host;
    }
    return "Error--the password for " + host +
           " is in the desktop keyring, which cannot be reached: " + answer.reason;
}

}  // namespace qm
