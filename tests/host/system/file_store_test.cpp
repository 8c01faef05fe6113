#include "host/system/file_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/xattr.h>

#include "tests/host/system/store_test_support.h"

namespace Mav::Host::System {
namespace {
namespace fs = std::filesystem;
using test_store::fileText;
using test_store::writeText;

class ReplacementFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.empty()); }

    const test_store::ScratchFolder scratch_{"vantrelo-replace"};
    const fs::path folder_ = scratch_.path();
};

// An encoder goes back over what it wrote (a header it fills in last) and reads it again; the
// target sees only the finished whole.
TEST_F(ReplacementFileTest, AnEncoderMaySeekAndReadBackBeforeTheCommit) {
    const fs::path target = folder_ / "picture.tif";
    writeText(target, "old content");
    ::chmod(target.c_str(), 0604);
    ReplacementFile file;
    std::string reason;
    ASSERT_TRUE(file.open(target, reason)) << reason;
    EXPECT_EQ(file.write("abcdef", 1, 6), 6u);
    EXPECT_EQ(file.seek(2, SEEK_SET), 0);
    EXPECT_EQ(file.write("XY", 2, 1), 1u);
    EXPECT_EQ(file.tell(), 4);
    EXPECT_EQ(file.seek(0, SEEK_SET), 0);
    char back[7] = {};
    EXPECT_EQ(file.read(back, 1, 6), 6u);
    EXPECT_STREQ(back, "abXYef");
    EXPECT_EQ(fileText(target), "old content");  // nothing seen before the commit
    EXPECT_EQ(scratch_.names().size(), 2u);
    EXPECT_FALSE(file.failed());
    ASSERT_TRUE(file.commit(reason)) << reason;
    EXPECT_EQ(fileText(target), "abXYef");
    EXPECT_EQ(scratch_.names(), std::vector<std::string>{"picture.tif"});
    struct stat st {};
    ::stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(ReplacementFileTest, AnUncommittedOrFailedReplacementLeavesTheOriginal) {
    const fs::path target = folder_ / "keep.txt";
    writeText(target, "old");
    {
        ReplacementFile file;
        std::string reason;
        ASSERT_TRUE(file.open(target, reason)) << reason;
        EXPECT_EQ(file.write("new", 1, 3), 3u);
    }  // dropped without a commit
    EXPECT_EQ(fileText(target), "old");
    EXPECT_EQ(scratch_.names(), std::vector<std::string>{"keep.txt"});

    ReplacementFile file;
    std::string reason;
    ASSERT_TRUE(file.open(target, reason)) << reason;
    file.write("new", 1, 3);
    EXPECT_NE(file.seek(-100, SEEK_SET), 0);  // a failed step is remembered ...
    EXPECT_TRUE(file.failed());
    EXPECT_FALSE(file.commit(reason));  // ... and fails the commit
    EXPECT_NE(reason.find("writing failed"), std::string::npos) << reason;
    EXPECT_EQ(fileText(target), "old");
    EXPECT_EQ(scratch_.names(), std::vector<std::string>{"keep.txt"});
}

// Each row is refused before anything is written, names why, and leaves the folder as it was.
TEST_F(ReplacementFileTest, TargetsThatMustNotBeReplacedAreRefused) {
    const fs::path locked = folder_ / "locked.txt";
    writeText(locked, "locked");
    ::chmod(locked.c_str(), 0444);
    // Two links naming each other: replacing one with a plain file would lose it.
    fs::create_symlink(folder_ / "loop-b", folder_ / "loop-a");
    fs::create_symlink(folder_ / "loop-a", folder_ / "loop-b");
    const std::vector<std::string> before = scratch_.names();
    struct Case {
        fs::path target;
        const char* words;
    } cases[] = {
        {fs::path(), "no file name"},
        {folder_, "not a regular file"},
        {locked, "read-only"},
        {folder_ / "loop-a", "cannot be examined"},
        {folder_ / "missing folder" / "x.txt", "temporary file cannot be created"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.string());
        ReplacementFile file;
        std::string reason;
        EXPECT_FALSE(file.open(c.target, reason));
        EXPECT_NE(reason.find(c.words), std::string::npos) << reason;
        std::string error;
        EXPECT_FALSE(replaceFile(c.target, "new", error));
        EXPECT_NE(error.find(c.words), std::string::npos) << error;
        EXPECT_EQ(scratch_.names(), before);
    }
    EXPECT_TRUE(fs::is_symlink(folder_ / "loop-a"));
    EXPECT_EQ(fileText(locked), "locked");
}

// A file that did not exist is made with the permissions any new file of the user gets.
TEST_F(ReplacementFileTest, ANewFileFollowsTheUmask) {
    const ::mode_t old = ::umask(027);
    std::string error;
    const bool written = replaceFile(folder_ / "new.txt", "new", error);
    ::umask(old);
    ASSERT_TRUE(written) << error;
    EXPECT_EQ(fileText(folder_ / "new.txt"), "new");
    struct stat st {};
    ::stat((folder_ / "new.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// The folder is moved (or removed) while the new content is being written.  The replacement goes
// where the original now is, never into a folder that took the old name, and no temporary file
// stays behind anywhere.
TEST_F(ReplacementFileTest, AFolderMovedDuringTheWriteGetsTheReplacementWhereItNowIs) {
    const fs::path before = folder_ / "album";
    const fs::path after = folder_ / "renamed album";
    fs::create_directory(before);
    writeText(before / "photo.txt", "old");
    ReplacementFile file;
    std::string reason;
    ASSERT_TRUE(file.open(before / "photo.txt", reason)) << reason;
    EXPECT_EQ(file.write("new", 1, 3), 3u);
    fs::rename(before, after);
    fs::create_directory(before);  // another folder takes the old name
    writeText(before / "photo.txt", "someone else's");
    ASSERT_TRUE(file.commit(reason)) << reason;
    EXPECT_EQ(fileText(after / "photo.txt"), "new");
    EXPECT_EQ(fileText(before / "photo.txt"), "someone else's");
    EXPECT_EQ(scratch_.names(after), std::vector<std::string>{"photo.txt"});
    EXPECT_EQ(scratch_.names(before), std::vector<std::string>{"photo.txt"});

    // Dropped after the move: the temporary file goes from where it now is.
    ASSERT_TRUE(file.open(after / "photo.txt", reason)) << reason;
    EXPECT_EQ(file.write("newer", 1, 5), 5u);
    fs::remove_all(before);
    fs::rename(after, before);
    file.discard();
    EXPECT_EQ(scratch_.names(before), std::vector<std::string>{"photo.txt"});
    EXPECT_EQ(fileText(before / "photo.txt"), "new");

    // Removed with all it holds: the commit fails and leaves nothing.
    ASSERT_TRUE(file.open(before / "photo.txt", reason)) << reason;
    EXPECT_EQ(file.write("lost", 1, 4), 4u);
    fs::remove_all(before);
    EXPECT_FALSE(file.commit(reason));
    EXPECT_TRUE(scratch_.names().empty());
}

// Writing through a link writes the file the link names, also when that file is not there yet;
// a relative link is read from the link's own folder, and a chain of links is followed to its end.
TEST_F(ReplacementFileTest, ALinkToAMissingFileGetsItsTargetWrittenAndStays) {
    fs::create_directory(folder_ / "sub");
    fs::create_symlink("sub/new.txt", folder_ / "relative");
    fs::create_symlink(folder_ / "relative", folder_ / "chain");
    fs::create_symlink(folder_ / "elsewhere.txt", folder_ / "absolute");
    fs::create_symlink("../sub/../sub/up.txt", folder_ / "sub" / "up");
    fs::create_symlink(folder_ / "no folder" / "x.txt", folder_ / "nowhere");
    struct Case {
        const char* link;
        fs::path target;
    } cases[] = {
        {"chain", folder_ / "sub" / "new.txt"},
        {"relative", folder_ / "sub" / "new.txt"},  // now there: replaced
        {"absolute", folder_ / "elsewhere.txt"},
        {"sub/up", folder_ / "sub" / "up.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        std::string error;
        ASSERT_TRUE(replaceFile(folder_ / c.link, c.link, error)) << error;
        EXPECT_TRUE(fs::is_symlink(folder_ / c.link));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(c.target)));
        EXPECT_EQ(fileText(c.target), c.link);
    }
    EXPECT_EQ(scratch_.names(), (std::vector<std::string>{"absolute", "chain", "elsewhere.txt",
                                                          "nowhere", "relative", "sub"}));
    EXPECT_EQ(scratch_.names(folder_ / "sub"), (std::vector<std::string>{"new.txt", "up", "up.txt"}));

    // A link into a folder that does not exist is refused and stays a link.
    std::string error;
    EXPECT_FALSE(replaceFile(folder_ / "nowhere", "new", error));
    EXPECT_NE(error.find("cannot be created"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_symlink(folder_ / "nowhere"));
}

// The temporary name is short whatever the target's name, so a name of the longest length the
// file system allows (counted in bytes, also when they are UTF-8 characters) can be replaced.
TEST_F(ReplacementFileTest, EveryNameTheFileSystemTakesCanBeReplaced) {
    std::string wide;
    while (wide.size() + 3 <= 255) wide += "\xe5\x86\x99";  // 写, three bytes each
    for (const std::string& name :
         {std::string(1, 'n'), std::string(200, 'n'), std::string(245, 'n'),
          std::string(255, 'n'), wide, "x" + wide.substr(0, 252)}) {
        SCOPED_TRACE(name.size());
        const fs::path target = folder_ / name;
        writeText(target, "old");
        ASSERT_EQ(fileText(target), "old");
        std::string error;
        ASSERT_TRUE(replaceFile(target, "new", error)) << error;
        EXPECT_EQ(fileText(target), "new");
        EXPECT_EQ(scratch_.names(), std::vector<std::string>{name});
        // Temporary names stay short and are cut only between whole characters.
        const std::string prefix = temporaryFilePrefix(target);
        EXPECT_LE(prefix.size(), 39u);
        const std::size_t head = prefix.find(name.substr(0, 1));
        ASSERT_NE(head, std::string::npos) << prefix;
        std::size_t same = 0;
        while (head + same < prefix.size() && same < name.size() && prefix[head + same] == name[same])
            ++same;
        EXPECT_TRUE(same == name.size() || (static_cast<unsigned char>(name[same]) & 0xC0) != 0x80)
            << "cut inside a character after " << same << " bytes";
        fs::remove(target);
    }
}

// Extended attributes of the user's own name space (file-manager tags, comments) are kept, like
// the owner and the mode; zero bytes and empty values come back as they were.
TEST_F(ReplacementFileTest, UserAttributesAreKept) {
    const fs::path target = folder_ / "tagged.txt";
    writeText(target, "old");
    const std::string binary("a\0b\xff", 4);
    if (::setxattr(target.c_str(), "user.xdg.tags", "red,holiday", 11, 0) != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    ASSERT_EQ(::setxattr(target.c_str(), "user.empty", "", 0, 0), 0);
    ASSERT_EQ(::setxattr(target.c_str(), "user.binary", binary.data(), binary.size(), 0), 0);
    std::string error;
    ASSERT_TRUE(replaceFile(target, "new", error)) << error;
    EXPECT_EQ(fileText(target), "new");
    const auto attribute = [&](const char* name) {
        char value[64];
        const ssize_t size = ::getxattr(target.c_str(), name, value, sizeof value);
        return size < 0 ? std::string("missing") : std::string(value, std::size_t(size));
    };
    EXPECT_EQ(attribute("user.xdg.tags"), "red,holiday");
    EXPECT_EQ(attribute("user.empty"), "");
    EXPECT_EQ(attribute("user.binary"), binary);
}

}  // namespace
}  // namespace Mav::Host::System
