// Writing a result over a subject image reached through a link, and over a picture the user has
// tagged: the replacement keeps what the user's file manager and links rely on.

#include <gtest/gtest.h>

#include <sys/xattr.h>

#include <filesystem>
#include <string>

#include "tests/host/app/image_io_test_support.h"

namespace {

using namespace ImageIoTest;
namespace fs = std::filesystem;

// A 5 x 4 result read from a fixture, with every channel turned around so a write is visible.
void loadResult(TestHost& host, ImageBuffer& result, const std::string& fixture) {
    ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 5, 4, 24).get(), FIF_PNG, fixture));
    host.inputs = {fixture};
    std::string error;
    ASSERT_TRUE(result.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c) setChannel(result, x, y, c, 255 - channel(result, x, y, c));
}

// A link whose picture is not there yet (moved away, or about to be made): the write makes the
// file the link names, and the link stays.
TEST(SubjectImageReplacement, ALinkToAMissingPictureGetsItsTargetWritten) {
    TempFolder folder;
    TestHost host;
    ImageBuffer result(&host);
    loadResult(host, result, folder.file("fixture.png"));
    fs::create_directory(folder.path() / "album");
    const std::string link = folder.file("link.png");
    fs::create_symlink("album/result.png", link);

    host.inputs = {link};
    std::string error;
    ASSERT_TRUE(result.saveResult(&error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(folder.path() / "album" / "result.png")));
    ImageBuffer reread(&host);
    ASSERT_TRUE(reread.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
    for (int c = 0; c < 3; ++c) EXPECT_EQ(channel(reread, 4, 3, c), channel(result, 4, 3, c)) << c;
    EXPECT_EQ(folder.names(folder.path() / "album"), std::vector<std::string>{"result.png"});
}

// Tags and comments a file manager keeps in the user's extended attributes survive the write, and
// so does a name of the longest length the file system allows.
TEST(SubjectImageReplacement, UserAttributesAndTheLongestNamesAreKept) {
    TempFolder folder;
    TestHost host;
    ImageBuffer result(&host);
    std::string name(251, 'p');
    name += ".png";
    const std::string path = folder.file(name);
    loadResult(host, result, path);
    std::string error;
    ASSERT_TRUE(result.saveResult(&error)) << error;
    EXPECT_EQ(folder.names(), std::vector<std::string>{name});

    if (::setxattr(path.c_str(), "user.xdg.tags", "holiday", 7, 0) != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    ASSERT_EQ(::setxattr(path.c_str(), "user.xdg.comment", "Ørsted", 7, 0), 0);
    ASSERT_TRUE(result.saveResult(&error)) << error;
    char value[32];
    ssize_t size = ::getxattr(path.c_str(), "user.xdg.tags", value, sizeof value);
    EXPECT_EQ(std::string(value, size > 0 ? std::size_t(size) : 0), "holiday");
    size = ::getxattr(path.c_str(), "user.xdg.comment", value, sizeof value);
    EXPECT_EQ(std::string(value, size > 0 ? std::size_t(size) : 0), "Ørsted");
}

}  // namespace
