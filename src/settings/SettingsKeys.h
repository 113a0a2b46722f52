#pragma once
// Every setting of the profile declared once: its section, key, type and defaults (what the setup
// pages show for a missing key, and what the engine and the other readers use). Callers read and
// write through these declarations, never through a key spelled out, so a typo does not compile.

#include <string>
#include <vector>

#include "settings/ProfileStore.h"

namespace qm {

inline constexpr const char* kMainSection = "Quarrymoth";
inline constexpr const char* kDownloadDirsSection = "DownloadDirs";

// A key as the setup pages see it: the text of a field or a check box, with the page's default.
struct PageField {
    const char* section;
    const char* key;
    const char* pageDefault;
    std::string (*pageDefaultFn)();  // set: the default is computed when asked

    std::string Read(const ProfileStore& profile) const;
    bool Flag(const ProfileStore& profile) const;
    ProfileStore::Change Change(std::string text) const { return {section, key, std::move(text)}; }
    ProfileStore::Change ChangeFlag(bool on) const { return Change(on ? "1" : "0"); }
};

// A text value of a fixed section. readerDefault serves the engine and the windows; pageDefault
// what a setup page shows when the key is missing (nullptr: no page shows the key).
class TextSetting {
public:
    using PageDefaultFn = std::string (*)();
    constexpr TextSetting(const char* section, const char* key, const char* readerDefault,
                          const char* pageDefault = nullptr)
        : section_(section), key_(key), readerDefault_(readerDefault), pageDefault_(pageDefault) {}
    // A page default computed when asked (the home directory, which differs per user).
    constexpr TextSetting(const char* section, const char* key, const char* readerDefault,
                          PageDefaultFn pageDefaultFn)
        : section_(section),
          key_(key),
          readerDefault_(readerDefault),
          pageDefaultFn_(pageDefaultFn) {}

    const char* Key() const { return key_; }
    const char* Section() const { return section_; }
    std::string Read(const ProfileStore& profile) const;
    std::string ReadPage(const ProfileStore& profile) const;
    bool Write(ProfileStore& profile, const std::string& value) const;
    ProfileStore::Change Change(std::string value) const;
    constexpr operator PageField() const {  // NOLINT(google-explicit-constructor)
        return {section_, key_, pageDefault_ ? pageDefault_ : "", pageDefaultFn_};
    }

private:
    const char* section_;
    const char* key_;
    const char* readerDefault_;
    const char* pageDefault_ = nullptr;
    PageDefaultFn pageDefaultFn_ = nullptr;
};

// An integer of a fixed section, read by the integer rule (leading digits, 0 when none). Several
// are typed into a setup page's field and stored as the text typed: ReadPage and ChangeText keep
// that text as it is.
class IntSetting {
public:
    constexpr IntSetting(const char* section, const char* key, long readerDefault,
                         const char* pageDefault = nullptr)
        : section_(section), key_(key), readerDefault_(readerDefault), pageDefault_(pageDefault) {}

    const char* Key() const { return key_; }
    long Default() const { return readerDefault_; }
    long Read(const ProfileStore& profile) const;
    bool IsOn(const ProfileStore& profile) const { return Read(profile) != 0; }
    std::string ReadPage(const ProfileStore& profile) const;
    bool PageFlag(const ProfileStore& profile) const;
    bool Write(ProfileStore& profile, long value) const;
    ProfileStore::Change Change(long value) const;
    ProfileStore::Change ChangeFlag(bool on) const { return Change(on ? 1 : 0); }
    ProfileStore::Change ChangeText(std::string text) const;
    constexpr operator PageField() const {  // NOLINT(google-explicit-constructor)
        return {section_, key_, pageDefault_ ? pageDefault_ : "", nullptr};
    }

private:
    const char* section_;
    const char* key_;
    long readerDefault_;
    const char* pageDefault_;
};

// A key of a news server's section (the section is named by the host).
class ServerTextSetting {
public:
    constexpr ServerTextSetting(const char* key, const char* def) : key_(key), default_(def) {}
    const char* Key() const { return key_; }
    std::string Read(const ProfileStore& profile, const std::string& host) const;
    bool Write(ProfileStore& profile, const std::string& host, const std::string& value) const;
    ProfileStore::Change Change(const std::string& host, std::string value) const;

private:
    const char* key_;
    const char* default_;
};

class ServerIntSetting {
public:
    constexpr ServerIntSetting(const char* key, long def) : key_(key), default_(def) {}
    const char* Key() const { return key_; }
    long Read(const ProfileStore& profile, const std::string& host) const;
    bool IsOn(const ProfileStore& profile, const std::string& host) const {
        return Read(profile, host) != 0;
    }
    bool Write(ProfileStore& profile, const std::string& host, long value) const;
    ProfileStore::Change Change(const std::string& host, long value) const;
    ProfileStore::Change ChangeFlag(const std::string& host, bool on) const {
        return Change(host, on ? 1 : 0);
    }

private:
    const char* key_;
    long default_;
};

// The default download directory shown by the General page: $HOME + "/QMDownloadDir/".
std::string DefaultDownloadDirectory();

// Keys of the main section.
inline constexpr TextSetting kNNTPHost{kMainSection, "NNTPHost", "", ""};
// Previously used hosts, most recent first.
inline constexpr TextSetting kNNTPHost2{kMainSection, "NNTPHost2", "", ""};
inline constexpr TextSetting kNNTPHost3{kMainSection, "NNTPHost3", "", ""};
inline constexpr TextSetting kNNTPHost4{kMainSection, "NNTPHost4", "", ""};
inline constexpr TextSetting kNNTPPort{kMainSection, "NNTPPort", "", "119"};
inline constexpr TextSetting kDownloadDirectory{kMainSection, "DownloadDirectory", "",
                                                &DefaultDownloadDirectory};
inline constexpr IntSetting kMinLines{kMainSection, "MinLines", 500, "500"};
inline constexpr IntSetting kMaxLines{kMainSection, "MaxLines", 3000, "2500"};
// Attempts after a lost connection; 0: a lost connection ends the run.
inline constexpr IntSetting kReconnect{kMainSection, "Reconnect", 0, "0"};
inline constexpr IntSetting kShowThumbnail{kMainSection, "ShowThumbnail", 0, "0"};
inline constexpr IntSetting kConfirmStop{kMainSection, "ConfirmStop", 1, "1"};
inline constexpr IntSetting kConfirmCatchup{kMainSection, "ConfirmCatchup", 1, "1"};
inline constexpr IntSetting kConfirmDelete{kMainSection, "ConfirmDelete", 1, "1"};
inline constexpr IntSetting kMaxHist{kMainSection, "MaxHist", 20000, "20000"};
inline constexpr IntSetting kHistSaveFrequency{kMainSection, "HistSaveFrequency", 5, "5"};
// A picture that looks like one saved before (resized, recompressed, re-encoded): not saved (1) or
// saved with a note in the download log (0); and saved all the same when it has more pixels.
inline constexpr IntSetting kSkipNearDuplicates{kMainSection, "SkipNearDuplicates", 0, "0"};
inline constexpr IntSetting kKeepLargerCopy{kMainSection, "KeepLargerCopy", 0, "0"};
inline constexpr TextSetting kSubjectIncl{kMainSection, "SubjectIncl", "", "jpg:gif"};
inline constexpr TextSetting kSubjectIncl2{kMainSection, "SubjectIncl2", "", "1/1:01/01"};
inline constexpr IntSetting kUseMaxCount{kMainSection, "UseMaxCount", 0, "0"};
inline constexpr IntSetting kMaxCount{kMainSection, "MaxCount", 0, ""};
inline constexpr IntSetting kUseMaxDays{kMainSection, "UseMaxDays", 0, "0"};
// Read as text by the engine: a decimal number of days, "" when unset.
inline constexpr TextSetting kMaxDays{kMainSection, "MaxDays", "", ""};
inline constexpr IntSetting kUseMaxHeaderCount{kMainSection, "UseMaxHeaderCount", 0, "0"};
inline constexpr IntSetting kMaxHeaderCount{kMainSection, "MaxHeaderCount", 0, ""};
inline constexpr IntSetting kUseFirstHeaderCount{kMainSection, "UseFirstHeaderCount", 0, "0"};
inline constexpr IntSetting kFirstHeaderCount{kMainSection, "FirstHeaderCount", 0, ""};
inline constexpr TextSetting kSubjectExcl{kMainSection, "SubjectExcl", "", ""};
inline constexpr IntSetting kLimitCrossposts{kMainSection, "LimitCrossposts", 0, "0"};
inline constexpr IntSetting kCrosspostLimit{kMainSection, "CrosspostLimit", 0, ""};
inline constexpr IntSetting kEnableLogging{kMainSection, "EnableLogging", 0, "0"};
inline constexpr TextSetting kLogFile{kMainSection, "LogFile", "", "DownloadLog"};
inline constexpr IntSetting kACDSeeDescription{kMainSection, "ACDSeeDescription", 0, "0"};
// Engine thread priority, 1 (low) to 5 (high).
inline constexpr IntSetting kPriority{kMainSection, "Priority", 3};
inline constexpr TextSetting kGroupIncl{kMainSection, "GroupIncl", "pictures"};
inline constexpr IntSetting kLoopOnList{kMainSection, "LoopOnList", 0};
inline constexpr IntSetting kCacheSubjects{kMainSection, "CacheSubjects", 0};
inline constexpr IntSetting kUseArticles{kMainSection, "UseArticles", 1};
// When exactly "yes", every history hit is logged. No page writes it.
inline constexpr TextSetting kLogHistAct{kMainSection, "LogHistAct", ""};
inline constexpr IntSetting kSaveAscii{kMainSection, "SaveAscii", 0};
inline constexpr IntSetting kShowXP{kMainSection, "ShowXP", 0};
// ARTICLE commands kept in flight, 1 to 64.
inline constexpr IntSetting kPipelineDepth{kMainSection, "PipelineDepth", 4};

// Multi-part posts: put together (1) or each part skipped as a file of its own (0); how long a
// post may wait for its missing parts; how much the store of waiting parts may hold.
inline constexpr IntSetting kMultiPart{kMainSection, "MultiPart", 1, "1"};
inline constexpr IntSetting kMultiPartWaitDays{kMainSection, "MultiPartWaitDays", 7, "7"};
inline constexpr IntSetting kMultiPartStoreMB{kMainSection, "MultiPartStoreMB", 1024, "1024"};

// Keys of the section DownloadDirs (besides each group's own directory, see GroupDirectory).
inline constexpr IntSetting kSeparateDirectories{kDownloadDirsSection, "Enable", 0, "0"};
inline constexpr IntSetting kUseGroupName{kDownloadDirsSection, "UseGroupName", 0, "0"};

// Keys of a server's section.
inline constexpr ServerIntSetting kUserAuthentication{"UserAuthentication", 0};
// Authenticate before every GROUP and before LIST without waiting for the server to ask.
inline constexpr ServerIntSetting kForceAuthInfo{"ForceAuthInfo", 0};
inline constexpr ServerTextSetting kUsername{"Username", ""};
inline constexpr ServerTextSetting kPassword{"Password", ""};
inline constexpr ServerIntSetting kPromptForPasswd{"PromptForPasswd", 0};
// 1: the password is kept in the desktop keyring (under the host and the user name), and
// Password is stored as "".
inline constexpr ServerIntSetting kPasswordInKeyring{"PasswordInKeyring", 0};
// 0 plain, 1 TLS from the first byte, 2 STARTTLS before anything else is sent.
inline constexpr ServerIntSetting kUseTLS{"UseTLS", 0};
// Connections opened to the server for fetching articles (1 to 16).
inline constexpr ServerIntSetting kConnections{"Connections", 4};
// Whether transfers are compressed where the server offers it.
inline constexpr ServerIntSetting kUseCompression{"UseCompression", 1};
// The SHA-256 fingerprint of the one certificate the user chose to trust for the server.
inline constexpr ServerTextSetting kTLSFingerprint{"TLSFingerprint", ""};

// The read mark of a group: in the server's section under the group's name, the number of the
// last article handled. missing is what a group without a mark reads as (callers differ).
long ReadMark(const ProfileStore& profile, const std::string& host, const std::string& group,
              long missing);
ProfileStore::Change ReadMarkChange(const std::string& host, const std::string& group, long mark);

// A group's own download directory (relative to the download directory), "" when it has none.
std::string GroupDirectory(const ProfileStore& profile, const std::string& group);
bool WriteGroupDirectory(ProfileStore& profile, const std::string& group, const std::string& sub);

// The TCP port to use: NNTPPort when it is a valid port number, else 119.
int ConfiguredPort(const ProfileStore& profile);

}  // namespace qm
