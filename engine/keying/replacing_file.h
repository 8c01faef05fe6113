#pragma once
// Replacing one of the engine's files (the key data file) so that a crash, a full disk or a
// failing write never leaves it half written.  Internal to the engine.
//
// The new text goes to a temporary file beside the destination; every write, the flush, the sync
// and the close are checked, and only then is the temporary file renamed over the destination.  The
// destination's folder is held open from open() to the end and every step works relative to it, so
// a folder moved meanwhile gets the new file where the old one now is, and a folder removed
// meanwhile fails the save with nothing left behind.  A symbolic link is followed to the end of
// its chain (relative links from their own folder), so the file it names is written, also when it
// does not exist yet, and the link stays.  The temporary name is short whatever the destination's
// name, so every name the file system allows can be saved again.
//
// The replacement keeps the old file's owner and group where the system allows, its mode (it is
// private until then) and its extended attributes of the user's name space ("user.*": a file
// manager's tags and comments); a new file gets 0666 less the umask.  Nothing here throws.

#include <cstdio>
#include <string>

namespace vantrelo {

class ReplacingFile {
public:
    ReplacingFile() = default;
    ~ReplacingFile() { discard(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // False when the destination cannot be replaced: not a regular file, a file whose owner made
    // it read-only (root could write it anyway), a file this process may not write, a link that
    // cannot be followed, a folder in which no temporary file can be made, or an old file whose
    // permissions or user attributes cannot be given to the new one.
    bool open(const char* path);
    // The temporary file, open for writing in text mode, while open() has succeeded.
    std::FILE* file() const { return file_; }
    // Flushes, syncs and closes the temporary file and puts it in place.  False, the destination
    // untouched and the temporary file removed, when any step fails.
    bool commit();

private:
    bool prepare(const char* path);
    void discard() noexcept;

    int folder_ = -1;        // the destination's folder
    std::string name_;       // the destination's name in it
    std::string temporary_;  // the temporary file's name in it; empty when there is none
    int fd_ = -1;            // the temporary file until file_ takes it
    std::FILE* file_ = nullptr;
};

}  // namespace vantrelo
