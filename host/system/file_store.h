#pragma once
// Replacing a user's file so that no crash, full disk or failing write can leave it half written.

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace Mav::Host::System {

// The new content goes to a temporary file beside the target (same folder, so the rename cannot
// cross file systems); every write, the flush, the sync to disk and the close are checked, and only
// then is the temporary file renamed over the target.  Readers, and the file after a crash, see
// either the whole old content or the whole new content; on any failure the target is untouched and
// the temporary file removed.  A writer killed before the rename leaves its temporary file, whose
// name starts with temporaryFilePrefix(target), behind.
//
// The folder is held open from open() to the end, and every step works relative to it: a folder
// moved meanwhile gets the replacement where it now is (never a folder that took its old name),
// and a folder removed meanwhile fails the commit with nothing left behind.
//
// An existing target keeps its permission bits, its user extended attributes ("user.*", where a
// file manager keeps tags and comments) and its owner and group where the system allows.  A
// symbolic link is followed to the end of its chain, so the file it names is written, also when
// that file does not exist yet, and the link stays.  A target that is not a regular file, that is
// read-only for its owner (even where the process could replace it anyway: root ignores
// permissions, and a rename needs only the folder) or that this process may not write is refused.
//
// One object writes one file on one thread.
class ReplacementFile {
public:
    ReplacementFile() = default;
    // Removes the temporary file when the replacement was not committed.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Checks that `target` may be replaced and creates the temporary file beside it.  A missing
    // file may be created (its folder must exist).  On failure returns false with the reason, a
    // short lower-case phrase to follow the file's name.
    bool open(const std::filesystem::path& target, std::string& reason);

    // stdio-style access for an encoder.  Short transfers and failed seeks are recorded, so a
    // writer that ignores them (some do) cannot turn a failed write into a replaced file.
    std::size_t write(const void* data, std::size_t size, std::size_t count);
    std::size_t read(void* data, std::size_t size, std::size_t count);
    int seek(long offset, int origin);
    long tell();
    bool failed() const { return error_ != 0; }

    // Flush, sync, close and rename.  On failure (also when an earlier write failed) the
    // temporary file is removed and the reason is returned; the target stays as it was.
    bool commit(std::string& reason);
    // Drops the temporary file; the target stays as it was.
    void discard() noexcept;

private:
    void record(int error) noexcept;

    int folder_ = -1;        // the target's folder, open while a replacement is under way
    std::string name_;       // the target's name in it: a link's target for a symbolic link
    std::string temporary_;  // the temporary file's name in it; empty when there is none
    std::FILE* file_ = nullptr;
    int error_ = 0;  // the first failure's errno; 0 while all is well
};

// A whole replacement of `target` by `bytes` through a ReplacementFile.  Returns false with a
// description naming the target in `error` when anything fails.
bool replaceFile(const std::filesystem::path& target, std::string_view bytes, std::string& error);

enum class ReadStatus { Read, Missing, Failed };

// Reads the whole file into `bytes`.  Missing means the file does not exist; Failed, with a
// description in `error`, that it exists but cannot be read (permissions, a folder, an I/O error).
ReadStatus readFile(const std::filesystem::path& path, std::string& bytes, std::string& error);

// The name prefix (without folder) of the temporary files that replace `target`: a hidden name
// of at most 39 bytes, so that a target of the longest name a file system allows can be replaced.
// It holds the start of the target's name (cut between whole UTF-8 characters) and a hash of the
// whole name, so that one target's temporary files are told from another's.
std::string temporaryFilePrefix(const std::filesystem::path& target);

// The file that writing to `path` reaches: the end of its chain of symbolic links, each relative
// link read from the folder of the link that holds it.  The end need not exist (a link may name a
// file that is still to be made).  A loop of links, or a link that cannot be read, gives false and
// the errno value in `error`.
bool followLinks(const std::filesystem::path& path, std::filesystem::path& end, int& error);

}  // namespace Mav::Host::System
