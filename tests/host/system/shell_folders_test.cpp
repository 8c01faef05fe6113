// The application-data folder follows the environment; the program folder holds the program.

#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "host/system/registry_store.h"
#include "host/system/shell_folders.h"

namespace {

namespace fs = std::filesystem;
using namespace Mav::Host::System;

// Sets or unsets a variable for the scope and restores it afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ApplicationDataFolder, AbsoluteXdgConfigHomeElseConfigInTheHomeFolder) {
    struct Case {
        const char* config;  // null: unset
        const char* home;
        const char* expected;
    } cases[] = {
        {"/tmp/cfg-a", "/tmp/home-a", "/tmp/cfg-a"},
        {nullptr, "/tmp/home-b", "/tmp/home-b/.config"},
        {"", "/tmp/home-c", "/tmp/home-c/.config"},
        {"relative/cfg", "/tmp/home-d", "/tmp/home-d/.config"},
    };
    for (const Case& c : cases) {
        ScopedVariable config("XDG_CONFIG_HOME", c.config);
        ScopedVariable home("HOME", c.home);
        EXPECT_EQ(applicationDataFolder(), fs::path(c.expected))
            << (c.config ? c.config : "(unset)");
        // The settings store lives below the same folder.
        EXPECT_EQ(RegistryStore::defaultLocation(), fs::path(c.expected) / "vantrelo" / "registry");
    }
}

TEST(ApplicationDataFolder, WithoutHomeTheUsersEntryIsUsed) {
    ScopedVariable config("XDG_CONFIG_HOME", nullptr);
    ScopedVariable home("HOME", "");
    const fs::path folder = applicationDataFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_EQ(folder.filename(), ".config");
}

TEST(ProgramFolder, HoldsTheRunningProgramAndEndsWithASeparator) {
    const std::string folder = programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(fs::is_regular_file(folder + program_invocation_short_name)) << folder;
    std::string intoCaller = "old text";
    programFolder(intoCaller);
    EXPECT_EQ(intoCaller, folder);
}

}  // namespace
