#pragma once
// Where the program keeps its files: the profile in the configuration directory, and the working
// files (group lists, history, excludes) in the data directory that both programs change into.

#include <string>

namespace qm {

// $XDG_CONFIG_HOME/quarrymoth/quarrymoth.ini, or ~/.config/quarrymoth/quarrymoth.ini.
std::string DefaultProfilePath();
// $XDG_DATA_HOME/quarrymoth/, or ~/.local/share/quarrymoth/.
std::string DefaultDataDirectory();

// A path given on the command line, made absolute against the current directory.
std::string AbsolutePath(const std::string& path);

// The profile and the data directory a program uses: the ones given (absolute paths) or, for
// "", the defaults; the default profile's folder is made when it is missing.
struct AppFiles {
    std::string profile;
    std::string dataDir;
};
AppFiles ChooseAppFiles(const std::string& profileOption, const std::string& dataDirOption);

// Creates dir (every missing level) and makes it the current directory. False on failure.
bool EnterDataDirectory(const std::string& dir);

}  // namespace qm
