#pragma once
// Where the program keeps its files: the profile in the configuration directory, and the working
// files (group lists, history, excludes) in the data directory that both programs change into.

#include <string>

namespace qm {

// $XDG_CONFIG_HOME/quarrymoth/quarrymoth.ini, or ~/.config/quarrymoth/quarrymoth.ini.
std::string DefaultProfilePath();
// $XDG_DATA_HOME/quarrymoth/, or ~/.local/share/quarrymoth/.
std::string DefaultDataDirectory();

// Creates dir (every missing level) and makes it the current directory. False on failure.
bool EnterDataDirectory(const std::string& dir);

}  // namespace qm
