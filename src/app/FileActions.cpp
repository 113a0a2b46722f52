#include "app/FileActions.h"

#include <sys/stat.h>

#include <cerrno>

#include "settings/DataFiles.h"
#include "util/TextFiles.h"

namespace qm {

bool ThumbnailWanted(const std::string& path) {
    if (path.empty()) return true;
    std::string lower = Lowercase(path);
    return lower.find(".jpg") != std::string::npos || lower.find(".jpeg") != std::string::npos;
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string PictureCaption(const std::string& path, int width, int height) {
    if (path.empty()) return "";
    return FileNameOf(path) + " (" + std::to_string(width) + " x " + std::to_string(height) + ")";
}

std::string PropertiesText(const std::string& path, const std::string& subject,
                           const std::string& from) {
    return "Filename:\t" + path + "\n\nSubject:\t" + subject + "\n\nFrom:\t" + from;
}

std::string FindSlideShowProgram() {
    for (const char* name : kSlideShowPrograms) {
        struct stat info {};
        if (::stat(name, &info) == 0 && S_ISREG(info.st_mode)) return name;
    }
    return "";
}

}  // namespace qm
