#pragma once
// Opening the conversation with a news server as its profile section says: plain, TLS from the
// first byte, or STARTTLS; the certificate checked, or the user asked whether to trust it. The
// first step of every NewsSession, so the engine and the group list worker reach a server alike.

#include <functional>
#include <string>

#include "net/Socket.h"
#include "net/UserPrompt.h"
#include "settings/ProfileStore.h"

namespace qm {

enum class TlsMode { None = 0, Tls = 1, StartTls = 2 };

// The host section's UseTLS; a value it cannot mean is plain, as a missing one is.
TlsMode ConfiguredTlsMode(const ProfileStore& profile, const std::string& host);
// NNTPS has a port of its own: 563 stands for the main section's port when that is the usual 119
// (or empty) and the server speaks TLS from the first byte.
int NewsServerPort(TlsMode mode, int configuredPort);

enum class NewsConnectOutcome {
    Connected,     // greeting read; TLS (if any) accepted
    NoConnection,  // no TCP connection or no greeting: the caller reports it as before
    TlsRefused,    // TLS could not be had or was refused; the status line said why
};

using StatusLine = std::function<void(const std::string&)>;

// Connects socket to host. A certificate that does not verify (or is not the one the user
// trusted) is shown to the user with its fingerprint; a Yes stores that fingerprint in the host's
// section and the connection is made again accepting exactly that certificate. Nothing is sent
// before the TLS session is accepted, and with STARTTLS nothing but STARTTLS.
NewsConnectOutcome ConnectToNewsServer(CLineSocket& socket, ProfileStore& profile,
                                       const std::string& host, int configuredPort,
                                       UserPrompt& prompt, const StatusLine& status);

}  // namespace qm
