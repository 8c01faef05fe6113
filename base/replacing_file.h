#pragma once
// Replacing a file so that a crash, a full disk or a failing write never leaves it half written.
// The engine (its key data file) and the host (images, presets, the settings store) both replace
// files this one way, so a mend made here reaches every file the program writes.
//
// The new content goes to a temporary file beside the destination (same folder, so the rename
// cannot cross file systems); the flush, the sync and the close are checked, and only then is the
// temporary file renamed over the destination.  Readers, and the file after a crash, see either
// the whole old content or the whole new content; on any failure the destination is untouched and
// the temporary file removed.  A writer killed before the rename leaves its temporary file, whose
// name starts with temporaryFilePrefix(destination), behind.
//
// The destination's folder is held open from open() to the end and every step works relative to
// it: a folder moved meanwhile gets the new file where the old one now is (never in a folder that
// took its old name), and a folder removed meanwhile fails the commit with nothing left behind.
// A symbolic link is followed to the end of its chain, so the file it names is written, also when
// that file does not exist yet, and the link stays.  The temporary name is short whatever the
// destination's name, so every name the file system allows can be replaced.
//
// An existing destination keeps its owner and group where the system allows (a user's file
// rewritten by root stays the user's), its permission bits (the replacement is private until
// then) and its extended attributes of the user's name space ("user.*": a file manager's tags and
// comments); a new file gets 0666 less the umask.  A destination that is not a regular file, that
// is read-only for its owner (even where the process could replace it anyway: root ignores
// permissions, and a rename needs only the folder) or that this process may not write is refused.
//
// ReplacingFile reports failures by return values with the step and the errno value and never
// throws (the engine throws nothing); running out of memory is ENOMEM.  One object writes one file
// on one thread.

#include <cstdio>
#include <filesystem>
#include <string>

namespace vantrelo::base {

// The step at which a replacement stopped, for callers that tell the user why.
enum class ReplaceFailure {
    None,
    CannotExamine,       // a loop of links, a link that cannot be read, or no status for the file
    NotRegularFile,      // a folder, a device, or a name that names no file ("", ".", "..")
    ReadOnly,            // its owner has no write permission
    NotWritable,         // this process may not write it
    NoTemporaryFile,     // the folder cannot be opened, or no temporary file made in it
    PermissionsNotKept,  // the old file's mode cannot be given to the new one
    AttributesNotKept,   // nor its user attributes
    TemporaryNotOpened,  // the temporary file cannot be opened as a stream
    NotOpen,             // commit() without a successful open()
    WriteFailed,         // the flush, the sync or the close failed (also an earlier failed write)
    NotReplaced,         // the rename failed
};

class ReplacingFile {
public:
    ReplacingFile() = default;
    ~ReplacingFile() { discard(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Checks that `path` may be replaced and creates the temporary file beside it.  A missing file
    // may be created (its folder must exist).  False, with failure() and error() set and nothing
    // left behind, when it may not.
    bool open(const char* path) noexcept;
    // The temporary file while open() has succeeded: open for writing and reading ("w+b"), so an
    // encoder may go back over what it wrote.
    std::FILE* file() const { return file_; }
    // Flushes, syncs and closes the temporary file and puts it in place.  A stream whose error
    // flag is set (a write that failed and was ignored) fails here.  On failure the destination is
    // untouched and the temporary file removed.
    bool commit() noexcept;
    // Drops the temporary file; the destination stays as it was.
    void discard() noexcept;

    ReplaceFailure failure() const { return failure_; }
    // The errno value of the failing step; 0 where the step has none (a file that is read-only).
    int error() const { return error_; }

private:
    bool prepare(const char* path);
    bool fail(ReplaceFailure failure, int error) noexcept;

    int folder_ = -1;        // the destination's folder
    std::string name_;       // the destination's name in it: a link's target for a symbolic link
    std::string temporary_;  // the temporary file's name in it; empty when there is none
    int fd_ = -1;            // the temporary file until file_ takes it
    std::FILE* file_ = nullptr;
    ReplaceFailure failure_ = ReplaceFailure::None;
    int error_ = 0;
};

// The name prefix (without folder) of the temporary files that replace `target`: a hidden name of
// at most 39 bytes, so that a target of the longest name a file system allows can be replaced.  It
// holds the start of the target's name (cut between whole UTF-8 characters) and a hash of the
// whole name, so that one target's temporary files are told from another's.
std::string temporaryFilePrefix(const std::filesystem::path& target);

// The file that writing to `path` reaches: the end of its chain of symbolic links, each relative
// link read from the folder of the link that holds it, without normalising (".." after a linked
// folder goes where the system would take it).  The end need not exist (a link may name a file
// that is still to be made).  A loop of links, or a link that cannot be read, gives false and the
// errno value in `error`.
bool followLinks(const std::filesystem::path& path, std::filesystem::path& end, int& error);

}  // namespace vantrelo::base
