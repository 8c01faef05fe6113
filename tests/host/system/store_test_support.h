#pragma once
// Folders and whole-file reads and writes for the tests of the settings store, of file
// replacement and of parameter persistence (host_system_tests and host_tests).  The file helpers go
// through the standard streams, not through the code under test.

#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace test_store {

inline std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeText(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A fresh folder in the system's temporary folder, removed with its content at the end of the
// scope.  As the configuration home, XDG_CONFIG_HOME points at it meanwhile and is restored (or
// unset again) afterwards, so the settings store of the test lives inside it.
class ScratchFolder {
public:
    enum Use { Plain, ConfigHome };

    explicit ScratchFolder(const char* name, Use use = Plain) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) return;
        path_ = pattern;
        if (use != ConfigHome) return;
        setsConfig_ = true;
        const char* old = std::getenv("XDG_CONFIG_HOME");
        hadConfig_ = old != nullptr;
        if (old) oldConfig_ = old;
        ::setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
    }
    ~ScratchFolder() {
        if (setsConfig_) {
            if (hadConfig_)
                ::setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
            else
                ::unsetenv("XDG_CONFIG_HOME");
        }
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Empty when the folder could not be made.
    const std::filesystem::path& path() const { return path_; }

    // The names in `folder` (this folder by default), sorted.
    std::vector<std::string> names(const std::filesystem::path& folder = {}) const {
        std::vector<std::string> found;
        for (const auto& entry :
             std::filesystem::directory_iterator(folder.empty() ? path_ : folder))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

private:
    std::filesystem::path path_;
    bool setsConfig_ = false;
    bool hadConfig_ = false;
    std::string oldConfig_;
};

}  // namespace test_store
