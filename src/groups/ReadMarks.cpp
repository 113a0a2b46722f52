#include "groups/ReadMarks.h"

#include <unordered_set>

#include "settings/SettingsKeys.h"

namespace qm {

std::string MarkGroupUnread(ProfileStore& profile, const std::string& host,
                            const std::string& group) {
    if (ReadMark(profile, host, group, 0) <= 0) {
        return "Group " + group + " already marked unread or never processed";
    }
    if (!profile.Apply({ReadMarkChange(host, group, 0)}))
        return "  Unable to save the read mark of " + group;
    return "Group " + group + " marked unread";
}

std::string MarkGroupsUnread(ProfileStore& profile, const std::string& host,
                             const std::vector<std::string>& groups) {
    std::vector<ProfileStore::Change> changes;
    std::unordered_set<std::string> seen;
    for (const std::string& group : groups) {
        if (ReadMark(profile, host, group, 0) > 0 && seen.insert(group).second) {
            changes.push_back(ReadMarkChange(host, group, 0));
        }
    }
    if (!changes.empty() && !profile.Apply(changes)) return "  Unable to save the read marks";
    return "All groups in list marked unread";
}

}  // namespace qm
