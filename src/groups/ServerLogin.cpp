#include "groups/ServerLogin.h"

#include "settings/SettingsKeys.h"

namespace qm {

AuthResult LogIn(CLineSocket& socket, const ProfileStore& profile, const std::string& host,
                 UserPrompt& prompt) {
    std::string password;
    if (profile.GetInt(host, kPromptForPasswd, 0) != 0) {
        if (!prompt.AskPassword(password)) password.clear();
    } else {
        password = profile.GetString(host, kPassword, "");
    }
    return SendAuthInfo(socket, profile.GetString(host, kUsername, ""), password);
}

}  // namespace qm
