#include "host/app/replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

namespace Mav::Host::App {

namespace {

std::string errorText(int error) {
    return std::generic_category().message(error);
}

std::string folderOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// A name nobody else uses, in the target's folder; hidden so that file browsers do not show it
// while it exists.
std::string temporaryName(const std::string& folder, std::mt19937_64& random) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = folder + "/.vantrelo-";
    for (int i = 0; i < 12; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    return name + ".tmp";
}

void syncFolder(const std::string& folder) {
    // Makes the rename itself durable.  The file is already replaced when this runs, so a failure
    // here is not a failed write and is not reported.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

ReplacementFile::~ReplacementFile() {
    discard();
}

void ReplacementFile::record(int error) noexcept {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
}

bool ReplacementFile::open(const std::string& path, std::string& reason) {
    discard();
    error_ = 0;
    target_ = path;
    if (path.empty()) {
        reason = "no file name is given";
        return false;
    }

    struct stat original {};
    bool exists = false;
    if (::stat(path.c_str(), &original) == 0) {
        exists = true;
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target_ = resolved;
            std::free(resolved);
        }
        if (!S_ISREG(original.st_mode)) {
            reason = "it is not a regular file";
            return false;
        }
        if ((original.st_mode & S_IWUSR) == 0) {
            reason = "the file is read-only";
            return false;
        }
        if (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
            reason = "the file cannot be written (" + errorText(errno) + ")";
            return false;
        }
    } else if (errno != ENOENT) {
        reason = "the file cannot be examined (" + errorText(errno) + ")";
        return false;
    }

    const std::string folder = folderOf(target_);
    std::mt19937_64 random(std::random_device{}() ^ static_cast<std::uint64_t>(::getpid()));
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary_ = temporaryName(folder, random);
        // A new file follows the umask like any file the user creates; a replacement starts
        // private and takes the original's bits below.
        fd =
            ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int error = errno;
        temporary_.clear();
        reason = "the temporary file cannot be created (" + errorText(error) + ")";
        return false;
    }
    if (exists) {
        // Owner first: changing it clears the set-id bits, which the mode then restores.  Only
        // root (or the owner, for a group it belongs to) may do this; otherwise the file becomes
        // the writer's, as any saved file would.
        if (original.st_uid != ::geteuid() || original.st_gid != ::getegid())
            (void)::fchown(fd, original.st_uid, original.st_gid);
        if (::fchmod(fd, original.st_mode & 07777) != 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(temporary_.c_str());
            temporary_.clear();
            reason = "the file's permissions cannot be kept (" + errorText(error) + ")";
            return false;
        }
    }
    file_ = ::fdopen(fd, "w+b");
    if (!file_) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary_.c_str());
        temporary_.clear();
        reason = "the temporary file cannot be opened (" + errorText(error) + ")";
        return false;
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
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        reason = "the file cannot be replaced (" + errorText(errno) + ")";
        discard();
        return false;
    }
    temporary_.clear();
    syncFolder(folderOf(target_));
    return true;
}

void ReplacementFile::discard() noexcept {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

}  // namespace Mav::Host::App
