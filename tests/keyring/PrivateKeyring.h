#pragma once
// A desktop keyring of the test program's own: a private session bus (dbus-daemon) and GNOME
// Keyring on it, unlocked with a known password, with a private home and XDG directories. The
// test process talks to this bus from then on, and so do the programs it starts. One serves the
// whole program (GLib keeps its session bus connection for the life of the process).

#include <sys/types.h>

#include <string>

#include "support/TempDir.h"

namespace qm::test {

class PrivateKeyring {
public:
    // The program's keyring, started on first use and stopped when the program ends; null with
    // problem set when it could not start.
    static PrivateKeyring* Shared(std::string& problem);
    ~PrivateKeyring();
    PrivateKeyring(const PrivateKeyring&) = delete;
    PrivateKeyring& operator=(const PrivateKeyring&) = delete;

    // Whether the machine has the programs at all (a test without them is skipped).
    static bool Installed(std::string& missing);

    // Locks the default collection, as a screen lock or a fresh login does, and unlocks it with
    // the known password again (without a prompt).
    bool Lock();
    bool Unlock();
    // Freezes the keyring daemon (it stops answering) or lets it go on.
    void Freeze(bool frozen);

    const std::string& BusAddress() const { return address_; }
    std::string Home() const { return dir_ / "home"; }

    static constexpr const char* kUnlockPassword = "known password";

private:
    PrivateKeyring();  // the daemons start here; problem_ says why they did not
    bool StartBus();
    bool StartKeyring();
    bool WaitForService();

    TempDir dir_;
    std::string address_;
    std::string problem_;
    pid_t bus_ = -1;
    pid_t keyring_ = -1;
};

}  // namespace qm::test
