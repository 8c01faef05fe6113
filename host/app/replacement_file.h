#pragma once
// Replaces a user's file so that a failure can never leave it damaged: the new content goes to a
// temporary file in the same folder, every write, the flush, the sync to disk and the close are
// checked, and only then is the temporary file renamed over the original.  Until that rename the
// original is untouched; on any failure the temporary file is removed.
//
// The temporary file gets the original's permission bits (and, where the system allows it, its
// owner and group).  A file that is not writable for its owner is refused even where the process
// could replace it anyway (root ignores permissions, and a rename needs only the folder), because
// its owner has said it must not change.  A symbolic link is followed, so the file it names is
// replaced and the link stays.
//
// One object writes one file on one thread.

#include <cstddef>
#include <cstdio>
#include <string>

namespace Mav::Host::App {

class ReplacementFile {
public:
    ReplacementFile() = default;
    // Removes the temporary file when the replacement was not committed.
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Checks that `path` may be replaced and creates the temporary file beside it.  A missing file
    // may be created (its folder must exist).  On failure returns false with the reason, a short
    // lower-case phrase to follow the file's name.
    bool open(const std::string& path, std::string& reason);

    // stdio-style access for an encoder.  Short transfers and failed seeks are recorded, so a
    // writer that ignores them (some do) cannot turn a failed write into a replaced file.
    std::size_t write(const void* data, std::size_t size, std::size_t count);
    std::size_t read(void* data, std::size_t size, std::size_t count);
    int seek(long offset, int origin);
    long tell();
    bool failed() const { return error_ != 0; }

    // Flush, sync, close and rename.  On failure (also when an earlier write failed) the
    // temporary file is removed and the reason is returned; the original stays as it was.
    bool commit(std::string& reason);
    // Drops the temporary file; the original stays as it was.
    void discard() noexcept;

    // The file that is replaced (the link's target for a symbolic link).
    const std::string& targetPath() const { return target_; }
    const std::string& temporaryPath() const { return temporary_; }

private:
    void record(int error) noexcept;

    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    int error_ = 0;  // the first failure's errno; 0 while all is well
};

}  // namespace Mav::Host::App
