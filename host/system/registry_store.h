#pragma once
// The per-user store of settings: keys named by paths such as
// "Software\Mavrendel\Vantrelo\key data", each holding either nothing or one typed default value,
// a signed 32-bit integer or a text.  It lives in one file, $XDG_CONFIG_HOME/vantrelo/registry
// ($HOME/.config when XDG_CONFIG_HOME is unset, empty or relative).
//
// File format (version 1).  Every length is a count of bytes, every number ASCII decimal; key
// names and texts are stored raw, so any byte (line breaks and zero bytes included) comes back
// exactly as it was written:
//
//     vantrelo store 1\n
//     k <key length>\n<key>\n                             a key without a value
//     i <key length> <integer>\n<key>\n                   a key with an integer
//     t <key length> <text length>\n<key><text>\n         a key with a text
//     ...
//     end <number of keys> <checksum>\n
//
// Keys appear once each, in byte order.  The checksum is the 64-bit FNV-1a hash of every byte
// before the "end" line, as 16 lower-case hexadecimal digits; it catches truncation and damage
// inside texts, which the lengths alone would not.  A file that does not follow this exactly is
// damaged: it is renamed aside (".damaged-<date>-<time>" appended, and a count from "-2" on when
// that name is taken, so no set-aside copy ever replaces another; a store reached through a
// symbolic link is set aside beside the file the link names, and the link stays), a warning goes
// to standard error and the store reads as empty, so every setting keeps its default.
//
// Writing replaces the whole file through replaceFile (file_store.h), so a crash leaves either the
// old or the new store.  A commit re-reads the file under an advisory lock on its folder and
// applies only this object's own changes, so two programs that save at once lose nothing of each
// other's keys.
//
// One object belongs to one thread at a time.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace Mav::Host::System {

struct StoreValue {
    enum class Type : std::uint8_t { Integer, Text };
    Type type = Type::Integer;
    std::int32_t integer = 0;  // when type is Integer
    std::string text;          // when type is Text

    static StoreValue ofInteger(std::int32_t value) { return {Type::Integer, value, {}}; }
    static StoreValue ofText(std::string value) { return {Type::Text, 0, std::move(value)}; }
    bool operator==(const StoreValue&) const = default;
};

class RegistryStore {
public:
    // The store file of this user, from the environment; empty when there is no home folder.
    static std::filesystem::path defaultLocation();

    RegistryStore();  // at defaultLocation()
    explicit RegistryStore(std::filesystem::path file);

    const std::filesystem::path& file() const { return file_; }

    // Reads the file.  A missing file is an empty store (true).  A damaged file is set aside as
    // described above, and a file that cannot be read is left alone; both read as empty and give
    // false.  Changes not yet committed stay visible on top.
    bool load();

    bool hasKey(std::string_view key) const;
    // The key's value; null when the key is missing or holds no value.
    const StoreValue* value(std::string_view key) const;

    // Changes are seen at once by this object and written by commit().
    void createKey(std::string_view key);  // keeps the value of an existing key
    void setInteger(std::string_view key, std::int32_t value);
    void setText(std::string_view key, std::string_view text);

    // Writes every change since the last successful commit over the current file.  On failure
    // (also reported on standard error) the file is as it was, the changes stay pending and
    // lastError() says why.
    bool commit();
    const std::string& lastError() const { return error_; }

private:
    using Entries = std::map<std::string, std::optional<StoreValue>, std::less<>>;

    void apply(Entries& entries) const;

    std::filesystem::path file_;
    Entries entries_;
    // Pending changes: a value to set, or nothing for createKey.
    Entries pending_;
    std::string error_;
};

}  // namespace Mav::Host::System
