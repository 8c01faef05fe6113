#pragma once
// Replacing a user's file so that no crash, full disk or failing write can leave it half written.

#include <filesystem>
#include <string>
#include <string_view>

namespace Mav::Host::System {

// Writes `bytes` to a new temporary file beside `target` (same folder, so the rename cannot cross
// file systems), checks every write, flushes it to the disk, closes it and renames it over
// `target`.  Readers, and the file after a crash, see either the whole old content or the whole new
// content.  An existing target keeps its permission bits (and its owner and group where the
// system allows); a symbolic link is followed, so the file it points to is replaced and the link
// stays.  A target that is read-only for its owner, or that this process may not write, is
// refused.
//
// Returns false with a description in `error` when anything fails; the target is then untouched
// and the temporary file removed.  A writer killed before the rename leaves its temporary file,
// whose name starts with temporaryFilePrefix(target), behind.
bool replaceFile(const std::filesystem::path& target, std::string_view bytes, std::string& error);

enum class ReadStatus { Read, Missing, Failed };

// Reads the whole file into `bytes`.  Missing means the file does not exist; Failed, with a
// description in `error`, that it exists but cannot be read (permissions, a folder, an I/O error).
ReadStatus readFile(const std::filesystem::path& path, std::string& bytes, std::string& error);

// The name prefix (without folder) of replaceFile's temporary files for `target`.
std::string temporaryFilePrefix(const std::filesystem::path& target);

}  // namespace Mav::Host::System
