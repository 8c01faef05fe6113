// Reading colours in the preview: the conversion of what the viewer reads into 16-bit samples,
// the mapping through a transformed subject (against a stand-in viewer whose answers are chosen,
// and in a real window against the picture), the guards on mapped points, and box sampling over a
// subject whose transform leaves holes.

#include <gtest/gtest.h>

#include <wx/frame.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "app/vant_image_preview.h"
#include "host/param/parameters.h"
#include "host/param/viewer_base.h"
#include "kernels/matrix3.h"
#include "tests/app/preview_test_support.h"

namespace {

using namespace preview_test;
using vantrelo::Matrix3;

// A viewer that answers pixelAt with a chosen colour inside a chosen rectangle, records where it
// was asked, and maps window to image by subtracting a fixed offset (and back by adding it).
class StandInViewer : public Mav::Host::Param::ViewerBase {
public:
    explicit StandInViewer(Mav::Host::Param::Parameters& set) : ViewerBase(set, nullptr) {}

    void beforeUpdate() override {}
    void reservedHook() override {}
    void renderRect(wxRect&) override {}
    void drawRect(wxRect&, wxDC&, int& status) override { status = Mav::Host::Param::kDrawResult; }
    std::int64_t imageWidth() override { return width; }
    std::int64_t imageHeight() override { return height; }
    bool pixelAt(float out[4], int x, int y) override {
        asked.push_back({x, y});
        const bool inside = x >= 0 && y >= 0 && x < width && y < height;
        for (int c = 0; c < 4; ++c) out[c] = inside ? colour[c] : 0.0f;
        return inside;
    }
    void viewToImage(int x, int y, int& outX, int& outY, bool toView) override {
        outX = toView ? x + offset : x - offset;
        outY = toView ? y + offset : y - offset;
    }
    void flushHostMessages() override {}
    bool isThreaded() override { return false; }
    bool hasPendingRequests() override { return false; }
    void postRenderRequest() override {}
    void waitIdle() override {}
    bool pollProgress() override { return false; }
    void setPanOffset(int x, int y) override {
        panX = x;
        panY = y;
    }

    std::int64_t width = 200;
    std::int64_t height = 100;
    int offset = 0;
    float colour[4] = {0, 0, 0, 0};
    std::vector<wxPoint> asked;
};

class StandInPreview {
public:
    StandInPreview() : viewer(set) {
        frame = new wxFrame(nullptr, wxID_ANY, "sampling");
        preview = new VantImagePreview(frame, wxID_ANY, wxDefaultPosition, wxSize(200, 100));
        preview->viewer = &viewer;
        preview->bridge = &bridge;
    }
    ~StandInPreview() {
        preview->viewer = nullptr;
        frame->Destroy();
        vantrelo_test::pumpToolkit();
    }
    StandInPreview(const StandInPreview&) = delete;
    StandInPreview& operator=(const StandInPreview&) = delete;

    Mav::Host::Param::Parameters set;
    StandInViewer viewer;
    vantrelo::CVantreloBridge bridge;
    wxFrame* frame = nullptr;
    VantImagePreview* preview = nullptr;
};

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Each channel is clamped to 0..1 (NaN to 0), scaled by 65535 in single precision and truncated.
TEST(PreviewSampling, ChannelsAreClampedScaledAndTruncated) {
    VANTRELO_REQUIRE_TOOLKIT();
    StandInPreview s;
    const struct {
        float in[4];
        std::uint16_t out[4];
    } cases[] = {{{1.0f, 1.5f, -0.25f, 0.5f}, {65535, 65535, 0, 32767}},
                 {{kNaN, 0.0f, 1e30f, -1e30f}, {0, 0, 65535, 0}},
                 {{0.25f, 0.75f, 1.0f / 65535.0f, 0.99999f}, {16383, 49151, 1, 65534}}};
    for (const auto& c : cases) {
        std::copy(std::begin(c.in), std::end(c.in), s.viewer.colour);
        std::uint16_t colour[4] = {9, 9, 9, 9};
        ASSERT_TRUE(s.preview->samplePixel(3, 4, colour));
        for (int k = 0; k < 4; ++k) EXPECT_EQ(colour[k], c.out[k]) << "channel " << k;
    }
    std::uint16_t colour[4] = {9, 9, 9, 9};
    EXPECT_FALSE(s.preview->samplePixel(-1, 4, colour));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(colour[k], 0);
}

// The window position goes to the viewer (less the drawing rectangle's corner (2, 2)), to image
// coordinates, through the matrix, to the nearest pixel (halves up, also below zero) and back.
TEST(PreviewSampling, TransformedReadsRoundTheMappedPointAndMapBack) {
    VANTRELO_REQUIRE_TOOLKIT();
    StandInPreview s;
    s.viewer.offset = 7;
    s.viewer.colour[0] = 1.0f;
    const struct {
        Matrix3 m;
        wxPoint window;
        wxPoint asked;  // viewer position pixelAt is asked for
    } cases[] = {
        {[] { Matrix3 m; m.at(0, 2) = 0.5; m.at(1, 2) = -0.5; return m; }(), {17, 17}, {16, 15}},
        {[] { Matrix3 m; m.at(0, 2) = -12.5; m.at(1, 2) = -12.49; return m; }(), {17, 17}, {3, 3}},
        {[] { Matrix3 m; m.at(2, 2) = 2.0; return m; }(), {27, 47}, {16, 26}},
        {[] { Matrix3 m; m.at(2, 0) = 0.1; return m; }(), {17, 17}, {11, 11}},
    };
    for (const auto& c : cases) {
        s.viewer.asked.clear();
        std::uint16_t colour[4];
        s.preview->samplePixelTransformed(c.window.x, c.window.y, c.m, colour);
        ASSERT_EQ(s.viewer.asked.size(), 1u);
        EXPECT_EQ(s.viewer.asked[0], c.asked);
    }
}

// A mapped point with w = 0, not finite, or beyond 2^30 is not read at all.
TEST(PreviewSampling, MappedPointsThatCannotBePixelsFailTheRead) {
    VANTRELO_REQUIRE_TOOLKIT();
    StandInPreview s;
    s.viewer.colour[1] = 1.0f;
    s.viewer.width = s.viewer.height = std::int64_t{1} << 40;  // every integer position reads
    const double limit = 1073741824.0;
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        Matrix3 m;
        bool reads;
    } cases[] = {
        {[] { Matrix3 m; m.at(2, 2) = 0.0; return m; }(), false},
        {[] { Matrix3 m; m.at(2, 2) = -0.0; return m; }(), false},
        {[&] { Matrix3 m; m.at(2, 0) = inf; return m; }(), false},
        {[] { Matrix3 m; m.at(0, 0) = std::nan(""); return m; }(), false},
        {[&] { Matrix3 m; m.at(1, 2) = inf; return m; }(), false},
        {[&] { Matrix3 m; m.at(0, 2) = limit; return m; }(), false},
        {[&] { Matrix3 m; m.at(0, 2) = -limit - 20; return m; }(), false},
        {[&] { Matrix3 m; m.at(2, 2) = 1e-12; return m; }(), false},
        {[&] { Matrix3 m; m.at(0, 2) = limit - 20; return m; }(), true},
        {[&] { Matrix3 m; m.at(0, 2) = limit - 20; m.at(1, 2) = limit - 20; return m; }(), true},
    };
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        SCOPED_TRACE(k);
        s.viewer.asked.clear();
        std::uint16_t colour[4] = {9, 9, 9, 9};
        EXPECT_EQ(s.preview->samplePixelTransformed(10, 10, cases[k].m, colour), cases[k].reads);
        EXPECT_EQ(s.viewer.asked.size(), cases[k].reads ? 1u : 0u);
        EXPECT_EQ(colour[1], cases[k].reads ? 65535 : 0);
    }
}

// The subject matrix is the render's: the stored transform works on full-resolution pixels about
// the picture's centre, and the preview renders at min(zoom, 1), so a move of the subject by
// (20, 10) is a move of (10, 5) preview pixels at zoom 0.5 and of (20, 10) at zoom 1 and above.
TEST(PreviewSampling, SubjectMatrixIsTheRendersAtThePreviewScale) {
    VANTRELO_REQUIRE_TOOLKIT();
    StandInPreview s;
    s.viewer.width = 200;
    s.viewer.height = 100;
    Matrix3 move;
    move.at(0, 2) = 20;
    move.at(1, 2) = 10;
    s.bridge.foregroundTransform = move;
    const struct {
        float zoom;
        double tx, ty;
    } moves[] = {{0.5f, 10, 5}, {1.0f, 20, 10}, {2.0f, 20, 10}, {4.0f, 20, 10}, {0.25f, 5, 2.5}};
    for (const auto& c : moves) {
        SCOPED_TRACE(c.zoom);
        s.viewer.zoom = c.zoom;
        const Matrix3 m = s.preview->subjectViewMatrix();
        Matrix3 expected;
        expected.at(0, 2) = c.tx;
        expected.at(1, 2) = c.ty;
        for (int i = 0; i < 9; ++i) EXPECT_NEAR(m.m[i], expected.m[i], 1e-12) << i;
    }
    // A half turn keeps the picture's centre at every scale; a corner goes to the opposite one.
    s.bridge.foregroundTransform = vantrelo::rotationMatrix(std::numbers::pi);
    for (float zoom : {0.5f, 1.0f, 3.0f}) {
        SCOPED_TRACE(zoom);
        s.viewer.zoom = zoom;
        const Matrix3 m = s.preview->subjectViewMatrix();
        EXPECT_NEAR(m.at(0, 2), 200.0, 1e-9);
        EXPECT_NEAR(m.at(1, 2), 100.0, 1e-9);
        EXPECT_NEAR(m.at(0, 0), -1.0, 1e-12);
    }
}

// In a real window: with the subject moved by (13, -7) a point reads the picture 13 pixels left
// of and 7 below the pointer; with a half turn it reads the mirrored pixel.
TEST(PreviewSampling, TransformedSubjectIsReadWhereItsPixelCameFrom) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanBg);
    Matrix3 move;
    move.at(0, 2) = 13;
    move.at(1, 2) = -7;
    w.bridge.foregroundTransform = move;
    w.realPress(w.windowOf(50, 40));
    w.realMove(w.windowOf(60, 41));
    w.realRelease();
    ASSERT_EQ(w.samples.size(), 3u);
    EXPECT_EQ(w.samples[0].colour, fixtureSample(37, 47));
    EXPECT_EQ(w.samples[1].colour, fixtureSample(47, 48));

    w.forget();
    w.settle();
    w.bridge.foregroundTransform = vantrelo::rotationMatrix(std::numbers::pi);
    w.setSelection(kSelectBox);
    w.press(w.windowOf(10, 20));
    w.drag(w.windowOf(13, 22));
    w.release(w.windowOf(13, 22));
    ASSERT_EQ(w.samples.size(), 3u);
    ASSERT_EQ(w.samples[1].blockWidth, 3);
    ASSERT_EQ(w.samples[1].blockHeight, 2);
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(w.samples[1].block[j * 3 + i],
                      fixtureSample(kImageWidth - 10 - i, kImageHeight - 20 - j));
}

// At zoom 0.5 the preview reads a half-size copy: a subject moved by (20, 10) full-resolution
// pixels reads there what the untransformed subject shows (10, 5) preview pixels up and left.
TEST(PreviewSampling, TransformedReadsAtReducedZoomMoveByThePreviewScale) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.viewer->setZoom(0.5f);
    w.settle();
    ASSERT_FLOAT_EQ(w.viewer->zoom, 0.5f);
    const VantImagePreview::Point o = w.preview->panOffset();
    for (const wxPoint p : {wxPoint(30, 20), wxPoint(61, 7), wxPoint(89, 59)}) {
        SCOPED_TRACE(::testing::Message() << p.x << "," << p.y);
        w.bridge.foregroundTransform = Matrix3{};
        std::uint16_t plain[4];
        ASSERT_TRUE(w.preview->sampleAt(o.x + p.x - 10, o.y + p.y - 5, plain));
        Matrix3 move;
        move.at(0, 2) = 20;
        move.at(1, 2) = 10;
        w.bridge.foregroundTransform = move;
        std::uint16_t moved[4];
        ASSERT_TRUE(w.preview->sampleAt(o.x + p.x, o.y + p.y, moved));
        for (int c = 0; c < 4; ++c) EXPECT_EQ(moved[c], plain[c]) << "channel " << c;
    }
}

// The 8-bit level a 16-bit sample stands for.
int levelOf(std::uint16_t sample) { return (sample + 128) / 257; }

// Real strokes and boxes read the pixel drawn under the pointer, at a reduced zoom, at 100% and
// magnified with a pan.  The panel shows the unprocessed picture ("Show Original"), the very
// pixels the samples come from, so the screenshot under the pointer is what each sample must be.
// Magnified pixels are blended towards their neighbours, except at their centres: only centres
// are compared there.
TEST(PreviewSampling, StrokesAndBoxesReadThePixelDrawnUnderThePointer) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolCleanBg);
    w.viewer->setShowOriginal(true);
    const struct {
        float zoom;
        bool pan;
    } views[] = {{0.25f, false}, {1.0f, false}, {3.0f, true}};
    for (const auto& view : views) {
        SCOPED_TRACE(::testing::Message() << "zoom " << view.zoom);
        w.viewer->setZoom(view.zoom);
        if (view.pan) w.viewer->setPanOffset(-151, -83);
        w.paintNow();
        w.settle();
        ASSERT_FLOAT_EQ(w.viewer->zoom, view.zoom);
        const wxImage shot = w.screenshot();
        const VantImagePreview::Point corner = w.preview->imageOrigin();
        const int step = view.zoom > 1.0f ? static_cast<int>(view.zoom) : 1;
        // Whether a window pixel shows one picture pixel unblended.
        auto exact = [&](wxPoint p) {
            return (p.x - corner.x) % step == step / 2 && (p.y - corner.y) % step == step / 2;
        };
        auto expectDrawn = [&](const Rgb16& sample, wxPoint p) {
            SCOPED_TRACE(::testing::Message() << "at " << p.x << "," << p.y);
            ASSERT_TRUE(shot.GetWidth() > p.x + 2 && shot.GetHeight() > p.y + 2);
            const int drawn[3] = {shot.GetRed(p.x, p.y), shot.GetGreen(p.x, p.y),
                                  shot.GetBlue(p.x, p.y)};
            // Two pixels right and down shows another colour, or this spot could not tell.
            ASSERT_NE(shot.GetBlue(p.x + 2, p.y + 2), drawn[2]);
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(levelOf(sample.c[c]), drawn[c]) << "channel " << c;
        };

        // Spots inside the part of the picture in view, moved onto pixel centres.
        const wxSize client = w.preview->GetClientSize();
        const int left = std::max(corner.x, 2);
        const int top = std::max(corner.y, 2);
        const int right = std::min<int>(corner.x + w.preview->scaledWidth(), client.x - 2);
        const int bottom = std::min<int>(corner.y + w.preview->scaledHeight(), client.y - 2);
        ASSERT_GT(right - left, 20);
        ASSERT_GT(bottom - top, 20);
        auto spot = [&](double fx, double fy) {
            const int x = left + static_cast<int>((right - left) * fx);
            const int y = top + static_cast<int>((bottom - top) * fy);
            return wxPoint(corner.x + (x - corner.x) / step * step + step / 2,
                           corner.y + (y - corner.y) / step * step + step / 2);
        };
        const wxPoint path[] = {spot(0.3, 0.4), spot(0.55, 0.7), spot(0.8, 0.5)};

        w.setSelection(kSelectPoint);
        w.forget();
        w.realPress(path[0]);
        w.realMove(path[1]);
        w.realMove(path[2]);
        w.realRelease();
        ASSERT_EQ(w.samples.size(), 4u);
        for (int k = 0; k < 3; ++k) {
            ASSERT_TRUE(w.samples[k].valid);
            expectDrawn(w.samples[k].colour, path[k]);
        }

        w.setSelection(kSelectBox);
        w.forget();
        const wxPoint from = path[0];
        const wxPoint to = from + wxPoint(4 * step, 3 * step);
        w.realPress(from);
        w.realMove(to);
        w.realRelease();
        ASSERT_EQ(w.samples.size(), 3u);
        const SampleRecord& box = w.samples[1];
        ASSERT_EQ(box.blockWidth, to.x - from.x);
        ASSERT_EQ(box.blockHeight, to.y - from.y);
        for (int j = 0; j < box.blockHeight; ++j)
            for (int i = 0; i < box.blockWidth; ++i)
                if (exact(from + wxPoint(i, j)))
                    expectDrawn(box.block[j * box.blockWidth + i], from + wxPoint(i, j));
    }
}

// A box over a turned subject has holes where the subject is not: only the readable colours are
// sent, as one row in reading order, and nothing unreadable among them.
TEST(PreviewSampling, BoxWithHolesSendsOnlyTheReadableColoursAsOneRow) {
    VANTRELO_REQUIRE_TOOLKIT();
    PreviewWindow w;
    w.setTool(kToolSelect);
    w.setSelection(kSelectBox);
    w.bridge.foregroundTransform = vantrelo::rotationMatrix(std::numbers::pi / 4);
    // The whole picture's rectangle: its corners lie outside the turned subject.
    w.press(w.windowOf(0, 0));
    w.drag(w.windowOf(kImageWidth, kImageHeight));
    w.release(w.windowOf(kImageWidth, kImageHeight));
    ASSERT_EQ(w.samples.size(), 3u);
    const SampleRecord& b = w.samples[1];
    EXPECT_EQ(b.blockHeight, 1);

    std::vector<Rgb16> readable;
    for (int j = 0; j < kImageHeight; ++j)
        for (int i = 0; i < kImageWidth; ++i) {
            const wxPoint p = w.windowOf(i, j);
            Rgb16 c;
            if (w.preview->sampleAt(p.x, p.y, c.c)) readable.push_back(c);
        }
    ASSERT_GT(readable.size(), 0u);
    ASSERT_LT(readable.size(), std::size_t(kImageWidth) * kImageHeight);
    ASSERT_EQ(b.blockWidth, static_cast<std::int64_t>(readable.size()));
    EXPECT_TRUE(b.block == readable);
    for (const Rgb16& c : b.block) ASSERT_EQ(c.c[3], 65535);
}

}  // namespace
