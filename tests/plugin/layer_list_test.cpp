// Layer lists: entries loaded from the file-list text by position, images read with the toolkit's
// reader into 8-bit RGBA, the premultiplied flag, shared images, and files that cannot be layers.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <wx/image.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "host/param/file_list_text.h"
#include "plugin/layer_list.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/gui_support.h"

namespace vantrelo::plugin_test {
namespace {

namespace fs = std::filesystem;

class LayerListTest : public testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        wxInitAllImageHandlers();
    }

    std::string file(const std::string& name) const { return (folder.path() / name).string(); }

    // 5 x 3, every channel different; alpha as given.
    std::string pngWithAlpha(const std::string& name, int alpha) {
        writePng(folder.path() / name, 5, 3,
                 [alpha](int x, int y, double v[4]) {
                     v[0] = (10 + 40 * x + y) / 255.0;
                     v[1] = (20 + 30 * y + x) / 255.0;
                     v[2] = (200 - 20 * x) / 255.0;
                     v[3] = alpha / 255.0;
                 },
                 true);
        return file(name);
    }

    test_store::ScratchFolder folder{"vantrelo-layers"};
    PluginHarness harness;
    Mav::Host::System::Host* host = &harness.plugin;
};

TEST_F(LayerListTest, PngPixelsAreCopiedAsRgbaAndOpaqueLayersArePremultiplied) {
    LayerEntry entry;
    entry.load(host, pngWithAlpha("opaque.png", 255));
    ASSERT_TRUE(entry.image);
    const ImageBuffer& image = *entry.image;
    EXPECT_EQ(image.bitsPerChannel, 8);
    EXPECT_EQ(image.channels, 4);
    EXPECT_EQ(image.bounds, (Rect{0, 0, 5, 3}));
    EXPECT_EQ(image.domain, (Rect{0, 0, 5, 3}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(channel(image, x, y, 0), 10 + 40 * x + y);
            EXPECT_EQ(channel(image, x, y, 1), 20 + 30 * y + x);
            EXPECT_EQ(channel(image, x, y, 2), 200 - 20 * x);
            EXPECT_EQ(channel(image, x, y, 3), 255);
        }
    EXPECT_TRUE(entry.premultiplied);
    EXPECT_EQ(entry.fileName, file("opaque.png"));
}

TEST_F(LayerListTest, OneColourAboveItsAlphaMakesTheLayerStraight) {
    // Alpha 10 with red 20 at one pixel; the others are premultiplied (colour 0, alpha 255).
    writePng(folder.path() / "straight.png", 4, 2,
             [](int x, int y, double v[4]) {
                 const bool odd = x == 1 && y == 0;
                 v[0] = odd ? 20 / 255.0 : 0.0;
                 v[1] = v[2] = 0.0;
                 v[3] = odd ? 10 / 255.0 : 1.0;
             },
             true);
    LayerEntry entry;
    entry.load(host, file("straight.png"));
    ASSERT_TRUE(entry.image);
    EXPECT_FALSE(entry.premultiplied);
    EXPECT_EQ(channel(*entry.image, 1, 0, 0), 20);
    EXPECT_EQ(channel(*entry.image, 1, 0, 3), 10);
    // The copy went on to the end after the flag fell.
    EXPECT_EQ(channel(*entry.image, 3, 1, 3), 255);

    // A layer whose colour never exceeds its alpha stays premultiplied, however transparent.
    writePng(folder.path() / "premultiplied.png", 3, 3,
             [](int x, int y, double v[4]) {
                 v[3] = (x * 40 + y * 10 + 5) / 255.0;
                 v[0] = v[3];
                 v[1] = (x * 40) / 255.0;
                 v[2] = 0.0;
             },
             true);
    entry.load(host, file("premultiplied.png"));
    ASSERT_TRUE(entry.image);
    EXPECT_TRUE(entry.premultiplied);
}

TEST_F(LayerListTest, ImagesWithoutAlphaAreLoadedOpaque) {
    writeImage(folder.path() / "photo.jpg", FIF_JPEG, FIT_BITMAP, 24, 16, 8, patternPixel,
               JPEG_QUALITYSUPERB);
    writePng(folder.path() / "rgb.png", 6, 4, patternPixel, false);
    for (const char* name : {"photo.jpg", "rgb.png"}) {
        SCOPED_TRACE(name);
        LayerEntry entry;
        entry.premultiplied = false;
        entry.load(host, file(name));
        ASSERT_TRUE(entry.image);
        EXPECT_TRUE(entry.premultiplied);
        const ImageBuffer& image = *entry.image;
        for (int y = 0; y < image.bounds.y1; ++y)
            for (int x = 0; x < image.bounds.x1; ++x) ASSERT_EQ(channel(image, x, y, 3), 255);
    }
    LayerEntry png;
    png.load(host, file("rgb.png"));
    double v[4];
    patternPixel(5, 3, v);
    EXPECT_EQ(channel(*png.image, 5, 3, 0), static_cast<int>(v[0] * 255 + 0.5));
    EXPECT_EQ(channel(*png.image, 5, 3, 2), static_cast<int>(v[2] * 255 + 0.5));
}

TEST_F(LayerListTest, PathsThatAreNoImageFilesLeaveTheEntryEmptyAndAreNotRetried) {
    fs::create_directory(folder.path() / "folder.png");
    ASSERT_EQ(::mkfifo(file("pipe.png").c_str(), 0600), 0);
    {
        std::ofstream text(file("notes.png"));
        text << "not a picture";
    }
    for (const char* name : {"missing.png", "folder.png", "pipe.png", "notes.png"}) {
        SCOPED_TRACE(name);
        LayerEntry entry;
        entry.load(host, file(name));  // a pipe would block the reader: it must not be opened
        EXPECT_FALSE(entry.image);
        EXPECT_EQ(entry.fileName, file(name));
    }

    // A file that appears under a name that failed is not noticed until the name changes.
    LayerEntry entry;
    entry.load(host, file("late.png"));
    EXPECT_FALSE(entry.image);
    pngWithAlpha("late.png", 255);
    entry.load(host, file("late.png"));
    EXPECT_FALSE(entry.image);
    entry.load(host, file("other.png"));
    entry.load(host, file("late.png"));
    EXPECT_TRUE(entry.image);
}

TEST_F(LayerListTest, EntriesFollowTheirNamesByPosition) {
    const std::string a = pngWithAlpha("a.png", 255);
    const std::string b = pngWithAlpha("b.png", 128);
    LayerList list;
    loadLayerList(host, list, Mav::Host::Param::joinFileListText({a, b}));
    ASSERT_EQ(list.size(), 2u);
    ASSERT_TRUE(list[0].image && list[1].image);
    const auto* first = list[0].image.get();
    const std::weak_ptr<const ImageBuffer> second = list[1].image;

    // An unchanged text reads no file: the files may even be gone.
    fs::remove(a);
    loadLayerList(host, list, Mav::Host::Param::joinFileListText({a, b}));
    EXPECT_EQ(list[0].image.get(), first);

    // A blank after the last name is one more, empty name: an entry without an image.
    loadLayerList(host, list, Mav::Host::Param::joinFileListText({a, b}) + " ");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].image.get(), first);
    EXPECT_FALSE(list[2].image);
    EXPECT_EQ(list[2].fileName, "");

    // Shortening the list releases exactly the entries that went.
    loadLayerList(host, list, Mav::Host::Param::joinFileListText({a}));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].image.get(), first);
    EXPECT_TRUE(second.expired());

    // A name put in front moves every entry to another name: position 0 now names b.
    loadLayerList(host, list, Mav::Host::Param::joinFileListText({b, a}));
    ASSERT_EQ(list.size(), 2u);
    ASSERT_TRUE(list[0].image);
    EXPECT_EQ(channel(*list[0].image, 0, 0, 3), 128);
    EXPECT_FALSE(list[1].image);  // a.png is gone from the disk

    loadLayerList(host, list, "");
    EXPECT_TRUE(list.empty());
}

TEST_F(LayerListTest, NamesWithBlanksQuotesAndBackslashesLoadFromTheValidatorsText) {
    fs::create_directory(folder.path() / "two words");
    const std::string first = pngWithAlpha("two words/it's a \\ layer.png", 255);
    const std::string second = pngWithAlpha("\"quoted\".png", 64);
    LayerList list;
    loadLayerList(host, list, Mav::Host::Param::joinFileListText({first, second}));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].fileName, first);
    EXPECT_EQ(list[1].fileName, second);
    EXPECT_TRUE(list[0].image);
    ASSERT_TRUE(list[1].image);
    EXPECT_EQ(channel(*list[1].image, 0, 0, 3), 64);
}

TEST_F(LayerListTest, CopiesShareTheImageUntilTheLastLetsGo) {
    LayerEntry entry;
    entry.load(host, pngWithAlpha("shared.png", 200));
    const std::weak_ptr<const ImageBuffer> watch = entry.image;
    {
        LayerEntry copy = entry;
        EXPECT_EQ(copy.image, entry.image);
        EXPECT_EQ(watch.use_count(), 2);
        EXPECT_EQ(copy.fileName, entry.fileName);
        entry.setImage(nullptr);
        EXPECT_FALSE(watch.expired());
    }
    EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace vantrelo::plugin_test
