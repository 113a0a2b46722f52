#include "settings/SetupFiles.h"

#include <unistd.h>

#include <cerrno>

#include "util/TextFiles.h"

namespace qm {

bool ClearHistoryFile(const std::string& path, const std::string& contentIndexPath) {
    return ReplaceFileAtomically(path, "") && ReplaceFileAtomically(contentIndexPath, "");
}

bool EmptyFile(const std::string& path) {
    if (::truncate(path.c_str(), 0) == 0) return true;
    return errno == ENOENT;
}

}  // namespace qm
