#include "host/system/file_store.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Mav::Host::System {
namespace fs = std::filesystem;

namespace {

std::string describe(const char* what, const fs::path& path, int err) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(err);
}

// The file a write to `target` must replace: the end of a chain of symbolic links.
fs::path resolveTarget(const fs::path& target) {
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec) return resolved;
    }
    return target;
}

bool writeAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const std::size_t chunk = left < (std::size_t(1) << 30) ? left : (std::size_t(1) << 30);
        const ssize_t n = ::write(fd, p, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        left -= std::size_t(n);
    }
    return true;
}

}  // namespace

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
    return target.filename().string() + ".tmp-";
}

bool replaceFile(const fs::path& target, std::string_view bytes, std::string& error) {
    const fs::path dest = resolveTarget(target);
    fs::path folder = dest.parent_path();
    if (folder.empty()) folder = ".";

    struct stat existing {};
    const bool exists = ::stat(dest.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        error = dest.string() + " is not a regular file";
        return false;
    }
    // A rename needs only the folder, and root ignores permissions, so a file its owner made
    // read-only, or one this user may not write, would be replaced all the same.
    if (exists && (existing.st_mode & S_IWUSR) == 0) {
        error = dest.string() + " is read-only";
        return false;
    }
    if (exists && ::faccessat(AT_FDCWD, dest.c_str(), W_OK, AT_EACCESS) != 0) {
        error = describe("cannot write", dest, errno);
        return false;
    }

    // A fresh name per attempt; O_EXCL makes the file ours alone.  A new target gets the usual
    // permissions (0666 less the umask), which mkstemp's fixed 0600 would not give.
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = folder / (temporaryFilePrefix(dest) + std::to_string(::getpid()) + "-" +
                              std::to_string(counter++) + "-" + std::to_string(stamp % 1000000));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            error = describe("cannot create a temporary file in", folder, errno);
            return false;
        }
    }
    if (fd < 0) {
        error = describe("cannot create a temporary file in", folder, EEXIST);
        return false;
    }

    const char* failed = nullptr;
    int err = 0;
    // The replacement keeps the owner and group where the system lets us (root, or a group we
    // belong to): a user's private file rewritten by root would otherwise become root's, and the
    // user could no longer read it.  Changing the owner clears set-id bits, so the mode comes
    // after.
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()))
        (void)::fchown(fd, existing.st_uid, existing.st_gid);
    if (exists && ::fchmod(fd, existing.st_mode & 07777) != 0)
        failed = "cannot set the permissions of";
    else if (!writeAll(fd, bytes))
        failed = "cannot write";
    else if (::fsync(fd) != 0)
        failed = "cannot flush";
    if (failed) err = errno;
    if (::close(fd) != 0 && !failed) {
        failed = "cannot close";
        err = errno;
    }
    if (!failed && ::rename(temporary.c_str(), dest.c_str()) != 0) {
        error = describe("cannot replace", dest, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (failed) {
        error = describe(failed, temporary, err);
        ::unlink(temporary.c_str());
        return false;
    }

    // Make the rename itself durable.  The new content is complete either way, so a folder that
    // cannot be synced (some file systems refuse) is no failure.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace Mav::Host::System
