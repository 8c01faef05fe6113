#include "base/replacing_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/host/system/store_test_support.h"

// The one routine through which the engine and the host replace files, tested for what may happen
// to the file, its folder and its links around a replacement.  Its callers' own tests cover what
// they add: result codes, reasons in words, stdio access.

namespace vantrelo::base {
namespace {
namespace fs = std::filesystem;
using test_store::fileText;
using test_store::writeText;

::mode_t modeOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 077777;
}

class ReplacingFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.empty()); }

    // Replaces `target` by `bytes` in one go; false with the failure recorded.
    bool replace(const fs::path& target, const std::string& bytes) {
        if (!file_.open(target.c_str())) return false;
        std::fwrite(bytes.data(), 1, bytes.size(), file_.file());
        return file_.commit();
    }
    std::vector<std::string> names(const fs::path& folder = {}) const { return scratch_.names(folder); }

    const test_store::ScratchFolder scratch_{"vantrelo-base-replace"};
    const fs::path folder_ = scratch_.path();
    ReplacingFile file_;
};

// Each row is refused before anything is written, says at which step and why, and leaves the
// folder as it was: no file changed, no link turned into a file, no temporary file left.
TEST_F(ReplacingFileTest, TargetsThatMustNotBeReplacedAreRefused) {
    fs::create_symlink(folder_ / "loop-b", folder_ / "loop-a");
    fs::create_symlink(folder_ / "loop-a", folder_ / "loop-b");
    fs::create_symlink(folder_ / "no folder" / "x.txt", folder_ / "into nowhere");
    ASSERT_EQ(::mkfifo((folder_ / "pipe").c_str(), 0600), 0);
    // Read-only for its owner is refused whatever the group's and others' bits, also for root,
    // whom the permissions alone would not stop.
    const ::mode_t readOnly[] = {0444, 0400, 0466, 0555, 0000};
    for (const ::mode_t mode : readOnly) {
        const fs::path locked = folder_ / ("locked " + std::to_string(mode));
        writeText(locked, "locked");
        ASSERT_EQ(::chmod(locked.c_str(), mode), 0);
    }
    const std::vector<std::string> before = names();
    struct Case {
        std::string target;
        ReplaceFailure failure;
        int error;
    } cases[] = {
        {"", ReplaceFailure::NotRegularFile, 0},
        {folder_.string(), ReplaceFailure::NotRegularFile, 0},
        {(folder_ / ".").string(), ReplaceFailure::NotRegularFile, 0},
        {(folder_ / "pipe").string(), ReplaceFailure::NotRegularFile, 0},
        {(folder_ / "loop-a").string(), ReplaceFailure::CannotExamine, ELOOP},
        {(folder_ / "missing folder" / "x.txt").string(), ReplaceFailure::NoTemporaryFile, ENOENT},
        {(folder_ / "into nowhere").string(), ReplaceFailure::NoTemporaryFile, ENOENT},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    for (const ::mode_t mode : readOnly)
        all.push_back({(folder_ / ("locked " + std::to_string(mode))).string(), ReplaceFailure::ReadOnly, 0});
    for (const Case& c : all) {
        SCOPED_TRACE(c.target);
        EXPECT_FALSE(file_.open(c.target.c_str()));
        EXPECT_EQ(file_.failure(), c.failure);
        EXPECT_EQ(file_.error(), c.error);
        EXPECT_EQ(file_.file(), nullptr);
        EXPECT_EQ(names(), before);
    }
    EXPECT_FALSE(file_.open(nullptr));
    EXPECT_FALSE(file_.commit());  // nothing open
    EXPECT_EQ(file_.failure(), ReplaceFailure::NotOpen);
    for (const char* link : {"loop-a", "into nowhere"}) EXPECT_TRUE(fs::is_symlink(folder_ / link)) << link;
    for (const ::mode_t mode : readOnly) {
        const fs::path locked = folder_ / ("locked " + std::to_string(mode));
        EXPECT_EQ(modeOf(locked), mode);
        ::chmod(locked.c_str(), 0600);
        EXPECT_EQ(fileText(locked), "locked");
    }
}

// An ordinary user (a child that gives up root when the tests run as root): a file its owner may
// write but not read is replaced all the same, and another user's file it may not write is not.
TEST_F(ReplacingFileTest, AnOrdinaryUserReplacesWhatItMayWriteAndNothingElse) {
    const fs::path writeOnly = folder_ / "write only";
    const fs::path foreign = folder_ / "root's";
    writeText(writeOnly, "old");
    writeText(foreign, "root's");
    ::chmod(foreign.c_str(), 0644);
    const bool root = ::geteuid() == 0;
    const uid_t user = root ? 65534 : ::geteuid();
    if (root) {
        ASSERT_EQ(::chown(folder_.c_str(), user, user), 0);
        ASSERT_EQ(::chown(writeOnly.c_str(), user, user), 0);
    }
    ::chmod(writeOnly.c_str(), 0200);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (root && (::setgid(user) != 0 || ::setuid(user) != 0)) ::_exit(10);
        ReplacingFile file;
        if (!file.open(writeOnly.c_str())) ::_exit(20 + static_cast<int>(file.failure()));
        std::fputs("new", file.file());
        if (!file.commit()) ::_exit(40 + static_cast<int>(file.failure()));
        if (root) {
            if (file.open(foreign.c_str())) ::_exit(60);
            if (file.failure() != ReplaceFailure::NotWritable || file.error() != EACCES) ::_exit(61);
        }
        ::_exit(0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 no user to become, 2x refused, 4x not committed, 6x root's";
    EXPECT_EQ(modeOf(writeOnly), 0200u);
    ::chmod(writeOnly.c_str(), 0600);
    EXPECT_EQ(fileText(writeOnly), "new");
    EXPECT_EQ(fileText(foreign), "root's");
    EXPECT_EQ(names(), (std::vector<std::string>{"root's", "write only"}));
}

// The replacement takes the old file's mode whatever the umask, its owner and group (a file
// rewritten by root stays its user's), and its user attributes, with zero bytes and empty values
// as they were, but no attribute of another name space; a new file gets 0666 less the umask.
TEST_F(ReplacingFileTest, TheReplacementKeepsWhatTheOldFileHad) {
    const ::mode_t savedMask = ::umask(027);
    for (const ::mode_t mode : {0600u, 0640u, 0644u, 0604u, 0666u, 0700u, 0755u}) {
        SCOPED_TRACE(mode);
        const fs::path target = folder_ / "kept.txt";
        writeText(target, "old");
        ASSERT_EQ(::chmod(target.c_str(), mode), 0);
        ASSERT_TRUE(replace(target, "new")) << static_cast<int>(file_.failure());
        EXPECT_EQ(modeOf(target), mode);
        EXPECT_EQ(fileText(target), "new");
        fs::remove(target);
    }
    const bool made = replace(folder_ / "new.txt", "new");
    ::umask(savedMask);
    ASSERT_TRUE(made);
    EXPECT_EQ(modeOf(folder_ / "new.txt"), 0640u);

    const fs::path target = folder_ / "tagged.txt";
    writeText(target, "old");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(target.c_str(), 4242, 4343), 0);
        ASSERT_EQ(::chmod(target.c_str(), 06750), 0);  // set-id bits that a change of owner clears
    }
    // Zero bytes, an empty value and a long one come back as they were.
    const std::map<std::string, std::string> tags = {{"user.xdg.tags", "red,holiday"},
                                                     {"user.empty", ""},
                                                     {"user.binary", std::string("a\0b\xff", 4)},
                                                     {"user.xdg.comment", std::string(1000, 'c')}};
    bool attributes = true;
    for (const auto& [name, value] : tags)
        attributes = attributes && ::setxattr(target.c_str(), name.c_str(), value.data(), value.size(), 0) == 0;
    // Other name spaces belong to the system and stay with the old file (root may set this one).
    const bool trusted = ::setxattr(target.c_str(), "trusted.vantrelo", "old", 3, 0) == 0;
    ASSERT_TRUE(replace(target, "newer")) << static_cast<int>(file_.failure());
    EXPECT_EQ(fileText(target), "newer");
    if (::geteuid() == 0) {
        struct stat status {};
        ASSERT_EQ(::stat(target.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, 4242u);
        EXPECT_EQ(status.st_gid, 4343u);
        EXPECT_EQ(status.st_mode & 07777, 06750u);
    }
    if (trusted) {
        EXPECT_LT(::getxattr(target.c_str(), "trusted.vantrelo", nullptr, 0), 0);
    }
    if (!attributes) GTEST_SKIP() << "this file system keeps no user attributes";
    // What the file holds now, read with room to spare so no size is taken from the code's sums.
    const auto fill = [](std::string& into, const std::function<ssize_t(char*, std::size_t)>& query) {
        into.assign(8192, '\0');
        into.resize(static_cast<std::size_t>(std::max<ssize_t>(query(into.data(), into.size()), 0)));
    };
    std::string list, value;
    fill(list, [&](char* data, std::size_t size) { return ::listxattr(target.c_str(), data, size); });
    std::map<std::string, std::string> kept;
    for (std::size_t at = 0; at < list.size(); at += std::strlen(list.c_str() + at) + 1) {
        const char* name = list.c_str() + at;
        fill(value, [&](char* data, std::size_t size) { return ::getxattr(target.c_str(), name, data, size); });
        if (std::strncmp(name, "user.", 5) == 0) kept[name] = value;
    }
    EXPECT_EQ(kept, tags);
}

// The folder is held from open() on: moved while the new content is written, it gets the file
// where it now is, never in a folder that took its old name; removed, the commit fails and leaves
// nothing; a destination that became a folder meanwhile is not replaced.  No temporary file stays.
TEST_F(ReplacingFileTest, WhatHappensToTheFolderDuringTheWriteIsFollowed) {
    const fs::path before = folder_ / "album";
    const fs::path after = folder_ / "renamed album";
    fs::create_directory(before);
    writeText(before / "photo.txt", "old");
    ASSERT_TRUE(file_.open((before / "photo.txt").c_str()));
    std::fputs("new", file_.file());
    fs::rename(before, after);
    fs::create_directory(before);
    writeText(before / "photo.txt", "someone else's");
    ASSERT_TRUE(file_.commit());
    EXPECT_EQ(fileText(after / "photo.txt"), "new");
    EXPECT_EQ(fileText(before / "photo.txt"), "someone else's");
    EXPECT_EQ(names(after), std::vector<std::string>{"photo.txt"});
    EXPECT_EQ(names(before), std::vector<std::string>{"photo.txt"});

    // Dropped after a move: the temporary file goes from where it now is.
    ASSERT_TRUE(file_.open((after / "photo.txt").c_str()));
    EXPECT_EQ(names(after).size(), 2u);
    fs::remove_all(before);
    fs::rename(after, before);
    file_.discard();
    EXPECT_EQ(names(before), std::vector<std::string>{"photo.txt"});
    EXPECT_EQ(fileText(before / "photo.txt"), "new");

    ASSERT_TRUE(file_.open((before / "photo.txt").c_str()));
    std::fputs("lost", file_.file());
    fs::remove_all(before);
    EXPECT_FALSE(file_.commit());
    EXPECT_EQ(file_.failure(), ReplaceFailure::NotReplaced);
    EXPECT_EQ(file_.error(), ENOENT);
    EXPECT_TRUE(names().empty());

    ASSERT_TRUE(file_.open((folder_ / "taken").c_str()));
    fs::create_directory(folder_ / "taken");
    EXPECT_FALSE(file_.commit());
    EXPECT_EQ(file_.failure(), ReplaceFailure::NotReplaced);
    EXPECT_EQ(file_.error(), EISDIR);
    EXPECT_EQ(names(), std::vector<std::string>{"taken"});
    EXPECT_TRUE(names(folder_ / "taken").empty());
}

// Writing through a link writes the file the link names, also when that file is not there yet; a
// relative link is read from its own folder, ".." after a linked folder goes where the system
// takes it, and a chain of links is followed to its end.  The links stay links.
TEST_F(ReplacingFileTest, ALinkGetsTheFileItNamesWrittenAndStays) {
    fs::create_directory(folder_ / "sub");
    fs::create_directories(folder_ / "deep" / "er" / "est");
    fs::create_directory_symlink("deep/er/est", folder_ / "shortcut");
    fs::create_symlink("sub/new.txt", folder_ / "relative");
    fs::create_symlink(folder_ / "relative", folder_ / "chain");
    fs::create_symlink(folder_ / "elsewhere.txt", folder_ / "absolute");
    fs::create_symlink("../sub/../sub/up.txt", folder_ / "sub" / "up");
    fs::create_symlink("../up.txt", folder_ / "shortcut" / "up");
    writeText(folder_ / "elsewhere.txt", "old");
    struct Case {
        const char* link;
        fs::path target;
    } cases[] = {
        {"chain", folder_ / "sub" / "new.txt"},
        {"relative", folder_ / "sub" / "new.txt"},  // there now: replaced
        {"absolute", folder_ / "elsewhere.txt"},
        {"sub/up", folder_ / "sub" / "up.txt"},
        {"shortcut/up", folder_ / "deep" / "er" / "up.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        fs::path end;
        int error = 0;
        ASSERT_TRUE(followLinks(folder_ / c.link, end, error));
        EXPECT_TRUE(fs::equivalent(end.parent_path(), c.target.parent_path())) << end;
        EXPECT_EQ(end.filename(), c.target.filename());
        ASSERT_TRUE(replace(folder_ / c.link, c.link)) << static_cast<int>(file_.failure());
        EXPECT_TRUE(fs::is_symlink(folder_ / c.link));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(c.target)));
        EXPECT_EQ(fileText(c.target), c.link);
    }
    EXPECT_EQ(names(), (std::vector<std::string>{"absolute", "chain", "deep", "elsewhere.txt",
                                                 "relative", "shortcut", "sub"}));
    EXPECT_EQ(names(folder_ / "sub"), (std::vector<std::string>{"new.txt", "up", "up.txt"}));
    EXPECT_EQ(names(folder_ / "deep" / "er"), (std::vector<std::string>{"est", "up.txt"}));
}

// The temporary name is short whatever the destination's name, so a name of the longest length
// the file system allows (counted in bytes, also in UTF-8 characters) can be replaced; it is cut
// only between whole characters, and names that start alike still get prefixes of their own, so
// one file's leftovers are never taken for another's.
TEST_F(ReplacingFileTest, EveryNameTheFileSystemTakesCanBeReplaced) {
    std::string wide;
    while (wide.size() + 3 <= 255) wide += "\xe5\x86\x99";  // 写, three bytes each
    const std::string tried[] = {std::string(1, 'n'), std::string(200, 'n'), std::string(245, 'n'),
                                 std::string(255, 'n'), wide, "x" + wide.substr(0, 252)};
    std::vector<std::string> prefixes;
    for (const std::string& name : tried) {
        SCOPED_TRACE(name.size());
        const fs::path target = folder_ / name;
        writeText(target, "old");
        ASSERT_EQ(fileText(target), "old");
        ASSERT_TRUE(replace(target, "new")) << static_cast<int>(file_.failure()) << " " << file_.error();
        EXPECT_EQ(fileText(target), "new");
        EXPECT_EQ(names(), std::vector<std::string>{name});
        const std::string prefix = temporaryFilePrefix(target);
        EXPECT_LE(prefix.size(), 39u);
        ASSERT_EQ(prefix.substr(0, 2), "." + name.substr(0, 1));
        std::size_t same = 0;
        while (1 + same < prefix.size() && same < name.size() && prefix[1 + same] == name[same]) ++same;
        EXPECT_TRUE(same == name.size() || (static_cast<unsigned char>(name[same]) & 0xC0) != 0x80)
            << "cut inside a character after " << same << " bytes";
        EXPECT_EQ(std::count(prefixes.begin(), prefixes.end(), prefix), 0) << prefix;
        prefixes.push_back(prefix);
        fs::remove(target);
    }
}

// A failed write loses nothing, whether it shows at the commit's flush or was met earlier by a
// writer that went on regardless (the stream's error flag): the old file stays as it was, and the
// temporary file goes.  A replacement dropped without a commit leaves the old file too.
TEST_F(ReplacingFileTest, AFailedOrDroppedWriteLeavesTheOldFile) {
    const fs::path target = folder_ / "keys.txt";
    writeText(target, "previous");
    struct Case {
        const char* what;
        std::function<void(std::FILE*)> write;
    } cases[] = {
        {"the flush fails", [](std::FILE* file) { std::fwrite(std::string(3000, 'f').data(), 1, 3000, file); }},
        {"an ignored failed write",
         [](std::FILE* file) {
             std::setvbuf(file, nullptr, _IONBF, 0);
             std::fwrite(std::string(3000, 'e').data(), 1, 3000, file);  // cut at the limit
             std::fseek(file, 0, SEEK_SET);
             std::fputs("short", file);
         }},
    };
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(file_.open(target.c_str()));
        struct rlimit small = saved;
        small.rlim_cur = 1000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        c.write(file_.file());
        const bool committed = file_.commit();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_FALSE(committed);
        EXPECT_EQ(file_.failure(), ReplaceFailure::WriteFailed);
        EXPECT_NE(file_.error(), 0);
        EXPECT_EQ(fileText(target), "previous");
        EXPECT_EQ(names(), std::vector<std::string>{"keys.txt"});
    }
    ::sigaction(SIGXFSZ, &previous, nullptr);

    {
        ReplacingFile dropped;
        ASSERT_TRUE(dropped.open(target.c_str()));
        std::fputs("new", dropped.file());
    }
    EXPECT_EQ(fileText(target), "previous");
    EXPECT_EQ(names(), std::vector<std::string>{"keys.txt"});
}

// A temporary name someone else has is passed over; when no name is free the replacement is
// refused.  The names tried, which belong to someone else, are left alone either way.  The names
// end in a count of the names tried in this process, so the one in use now shows which hundred the
// next open tries.
TEST_F(ReplacingFileTest, TakenTemporaryNamesAreLeftAlone) {
    const fs::path target = folder_ / "keys.txt";
    writeText(target, "old");
    ASSERT_TRUE(file_.open(target.c_str()));
    std::string used;
    for (const std::string& name : names())
        if (name != "keys.txt") used = name;
    file_.discard();
    const std::string prefix = temporaryFilePrefix(target) + std::to_string(::getpid()) + "-";
    ASSERT_EQ(used.rfind(prefix, 0), 0u) << used;
    const long serial = std::stol(used.substr(prefix.size()));
    for (long taken = serial + 1; taken <= serial + 100; ++taken)
        writeText(folder_ / (prefix + std::to_string(taken)), "theirs");
    EXPECT_FALSE(file_.open(target.c_str()));
    EXPECT_EQ(file_.failure(), ReplaceFailure::NoTemporaryFile);
    EXPECT_EQ(file_.error(), EEXIST);
    EXPECT_EQ(names().size(), 101u);
    EXPECT_EQ(fileText(folder_ / (prefix + std::to_string(serial + 100))), "theirs");
    EXPECT_EQ(fileText(target), "old");

    // Fewer taken names than the attempts are passed over.
    for (long taken = serial + 101; taken <= serial + 150; ++taken)
        writeText(folder_ / (prefix + std::to_string(taken)), "theirs");
    ASSERT_TRUE(replace(target, "new")) << static_cast<int>(file_.failure()) << " " << file_.error();
    EXPECT_EQ(fileText(target), "new");
    EXPECT_EQ(names().size(), 151u);
}

}  // namespace
}  // namespace vantrelo::base
