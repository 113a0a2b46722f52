#include "groups/GroupDirectories.h"

#include "settings/SettingsKeys.h"

namespace qm {

DirectorySwitches ReadDirectorySwitches(const ProfileStore& profile) {
    DirectorySwitches s;
    s.enable = profile.GetInt(kDownloadDirsSection, "Enable", 0) != 0;
    s.useGroupName = profile.GetInt(kDownloadDirsSection, "UseGroupName", 0) != 0;
    return s;
}

void AddDirectorySwitchChanges(const DirectorySwitches& switches,
                               std::vector<ProfileStore::Change>& changes) {
    changes.push_back({kDownloadDirsSection, "Enable", switches.enable ? "1" : "0"});
    changes.push_back({kDownloadDirsSection, "UseGroupName", switches.useGroupName ? "1" : "0"});
}

std::string GroupSubPath(const ProfileStore& profile, const std::string& group) {
    return profile.GetString(kDownloadDirsSection, group, "");
}

bool SubPathStaysInside(const std::string& sub) {
    if (sub.empty()) return true;
    if (sub[0] == '/') return false;
    size_t start = 0;
    while (start <= sub.size()) {
        size_t slash = sub.find('/', start);
        if (slash == std::string::npos) slash = sub.size();
        if (slash - start == 2 && sub.compare(start, 2, "..") == 0) return false;
        start = slash + 1;
    }
    return true;
}

SubPathResult StoreGroupSubPath(ProfileStore& profile, const std::string& group,
                                const std::string& sub) {
    if (!SubPathStaysInside(sub)) return SubPathResult::Refused;
    return profile.WriteString(kDownloadDirsSection, group, sub) ? SubPathResult::Stored
                                                                 : SubPathResult::NotWritten;
}

}  // namespace qm
