#include "engine/keying/replacing_file.h"

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

namespace vantrelo {

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The end of the chain of symbolic links that starts at `path` (it need not exist).  A relative
// link is read from its own folder, without normalising, so ".." after a linked folder goes where
// the system would take it.  False for a loop or a link that cannot be read.
bool followLinks(const std::string& path, std::string& end) {
    std::string at = path;
    for (int hops = 0; hops <= 40; ++hops) {  // as many as the kernel follows in one look-up
        struct stat status {};
        if (::lstat(at.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            end = at;
            return true;
        }
        std::string text(static_cast<std::size_t>(std::max<off_t>(status.st_size, 0)) + 1, '\0');
        for (;;) {
            const ssize_t n = ::readlink(at.c_str(), text.data(), text.size());
            if (n <= 0) return false;
            if (static_cast<std::size_t>(n) < text.size()) {
                text.resize(static_cast<std::size_t>(n));
                break;
            }
            text.resize(text.size() * 2);  // the link changed meanwhile
        }
        const std::size_t slash = at.rfind('/');
        at = text[0] == '/' || slash == std::string::npos ? text : at.substr(0, slash + 1) + text;
    }
    return false;
}

// A hidden name of at most 39 bytes: the start of the destination's name, cut between whole UTF-8
// characters, and a hash of the whole name.
std::string temporaryPrefix(const std::string& name) {
    std::size_t head = std::min<std::size_t>(name.size(), 24);
    while (head > 0 && head < name.size() && (static_cast<unsigned char>(name[head]) & 0xC0) == 0x80) --head;
    std::uint32_t hash = 2166136261u;  // 32-bit FNV-1a
    for (const unsigned char c : name) hash = (hash ^ c) * 16777619u;
    char hex[9];
    for (int i = 7; i >= 0; --i, hash >>= 4) hex[i] = "0123456789abcdef"[hash & 0xF];
    hex[8] = '\0';
    return "." + name.substr(0, head) + "." + hex + ".tmp-";
}

// Only the names are used, so a folder that may be written and entered but not listed is held as
// a bare reference (its sync after the rename then fails, which costs only that sync).
int openFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) return fd;
    return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Copies the "user.*" extended attributes of `name` in `folder` to the open file `to`; other name
// spaces belong to the system (security labels are the new file's own).  False when one cannot be
// read or set; an attribute removed meanwhile is skipped.
bool copyUserAttributes(int folder, const std::string& name, int to) {
    // A file its owner may write but not read is listed through its /proc name.
    std::string viaProc;
    int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == EACCES) {
        fd = ::openat(folder, name.c_str(), O_PATH | O_CLOEXEC);
        viaProc = "/proc/self/fd/" + std::to_string(fd);
    }
    if (fd < 0) return false;
    const auto list = [&](char* names, std::size_t size) {
        return viaProc.empty() ? ::flistxattr(fd, names, size) : ::listxattr(viaProc.c_str(), names, size);
    };
    const auto get = [&](const char* key, void* value, std::size_t size) {
        return viaProc.empty() ? ::fgetxattr(fd, key, value, size) : ::getxattr(viaProc.c_str(), key, value, size);
    };
    // Sizes are asked first, and again when something grew in between: 0, or the errno value.
    std::vector<char> names, value;
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
    return error == 0;
}

}  // namespace

bool ReplacingFile::open(const char* path) {
    discard();
    try {
        if (path && prepare(path)) return true;
    } catch (...) {
    }
    discard();
    return false;
}

bool ReplacingFile::prepare(const char* path) {
    std::string destination;
    if (!followLinks(path, destination)) return false;
    name_ = nameOf(destination);
    if (name_.empty() || name_ == "." || name_ == "..") return false;
    folder_ = openFolder(folderOf(destination));
    if (folder_ < 0) return false;
    struct stat existing {};
    const bool exists = ::fstatat(folder_, name_.c_str(), &existing, 0) == 0;
    if (!exists && errno != ENOENT) return false;
    if (exists && (!S_ISREG(existing.st_mode) || (existing.st_mode & S_IWUSR) == 0 ||
                   ::faccessat(folder_, name_.c_str(), W_OK, AT_EACCESS) != 0))
        return false;
    // A new file gets the usual permissions (0666 less the umask); a replacement starts private,
    // so that a private file's keys are never readable by others on the way, and takes the old
    // file's bits below.
    static std::atomic<unsigned> serial{0};
    const std::string prefix = temporaryPrefix(name_) + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = prefix + std::to_string(serial.fetch_add(1));
        fd_ = ::openat(folder_, temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        temporary_.clear();  // the last name tried is not ours
        return false;
    }
    if (exists) {
        // The replacement keeps the old file's owner and group where the system allows (a file
        // saved by root stays its user's), then its permissions: changing the owner clears set-id
        // bits.  Permissions or user attributes that cannot be kept refuse the save.
        (void)::fchown(fd_, existing.st_uid, existing.st_gid);
        if (::fchmod(fd_, existing.st_mode & 07777) != 0) return false;
        if (!copyUserAttributes(folder_, name_, fd_)) return false;
    }
    file_ = ::fdopen(fd_, "w");
    if (!file_) return false;
    fd_ = -1;  // owned by file_ now
    return true;
}

bool ReplacingFile::commit() {
    if (!file_) {
        discard();
        return false;
    }
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    ok = ::fsync(::fileno(file_)) == 0 && ok;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    ok = ok && ::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) == 0;
    if (!ok) {
        discard();
        return false;
    }
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

}  // namespace vantrelo
