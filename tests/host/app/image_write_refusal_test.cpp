// The refusal told when an image is opened is the one OK gives after keying it: the same read and
// write checks, made early, changing nothing.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/host/app/image_io_test_support.h"

namespace {

using namespace ImageIoTest;
using Mav::Host::App::ReadOptions;
using Mav::Host::App::readSubjectImage;
using Mav::Host::App::writeBackRefusal;
using Mav::Host::App::writeSubjectImage;
namespace fs = std::filesystem;

// What OK meets for the file: the read's failure, else the write's (of the picture turned
// around, so the write is real), else nothing.
std::string whatOkSays(const std::string& path) {
    ImageBuffer picture(nullptr);
    Mav::Host::App::ReadResult read = readSubjectImage(picture, path, ReadOptions{});
    if (!read.ok) return read.message;
    for (int y = 0; y < picture.bounds.height(); ++y)
        for (int x = 0; x < picture.bounds.width(); ++x)
            for (int c = 0; c < 3; ++c)
                setChannel(picture, x, y, c, 255 - channel(picture, x, y, c));
    std::string message;
    return writeSubjectImage(picture, path, message) ? std::string() : message;
}

TEST(SubjectImageRefusal, OpeningTellsWhatOkWillSayAndChangesNothing) {
    TempFolder folder;
    const std::string plain = folder.file("plain.png");
    ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 6, 4, 24).get(), FIF_PNG, plain));
    const std::string link = folder.file("link.png");
    fs::create_symlink("plain.png", link);
    const std::string locked = folder.file("locked.png");
    ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 6, 4, 24).get(), FIF_PNG, locked));
    ::chmod(locked.c_str(), 0444);
    const std::string pages = folder.file("pages.tif");
    saveSeveralPages(FIF_TIFF, pages, 24, 2);
    // X11 bitmaps are read by FreeImage but cannot be written back.
    const std::string bitmap = folder.file("mono.xbm");
    std::ofstream(bitmap) << "#define mono_width 8\n#define mono_height 2\n"
                             "static char mono_bits[] = {0x0f, 0xf0};\n";
    fs::create_directory(folder.path() / "shut");
    const std::string shut = folder.file("shut/inside.png");
    ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 6, 4, 24).get(), FIF_PNG, shut));
    ::chmod((folder.path() / "shut").c_str(), 0555);

    struct Case {
        std::string path;
        const char* words;  // of the refusal; null: none
    } cases[] = {
        {plain, nullptr},
        {link, nullptr},
        {locked, "read-only"},
        {pages, "has several pages"},
        {bitmap, "its image type (XBM) cannot be written back"},
        {folder.file("gone.png"), "cannot be opened"},
        // The write's own rule: root may create the temporary file in a folder it may not write.
        {shut, ::geteuid() == 0 ? nullptr : "temporary file cannot be created"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.path);
        const std::vector<std::string> names = folder.names();
        const bool existed = fs::exists(k.path);
        const std::vector<std::uint8_t> before = existed ? fileBytes(k.path)
                                                         : std::vector<std::uint8_t>{};
        const std::string refusal = writeBackRefusal(k.path);
        EXPECT_EQ(folder.names(), names) << "no temporary file is left behind";
        EXPECT_EQ(folder.names(folder.path() / "shut"), std::vector<std::string>{"inside.png"});
        if (existed) {
            EXPECT_EQ(fileBytes(k.path), before);
        }
        EXPECT_EQ(fs::exists(k.path), existed);
        if (k.words) {
            EXPECT_NE(refusal.find("\"" + k.path + "\""), std::string::npos) << refusal;
            EXPECT_NE(refusal.find(k.words), std::string::npos) << refusal;
        } else {
            EXPECT_EQ(refusal, "");
        }
        EXPECT_EQ(refusal, whatOkSays(k.path));
    }
    ::chmod((folder.path() / "shut").c_str(), 0755);
}

}  // namespace
