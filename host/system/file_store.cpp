#include "host/system/file_store.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace Mav::Host::System {
namespace fs = std::filesystem;

namespace {

std::string errorText(int error) {
    return std::generic_category().message(error);
}

std::string describe(const char* what, const fs::path& path, int err) {
    return std::string(what) + " " + path.string() + ": " + errorText(err);
}

// Closes a descriptor at the end of a scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The folder a replacement works in.  Reading it is not needed (only its names are used), so a
// folder the process may write and enter but not list is opened as a bare reference instead; its
// sync after the rename then fails, which costs nothing but that sync.
int openFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) return fd;
    return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Copies the extended attributes of the user's name space ("user.*": file-manager tags and
// comments) of `name` in `folder` to the open file `to`.  Other name spaces belong to the system
// (security labels are the new file's own, capabilities must not travel).  Returns 0, or the
// errno value of the step that failed.
int copyUserAttributes(int folder, const std::string& name, int to) {
    // A file its owner may write but not read is reached by its /proc name to list its names.
    std::string viaProc;
    int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == EACCES) {
        fd = ::openat(folder, name.c_str(), O_PATH | O_CLOEXEC);
        viaProc = "/proc/self/fd/" + std::to_string(fd);
    }
    if (fd < 0) return errno;
    const Descriptor from(fd);
    const auto list = [&](char* names, std::size_t size) {
        return viaProc.empty() ? ::flistxattr(fd, names, size)
                               : ::listxattr(viaProc.c_str(), names, size);
    };
    const auto get = [&](const char* key, void* value, std::size_t size) {
        return viaProc.empty() ? ::fgetxattr(fd, key, value, size)
                               : ::getxattr(viaProc.c_str(), key, value, size);
    };
    // Sizes are asked first; an attribute that grows in between is asked again.
    std::vector<char> names;
    for (int attempt = 0;; ++attempt) {
        const ssize_t size = list(nullptr, 0);
        if (size < 0) return errno == ENOTSUP ? 0 : errno;  // no attributes on this file system
        if (size == 0) return 0;
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = list(names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE || attempt == 3) return errno;
    }
    // 0 with the value, or the errno value: ENODATA when the attribute went away meanwhile.
    std::vector<char> value;
    const auto fetch = [&](const char* key) {
        for (int attempt = 0; attempt < 4; ++attempt) {
            const ssize_t size = get(key, nullptr, 0);
            if (size < 0) return errno;
            value.resize(static_cast<std::size_t>(size));
            const ssize_t got = get(key, value.data(), value.size());
            if (got >= 0) {
                value.resize(static_cast<std::size_t>(got));
                return 0;
            }
            if (errno != ERANGE) return errno;
        }
        return ERANGE;
    };
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* key = names.data() + at;
        if (std::strncmp(key, "user.", 5) != 0) continue;
        const int error = fetch(key);
        if (error == ENODATA) continue;
        if (error != 0) return error;
        if (::fsetxattr(to, key, value.data(), value.size(), 0) != 0) return errno;
    }
    return 0;
}

}  // namespace

bool followLinks(const fs::path& path, fs::path& end, int& error) {
    fs::path at = path;
    // As many links as the kernel follows in one look-up.
    for (int hops = 0; hops <= 40; ++hops) {
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
        // A relative link is read from its own folder; nothing is normalised, so ".." after a
        // linked folder goes where the system would take it.
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    error = ELOOP;
    return false;
}

ReadStatus readFile(const fs::path& path, std::string& bytes, std::string& error) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        error = describe("cannot open", path, err);
        return err == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = describe("cannot read", path, errno);
            ::close(fd);
            bytes.clear();
            return ReadStatus::Failed;
        }
        if (n == 0) break;
        bytes.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return ReadStatus::Read;
}

std::string temporaryFilePrefix(const fs::path& target) {
    const std::string name = target.filename().string();
    std::size_t head = std::min<std::size_t>(name.size(), 24);
    while (head > 0 && head < name.size() && (static_cast<unsigned char>(name[head]) & 0xC0) == 0x80)
        --head;
    std::uint32_t hash = 2166136261u;  // 32-bit FNV-1a
    for (const unsigned char c : name) hash = (hash ^ c) * 16777619u;
    char hex[9];
    for (int i = 7; i >= 0; --i, hash >>= 4) hex[i] = "0123456789abcdef"[hash & 0xF];
    hex[8] = '\0';
    return "." + name.substr(0, head) + "." + hex + ".tmp-";
}

ReplacementFile::~ReplacementFile() {
    discard();
}

void ReplacementFile::record(int error) noexcept {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
}

bool ReplacementFile::open(const fs::path& target, std::string& reason) {
    discard();
    error_ = 0;
    if (target.empty()) {
        reason = "no file name is given";
        return false;
    }
    fs::path resolved;
    int linkError = 0;
    if (!followLinks(target, resolved, linkError)) {
        // A loop of links, for one, would otherwise be replaced by a plain file.
        reason = "the file cannot be examined (" + errorText(linkError) + ")";
        return false;
    }
    name_ = resolved.filename().string();
    if (name_.empty() || name_ == "." || name_ == "..") {
        name_.clear();
        reason = "it is not a regular file";
        return false;
    }
    const fs::path folder = resolved.has_parent_path() ? resolved.parent_path() : fs::path(".");
    folder_ = openFolder(folder);
    if (folder_ < 0) {
        reason = "the temporary file cannot be created (" + errorText(errno) + ")";
        discard();
        return false;
    }
    const auto refuse = [&](std::string why) {
        reason = std::move(why);
        discard();
        return false;
    };

    struct stat existing {};
    const bool exists = ::fstatat(folder_, name_.c_str(), &existing, 0) == 0;
    if (!exists && errno != ENOENT)
        return refuse("the file cannot be examined (" + errorText(errno) + ")");
    if (exists && !S_ISREG(existing.st_mode)) return refuse("it is not a regular file");
    if (exists && (existing.st_mode & S_IWUSR) == 0) return refuse("the file is read-only");
    if (exists && ::faccessat(folder_, name_.c_str(), W_OK, AT_EACCESS) != 0)
        return refuse("the file cannot be written (" + errorText(errno) + ")");

    // A fresh name per attempt; O_EXCL makes the file ours alone.  A new target gets the usual
    // permissions (0666 less the umask), which mkstemp's fixed 0600 would not give; a replacement
    // starts private and takes the original's bits below.
    static std::atomic<unsigned> counter{0};
    const std::string prefix = temporaryFilePrefix(resolved) + std::to_string(::getpid()) + "-";
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary_ = prefix + std::to_string(counter++);
        fd = ::openat(folder_, temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                      exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int error = errno;
        temporary_.clear();  // the last name tried is not ours
        return refuse("the temporary file cannot be created (" + errorText(error) + ")");
    }
    if (exists) {
        // The replacement keeps the owner and group where the system lets us (root, or a group we
        // belong to): a user's private file rewritten by root would otherwise become root's, and
        // the user could no longer read it.  Changing the owner clears set-id bits, so the mode
        // comes after.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
            (void)::fchown(fd, existing.st_uid, existing.st_gid);
        if (::fchmod(fd, existing.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(fd);
            return refuse("the file's permissions cannot be kept (" + errorText(error) + ")");
        }
        if (const int error = copyUserAttributes(folder_, name_, fd); error != 0) {
            ::close(fd);
            return refuse("the file's extended attributes cannot be kept (" + errorText(error) +
                          ")");
        }
    }
    file_ = ::fdopen(fd, "w+b");
    if (!file_) {
        const int error = errno;
        ::close(fd);
        return refuse("the temporary file cannot be opened (" + errorText(error) + ")");
    }
    return true;
}

std::size_t ReplacementFile::write(const void* data, std::size_t size, std::size_t count) {
    if (!file_) {
        record(EBADF);
        return 0;
    }
    if (size == 0 || count == 0) return 0;
    errno = 0;
    const std::size_t written = std::fwrite(data, size, count, file_);
    if (written < count) record(errno);
    return written;
}

std::size_t ReplacementFile::read(void* data, std::size_t size, std::size_t count) {
    if (!file_ || size == 0 || count == 0) return 0;
    return std::fread(data, size, count, file_);
}

int ReplacementFile::seek(long offset, int origin) {
    if (!file_) {
        record(EBADF);
        return -1;
    }
    errno = 0;
    // A seek flushes the stdio buffer, so it can be where a write failure first shows.
    const int result = ::fseeko(file_, static_cast<off_t>(offset), origin);
    if (result != 0) record(errno);
    return result;
}

long ReplacementFile::tell() {
    if (!file_) return -1;
    const off_t position = ::ftello(file_);
    if (position < 0) record(errno);
    return static_cast<long>(position);
}

bool ReplacementFile::commit(std::string& reason) {
    if (!file_) {
        reason = "the temporary file is not open";
        discard();
        return false;
    }
    if (!error_ && std::fflush(file_) != 0) record(errno);
    if (!error_ && ::fsync(::fileno(file_)) != 0) record(errno);
    errno = 0;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0) record(errno);
    if (error_) {
        reason = "writing failed (" + errorText(error_) + ")";
        discard();
        return false;
    }
    if (::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
        reason = "the file cannot be replaced (" + errorText(errno) + ")";
        discard();
        return false;
    }
    temporary_.clear();

    // Make the rename itself durable.  The new content is complete either way, so a folder that
    // cannot be synced (some file systems refuse) is no failure.
    ::fsync(folder_);
    discard();
    return true;
}

void ReplacementFile::discard() noexcept {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlinkat(folder_, temporary_.c_str(), 0);
        temporary_.clear();
    }
    if (folder_ >= 0) {
        ::close(folder_);
        folder_ = -1;
    }
    name_.clear();
}

bool replaceFile(const fs::path& target, std::string_view bytes, std::string& error) {
    ReplacementFile file;
    std::string reason;
    if (file.open(target, reason)) {
        file.write(bytes.data(), 1, bytes.size());
        if (file.commit(reason)) return true;
    }
    error = target.string() + ": " + reason;
    return false;
}

}  // namespace Mav::Host::System
