#pragma once
// Replacing a user's file so that no crash, full disk or failing write can leave it half written.

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/replacing_file.h"

namespace Mav::Host::System {

// The steps, the failures and what an existing target keeps are those of base/replacing_file.h,
// which replaces every file the program writes.  On top of it this class gives the stdio-style
// access an encoder needs, with every short transfer or failed seek remembered, and a reason for
// each failure in words the user is shown.
//
// One object writes one file on one thread.
class ReplacementFile {
public:
    ReplacementFile() = default;
    // Removes the temporary file when the replacement was not committed.
    ~ReplacementFile() = default;
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
    std::string reasonFor() const;

    vantrelo::base::ReplacingFile file_;
    int error_ = 0;  // the first failure's errno; 0 while all is well
};

// A whole replacement of `target` by `bytes` through a ReplacementFile.  Returns false with a
// description naming the target in `error` when anything fails.
bool replaceFile(const std::filesystem::path& target, std::string_view bytes, std::string& error);

enum class ReadStatus { Read, Missing, Failed };

// Reads the whole file into `bytes`.  Missing means the file does not exist; Failed, with a
// description in `error`, that it exists but cannot be read (permissions, a folder, an I/O error).
ReadStatus readFile(const std::filesystem::path& path, std::string& bytes, std::string& error);

// The name prefix of the temporary files that replace a target, and the file that writing to a
// path reaches (base/replacing_file.h).
using vantrelo::base::followLinks;
using vantrelo::base::temporaryFilePrefix;

}  // namespace Mav::Host::System
