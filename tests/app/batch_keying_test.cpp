// The batch of OK over three photos of a subject before a uniform green backdrop, a JPEG, a PNG
// and a 16-bit TIFF, each keyed with one click of the select tool on its backdrop: every file keeps
// its format, loses its backdrop, and holds what the preview showed at 100 % within one level.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/main_layout.h"
#include "app/main_window.h"
#include "host/app/startup_services.h"
#include "host/system/image_buffer.h"
#include "tests/app/program_test_support.h"

namespace {

using namespace program_test;

struct Photo {
    const char* name;
    PictureFormat format;
    int width;
    int height;
    int bits;
};

const Photo kPhotos[] = {
    {"photo.jpg", PictureFormat::Jpeg, 200, 150, 8},
    {"photo.png", PictureFormat::Png, 180, 124, 8},
    {"photo.tif", PictureFormat::Tiff, 164, 140, 16},
};

// The 8-bit levels of the preview's result at 100 %, whole picture, R G B per pixel.
struct Levels {
    int width = 0;
    int height = 0;
    std::vector<int> values;
    int at(int x, int y, int c) const {
        return values[(static_cast<std::size_t>(y) * width + x) * 3 + c];
    }
};

Levels previewLevels(const Mav::Host::System::ImageBuffer& result, int width, int height) {
    Levels levels;
    levels.width = width;
    levels.height = height;
    levels.values.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = result.pixelAddress(x, y);
            for (int c = 0; c < 3; ++c) {
                int level = 0;
                if (result.bitsPerChannel == 8)
                    level = p[c];
                else if (result.bitsPerChannel == 16)
                    level = reinterpret_cast<const std::uint16_t*>(p)[c] >> 8;
                else
                    level = static_cast<int>(std::lround(
                        255.0 * std::clamp(reinterpret_cast<const float*>(p)[c], 0.0f, 1.0f)));
                levels.values[(static_cast<std::size_t>(y) * width + x) * 3 + c] = level;
            }
        }
    return levels;
}

// Whether the JPEG block of 16 x 16 pixels (the colour channels' block at 4:2:0) that holds the
// pixel lies wholly on one side of the subject's edge, by two pixels: only such blocks are flat in
// the photo, so only there does the lossy file keep the levels it was given.
bool inFlatBlock(int x, int y, int width, int height) {
    const double radius = std::min(width, height) / 4.0;
    double nearest = 1e9, farthest = -1e9;
    for (int by = y / 16 * 16; by < y / 16 * 16 + 16; ++by)
        for (int bx = x / 16 * 16; bx < x / 16 * 16 + 16; ++bx) {
            const double d = std::hypot(bx - width / 2.0, by - height / 2.0) - radius;
            nearest = std::min(nearest, d);
            farthest = std::max(farthest, d);
        }
    return nearest > 2 || farthest < -2;
}

TEST(BatchKeying, ThreePhotosKeepTheirFormatsLoseTheirBackdropAndMatchThe100PercentPreview) {
    VANTRELO_REQUIRE_TOOLKIT();
    ScratchHome home;
    WindowManager windowManager;
    std::vector<std::filesystem::path> paths;
    for (const Photo& photo : kPhotos) {
        paths.push_back(home.home() / photo.name);
        ASSERT_TRUE(writePicture(paths.back(), photo.format, photo.width, photo.height,
                                 [&](int x, int y) {
                                     return subjectOnGreen(x, y, photo.width, photo.height);
                                 }));
    }
    vantrelo_test::takeRecordedBoxes();
    ProgramWindow program(paths);
    ASSERT_NE(program.window, nullptr);

    std::vector<Levels> previews;
    for (std::size_t i = 0; i < std::size(kPhotos); ++i) {
        SCOPED_TRACE(kPhotos[i].name);
        const Photo& photo = kPhotos[i];
        program.renderNow();
        click(program.control(kSelectToolId));
        int x = 0, y = 0;
        program.viewer().viewToImage(6, 6, x, y, true);
        clickAt(program.preview(), wxPoint(x, y));
        program.viewer().setZoom(1.0f);
        program.renderNow();
        const auto& result = *program.viewer().results[0];
        ASSERT_NE(result.firstPixel, nullptr);
        ASSERT_EQ(result.scale, 1.0f);
        ASSERT_TRUE(Mav::Host::System::rectContains(
            result.bounds, Mav::Host::System::Rect{0, 0, photo.width, photo.height}));
        previews.push_back(previewLevels(result, photo.width, photo.height));
        if (i + 1 < std::size(kPhotos)) click(program.control(Mav::Host::App::kNextInputButtonId));
    }
    for (const auto& box : vantrelo_test::takeRecordedBoxes())
        ADD_FAILURE() << box.caption << ": " << box.text;

    click(program.control(wxID_OK));
    runEvents(30);
    ASSERT_TRUE(program.windowGone());
    for (const auto& box : vantrelo_test::takeRecordedBoxes())
        ADD_FAILURE() << box.caption << ": " << box.text;

    for (std::size_t i = 0; i < std::size(kPhotos); ++i) {
        const Photo& photo = kPhotos[i];
        SCOPED_TRACE(photo.name);
        const auto written = readPicture(paths[i]);
        ASSERT_TRUE(written.has_value());
        EXPECT_EQ(written->format, photo.format);
        EXPECT_EQ(written->bitsPerChannel, photo.bits);
        ASSERT_EQ(written->width, photo.width);
        ASSERT_EQ(written->height, photo.height);

        // The backdrop is gone: the corner shows the grey backdrop colour, no green; the subject
        // stays (its green lowered by the spill correction).
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(written->level(2, 2, c), 127, 2) << c;
        const int centreRed = written->level(photo.width / 2, photo.height / 2, 0);
        const int centreGreen = written->level(photo.width / 2, photo.height / 2, 1);
        EXPECT_GT(centreRed, kSubjectColour.r >> 8);
        EXPECT_LT(centreGreen, kSubjectColour.g >> 8);
        EXPECT_GT(centreRed - centreGreen, 80);

        // What the preview showed at 100 %, within one level (JPEG: where its blocks are flat).
        const Levels& preview = previews[i];
        int compared = 0, worst = 0;
        for (int y = 0; y < photo.height; ++y)
            for (int x = 0; x < photo.width; ++x) {
                if (photo.format == PictureFormat::Jpeg &&
                    !inFlatBlock(x, y, photo.width, photo.height))
                    continue;
                for (int c = 0; c < 3; ++c) {
                    const int difference = written->level(x, y, c) - preview.at(x, y, c);
                    worst = std::max(worst, std::abs(difference));
                }
                ++compared;
            }
        EXPECT_GT(compared, photo.width * photo.height / 2);
        EXPECT_LE(worst, 1);
    }
}

}  // namespace
