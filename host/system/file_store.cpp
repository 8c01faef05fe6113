#include "host/system/file_store.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace Mav::Host::System {
namespace fs = std::filesystem;
using vantrelo::base::ReplaceFailure;

namespace {

std::string errorText(int error) {
    return std::generic_category().message(error);
}

std::string describe(const char* what, const fs::path& path, int err) {
    return std::string(what) + " " + path.string() + ": " + errorText(err);
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

void ReplacementFile::record(int error) noexcept {
    if (error_ == 0) error_ = error != 0 ? error : EIO;
}

std::string ReplacementFile::reasonFor() const {
    const auto with = [&](const char* what) {
        return std::string(what) + " (" + errorText(file_.error()) + ")";
    };
    switch (file_.failure()) {
    case ReplaceFailure::None:
        break;
    case ReplaceFailure::CannotExamine:
        return with("the file cannot be examined");
    case ReplaceFailure::NotRegularFile:
        return "it is not a regular file";
    case ReplaceFailure::ReadOnly:
        return "the file is read-only";
    case ReplaceFailure::NotWritable:
        return with("the file cannot be written");
    case ReplaceFailure::NoTemporaryFile:
        return with("the temporary file cannot be created");
    case ReplaceFailure::PermissionsNotKept:
        return with("the file's permissions cannot be kept");
    case ReplaceFailure::AttributesNotKept:
        return with("the file's extended attributes cannot be kept");
    case ReplaceFailure::TemporaryNotOpened:
        return with("the temporary file cannot be opened");
    case ReplaceFailure::NotOpen:
        return "the temporary file is not open";
    case ReplaceFailure::WriteFailed:
        return with("writing failed");
    case ReplaceFailure::NotReplaced:
        return with("the file cannot be replaced");
    }
    return {};
}

bool ReplacementFile::open(const fs::path& target, std::string& reason) {
    error_ = 0;
    if (target.empty()) {
        discard();
        reason = "no file name is given";
        return false;
    }
    if (file_.open(target.c_str())) return true;
    reason = reasonFor();
    return false;
}

std::size_t ReplacementFile::write(const void* data, std::size_t size, std::size_t count) {
    if (!file_.file()) {
        record(EBADF);
        return 0;
    }
    if (size == 0 || count == 0) return 0;
    errno = 0;
    const std::size_t written = std::fwrite(data, size, count, file_.file());
    if (written < count) record(errno);
    return written;
}

std::size_t ReplacementFile::read(void* data, std::size_t size, std::size_t count) {
    if (!file_.file() || size == 0 || count == 0) return 0;
    return std::fread(data, size, count, file_.file());
}

int ReplacementFile::seek(long offset, int origin) {
    if (!file_.file()) {
        record(EBADF);
        return -1;
    }
    errno = 0;
    // A seek flushes the stdio buffer, so it can be where a write failure first shows.
    const int result = ::fseeko(file_.file(), static_cast<off_t>(offset), origin);
    if (result != 0) record(errno);
    return result;
}

long ReplacementFile::tell() {
    if (!file_.file()) return -1;
    const off_t position = ::ftello(file_.file());
    if (position < 0) record(errno);
    return static_cast<long>(position);
}

bool ReplacementFile::commit(std::string& reason) {
    if (error_ != 0 && file_.file()) {
        file_.discard();
        reason = "writing failed (" + errorText(error_) + ")";
        return false;
    }
    if (file_.commit()) return true;
    reason = reasonFor();
    return false;
}

void ReplacementFile::discard() noexcept {
    file_.discard();
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
