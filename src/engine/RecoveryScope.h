#pragma once
// What a run's journal may name: partial pictures of our own form in the save directories the
// profile configures, plain picture names, and read marks in the server's own section. A torn,
// corrupt or foreign journal names other things, and its replay must never act on them.

#include <string>

#include "settings/ProfileStore.h"

namespace qm {

class RecoveryScope {
public:
    // host and downloadDirectory as the run starting now has them; the per-group directories are
    // read from the profile's "DownloadDirs" section as the groups derive them.
    RecoveryScope(const ProfileStore& profile, std::string host, std::string downloadDirectory)
        : profile_(profile), host_(std::move(host)), base_(std::move(downloadDirectory)) {}

    // Whether path is a temporary picture file in one of the save directories; dir receives that
    // directory (as pictures are named into it).
    bool IsPartialPicture(const std::string& path, std::string& dir) const;
    // The read mark number a record gives group, or -1 when it is not a read mark of the server's
    // own section (another section, one of the server's settings, a number not as journaled).
    long ReadMark(const std::string& host, const std::string& group,
                  const std::string& number) const;
    // Whether name is a picture's name as the retrieval gives it: one plain file name.
    static bool IsPictureName(const std::string& name);

private:
    bool IsSaveDirectory(const std::string& dir) const;
    bool IsGroupDirectory(const std::string& group, const std::string& dir) const;

    const ProfileStore& profile_;
    std::string host_;
    std::string base_;
};

}  // namespace qm
