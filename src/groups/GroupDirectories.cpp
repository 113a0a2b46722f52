#include "groups/GroupDirectories.h"

#include "settings/SettingsKeys.h"

namespace qm {

DirectorySwitches ReadDirectorySwitches(const ProfileStore& profile) {
    DirectorySwitches s;
    s.enable = kSeparateDirectories.IsOn(profile);
    s.useGroupName = kUseGroupName.IsOn(profile);
    return s;
}

void AddDirectorySwitchChanges(const DirectorySwitches& switches,
                               std::vector<ProfileStore::Change>& changes) {
    changes.push_back(kSeparateDirectories.ChangeFlag(switches.enable));
    changes.push_back(kUseGroupName.ChangeFlag(switches.useGroupName));
}

std::string GroupSubPath(const ProfileStore& profile, const std::string& group) {
    return GroupDirectory(profile, group);
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
    return WriteGroupDirectory(profile, group, sub) ? SubPathResult::Stored
                                                    : SubPathResult::NotWritten;
}

}  // namespace qm
