#pragma once
// Per-group download directories: section "DownloadDirs" holds Enable, UseGroupName and, under
// each group's name, a sub-path below the download directory.

#include <string>

#include "settings/ProfileStore.h"

namespace qm {

struct DirectorySwitches {
    bool enable = false;        // separate directories are on
    bool useGroupName = false;  // each group's directory is named after the group
};

DirectorySwitches ReadDirectorySwitches(const ProfileStore& profile);
// The changes that store the switches (for one batch with the rest of a dialog's OK).
void AddDirectorySwitchChanges(const DirectorySwitches& switches,
                               std::vector<ProfileStore::Change>& changes);

// The group's own sub-path ("" for none).
std::string GroupSubPath(const ProfileStore& profile, const std::string& group);

// Whether a sub-path keeps a group's pictures below the download directory: empty (none), or
// relative with no ".." component. Anything else could write pictures anywhere the user may.
bool SubPathStaysInside(const std::string& sub);

enum class SubPathResult { Stored, Refused, NotWritten };
// Stores the sub-path as typed (not trimmed) when it stays inside; an empty text stores an empty
// value, which means no sub-path.
SubPathResult StoreGroupSubPath(ProfileStore& profile, const std::string& group,
                                const std::string& sub);

}  // namespace qm
