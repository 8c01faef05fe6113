#include "base/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vantrelo::base {
namespace fs = std::filesystem;

namespace {

// Only the names are used, so a folder that may be written and entered but not listed is held as
// a bare reference (its sync after the rename then fails, which costs only that sync).
int openFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) return fd;
    return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Copies the "user.*" extended attributes of `name` in `folder` to the open file `to`; other name
// spaces belong to the system (security labels are the new file's own, capabilities must not
// travel).  Returns 0, or the errno value of the step that failed; an attribute removed meanwhile
// is skipped.
int copyUserAttributes(int folder, const std::string& name, int to) {
    // A file its owner may write but not read is listed through its /proc name.
    std::string viaProc;
    const int fd = [&] {
        const int readable = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (readable >= 0 || errno != EACCES) return readable;
        const int bare = ::openat(folder, name.c_str(), O_PATH | O_CLOEXEC);
        if (bare >= 0) viaProc = "/proc/self/fd/" + std::to_string(bare);
        return bare;
    }();
    if (fd < 0) return errno;
    const auto list = [&](char* names, std::size_t size) {
        return viaProc.empty() ? ::flistxattr(fd, names, size) : ::listxattr(viaProc.c_str(), names, size);
    };
    const auto get = [&](const char* key, void* value, std::size_t size) {
        return viaProc.empty() ? ::fgetxattr(fd, key, value, size) : ::getxattr(viaProc.c_str(), key, value, size);
    };
    // Sizes are asked first, and again when something grew in between: 0, or the errno value.
    const auto fetch = [](std::vector<char>& into, const auto& query) {
        for (int attempt = 0; attempt < 4; ++attempt) {
            const ssize_t size = query(nullptr, 0);
            if (size < 0) return errno;
            into.resize(static_cast<std::size_t>(size));
            const ssize_t got = query(into.data(), into.size());
            if (got >= 0) {
                into.resize(static_cast<std::size_t>(got));
                return 0;
            }
            if (errno != ERANGE) return errno;
        }
        return ERANGE;
    };
    std::vector<char> names, value;
    int error = fetch(names, list);
    if (error == ENOTSUP) error = 0;  // a file system without attributes: nothing to keep
    for (std::size_t at = 0; error == 0 && at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* key = names.data() + at;
        if (std::strncmp(key, "user.", 5) != 0) continue;
        error = fetch(value, [&](void* data, std::size_t size) { return get(key, data, size); });
        if (error == ENODATA) {
            error = 0;
        } else if (error == 0 && ::fsetxattr(to, key, value.data(), value.size(), 0) != 0) {
            error = errno;
        }
    }
    ::close(fd);
    return error;
}

}  // namespace

bool followLinks(const fs::path& path, fs::path& end, int& error) {
    fs::path at = path;
    for (int hops = 0; hops <= 40; ++hops) {  // as many as the kernel follows in one look-up
        struct stat status {};
        // A name that cannot be examined is left to the caller, whose own look-up reports it.
        if (::lstat(at.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            end = at;
            return true;
        }
        std::string text(static_cast<std::size_t>(std::max<off_t>(status.st_size, 0)) + 1, '\0');
        for (;;) {
            const ssize_t n = ::readlink(at.c_str(), text.data(), text.size());
            if (n < 0) {
                error = errno;
                return false;
            }
            if (static_cast<std::size_t>(n) < text.size()) {
                text.resize(static_cast<std::size_t>(n));
                break;
            }
            text.resize(text.size() * 2);  // the link changed meanwhile
        }
        const fs::path next(text);
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    error = ELOOP;
    return false;
}

std::string temporaryFilePrefix(const fs::path& target) {
    const std::string name = target.filename().string();
    std::size_t head = std::min<std::size_t>(name.size(), 24);
    while (head > 0 && head < name.size() && (static_cast<unsigned char>(name[head]) & 0xC0) == 0x80) --head;
    std::uint32_t hash = 2166136261u;  // 32-bit FNV-1a
    for (const unsigned char c : name) hash = (hash ^ c) * 16777619u;
    char hex[9];
    for (int i = 7; i >= 0; --i, hash >>= 4) hex[i] = "0123456789abcdef"[hash & 0xF];
    hex[8] = '\0';
    return "." + name.substr(0, head) + "." + hex + ".tmp-";
}

bool ReplacingFile::fail(ReplaceFailure failure, int error) noexcept {
    discard();
    failure_ = failure;
    error_ = error;
    return false;
}

bool ReplacingFile::open(const char* path) noexcept {
    discard();
    failure_ = ReplaceFailure::None;
    error_ = 0;
    if (!path || !*path) return fail(ReplaceFailure::NotRegularFile, 0);
    try {
        return prepare(path);
    } catch (...) {  // only the names' strings throw here: out of memory
        return fail(ReplaceFailure::NoTemporaryFile, ENOMEM);
    }
}

bool ReplacingFile::prepare(const char* path) {
    fs::path destination;
    if (int error = 0; !followLinks(path, destination, error))
        // A loop of links, for one, would otherwise be replaced by a plain file.
        return fail(ReplaceFailure::CannotExamine, error);
    name_ = destination.filename().string();
    if (name_.empty() || name_ == "." || name_ == "..") return fail(ReplaceFailure::NotRegularFile, 0);
    folder_ = openFolder(destination.has_parent_path() ? destination.parent_path() : fs::path("."));
    if (folder_ < 0) return fail(ReplaceFailure::NoTemporaryFile, errno);

    struct stat existing {};
    const bool exists = ::fstatat(folder_, name_.c_str(), &existing, 0) == 0;
    if (!exists && errno != ENOENT) return fail(ReplaceFailure::CannotExamine, errno);
    if (exists && !S_ISREG(existing.st_mode)) return fail(ReplaceFailure::NotRegularFile, 0);
    if (exists && (existing.st_mode & S_IWUSR) == 0) return fail(ReplaceFailure::ReadOnly, 0);
    if (exists && ::faccessat(folder_, name_.c_str(), W_OK, AT_EACCESS) != 0)
        return fail(ReplaceFailure::NotWritable, errno);

    // A fresh name per attempt; O_EXCL makes the file ours alone, and the names tried that were
    // taken belong to someone else and stay.  A new file gets the usual permissions (0666 less the
    // umask), which mkstemp's fixed 0600 would not give; a replacement starts private, so that a
    // private file's content is never readable by others on the way, and takes the old file's
    // bits below.
    static std::atomic<unsigned> serial{0};
    const std::string prefix = temporaryFilePrefix(destination) + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = prefix + std::to_string(serial.fetch_add(1));
        fd_ = ::openat(folder_, temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();  // the last name tried is not ours
        return fail(ReplaceFailure::NoTemporaryFile, error);
    }
    if (exists) {
        // The owner and group are kept where the system allows (root, or a group we belong to):
        // a user's private file rewritten by root would otherwise become root's, and the user
        // could no longer read it.  Changing the owner clears set-id bits, so the mode comes after.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
            (void)::fchown(fd_, existing.st_uid, existing.st_gid);
        if (::fchmod(fd_, existing.st_mode & 07777) != 0) return fail(ReplaceFailure::PermissionsNotKept, errno);
        if (const int error = copyUserAttributes(folder_, name_, fd_); error != 0)
            return fail(ReplaceFailure::AttributesNotKept, error);
    }
    file_ = ::fdopen(fd_, "w+b");
    if (!file_) return fail(ReplaceFailure::TemporaryNotOpened, errno);
    fd_ = -1;  // owned by file_ now
    return true;
}

bool ReplacingFile::commit() noexcept {
    if (!file_) return fail(ReplaceFailure::NotOpen, EBADF);
    int error = 0;
    errno = 0;
    if (std::fflush(file_) != 0) error = errno != 0 ? errno : EIO;
    if (error == 0 && std::ferror(file_)) error = EIO;  // a write that failed earlier
    if (error == 0 && ::fsync(::fileno(file_)) != 0) error = errno;
    errno = 0;
    if (std::fclose(file_) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    file_ = nullptr;
    if (error != 0) return fail(ReplaceFailure::WriteFailed, error);
    if (::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0)
        return fail(ReplaceFailure::NotReplaced, errno);
    temporary_.clear();
    // Makes the rename itself durable.  The new content is complete and in place either way, so a
    // folder that cannot be synced (some file systems refuse) is no failure.
    (void)::fsync(folder_);
    discard();
    return true;
}

void ReplacingFile::discard() noexcept {
    if (file_) std::fclose(file_);
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlinkat(folder_, temporary_.c_str(), 0);
    if (folder_ >= 0) ::close(folder_);
    file_ = nullptr;
    fd_ = -1;
    folder_ = -1;
    temporary_.clear();
    name_.clear();
}

}  // namespace vantrelo::base
