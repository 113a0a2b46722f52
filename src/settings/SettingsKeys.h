#pragma once
// Every key of the main section with its two defaults: what the setup pages show for a missing key,
// and what the other readers (engine, main window, dialogs) pass. One table, so both stay together.

#include <optional>
#include <string>
#include <string_view>

#include "settings/ProfileStore.h"

namespace qm {

inline constexpr const char* kMainSection = "Quarrymoth";
inline constexpr const char* kDownloadDirsSection = "DownloadDirs";

struct KeyDefaults {
    std::string_view key;
    std::optional<std::string_view> pageDefault;    // setup page; nullopt: no page shows it
    std::optional<std::string_view> readerDefault;  // engine and the other readers; nullopt: none
};

// The table; lookups are without regard to case.
const KeyDefaults* FindKeyDefaults(std::string_view key);

// The default download directory shown by the General page: $HOME + "/QMDownloadDir/".
std::string DefaultDownloadDirectory();

// Reader-side access: the value of a main-section key with the readers' default from the table.
std::string ReadText(const ProfileStore& profile, std::string_view key);
long ReadInt(const ProfileStore& profile, std::string_view key);

// Page-side access: the value with the setup page's default.
std::string ReadPageText(const ProfileStore& profile, std::string_view key);

// Keys of a server's section (section name = the host name).
inline constexpr const char* kUserAuthentication = "UserAuthentication";
inline constexpr const char* kForceAuthInfo = "ForceAuthInfo";
inline constexpr const char* kUsername = "Username";
inline constexpr const char* kPassword = "Password";
inline constexpr const char* kPromptForPasswd = "PromptForPasswd";
// 0 plain, 1 TLS from the first byte, 2 STARTTLS before anything else is sent.
inline constexpr const char* kUseTLS = "UseTLS";
// The SHA-256 fingerprint of the one certificate the user chose to trust for the server.
inline constexpr const char* kTLSFingerprint = "TLSFingerprint";

// The TCP port to use: NNTPPort when it is a valid port number, else 119.
int ConfiguredPort(const ProfileStore& profile);

}  // namespace qm
