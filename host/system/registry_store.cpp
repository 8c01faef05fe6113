#include "host/system/registry_store.h"

#include "host/system/file_store.h"
#include "host/system/shell_folders.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Mav::Host::System {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader = "vantrelo store 1\n";
constexpr std::string_view kEnd = "end ";

using Entries = std::map<std::string, std::optional<StoreValue>, std::less<>>;

std::uint64_t fnv1a(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3u;
    }
    return hash;
}

std::string hex16(std::uint64_t value) {
    char text[17];
    for (int i = 15; i >= 0; --i) {
        text[i] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    }
    return std::string(text, 16);
}

std::string serialise(const Entries& entries) {
    std::string out(kHeader);
    for (const auto& [key, value] : entries) {
        const std::string keyLength = std::to_string(key.size());
        if (!value) {
            out += "k " + keyLength + "\n" + key + "\n";
        } else if (value->type == StoreValue::Type::Integer) {
            out += "i " + keyLength + " " + std::to_string(value->integer) + "\n" + key + "\n";
        } else {
            out += "t " + keyLength + " " + std::to_string(value->text.size()) + "\n" + key +
                   value->text + "\n";
        }
    }
    out += std::string(kEnd) + std::to_string(entries.size()) + " " + hex16(fnv1a(out)) + "\n";
    return out;
}

// Reads the store format strictly; any deviation is damage, described in `reason`.
class Parser {
public:
    explicit Parser(std::string_view data) : data_(data) {}

    bool parse(Entries& entries, std::string& reason) {
        if (data_.substr(0, kHeader.size()) != kHeader) return fail(reason, "unknown header");
        pos_ = kHeader.size();
        for (;;) {
            const std::size_t lineStart = pos_;
            std::string_view line;
            if (!nextLine(line)) return fail(reason, "it ends without its end line");
            if (line.substr(0, kEnd.size()) == kEnd)
                return parseEnd(line.substr(kEnd.size()), lineStart, entries.size(), reason);

            std::string_view fields[3];
            const int n = split(line, fields);
            std::uint64_t keyLength = 0, textLength = 0;
            std::int32_t integer = 0;
            std::optional<StoreValue> value;
            if (n == 2 && fields[0] == "k" && number(fields[1], keyLength)) {
            } else if (n == 3 && fields[0] == "i" && number(fields[1], keyLength) &&
                       number(fields[2], integer)) {
                value = StoreValue::ofInteger(integer);
            } else if (n == 3 && fields[0] == "t" && number(fields[1], keyLength) &&
                       number(fields[2], textLength)) {
                value = StoreValue::ofText({});
            } else {
                return fail(reason, "a malformed record line");
            }
            const std::size_t left = data_.size() - pos_;
            if (keyLength >= left || textLength >= left - keyLength)
                return fail(reason, "a record runs past the end");
            std::string key(data_.substr(pos_, keyLength));
            pos_ += keyLength;
            if (value && value->type == StoreValue::Type::Text) {
                value->text.assign(data_.substr(pos_, textLength));
                pos_ += textLength;
            }
            if (data_[pos_++] != '\n') return fail(reason, "a record has the wrong length");
            if (!entries.empty() && !(entries.rbegin()->first < key))
                return fail(reason, "keys out of order");
            entries.emplace_hint(entries.end(), std::move(key), std::move(value));
        }
    }

private:
    bool parseEnd(std::string_view rest, std::size_t lineStart, std::size_t count,
                  std::string& reason) {
        std::string_view fields[3];
        std::uint64_t recorded = 0;
        if (split(rest, fields) != 2 || !number(fields[0], recorded) || fields[1].size() != 16)
            return fail(reason, "a malformed end line");
        if (recorded != count) return fail(reason, "keys are missing");
        if (fields[1] != hex16(fnv1a(data_.substr(0, lineStart))))
            return fail(reason, "the checksum does not match");
        if (pos_ != data_.size()) return fail(reason, "data after the end line");
        return true;
    }

    bool nextLine(std::string_view& line) {
        const std::size_t end = data_.find('\n', pos_);
        if (end == std::string_view::npos) return false;
        line = data_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
    }

    // Fields separated by single spaces; more than three counts as three (and fails later).
    static int split(std::string_view line, std::string_view (&fields)[3]) {
        int n = 0;
        while (n < 3) {
            const std::size_t space = line.find(' ');
            fields[n++] = line.substr(0, space);
            if (space == std::string_view::npos) return n;
            line.remove_prefix(space + 1);
        }
        return 4;
    }

    template <typename T>
    static bool number(std::string_view text, T& out) {
        if (text.empty() || text[0] == '+') return false;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
        return ec == std::errc() && end == text.data() + text.size();
    }

    static bool fail(std::string& reason, const char* what) {
        reason = what;
        return false;
    }

    std::string_view data_;
    std::size_t pos_ = 0;
};

// Renames `from` to `to` unless `to` exists.  File systems without the kernel's no-replace rename
// (older network file systems) get a check first, which only a second program's set-aside in the
// same instant could race.
int renameWithoutReplacing(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (::access(to.c_str(), F_OK) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

// Moves a damaged store out of the way under a name no earlier damaged store has: its time and,
// for a second copy in the same second, a count.  A store reached through a link is set aside
// beside the file the link names, and the link stays for the fresh store.
bool setAside(const fs::path& store, const std::string& reason) {
    fs::path file;
    int error = 0;
    if (followLinks(store, file, error)) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        const std::string base = file.string() + ".damaged-" + stamp;
        fs::path aside = base;
        for (long n = 2; renameWithoutReplacing(file, aside) != 0; ++n) {
            error = errno;
            if (error != EEXIST || n > 1000000) break;
            aside = base + "-" + std::to_string(n);
            error = 0;
        }
        if (error == 0) {
            std::fprintf(stderr,
                         "vantrelo: the settings store %s is damaged (%s); it was moved to %s and "
                         "the default settings are used\n",
                         store.c_str(), reason.c_str(), aside.c_str());
            return true;
        }
    }
    std::fprintf(stderr,
                 "vantrelo: the settings store %s is damaged (%s) and cannot be moved aside "
                 "(%s); the default settings are used\n",
                 store.c_str(), reason.c_str(), std::strerror(error));
    return false;
}

// An advisory lock on the store's folder (not on the store file, which every commit replaces).
class FolderLock {
public:
    // Waits up to five seconds for another program's commit to finish.
    explicit FolderLock(const fs::path& folder) {
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        for (int waited = 0;; waited += 10) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
                return;
            }
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) return;  // no locks on this file system: go on without
            if (waited >= 5000) {
                error_ = EWOULDBLOCK;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);  // also releases the lock
    }
    // 0, or why the folder could not be opened or stayed locked.
    int error() const { return error_; }
    bool locked() const { return locked_; }

private:
    int fd_ = -1;
    int error_ = 0;
    bool locked_ = false;
};

// Temporary files of writers that died before their rename.  Only called under the lock, when no
// other writer can be between creating and renaming its file.
void removeLeftovers(const fs::path& store) {
    fs::path file;
    int error = 0;
    if (!followLinks(store, file, error)) return;
    const std::string prefix = temporaryFilePrefix(file);
    std::error_code ec;
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;  // one that cannot be removed must not end the search
        if (name.compare(0, prefix.size(), prefix) == 0) fs::remove(it->path(), ignored);
    }
}

}  // namespace

fs::path RegistryStore::defaultLocation() {
    const fs::path base = applicationDataFolder();
    if (base.empty()) return {};
    return base / "vantrelo" / "registry";
}

RegistryStore::RegistryStore() : RegistryStore(defaultLocation()) {}

RegistryStore::RegistryStore(fs::path file) : file_(std::move(file)) {}

bool RegistryStore::load() {
    entries_.clear();
    error_.clear();
    bool ok = true;
    if (file_.empty()) {
        error_ = "there is no home folder for the settings store";
        ok = false;
    } else {
        std::string data, why;
        switch (readFile(file_, data, why)) {
        case ReadStatus::Missing:
            break;
        case ReadStatus::Failed:
            error_ = why;
            std::fprintf(stderr, "vantrelo: the default settings are used: %s\n", why.c_str());
            ok = false;
            break;
        case ReadStatus::Read: {
            std::string reason;
            if (Parser(data).parse(entries_, reason)) break;
            // Check again under the lock before moving the file aside, so that a store another
            // program has just written in its place is never taken for the damaged one.
            FolderLock lock(file_.parent_path());
            entries_.clear();
            if (readFile(file_, data, why) == ReadStatus::Read) {
                if (Parser(data).parse(entries_, reason)) break;
                entries_.clear();
                setAside(file_, reason);
            }
            error_ = file_.string() + " is damaged (" + reason + ")";
            ok = false;
            break;
        }
        }
    }
    apply(entries_);
    return ok;
}

bool RegistryStore::hasKey(std::string_view key) const {
    return entries_.find(key) != entries_.end();
}

const StoreValue* RegistryStore::value(std::string_view key) const {
    const auto it = entries_.find(key);
    return it != entries_.end() && it->second ? &*it->second : nullptr;
}

void RegistryStore::createKey(std::string_view key) {
    pending_.try_emplace(std::string(key));
    entries_.try_emplace(std::string(key));
}

void RegistryStore::setInteger(std::string_view key, std::int32_t value) {
    pending_.insert_or_assign(std::string(key), StoreValue::ofInteger(value));
    entries_.insert_or_assign(std::string(key), StoreValue::ofInteger(value));
}

void RegistryStore::setText(std::string_view key, std::string_view text) {
    pending_.insert_or_assign(std::string(key), StoreValue::ofText(std::string(text)));
    entries_.insert_or_assign(std::string(key), StoreValue::ofText(std::string(text)));
}

void RegistryStore::apply(Entries& entries) const {
    for (const auto& [key, value] : pending_) {
        if (value)
            entries.insert_or_assign(key, value);
        else
            entries.try_emplace(key);
    }
}

bool RegistryStore::commit() {
    if (pending_.empty()) return true;
    auto failure = [this](std::string why) {
        error_ = std::move(why);
        std::fprintf(stderr, "vantrelo: the settings were not saved: %s\n", error_.c_str());
        return false;
    };
    if (file_.empty()) return failure("there is no home folder for the settings store");

    const fs::path folder = file_.parent_path();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return failure("cannot create " + folder.string() + ": " + ec.message());
    FolderLock lock(folder);
    if (lock.error() != 0)
        return failure("cannot lock " + folder.string() + ": " + std::strerror(lock.error()));

    // Start from what is on the disk now, so that keys other programs wrote since load() stay.
    Entries current;
    std::string data, why;
    switch (readFile(file_, data, why)) {
    case ReadStatus::Missing:
        break;
    case ReadStatus::Failed:
        // Writing over a store that cannot be read would lose every key it holds.
        return failure(why);
    case ReadStatus::Read: {
        std::string reason;
        if (!Parser(data).parse(current, reason)) {
            current.clear();
            if (!setAside(file_, reason))
                return failure(file_.string() + " is damaged and cannot be moved aside");
        }
        break;
    }
    }
    if (lock.locked()) removeLeftovers(file_);

    apply(current);
    if (!replaceFile(file_, serialise(current), why)) return failure(why);
    entries_ = std::move(current);
    pending_.clear();
    error_.clear();
    return true;
}

}  // namespace Mav::Host::System
