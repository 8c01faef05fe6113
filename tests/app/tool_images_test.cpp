// The tool pictures: sizes, the XPM picture, glyph pictures, null bitmaps for unknown numbers, and
// bitmaps that show exactly the program's constant data.

#include <gtest/gtest.h>

#include <wx/bmpbuttn.h>
#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/sizer.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>

#include "app/tool_images.h"
#include "tests/support/gui_support.h"

namespace {

using namespace vantrelo_test;

struct Size {
    int width, height;
};

// The size of every picture, by number.
constexpr Size kSizes[kToolPictureCount] = {
    {40, 40}, {40, 40}, {40, 40}, {40, 40}, {19, 19}, {19, 19}, {19, 19}, {33, 40},
    {40, 40}, {40, 40}, {40, 40}, {40, 40}, {40, 40}, {40, 40}, {85, 25}, {85, 25},
    {85, 25}, {85, 25}, {40, 20}, {40, 20}, {40, 40}, {40, 40}, {40, 40}, {85, 25},
    {40, 20}, {40, 20}, {40, 20}, {40, 20}, {40, 20}, {40, 20}, {40, 40}, {40, 40},
    {40, 40}, {40, 40}, {40, 40}, {40, 40}, {40, 40}, {40, 40}, {40, 40}, {40, 40},
};

// Pictures that are black glyphs: all of their shape is in the alpha array.
const std::set<int> kGlyphs = {1, 8, 9, 14, 18, 19, 23, 24, 25, 26, 27, 28, 39};

std::uint64_t checksum(const ToolPicture& p) {
    std::uint64_t hash = 1469598103934665603ull;
    const auto add = [&hash](const unsigned char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
    };
    add(p.colour, std::size_t(p.width) * p.height * 3);
    add(p.alpha, std::size_t(p.width) * p.height);
    return hash;
}

TEST(ToolPictures, EveryPictureHasItsSizeAndAVisibleShape) {
    for (int n = 1; n < kToolPictureCount; ++n) {
        SCOPED_TRACE(testing::Message() << "picture " << n);
        const ToolPicture* p = toolPicture(n);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->width, kSizes[n].width);
        EXPECT_EQ(p->height, kSizes[n].height);
        const std::size_t pixels = std::size_t(p->width) * p->height;
        std::size_t transparent = 0, opaque = 0, colourful = 0;
        for (std::size_t i = 0; i < pixels; ++i) {
            transparent += p->alpha[i] == 0;
            opaque += p->alpha[i] == 255;
            colourful += (p->colour[3 * i] | p->colour[3 * i + 1] | p->colour[3 * i + 2]) != 0;
            // A fully transparent pixel carries no colour, so scaling or blending never bleeds it.
            if (p->alpha[i] == 0) {
                EXPECT_EQ(p->colour[3 * i] | p->colour[3 * i + 1] | p->colour[3 * i + 2], 0);
            }
        }
        // Every picture has a background and a shape with solid parts (the small words of the
        // 40 x 20 pictures have few whole pixels of ink).
        EXPECT_GE(transparent * 10, pixels);
        EXPECT_GE(opaque, 10u);
        if (kGlyphs.count(n)) {
            EXPECT_EQ(colourful, 0u);
        }
    }
}

TEST(ToolPictures, UnknownNumbersGiveNullBitmapsThatNoControlShows) {
    VANTRELO_REQUIRE_TOOLKIT();
    for (int n : {-1, 40, 41, 1000}) {
        EXPECT_EQ(toolPicture(n), nullptr) << n;
        EXPECT_FALSE(makeToolBitmap(n).IsOk()) << n;
    }
    EXPECT_EQ(toolPicture(0), nullptr);  // an XPM text, not arrays
    auto* frame = new wxFrame(nullptr, wxID_ANY, "pictures");
    auto* button = new wxBitmapButton(frame, wxID_ANY, makeToolBitmap(40), wxDefaultPosition,
                                      wxSize(40, 40), wxBU_AUTODRAW);
    EXPECT_FALSE(button->GetBitmapLabel().IsOk());
    frame->Destroy();
    pumpToolkit();
}

TEST(ToolPictures, TheXpmPictureIsAWhiteSquareWithABlackBar) {
    VANTRELO_REQUIRE_TOOLKIT();
    const wxBitmap bitmap = makeToolBitmap(0);
    ASSERT_TRUE(bitmap.IsOk());
    ASSERT_EQ(bitmap.GetSize(), wxSize(40, 40));
    const wxImage image = bitmap.ConvertToImage();
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool bar = y >= 10 && y < 30 && x >= 3 && x < 38;
            const int expected = bar ? 0 : 255;
            ASSERT_EQ(image.GetRed(x, y), expected) << x << "," << y;
            ASSERT_EQ(image.GetGreen(x, y), expected) << x << "," << y;
            ASSERT_EQ(image.GetBlue(x, y), expected) << x << "," << y;
        }
}

// The bitmap shows the arrays as they are (alpha exactly, colour exactly where opaque), each call
// gives the same pixels, and making bitmaps never changes the program's data.
TEST(ToolPictures, BitmapsShowTheConstantDataAndLeaveItUnchanged) {
    VANTRELO_REQUIRE_TOOLKIT();
    std::uint64_t before[kToolPictureCount] = {};
    for (int n = 1; n < kToolPictureCount; ++n) before[n] = checksum(*toolPicture(n));
    for (int n = 1; n < kToolPictureCount; ++n) {
        SCOPED_TRACE(testing::Message() << "picture " << n);
        const ToolPicture& p = *toolPicture(n);
        const wxBitmap first = makeToolBitmap(n);
        const wxBitmap second = makeToolBitmap(n);
        ASSERT_TRUE(first.IsOk());
        EXPECT_EQ(first.GetSize(), wxSize(p.width, p.height));
        const wxImage a = first.ConvertToImage(), b = second.ConvertToImage();
        ASSERT_TRUE(a.HasAlpha());
        ASSERT_TRUE(b.HasAlpha());
        const std::size_t pixels = std::size_t(p.width) * p.height;
        EXPECT_EQ(std::memcmp(a.GetData(), b.GetData(), pixels * 3), 0);
        EXPECT_EQ(std::memcmp(a.GetAlpha(), b.GetAlpha(), pixels), 0);
        for (std::size_t i = 0; i < pixels; ++i) {
            ASSERT_EQ(a.GetAlpha()[i], p.alpha[i]) << "pixel " << i;
            if (p.alpha[i] != 255) continue;
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(a.GetData()[3 * i + c], p.colour[3 * i + c]) << "pixel " << i;
        }
    }
    for (int n = 1; n < kToolPictureCount; ++n)
        EXPECT_EQ(checksum(*toolPicture(n)), before[n]) << "picture " << n;
}

// Where the caption of a picture lies: the columns of its text, how many lines it has from the
// bottom up and how tall a line is; crisp when the text stands alone in its rows (no dot or stroke
// of the artwork beside it).
struct CaptionPlace {
    int picture;
    int left, right;  // columns [left, right)
    int lines;
    int lineHeight;
    bool crisp;
};

const CaptionPlace kCaptions[] = {
    {1, 0, 40, 2, 8, true},   {2, 0, 40, 1, 8, true},   {3, 0, 40, 1, 8, true},
    {7, 0, 33, 2, 8, true},   {8, 0, 40, 3, 8, true},   {9, 0, 40, 3, 8, true},
    {10, 0, 40, 1, 8, true},  {11, 0, 40, 1, 8, true},  {12, 0, 40, 1, 8, true},
    {13, 0, 40, 1, 8, true},  {14, 0, 85, 1, 16, true}, {15, 26, 85, 2, 8, true},
    {16, 26, 85, 2, 8, true}, {17, 26, 85, 2, 8, true}, {18, 0, 40, 1, 8, true},
    {19, 0, 40, 1, 8, true},  {20, 0, 40, 2, 8, true},  {21, 0, 40, 2, 8, true},
    {22, 0, 40, 2, 8, true},  {23, 26, 85, 1, 8, true}, {24, 0, 40, 1, 8, true},
    {25, 0, 40, 1, 8, false}, {26, 0, 40, 1, 8, false}, {27, 0, 40, 1, 8, false},
    {28, 0, 40, 1, 8, true},  {30, 0, 40, 2, 8, true},  {31, 0, 40, 1, 8, true},
    {32, 0, 40, 1, 8, true},  {33, 0, 40, 1, 8, true},  {34, 0, 40, 1, 8, true},
    {35, 0, 40, 1, 8, true},  {36, 0, 40, 1, 8, true},  {37, 0, 40, 2, 8, true},
    {38, 0, 40, 2, 8, true},  {39, 0, 40, 3, 8, true},
};

// Captions are legible: each line is as tall as the font's capitals (at five rows V and U were one
// shape), whole (clear of the picture's edges) and apart from the artwork and the other lines by
// at least one empty row, so no drawing overlaps a letter; lone text is crisp, on whole pixels.
TEST(ToolPictures, CaptionsAreWholeLinesOfEightRowsClearOfTheArtwork) {
    for (const CaptionPlace& place : kCaptions) {
        SCOPED_TRACE(testing::Message() << "picture " << place.picture);
        const ToolPicture& p = *toolPicture(place.picture);
        const auto alphaAt = [&p](int x, int y) { return p.alpha[std::size_t(y) * p.width + x]; };
        const auto inkRow = [&](int y) {
            for (int x = place.left; x < place.right; ++x)
                if (alphaAt(x, y) != 0) return true;
            return false;
        };
        int y = p.height - 1;
        for (int line = 0; line < place.lines; ++line) {
            SCOPED_TRACE(testing::Message() << "line " << line << " from the bottom");
            while (y >= 0 && !inkRow(y)) --y;
            const int bottom = y;
            while (y >= 0 && inkRow(y)) --y;
            const int top = y + 1;
            ASSERT_GT(bottom, 0);
            EXPECT_EQ(bottom - top + 1, place.lineHeight) << "rows " << top << " to " << bottom;
            EXPECT_GT(top, 0) << "the line touches the top edge";
            EXPECT_LT(bottom, p.height - 1) << "the line touches the bottom edge";
            for (int row = top; row <= bottom; ++row) {
                EXPECT_EQ(alphaAt(place.left, row), 0) << "cut at the left, row " << row;
                EXPECT_EQ(alphaAt(place.right - 1, row), 0) << "cut at the right, row " << row;
                if (!place.crisp) continue;
                for (int x = place.left; x < place.right; ++x) {
                    const int a = alphaAt(x, row);
                    EXPECT_TRUE(a == 0 || a == 255) << "blurred at " << x << "," << row;
                }
            }
        }
    }
}

// How many pixels of the square's top edge, between the arms of the X, show plain red in a
// screenshot of `button` (picture 31: a red square over x 8..32, y 3..27 with a black X through
// its middle; the button centres its picture).
int redPixelsOnScreen(wxWindow* button) {
    const wxSize size = button->GetSize();
    wxBitmap shot(size);
    {
        wxMemoryDC memory(shot);
        wxScreenDC screen;
        const wxPoint corner = button->GetScreenPosition();
        if (!memory.Blit(0, 0, size.x, size.y, &screen, corner.x, corner.y)) return 0;
    }
    const wxImage image = shot.ConvertToImage();
    const int left = (size.x - 40) / 2, top = (size.y - 40) / 2;
    int red = 0;
    for (int y = top + 4; y < top + 8; ++y)
        for (int x = left + 18; x < left + 22; ++x)
            red += image.GetRed(x, y) > 180 && image.GetGreen(x, y) < 80 &&
                   image.GetBlue(x, y) < 80;
    return red;
}

// A button in a real window shows its picture: the red square of the reset picture reaches the
// screen, over the button's own grey.
TEST(ToolPictures, AButtonShowsItsPictureOnScreen) {
    VANTRELO_REQUIRE_TOOLKIT();
    // Other test programs may open windows on the same display at the same time: the window goes
    // near the bottom right, away from where they usually appear, and is raised before each try.
    const wxSize display = wxGetDisplaySize();
    auto* frame = new wxFrame(nullptr, wxID_ANY, "pictures",
                              wxPoint(std::max(0, display.x - 260), std::max(0, display.y - 260)),
                              wxSize(200, 200));
    auto* button = new wxBitmapButton(frame, wxID_ANY, makeToolBitmap(31), wxDefaultPosition,
                                      wxSize(60, 60), wxBU_AUTODRAW);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(button, 0, wxALL, 10);
    frame->SetSizer(sizer);
    frame->Layout();
    frame->Show();
    int red = 0;
    for (int attempt = 0; attempt < 5 && red < 12; ++attempt) {
        frame->Raise();
        // The window must be mapped and painted before the screen holds its pixels.
        for (int i = 0; i < 30; ++i) {
            wxTheApp->Yield(true);
            pumpToolkit();
            wxMilliSleep(10);
        }
        red = redPixelsOnScreen(button);
    }
    EXPECT_GE(red, 12) << "the top edge of the red square, between the arms of the X";
    frame->Destroy();
    pumpToolkit();
}

}  // namespace
