#pragma once
// Winding read marks back. A server's section (named by the host) holds, under each group's
// name, the number of the last article the engine handled there; a missing mark and a mark of 0
// both mean the next run scans the group from its first article. So 1 is a real mark ("article 1
// handled") and unread is 0.

#include <string>
#include <vector>

#include "settings/ProfileStore.h"

namespace qm {

// Sets the group's mark to 0 when it is above 0; returns the status line to show.
std::string MarkGroupUnread(ProfileStore& profile, const std::string& host,
                            const std::string& group);

// Sets the mark of every listed group that is above 0 to 0, with one rewrite of the profile.
// Returns the status line to show.
std::string MarkGroupsUnread(ProfileStore& profile, const std::string& host,
                             const std::vector<std::string>& groups);

}  // namespace qm
