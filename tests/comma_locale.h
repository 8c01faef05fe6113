#pragma once
// A process locale whose decimal separator is a comma, for the tests that show numbers in our text
// formats do not follow the user's locale.  Shared by every test program; header-only, so engine
// tests link nothing of the host.
//
// Build machines often have no such locale installed, and without one those cases would never run.
// The fallback is compiled with the system's locale compiler (localedef, part of libc-bin) from a
// source and a character map written here, so it needs none of the locale data of the `locales`
// package either.

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <unistd.h>

namespace test_locale {

class CommaLocale {
public:
    static const CommaLocale& instance() {
        static const CommaLocale locale;
        return locale;
    }
    ~CommaLocale() {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    // Makes it the current locale; false when it could not be made.  LOCPATH is set only while the
    // locale is loaded, so that no other locale lookup of the program is sent to this folder.
    bool select() const {
        if (folder_.empty()) return false;
        const char* old = std::getenv("LOCPATH");
        const std::string saved = old ? old : "";
        ::setenv("LOCPATH", folder_.c_str(), 1);
        const bool selected = std::setlocale(LC_ALL, kName) != nullptr;
        if (old)
            ::setenv("LOCPATH", saved.c_str(), 1);
        else
            ::unsetenv("LOCPATH");
        return selected;
    }

private:
    static constexpr const char* kName = "vantrelo_VT";

    CommaLocale() {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "vantrelo-locale-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return;
        const fs::path folder = pattern;
        // Only the numbers differ from the C locale; every other category takes the compiler's
        // built-in C values.
        std::ofstream(folder / "source") << "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\n"
                                            "grouping 3;3\nEND LC_NUMERIC\n";
        {
            // The ASCII character map, in the place of the system's copy (/usr/share/i18n/charmaps,
            // absent without the locales package).
            std::ofstream charmap(folder / "charmap");
            charmap << "<code_set_name> VANTRELO-ASCII\n<comment_char> %\n<escape_char> /\n"
                       "<mb_cur_min> 1\n<mb_cur_max> 1\nCHARMAP\n";
            char entry[32];
            for (int code = 0; code < 128; ++code) {
                std::snprintf(entry, sizeof entry, "<U%04X> /x%02x\n", code, code);
                charmap << entry;
            }
            charmap << "END CHARMAP\n";
        }
        // The compiler warns about the categories left out and says so in its exit status; the
        // compiled numbers are what count.
        const std::string command = "localedef -c -i '" + (folder / "source").string() + "' -f '" +
                                    (folder / "charmap").string() + "' '" + (folder / kName).string() +
                                    "' >/dev/null 2>&1";
        [[maybe_unused]] const int status = std::system(command.c_str());
        std::error_code ec;
        if (fs::exists(folder / kName / "LC_NUMERIC", ec))
            folder_ = folder;
        else
            fs::remove_all(folder, ec);
    }

    std::filesystem::path folder_;
};

// Makes a locale with a decimal comma current: an installed one, else the one made for the tests.
// False when there is neither.
inline bool selectCommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_ALL, name)) return true;
    return CommaLocale::instance().select();
}

}  // namespace test_locale
