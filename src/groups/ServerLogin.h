#pragma once
// Logging in to a news server as its profile section says: the user name, and the password
// stored there or asked of the user. Shared by every conversation that may meet a 480.

#include <string>

#include "net/Nntp.h"
#include "net/UserPrompt.h"
#include "settings/ProfileStore.h"

namespace qm {

// Runs the AUTHINFO exchange with the settings of the host's section; a password prompt the
// user cancels sends an empty password.
AuthResult LogIn(CLineSocket& socket, const ProfileStore& profile, const std::string& host,
                 UserPrompt& prompt);

}  // namespace qm
