#include "app/AppPaths.h"

#include <unistd.h>

#include <cstdlib>

#include "util/TextFiles.h"

namespace qm {
namespace {

std::string BaseDir(const char* xdgVar, const char* homeRelative) {
    const char* xdg = std::getenv(xdgVar);
    if (xdg && *xdg == '/') return WithTrailingSlash(xdg);
    const char* home = std::getenv("HOME");
    return WithTrailingSlash(home && *home ? home : ".") + homeRelative;
}

}  // namespace

std::string DefaultProfilePath() {
    return BaseDir("XDG_CONFIG_HOME", ".config/") + "quarrymoth/quarrymoth.ini";
}

std::string DefaultDataDirectory() {
    return BaseDir("XDG_DATA_HOME", ".local/share/") + "quarrymoth/";
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    return CurrentDirectory() + "/" + path;
}

AppFiles ChooseAppFiles(const std::string& profileOption, const std::string& dataDirOption) {
    AppFiles files{profileOption.empty() ? DefaultProfilePath() : profileOption,
                   dataDirOption.empty() ? DefaultDataDirectory() : dataDirOption};
    size_t slash = files.profile.rfind('/');
    if (profileOption.empty() && slash != std::string::npos) {
        MakeDirectories(files.profile.substr(0, slash));
    }
    return files;
}

bool EnterDataDirectory(const std::string& dir) {
    return MakeDirectories(dir) && ::chdir(dir.c_str()) == 0;
}

}  // namespace qm
