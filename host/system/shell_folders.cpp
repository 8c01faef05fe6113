#include "host/system/shell_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace Mav::Host::System {

fs::path applicationDataFolder() {
    // A relative XDG_CONFIG_HOME is invalid by the base-directory rules and would make the folder
    // depend on the working directory, so it is ignored like an unset one.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return config;
    fs::path home;
    const char* variable = std::getenv("HOME");
    if (variable && variable[0] != '\0') {
        home = variable;
    } else {
        struct passwd entry {};
        struct passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
            found->pw_dir && found->pw_dir[0] != '\0')
            home = found->pw_dir;
    }
    if (home.empty()) return {};
    return home / ".config";
}

std::string programFolder() {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error || !program.has_parent_path()) return {};
    std::string folder = program.parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

void programFolder(std::string& folder) { folder = programFolder(); }

}  // namespace Mav::Host::System
