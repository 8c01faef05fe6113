// The OK batch through the keyer: three inputs of three depths (an 8-bit JPEG, a 16-bit TIFF and a
// float TIFF with alpha), each with a parameter set of its own, are rendered in tiles from their
// own files and written over them.  The rendered pixels are checked in the result before it is
// saved (the JPEG is lossy), against the adapter's keying of the very pixels the batch read.
//
// The batch reads the next input and writes the previous one while it renders: its files are
// compared byte for byte with those of a batch that takes one input at a time, also when inputs
// cannot be read or written and when the user cancels; and the auto-mask's reduced copy of the
// input, made from the image the batch read, is compared with the one read from the file.

#include <gtest/gtest.h>

#include <wx/image.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "plugin/composite_rows.h"
#include "plugin/matrix_text.h"
#include "tests/plugin/render_test_support.h"
#include "tests/support/gui_support.h"

namespace vantrelo::plugin_test {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1100;  // two tiles across
constexpr int kHeight = 300;

// The plug-in with a copy of every result taken before it is written.
class RecordingKeyer : public VantreloPluginApp {
public:
    bool render(Parameters& set, ImageBuffer& input, ImageBuffer& output, ImageBuffer& scratch,
                ImageList* extra) override {
        const bool rendered = VantreloPluginApp::render(set, input, output, scratch, extra);
        auto& result = results[currentInput()];
        if (!result) {
            result = std::make_unique<ImageBuffer>(nullptr);
            result->allocate(output.domain, output.bitsPerChannel);
            result->hasAlpha = output.hasAlpha;
            result->clearRect(output.domain);
        }
        result->copyOverlap(output);
        return rendered;
    }
    // The auto-mask is off in every set here; its analysis is not what this test is about.
    void analyse(Parameters&, const Rect&) override {}
    std::map<std::uint64_t, std::unique_ptr<ImageBuffer>> results;
};

struct Input {
    fs::path path;
    double bgColour[3];
    bool againstBackdrop;
};

class RenderBatch : public testing::Test {
protected:
    void SetUp() override {
        VANTRELO_REQUIRE_TOOLKIT();
        const PixelFunction picture = scene(kWidth, kHeight);
        inputs = {{folder.path() / "photo.jpg", {0.9, 0.2, 0.1}, false},
                  {folder.path() / "photo16.tif", {0.1, 0.3, 0.8}, true},
                  {folder.path() / "photoF.tif", {0.5, 0.5, 0.5}, false}};
        writeImage(inputs[0].path, FIF_JPEG, FIT_BITMAP, 24, kWidth, kHeight, picture,
                   JPEG_QUALITYGOOD);
        writeImage(inputs[1].path, FIF_TIFF, FIT_RGB16, 48, kWidth, kHeight, picture, TIFF_LZW);
        // The float image is half transparent in its right third.
        writeImage(inputs[2].path, FIF_TIFF, FIT_RGBAF, 128, kWidth, kHeight,
                   [&](int x, int y, double v[4]) {
                       picture(x, y, v);
                       v[3] = x < 2 * kWidth / 3 ? 1.0 : 0.5;
                   });
        for (const Input& input : inputs) keyer.addInputFile(wxString::FromUTF8(input.path.string()));
        keyer.setPreviewFlag(true);
        keyer.initInputs();
    }

    // Reads input i as the batch reads it.
    std::unique_ptr<ImageBuffer> read(std::uint64_t i) {
        const bool preview = keyer.previewFlag();
        keyer.setPreviewFlag(false);  // full depth, as the batch reads
        auto image = std::make_unique<ImageBuffer>(&keyer);
        EXPECT_TRUE(image->loadInput(2 + i, {}, 1.0f, true));
        keyer.setPreviewFlag(preview);
        return image;
    }

    test_store::ScratchFolder folder{"vantrelo-batch"};
    std::vector<Input> inputs;
    RecordingKeyer keyer;
};

TEST_F(RenderBatch, EveryInputIsRenderedWithItsOwnSetAndWrittenOverItsFile) {
    // One key from a backdrop sample, kept in every set as its key-data text.
    const std::uint16_t sample[4] = {static_cast<std::uint16_t>(kBackdropColour[0] * 65535),
                                     static_cast<std::uint16_t>(kBackdropColour[1] * 65535),
                                     static_cast<std::uint16_t>(kBackdropColour[2] * 65535), 65535};
    keyer.bridge.sampleMode = SampleSelect;
    keyer.bridge.applySampleBlock(sample, 1, 1);
    for (std::uint64_t i = 0; i < 3; ++i) {
        keyer.ensureParameters(i);
        auto& set = *static_cast<VantreloParameters*>(keyer.parameters(i));
        set.syncFromEngine(kParamKeyData);
        set.setColour(inputs[i].bgColour, kParamBGColor);
        set.setBool(inputs[i].againstBackdrop, kParamRenderAgainstBD);
        set.setBool(false, kParamEnableAutoMask);
        set.setInt(kMaskFront, kParamMaskMode);  // a preview view the batch renders as the subject
        // The current input's edits reach the engine as they are made, as the windows push them.
        if (i == keyer.currentInput()) set.applyAll();
    }
    std::vector<std::unique_ptr<ImageBuffer>> before;
    for (std::uint64_t i = 0; i < 3; ++i) before.push_back(read(i));
    EXPECT_FALSE(before[0]->hasAlpha);
    EXPECT_FALSE(before[1]->hasAlpha);
    EXPECT_TRUE(before[2]->hasAlpha);

    keyer.processInputs();

    EXPECT_FALSE(keyer.previewFlag());
    EXPECT_TRUE(keyer.takeMessages().empty());
    ASSERT_EQ(keyer.results.size(), 3u);
    CVantreloBridge& bridge = keyer.bridge;
    for (std::uint64_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(inputs[i].path.filename().string());
        const ImageBuffer& in = *before[i];
        const ImageBuffer& out = *keyer.results[i];
        ASSERT_EQ(out.bounds, (Rect{0, 0, kWidth, kHeight}));
        ASSERT_EQ(out.bitsPerChannel, in.bitsPerChannel);
        std::uint16_t fill[4];
        for (int c = 0; c < 3; ++c)
            fill[c] = static_cast<std::uint16_t>(inputs[i].bgColour[c] * 65535.0);
        fill[3] = 65535;

        // The adapter's keying of what the batch read (the replacement colour plays no part in
        // spill complement, the default).
        const std::size_t n = std::size_t{kWidth} * kHeight;
        std::vector<std::uint16_t> keyed16(4 * n);
        std::vector<float> keyedF(4 * n);
        {
            CompiledKeyGuard compiled(&bridge.keyStates);
            if (in.bitsPerChannel == 32) {
                std::vector<float> source(4 * n), background(4 * n);
                std::memcpy(source.data(), in.firstPixel, source.size() * sizeof(float));
                for (std::size_t p = 0; p < n; ++p)
                    for (int c = 0; c < 4; ++c) background[4 * p + c] = fill[c] / 65535.0f;
                bridge.keyPixelsFloat(source.data(), background.data(), keyedF.data(), kWidth,
                                      kHeight);
            } else {
                std::vector<std::uint16_t> source(4 * n), background(4 * n);
                for (int y = 0; y < kHeight; ++y)
                    for (int x = 0; x < kWidth; ++x)
                        for (int c = 0; c < 4; ++c) {
                            const double v = channel(in, x, y, c);
                            source[4 * (std::size_t(y) * kWidth + x) + c] =
                                static_cast<std::uint16_t>(in.bitsPerChannel == 8 ? v * 257 : v);
                            background[4 * (std::size_t(y) * kWidth + x) + c] = fill[c];
                        }
                bridge.keyPixels16(source.data(), background.data(), keyed16.data(), kWidth,
                                   kHeight);
            }
        }

        int subject = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const std::size_t p = 4 * (std::size_t(y) * kWidth + x);
                double expected[4];
                if (in.bitsPerChannel == 8) {
                    // Opaque (no alpha): the 8-bit over of the keyed 16-bit subject.
                    const std::uint32_t a = keyed16[p + 3];
                    for (int c = 0; c < 3; ++c)
                        expected[c] =
                            ((keyed16[p + c] * a >> 8) + (fill[c] >> 8) * (65535 - a)) / 65535;
                    expected[3] = (255u * (65535 - a) + a * 255) / 65535;
                } else if (in.bitsPerChannel == 16) {
                    // Against the backdrop: the 16-bit over.
                    std::uint16_t o[4] = {fill[0], fill[1], fill[2], fill[3]};
                    blendRgba16Over16(o, &keyed16[p]);
                    for (int c = 0; c < 4; ++c) expected[c] = o[c];
                } else {
                    // Alpha and not against the backdrop: the keyed subject itself.
                    for (int c = 0; c < 4; ++c) expected[c] = keyedF[p + c];
                }
                subject += in.bitsPerChannel == 16 ? keyed16[p + 3] > 60000 : 0;
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(channel(out, x, y, c), expected[c]) << x << "," << y << "," << c;
            }
        if (in.bitsPerChannel == 16) {
            EXPECT_GT(subject, 1000);
        }

        // Written over its own file: the lossless ones read back as rendered.
        const auto written = read(i);
        if (in.bitsPerChannel != 8) {
            for (int y = 0; y < kHeight; y += 7) {
                for (int x = 0; x < kWidth; x += 5) {
                    for (int c = 0; c < (in.bitsPerChannel == 32 ? 4 : 3); ++c)
                        ASSERT_EQ(channel(*written, x, y, c), channel(out, x, y, c));
                }
            }
        } else {
            double difference = 0;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    for (int c = 0; c < 3; ++c)
                        difference += std::fabs(channel(*written, x, y, c) - channel(out, x, y, c));
            EXPECT_LT(difference / (3.0 * kWidth * kHeight), 3.0);
        }
    }
    // The backdrop differs per set: input 0 red, input 1 blue.
    EXPECT_GT(channel(*keyer.results[0], 5, 5, 0), 200);
    EXPECT_GT(channel(*keyer.results[1], 5, 5, 2), 45000);
}

// The auto-mask's proxy of an input larger than it (so it is reduced), made by the batch's
// prepare from the file and from the image the batch read, on each of the three pixel depths.
TEST(BatchProxy, MadeFromTheDecodedImageItIsTheOneTheFileGives) {
    VANTRELO_REQUIRE_TOOLKIT();
    test_store::ScratchFolder folder{"vantrelo-batch-proxy"};
    constexpr int kW = 1411, kH = 853;  // 1.2 Mpixels: a proxy at scale 0.93
    const PixelFunction picture = [](int x, int y, double v[4]) {
        patternPixel(x, y, v);
        v[3] = x < kW / 2 ? 1.0 : 0.6;
    };
    const struct {
        const char* name;
        FREE_IMAGE_FORMAT format;
        FREE_IMAGE_TYPE type;
        int bits;
    } cases[] = {{"proxy.jpg", FIF_JPEG, FIT_BITMAP, 24},
                 {"proxy16.tif", FIF_TIFF, FIT_RGB16, 48},
                 {"proxyF.tif", FIF_TIFF, FIT_RGBAF, 128}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = folder.path() / c.name;
        writeImage(path, c.format, c.type, c.bits, kW, kH, picture);
        PluginHarness h({path}, false);
        h.set().setBool(true, kParamEnableAutoMask);
        const Rect frame{0, 0, kW, kH};

        h.plugin.prepare(h.set(), frame);
        const ImageBuffer& fromFile = h.plugin.sourceProxy;
        ASSERT_NE(fromFile.firstPixel, nullptr);
        ASSERT_LT(fromFile.scale, 1.0f);
        ImageBuffer expected(nullptr);
        expected.allocateSameAs(fromFile);
        expected.copyOverlap(fromFile);

        ImageBuffer decoded(&h.plugin);
        ASSERT_TRUE(decoded.loadInput(0, frame, 1.0f, true));
        // The file is gone: what the proxy shows can only come from the decoded image.
        test_store::writeText(path, "no longer a picture");
        h.plugin.releaseWorkImages();
        h.plugin.holdDecodedInput(&decoded);
        h.plugin.prepare(h.set(), frame);
        h.plugin.holdDecodedInput(nullptr);
        const ImageBuffer& fromImage = h.plugin.sourceProxy;
        ASSERT_NE(fromImage.firstPixel, nullptr);
        EXPECT_EQ(fromImage.scale, expected.scale);
        EXPECT_EQ(fromImage.domain, expected.domain);
        EXPECT_EQ(fromImage.hasAlpha, expected.hasAlpha);
        ASSERT_EQ(fromImage.bounds, expected.bounds);
        ASSERT_EQ(fromImage.bitsPerChannel, expected.bitsPerChannel);
        double worst = 0.0;
        for (int y = 0; y < expected.bounds.y1; ++y)
            for (int x = 0; x < expected.bounds.x1; ++x)
                for (int ch = 0; ch < 4; ++ch)
                    worst = std::max(worst, std::fabs(channel(fromImage, x, y, ch) -
                                                      channel(expected, x, y, ch)));
        // The same pixels through the same resample: exactly the same copy.
        EXPECT_EQ(worst, 0.0);
    }
}

// The batch gives back the rows of an input that the tiles still to come do not ask for while it
// renders, so a tall photograph is rendered in three rows of three tiles from a source whose top
// rows are gone before the last: with the softening and light-wrap margins, the lighting
// correction, a turned and scaled subject and the auto-mask, every result is the one a render in
// one piece from the whole source gives.
class TallTiles : public VantreloPluginApp {
public:
    // Three columns and three rows of tiles, not square: what the later tiles ask for differs
    // from column to column under the turned subject.
    void tileSize(const Rect&, std::int32_t& tileWidth, std::int32_t& tileHeight) override {
        tileWidth = 120;
        tileHeight = 800;
    }
    bool render(Parameters& set, ImageBuffer& input, ImageBuffer& output, ImageBuffer& scratch,
                ImageList* extra) override {
        const bool rendered = VantreloPluginApp::render(set, input, output, scratch, extra);
        if (!result) {
            result = std::make_unique<ImageBuffer>(nullptr);
            result->allocate(output.domain, output.bitsPerChannel);
            result->clearRect(output.domain);
        }
        result->copyOverlap(output);
        // Whether a row near the source's top (past the first memory page, which the buffer
        // shares) still held its pixels (opaque) when the last tile came.
        if (output.bounds.y1 == output.domain.y1 && output.bounds.x1 == output.domain.x1)
            topRowKept = input.pixelAddress(input.bounds.x0, input.bounds.y0 + 16)[3] != 0;
        return rendered;
    }
    std::unique_ptr<ImageBuffer> result;
    bool topRowKept = true;
};

TEST(BatchTiles, ASourceGivenBackAsTheTilesGoRendersWhatTheWholeSourceRenders) {
    VANTRELO_REQUIRE_TOOLKIT();
    constexpr int kW = 290, kH = 2300;
    const std::string turned = formatMatrixText([] {
        Matrix3 m;
        // Upside down, scaled and sheared a little: the bottom tiles show the top rows.
        m.at(0, 0) = -0.9;
        m.at(0, 1) = 0.15;
        m.at(1, 0) = 0.1;
        m.at(1, 1) = -0.95;
        m.at(0, 2) = 12.0;
        m.at(1, 2) = -30.0;
        return m;
    }());
    const struct Case {
        const char* name;
        std::function<void(VantreloParameters&)> settings;
        bool topRowGone;
    } cases[] = {
        {"plain key", [](VantreloParameters&) {}, true},
        {"soft matte and light wrap",
         [](VantreloParameters& set) {
             set.setBool(true, kParamEnableSoftenMatte);
             set.setDouble(40.0, kParamSoftenMatte);
             set.setBool(true, kParamEnableLightWrap);
             set.setDouble(60.0, kParamLightWrapRadius);
         },
         true},
        {"lighting correction",
         [](VantreloParameters& set) { set.setBool(true, kParamAdjustLighting); }, true},
        {"auto-mask", [](VantreloParameters& set) { set.setBool(true, kParamEnableAutoMask); },
         true},
        // The turned subject's last tiles read the source's top rows.
        {"turned subject",
         [&](VantreloParameters& set) { set.setString(turned, kParamForegroundTransform); },
         false},
    };
    // The scene's backdrop with a subject in a bar down the whole height, so that every margin a
    // tile reads past its edges holds subject and backdrop alike.
    const PixelFunction backdrop = scene(kW, kH);
    const PixelFunction picture = [&backdrop](int x, int y, double v[4]) {
        backdrop(x, y, v);
        const double cover = std::clamp((45.0 - std::fabs(x - 145.0)) / 3.0, 0.0, 1.0);
        const double subject[3] = {0.8 + 0.1 * std::sin(y * 0.05), 0.35, 0.25 + 0.002 * x};
        for (int c = 0; c < 3; ++c) v[c] += (subject[c] - v[c]) * cover;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test_store::ScratchFolder folder{"vantrelo-batch-tiles"};
        const fs::path path = folder.path() / "tall.png";
        writePng(path, kW, kH, picture, false);
        const std::string original = test_store::fileText(path);

        TallTiles keyer;
        keyer.addInputFile(wxString::FromUTF8(path.string()));
        keyer.initInputs();
        keyer.ensureParameters(0);
        auto& set = *static_cast<VantreloParameters*>(keyer.parameters(0));
        const std::uint16_t sample[4] = {static_cast<std::uint16_t>(kBackdropColour[0] * 65535),
                                         static_cast<std::uint16_t>(kBackdropColour[1] * 65535),
                                         static_cast<std::uint16_t>(kBackdropColour[2] * 65535),
                                         65535};
        keyer.bridge.sampleMode = SampleSelect;
        keyer.bridge.applySampleBlock(sample, 1, 1);
        set.syncFromEngine(kParamKeyData);
        const double grey[3] = {0.3, 0.45, 0.6};
        set.setColour(grey, kParamBGColor);
        c.settings(set);
        set.applyAll();

        keyer.processInputs();
        ASSERT_TRUE(keyer.takeMessages().empty());
        ASSERT_NE(keyer.result, nullptr);
        EXPECT_EQ(!keyer.topRowKept, c.topRowGone);
        const std::unique_ptr<ImageBuffer> tiled = std::move(keyer.result);

        // The same set over the whole source in one piece.
        test_store::writeText(path, original);
        keyer.releaseWorkImages();
        ImageBuffer source(&keyer);
        ASSERT_TRUE(source.loadInput(0, {}, 1.0f, true));
        ImageBuffer whole(&keyer);
        whole.allocateSameAs(source);
        ImageBuffer scratch(&keyer);
        keyer.renderRect(set, source, whole, scratch, nullptr);
        ASSERT_NE(keyer.result, nullptr);
        ASSERT_EQ(tiled->bounds, keyer.result->bounds);
        for (int y = 0; y < kH; ++y)
            ASSERT_EQ(std::memcmp(tiled->pixelAddress(0, y), keyer.result->pixelAddress(0, y),
                                  static_cast<std::size_t>(4 * kW)),
                      0)
                << "row " << y;
    }
}

// A shoot of mixed inputs: an 8-bit JPEG, a 16-bit TIFF, a file that is no picture, a read-only
// float TIFF with alpha and a PNG, each keyed with the auto-mask on.  A batch in the pipeline
// writes what a batch of one input at a time writes, byte for byte, with the same messages.
class MixedShoot : public testing::Test {
protected:
    static constexpr int kW = 230, kH = 170;
    static constexpr const char* kNames[] = {"a.jpg", "b16.tif", "c.tif", "dF.tif", "e.png"};
    static constexpr int kUnreadable = 2;
    static constexpr int kReadOnly = 3;

    void SetUp() override { VANTRELO_REQUIRE_TOOLKIT(); }

    // The shoot written into `folder`; returns each file's bytes.
    static std::vector<std::string> writeShoot(const fs::path& folder) {
        const PixelFunction picture = scene(kW, kH);
        const fs::path at[] = {folder / kNames[0], folder / kNames[1], folder / kNames[2],
                               folder / kNames[3], folder / kNames[4]};
        writeImage(at[0], FIF_JPEG, FIT_BITMAP, 24, kW, kH, picture, JPEG_QUALITYGOOD);
        writeImage(at[1], FIF_TIFF, FIT_RGB16, 48, kW, kH, picture, TIFF_LZW);
        test_store::writeText(at[kUnreadable], "II*\0 not a picture after all");
        writeImage(at[3], FIF_TIFF, FIT_RGBAF, 128, kW, kH, [&](int x, int y, double v[4]) {
            picture(x, y, v);
            v[3] = y < kH / 2 ? 1.0 : 0.7;
        });
        ::chmod(at[kReadOnly].c_str(), 0444);
        writeImage(at[4], FIF_PNG, FIT_BITMAP, 24, kW, kH, picture);
        std::vector<std::string> bytes;
        for (const fs::path& path : at) bytes.push_back(test_store::fileText(path));
        return bytes;
    }

    // The batch over the shoot in `folder` at `depth`; returns its messages with the folder's
    // name taken out, so that two folders' messages compare.
    template <class Keyer>
    static std::string runBatch(Keyer& keyer, const fs::path& folder, int depth,
                                std::uint64_t memory = 0) {
        for (const char* name : kNames) keyer.addInputFile(wxString::FromUTF8((folder / name).string()));
        keyer.setPreviewFlag(true);
        keyer.initInputs();
        for (std::uint64_t i = 0; i < std::size(kNames); ++i) {
            keyer.ensureParameters(i);
            auto& set = *static_cast<VantreloParameters*>(keyer.parameters(i));
            set.setBool(true, kParamEnableAutoMask);
            set.setBool(i % 2 == 1, kParamRenderAgainstBD);
            if (i == keyer.currentInput()) set.applyAll();
        }
        keyer.setBatchDepth(depth);
        keyer.setBatchMemory(memory);
        // On a thread of its own, as behind the progress window: messages are queued there.
        std::thread batch([&keyer] { keyer.processInputs(); });
        batch.join();
        std::string messages = keyer.takeMessages();
        for (std::size_t at; (at = messages.find(folder.string())) != std::string::npos;)
            messages.erase(at, folder.string().size());
        return messages;
    }

    static std::set<std::string> namesIn(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    // The one-at-a-time batch's files and messages.
    void SetUpReference() {
        originals = writeShoot(reference.path());
        VantreloPluginApp keyer;
        referenceMessages = runBatch(keyer, reference.path(), 1);
        for (const char* name : kNames) written.push_back(test_store::fileText(reference.path() / name));
    }

    test_store::ScratchFolder reference{"vantrelo-shoot-one"};
    std::vector<std::string> originals;
    std::vector<std::string> written;
    std::string referenceMessages;
};

TEST_F(MixedShoot, ThePipelineWritesWhatOneInputAtATimeWrites) {
    SetUpReference();
    // The failures are reported, each by its file's name, and stop nothing.
    const std::size_t lineBreak = referenceMessages.find('\n');
    ASSERT_NE(lineBreak, std::string::npos) << referenceMessages;
    EXPECT_NE(referenceMessages.substr(0, lineBreak).find(kNames[kUnreadable]), std::string::npos);
    EXPECT_NE(referenceMessages.substr(lineBreak + 1).find(kNames[kReadOnly]), std::string::npos);
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        SCOPED_TRACE(kNames[i]);
        if (i == kUnreadable || i == kReadOnly)
            EXPECT_EQ(written[i], originals[i]);
        else
            EXPECT_NE(written[i], originals[i]);
    }

    for (int depth : {2, 3}) {
        SCOPED_TRACE(depth);
        test_store::ScratchFolder folder{"vantrelo-shoot"};
        writeShoot(folder.path());
        VantreloPluginApp keyer;
        EXPECT_EQ(runBatch(keyer, folder.path(), depth), referenceMessages);
        for (std::size_t i = 0; i < std::size(kNames); ++i)
            EXPECT_EQ(test_store::fileText(folder.path() / kNames[i]), written[i]) << kNames[i];
        EXPECT_EQ(namesIn(folder.path()), namesIn(reference.path()));  // no temporary file left
    }
}

// When memory is short the pipeline holds fewer inputs: an input larger than a third of the
// memory goes alone, read only once the input before it is written, and the one after it is read
// only once it is written.  What is written stays the same.
TEST_F(MixedShoot, InputsHeldFewerAtATimeForLackOfMemoryAreWrittenTheSame) {
    SetUpReference();
    // Notes, as the work on each input begins (its prepare, right after the write of the input
    // before it was started), the inputs before it whose files are not yet as the batch leaves
    // them.
    class WatchingKeyer : public VantreloPluginApp {
    public:
        WatchingKeyer(fs::path folder, const std::vector<std::string>& final)
            : folder_(std::move(folder)), final_(final) {}
        void prepare(Parameters& set, const Rect& output) override {
            const std::uint64_t current = currentInput();
            for (std::uint64_t i = 0; i < current; ++i)
                if (test_store::fileText(folder_ / kNames[i]) != final_[i])
                    unwritten.push_back({current, i});
            VantreloPluginApp::prepare(set, output);
        }
        std::vector<std::pair<std::uint64_t, std::uint64_t>> unwritten;  // (rendering, before it)

    private:
        const fs::path folder_;
        const std::vector<std::string>& final_;
    };
    // Source and result of one input: 2 x 230 x 170 pixels of 4 channels, 1, 2 or 4 bytes each.
    constexpr std::uint64_t kFloatInput = 2 * kW * kH * 16;
    const struct {
        const char* what;
        std::uint64_t memory;
        // From this input on, each is worked on only once every input before it is written.
        std::uint64_t firstAlone;
    } cases[] = {
        {"every input goes alone", 3, 0},
        {"the float input goes alone", 3 * (kFloatInput / 2 + 1), kReadOnly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_store::ScratchFolder folder{"vantrelo-shoot"};
        writeShoot(folder.path());
        WatchingKeyer keyer(folder.path(), written);
        EXPECT_EQ(runBatch(keyer, folder.path(), 3, c.memory), referenceMessages);
        for (std::size_t i = 0; i < std::size(kNames); ++i)
            EXPECT_EQ(test_store::fileText(folder.path() / kNames[i]), written[i]) << kNames[i];
        EXPECT_EQ(namesIn(folder.path()), namesIn(reference.path()));
        for (const auto& [rendering, before] : keyer.unwritten)
            EXPECT_LT(rendering, c.firstAlone)
                << kNames[rendering] << " rendered while " << kNames[before] << " was not written";
    }
}

// The keyer that cancels the batch while it renders input `cancelAt`.
class CancellingKeyer : public VantreloPluginApp {
public:
    explicit CancellingKeyer(std::uint64_t at) : cancelAt(at) {}
    bool render(Parameters& set, ImageBuffer& input, ImageBuffer& output, ImageBuffer& scratch,
                ImageList* extra) override {
        if (currentInput() == cancelAt) requestAbort();
        return VantreloPluginApp::render(set, input, output, scratch, extra);
    }
    const std::uint64_t cancelAt;
};

TEST_F(MixedShoot, CancelLeavesTheFilesNotYetWrittenAsTheyWereAndNoTemporaryFile) {
    SetUpReference();
    for (std::uint64_t cancelAt : {1u, 4u}) {
        SCOPED_TRACE(cancelAt);
        test_store::ScratchFolder folder{"vantrelo-shoot"};
        writeShoot(folder.path());
        CancellingKeyer keyer(cancelAt);
        // A cancel adds nothing to the messages of the inputs before it.
        EXPECT_EQ(runBatch(keyer, folder.path(), 3),
                  cancelAt > kReadOnly ? referenceMessages : std::string());
        for (std::size_t i = 0; i < std::size(kNames); ++i)
            EXPECT_EQ(test_store::fileText(folder.path() / kNames[i]),
                      i < cancelAt ? written[i] : originals[i])
                << kNames[i];
        EXPECT_EQ(namesIn(folder.path()), namesIn(reference.path()));
    }
}

}  // namespace
}  // namespace vantrelo::plugin_test
