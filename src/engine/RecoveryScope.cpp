#include "engine/RecoveryScope.h"

#include "decode/PartialPicture.h"
#include "decode/SafeFileName.h"
#include "engine/GroupProcessor.h"
#include "groups/GroupDirectories.h"
#include "settings/SettingsKeys.h"
#include "util/TextFiles.h"

namespace qm {
namespace {

// The server's section also holds its login and TLS settings, which are no read marks.
bool IsServerSetting(const std::string& key) {
    const std::string lower = Lowercase(key);
    for (const char* setting :
         {kUserAuthentication.Key(), kForceAuthInfo.Key(), kUsername.Key(), kPassword.Key(),
          kPromptForPasswd.Key(), kPasswordInKeyring.Key(), kUseTLS.Key(), kTLSFingerprint.Key(),
          kConnections.Key(), kUseCompression.Key()}) {
        if (lower == Lowercase(setting)) return true;
    }
    return false;
}

}  // namespace

bool RecoveryScope::IsPartialPicture(const std::string& path, std::string& dir) const {
    std::string name;
    return SplitPartialPicturePath(path, dir, name) && IsSaveDirectory(dir);
}

long RecoveryScope::ReadMark(const std::string& host, const std::string& group,
                             const std::string& number) const {
    // A host that names the main or the directories section has no section of its own.
    if (host.empty() || host != host_ || Lowercase(host) == Lowercase(kMainSection) ||
        Lowercase(host) == Lowercase(kDownloadDirsSection))
        return -1;
    if (!ValidGroupName(group) || !ProfileStore::StorableKey(group) || IsServerSetting(group))
        return -1;
    const long n = StrictLeadingNumber(number);
    return n >= 0 && std::to_string(n) == number ? n : -1;
}

bool RecoveryScope::IsPictureName(const std::string& name) {
    return !name.empty() && SafeFileName(name) == name;
}

// The directories the groups save into, as GroupProcessor derives them: the download directory
// itself while per-group directories are off; else a group's own directory below it, or the
// download directory followed by "/" for a group without one.
bool RecoveryScope::IsSaveDirectory(const std::string& dir) const {
    if (base_.empty()) return false;  // no download directory: the run does not start
    const DirectorySwitches switches = ReadDirectorySwitches(profile_);
    if (!switches.enable) return dir == base_;
    if (!dir.starts_with(base_) || !dir.ends_with('/') || dir.size() == base_.size()) return false;
    const std::string sub = dir.substr(base_.size(), dir.size() - base_.size() - 1);
    if (switches.useGroupName) return IsGroupDirectory(sub, dir);
    if (sub.empty()) return true;
    for (const std::string& group : profile_.Keys(kDownloadDirsSection)) {
        if (IsGroupDirectory(group, dir)) return true;
    }
    return false;
}

bool RecoveryScope::IsGroupDirectory(const std::string& group, const std::string& dir) const {
    if (!ValidGroupName(group)) return false;
    const GroupProcessor::SaveDirectory derived =
        GroupProcessor::DeriveSaveDirectory(profile_, base_, group);
    return derived.usable && derived.path == dir;
}

}  // namespace qm
