// Writing a result over a subject image reached through a link: the link stays and the file it
// names is written.

#include <gtest/gtest.h>

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

}  // namespace
