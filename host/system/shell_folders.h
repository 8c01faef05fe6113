#pragma once
// The folders the host asks the platform for: the user's application-data folder (where other
// programs keep their per-user settings, and under which this program's own store lives) and the
// folder of the program file itself.

#include <filesystem>
#include <string>

namespace Mav::Host::System {

// $XDG_CONFIG_HOME when it is an absolute path, else ".config" in the home folder ($HOME, or the
// password database's entry when HOME is unset or empty).  Empty when there is no home folder.
// The folder need not exist.
std::filesystem::path applicationDataFolder();

// The folder of the running program file, ending with a '/', as UTF-8; empty when the system
// cannot tell.  Every library of the program is linked statically, so the module holding this
// code is the program itself.
std::string programFolder();
// The same into the caller's string.
void programFolder(std::string& folder);

}  // namespace Mav::Host::System
