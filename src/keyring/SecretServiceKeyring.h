#pragma once
// SecretServiceKeyring: the desktop's keyring (the Secret Service on the session bus, GNOME
// Keyring or KWallet) through libsecret. Each call opens its own connection to the service and
// is cancelled when its timeout passes; a locked collection is reported, never unlocked, so no
// call ever waits for the user.

#include <chrono>

#include "keyring/PasswordKeyring.h"

namespace qm {

class SecretServiceKeyring : public PasswordKeyring {
public:
    explicit SecretServiceKeyring(std::chrono::milliseconds timeout) : timeout_(timeout) {}

    KeyringAnswer Offered() override;
    KeyringAnswer Lookup(const std::string& host, const std::string& user) override;
    KeyringAnswer Store(const std::string& host, const std::string& user,
                        const std::string& password) override;
    KeyringAnswer Remove(const std::string& host, const std::string& user) override;

private:
    std::chrono::milliseconds timeout_;
};

// The desktop keyring the programs use (5 seconds a call); it lives as long as the process.
PasswordKeyring& DesktopKeyring();

}  // namespace qm
