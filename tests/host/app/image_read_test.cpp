// Reading subject images: every pixel type the reader takes, the alpha flag, header probes and
// selectors, preview proxies, the colour profile handed to the host, the CMYK conversion and the
// files it must refuse without touching the buffer.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/host/app/image_io_test_support.h"

namespace {

using namespace ImageIoTest;
using Mav::Host::App::ReadOptions;
using Mav::Host::App::readSubjectImage;
using Mav::Host::App::workingProfileBytes;

constexpr int kWidth = 7;  // odd sizes, so row padding and pitch mistakes show
constexpr int kHeight = 5;

struct FormatCase {
    const char* name;
    const char* file;
    FREE_IMAGE_FORMAT format;
    FREE_IMAGE_TYPE type;
    int bitsPerPixel;
    int depth;     // expected bits per channel
    bool alpha;    // expected alpha flag
    bool palette;  // colours come through the fixture's palette
    bool grey;     // one grey channel
};

// What the fixture put at (x, y) in channel c, in the buffer's own units.
double expected(const FormatCase& k, int x, int y, int c) {
    const double v = patternValue(x, y, c);
    if (k.palette) {
        const int index = static_cast<int>(patternValue(x, y, 0) * 255);
        const int colour[3] = {index, 255 - index, (index * 7) & 255};
        return c < 3 ? colour[c] : 255;
    }
    if (k.grey) {
        if (c == 3) return 65535;
        return static_cast<std::uint16_t>(patternValue(x, y, 0) * 65535);
    }
    if (c == 3 && !k.alpha) return k.depth == 8 ? 255 : k.depth == 16 ? 65535 : 1.0;
    if (k.depth == 8) return static_cast<std::uint8_t>(v * 255);
    if (k.depth == 16) return static_cast<std::uint16_t>(v * 65535);
    return static_cast<float>(v);
}

TEST(SubjectImageReading, EveryPixelTypeArrivesTopDownInRgbaWithAlphaOnlyWhereTheFileHasIt) {
    const FormatCase cases[] = {
        {"PNG 24-bit", "rgb8.png", FIF_PNG, FIT_BITMAP, 24, 8, false, false, false},
        {"PNG 32-bit with alpha", "rgba8.png", FIF_PNG, FIT_BITMAP, 32, 8, true, false, false},
        {"PNG palette", "palette.png", FIF_PNG, FIT_BITMAP, 8, 8, false, true, false},
        {"PNG 16-bit grey", "grey16.png", FIF_PNG, FIT_UINT16, 16, 16, false, false, true},
        {"PNG RGBA16", "rgba16.png", FIF_PNG, FIT_RGBA16, 64, 16, true, false, false},
        {"TIFF RGB16", "rgb16.tif", FIF_TIFF, FIT_RGB16, 48, 16, false, false, false},
        {"TIFF RGBF", "rgbf.tif", FIF_TIFF, FIT_RGBF, 96, 32, false, false, false},
        {"TIFF RGBAF", "rgbaf.tif", FIF_TIFF, FIT_RGBAF, 128, 32, true, false, false},
        {"BMP 24-bit", "rgb8.bmp", FIF_BMP, FIT_BITMAP, 24, 8, false, false, false},
        {"Targa 32-bit", "rgba8.tga", FIF_TARGA, FIT_BITMAP, 32, 8, true, false, false},
        {"GIF palette", "palette.gif", FIF_GIF, FIT_BITMAP, 8, 8, false, true, false},
    };
    TempFolder folder;
    for (const FormatCase& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string path = folder.file(k.file);
        const Bitmap fixture = makePattern(k.type, kWidth, kHeight, k.bitsPerPixel);
        ASSERT_TRUE(saveFixture(fixture.get(), k.format, path));

        TestHost host;
        host.inputs = {path};
        ImageBuffer buffer(&host);
        std::string error;
        ASSERT_TRUE(buffer.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
        EXPECT_EQ(buffer.bounds, (Rect{0, 0, kWidth, kHeight}));
        EXPECT_EQ(buffer.domain, (Rect{0, 0, kWidth, kHeight}));
        EXPECT_EQ(buffer.bitsPerChannel, k.depth);
        EXPECT_EQ(buffer.channels, 4);
        EXPECT_EQ(buffer.hasAlpha, k.alpha);
        EXPECT_EQ(buffer.scale, 1.0f);
        EXPECT_EQ(host.recorded, (Rect{0, 0, kWidth, kHeight}));
        int mismatches = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 4; ++c)
                    if (channel(buffer, x, y, c) != expected(k, x, y, c) && ++mismatches < 4)
                        ADD_FAILURE()
                            << "pixel (" << x << ", " << y << ") channel " << c << ": "
                            << channel(buffer, x, y, c) << " instead of " << expected(k, x, y, c);
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(SubjectImageReading, JpegArrivesAsOpaqueEightBitColour) {
    TempFolder folder;
    const std::string path = folder.file("flat.jpg");
    Bitmap fixture(FreeImage_Allocate(16, 16, 24));
    RGBQUAD orange{};  // B, G, R
    orange.rgbRed = 230;
    orange.rgbGreen = 120;
    orange.rgbBlue = 20;
    FreeImage_FillBackground(fixture.get(), &orange);
    ASSERT_TRUE(saveFixture(fixture.get(), FIF_JPEG, path, JPEG_QUALITYSUPERB));

    TestHost host;
    host.inputs = {path};
    ImageBuffer buffer(&host);
    ASSERT_TRUE(buffer.loadInput(0, Rect{}, 1.0f, true));
    EXPECT_EQ(buffer.bitsPerChannel, 8);
    EXPECT_FALSE(buffer.hasAlpha);
    for (int y = 0; y < 16; y += 5)
        for (int x = 0; x < 16; x += 5) {
            EXPECT_NEAR(channel(buffer, x, y, 0), 230, 3);
            EXPECT_NEAR(channel(buffer, x, y, 1), 120, 3);
            EXPECT_NEAR(channel(buffer, x, y, 2), 20, 3);
            EXPECT_EQ(channel(buffer, x, y, 3), 255);
        }
}

TEST(SubjectImageReading, SelectorsPickTheCurrentOrANumberedInputAndProbesLearnOnlyTheSize) {
    TempFolder folder;
    const std::string first = folder.file("first.png");
    const std::string second = folder.file("second.tif");
    ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 7, 5, 24).get(), FIF_PNG, first));
    ASSERT_TRUE(saveFixture(makePattern(FIT_RGB16, 3, 2, 48).get(), FIF_TIFF, second));
    TestHost host;
    host.inputs = {first, second};
    host.current = 1;

    for (std::uint64_t selector : {0, 1}) {
        ImageBuffer buffer(&host);
        ASSERT_TRUE(buffer.loadInput(selector, Rect{}, 1.0f, true));
        EXPECT_EQ(buffer.bounds, (Rect{0, 0, 3, 2})) << selector;
        EXPECT_EQ(buffer.bitsPerChannel, 16);
    }
    ImageBuffer buffer(&host);
    ASSERT_TRUE(buffer.loadInput(2, Rect{}, 1.0f, true));
    EXPECT_EQ(buffer.bounds, (Rect{0, 0, 7, 5}));
    EXPECT_EQ(host.recorded, (Rect{0, 0, 3, 2})) << "only the current input's size is kept";

    // A selector past the list reads nothing and leaves the buffer as it was.
    const std::uint8_t* pixels = buffer.firstPixel;
    std::string error;
    EXPECT_FALSE(buffer.loadInput(4, Rect{}, 1.0f, true, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(buffer.firstPixel, pixels);
    EXPECT_EQ(buffer.bounds, (Rect{0, 0, 7, 5}));

    // A header probe: size and depth, no pixels, the caller's domain untouched.
    ImageBuffer probe(&host);
    probe.domain = Rect{1, 2, 3, 4};
    host.recorded = Rect{};
    ASSERT_TRUE(probe.loadInput(3, Rect{}, 1.0f, false));
    EXPECT_EQ(probe.bounds, (Rect{0, 0, 3, 2}));
    EXPECT_EQ(probe.bitsPerChannel, 16);
    EXPECT_EQ(probe.channels, 4);
    EXPECT_EQ(probe.firstPixel, nullptr);
    EXPECT_TRUE(probe.storage.empty());
    EXPECT_EQ(probe.domain, (Rect{1, 2, 3, 4}));
    EXPECT_EQ(host.recorded, (Rect{0, 0, 3, 2}));
    EXPECT_EQ(host.profileCalls, 3) << "a probe hands the host no profile";
}

TEST(SubjectImageReading, PreviewReadsBecomeEightBitProxiesAtTheRequestedScale) {
    TempFolder folder;
    const std::string path = folder.file("deep.tif");
    ASSERT_TRUE(saveFixture(makePattern(FIT_RGBA16, 8, 6, 64).get(), FIF_TIFF, path));
    TestHost host;
    host.inputs = {path};

    // Deep pixels are kept at full scale when the host takes them ...
    ImageBuffer deep(&host);
    ASSERT_TRUE(deep.loadInput(0, Rect{}, 1.0f, true));
    EXPECT_EQ(deep.bitsPerChannel, 16);
    EXPECT_TRUE(deep.hasAlpha);

    // ... and reduced when the preview flag is set or the host wants 8 bits.
    for (int variant = 0; variant < 2; ++variant) {
        host.previewFlag = variant == 0;
        host.highBitDepth = variant == 0;
        ImageBuffer proxy(&host);
        ASSERT_TRUE(proxy.loadInput(0, Rect{}, 1.0f, true));
        EXPECT_EQ(proxy.bitsPerChannel, 8) << variant;
        EXPECT_EQ(proxy.bounds, (Rect{0, 0, 8, 6}));
        EXPECT_EQ(channel(proxy, 3, 2, 3), 255) << "proxies are opaque";
        EXPECT_NEAR(channel(proxy, 3, 2, 0), patternValue(3, 2, 0) * 255, 1.0);
    }

    host.previewFlag = false;
    host.highBitDepth = true;
    ImageBuffer half(&host);
    ASSERT_TRUE(half.loadInput(0, Rect{}, 0.5f, true));
    EXPECT_EQ(half.bitsPerChannel, 8);
    EXPECT_EQ(half.scale, 0.5f);
    EXPECT_EQ(half.bounds, (Rect{0, 0, 4, 3}));
    EXPECT_EQ(half.domain, (Rect{0, 0, 4, 3}));

    std::string error;
    EXPECT_FALSE(half.loadInput(0, Rect{}, std::nanf(""), true, &error));
    EXPECT_EQ(half.scale, 0.5f);

    // In preview mode every buffer carries alpha, also an opaque file's.
    const std::string opaque = folder.file("opaque.png");
    ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 4, 4, 24).get(), FIF_PNG, opaque));
    host.inputs = {opaque};
    host.previewMode = true;
    ImageBuffer preview(&host);
    ASSERT_TRUE(preview.readImageFile(0, true));
    EXPECT_TRUE(preview.hasAlpha);
}

TEST(SubjectImageReading, TheHostKeepsTheFilesRgbProfileElseTheWorkingProfile) {
    TempFolder folder;
    const std::string tagged = folder.file("tagged.tif");
    const std::string untagged = folder.file("untagged.tif");
    const std::vector<std::uint8_t> rgb = makeRgbProfile("Wide test RGB");
    Bitmap fixture = makePattern(FIT_BITMAP, 4, 4, 24);
    ASSERT_TRUE(saveFixture(fixture.get(), FIF_TIFF, untagged));
    FreeImage_CreateICCProfile(fixture.get(), const_cast<std::uint8_t*>(rgb.data()),
                               static_cast<long>(rgb.size()));
    ASSERT_TRUE(saveFixture(fixture.get(), FIF_TIFF, tagged));

    const std::string working = profileDescription(workingProfileBytes().data(),
                                                   static_cast<long>(workingProfileBytes().size()));
    ASSERT_FALSE(working.empty());
    TestHost host;
    host.inputs = {tagged, untagged};
    ImageBuffer buffer(&host);
    ASSERT_TRUE(buffer.loadInput(2, Rect{}, 1.0f, true));
    ASSERT_TRUE(host.profile);
    EXPECT_EQ(profileDescription(host.profile.get()), "Wide test RGB");
    // An untagged image does not inherit the previous image's profile.
    ASSERT_TRUE(buffer.loadInput(3, Rect{}, 1.0f, true));
    ASSERT_TRUE(host.profile);
    EXPECT_EQ(profileDescription(host.profile.get()), working);
    EXPECT_EQ(cmsGetColorSpace(host.profile.get()), cmsSigRgbData);
    EXPECT_GE(cmsGetProfileVersion(host.profile.get()), 4.0);
}

struct CmykPixel {
    BYTE c, m, y, k;
    int r, g, b;
};
// Corner colours of the test press profile, which the conversion must reach.
constexpr CmykPixel kCmykPixels[4] = {
    {0, 0, 0, 0, 255, 255, 255},
    {255, 0, 0, 0, 0, 255, 255},
    {0, 255, 255, 0, 255, 0, 0},
    {0, 0, 0, 255, 0, 0, 0},
};

// A 2 x 2 CMYK TIFF (top row: white, cyan; bottom row: red, black) with the given depth.
void writeCmykTiff(const std::string& path, bool sixteenBits,
                   const std::vector<std::uint8_t>* profile) {
    Bitmap bitmap(sixteenBits ? FreeImage_AllocateT(FIT_RGBA16, 2, 2, 64)
                              : FreeImage_Allocate(2, 2, 32));
    for (int i = 0; i < 4; ++i) {
        const CmykPixel& p = kCmykPixels[i];
        BYTE* line = FreeImage_GetScanLine(bitmap.get(), 1 - i / 2);
        if (sixteenBits) {
            auto* to = reinterpret_cast<WORD*>(line) + (i % 2) * 4;
            to[0] = static_cast<WORD>(p.c * 257);
            to[1] = static_cast<WORD>(p.m * 257);
            to[2] = static_cast<WORD>(p.y * 257);
            to[3] = static_cast<WORD>(p.k * 257);
        } else {
            BYTE* to = line + (i % 2) * 4;
            to[0] = p.c;
            to[1] = p.m;
            to[2] = p.y;
            to[3] = p.k;
        }
    }
    if (profile)
        FreeImage_CreateICCProfile(bitmap.get(), const_cast<std::uint8_t*>(profile->data()),
                                   static_cast<long>(profile->size()));
    FreeImage_GetICCProfile(bitmap.get())->flags |= FIICC_COLOR_IS_CMYK;
    ASSERT_TRUE(saveFixture(bitmap.get(), FIF_TIFF, path));
}

TEST(SubjectImageReading, CmykIsConvertedThroughItsOwnProfileIntoTheWorkingProfile) {
    TempFolder folder;
    const std::vector<std::uint8_t> cmykProfile = makeCmykProfile();
    struct Case {
        const char* name;
        bool sixteenBits;
        bool previewFlag;
        int depth;
    } cases[] = {
        {"8-bit", false, false, 8},
        {"16-bit", true, false, 16},
        {"16-bit in preview", true, true, 8},
    };
    const std::string working = profileDescription(workingProfileBytes().data(),
                                                   static_cast<long>(workingProfileBytes().size()));
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string path = folder.file(std::string("press-") + k.name + ".tif");
        writeCmykTiff(path, k.sixteenBits, &cmykProfile);
        TestHost host;
        host.inputs = {path};
        host.previewFlag = k.previewFlag;
        ImageBuffer buffer(&host);
        std::string error;
        ASSERT_TRUE(buffer.readImageFile(0, true, &error)) << error;
        EXPECT_EQ(buffer.bitsPerChannel, k.depth);
        EXPECT_FALSE(buffer.hasAlpha) << "K is not alpha";
        const double scale = k.depth == 8 ? 1.0 : 257.0;
        for (int i = 0; i < 4; ++i) {
            const CmykPixel& p = kCmykPixels[i];
            const int x = i % 2, y = i / 2;
            EXPECT_NEAR(channel(buffer, x, y, 0) / scale, p.r, 4) << i;
            EXPECT_NEAR(channel(buffer, x, y, 1) / scale, p.g, 4) << i;
            EXPECT_NEAR(channel(buffer, x, y, 2) / scale, p.b, 4) << i;
            EXPECT_EQ(channel(buffer, x, y, 3), k.depth == 8 ? 255 : 65535) << i;
        }
        ASSERT_TRUE(host.profile);
        EXPECT_EQ(profileDescription(host.profile.get()), working);
    }

    TestHost host;
    ImageBuffer buffer(&host);
    ReadOptions options;
    const auto result = readSubjectImage(buffer, folder.file("press-8-bit.tif"), options);
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.converted);
}

// A buffer holding a known picture, to show that a failed read leaves it alone.
void fillKnown(ImageBuffer& buffer) {
    buffer.allocateSize(2, 2, 8);
    for (int i = 0; i < 16; ++i) buffer.firstPixel[i] = static_cast<std::uint8_t>(i * 11);
}

bool stillKnown(const ImageBuffer& buffer) {
    if (buffer.bounds != (Rect{0, 0, 2, 2}) || buffer.bitsPerChannel != 8 || !buffer.firstPixel)
        return false;
    for (int i = 0; i < 16; ++i)
        if (buffer.firstPixel[i] != static_cast<std::uint8_t>(i * 11)) return false;
    return true;
}

std::vector<std::uint8_t> truncated(std::vector<std::uint8_t> bytes, double fraction) {
    bytes.resize(static_cast<std::size_t>(static_cast<double>(bytes.size()) * fraction));
    return bytes;
}

TEST(SubjectImageReading, DamagedUnsupportedAndUnconvertibleFilesAreRefusedWithAMessage) {
    TempFolder folder;
    // Fixtures big enough that a cut leaves the header whole.
    const Bitmap picture = makePattern(FIT_BITMAP, 64, 48, 24);
    const Bitmap palette = makePattern(FIT_BITMAP, 64, 48, 8);
    struct Source {
        const char* file;
        FREE_IMAGE_FORMAT format;
        const Bitmap& bitmap;
    } sources[] = {
        {"whole.jpg", FIF_JPEG, picture},  {"whole.png", FIF_PNG, picture},
        {"whole.tif", FIF_TIFF, picture},  {"whole.bmp", FIF_BMP, picture},
        {"whole.tga", FIF_TARGA, picture}, {"whole.gif", FIF_GIF, palette},
    };
    std::vector<std::pair<std::string, std::string>> broken;  // path, expected words
    for (const Source& s : sources) {
        const std::string whole = folder.file(s.file);
        ASSERT_TRUE(saveFixture(s.bitmap.get(), s.format, whole));
        const std::string cut = folder.file(std::string("cut-") + s.file);
        writeBytes(cut, truncated(fileBytes(whole), 0.6));
        broken.emplace_back(cut, "damaged or incomplete");
    }
    writeBytes(folder.file("noise.png"), std::vector<std::uint8_t>(300, 0x5a));
    broken.emplace_back(folder.file("noise.png"), "damaged or incomplete");
    writeBytes(folder.file("empty.jpg"), {});
    broken.emplace_back(folder.file("empty.jpg"), "damaged or incomplete");
    writeBytes(folder.file("noise.qqq"), std::vector<std::uint8_t>(300, 0x5a));
    broken.emplace_back(folder.file("noise.qqq"), "not recognised");
    broken.emplace_back(folder.file("missing.png"), "cannot be opened");
    broken.emplace_back(folder.path(), "folder");

    const Bitmap integers(FreeImage_AllocateT(FIT_UINT32, 4, 4, 32));
    ASSERT_TRUE(saveFixture(integers.get(), FIF_TIFF, folder.file("integers.tif")));
    broken.emplace_back(folder.file("integers.tif"), "pixel type is not supported");
    writeCmykTiff(folder.file("untagged-cmyk.tif"), false, nullptr);
    broken.emplace_back(folder.file("untagged-cmyk.tif"),
                        "CMYK image without an embedded colour profile");
    const std::vector<std::uint8_t> rgb = makeRgbProfile("not a press profile");
    writeCmykTiff(folder.file("rgb-tagged-cmyk.tif"), false, &rgb);
    broken.emplace_back(folder.file("rgb-tagged-cmyk.tif"), "colour profile cannot be used");

    for (const auto& [path, words] : broken) {
        SCOPED_TRACE(path);
        const bool regular = std::filesystem::is_regular_file(path);
        const std::vector<std::uint8_t> before =
            regular ? fileBytes(path) : std::vector<std::uint8_t>{};
        TestHost host;
        host.inputs = {path};
        ImageBuffer buffer(&host);
        fillKnown(buffer);
        std::string error;
        EXPECT_FALSE(buffer.loadInput(0, Rect{}, 1.0f, true, &error));
        EXPECT_NE(error.find("\"" + path + "\""), std::string::npos) << error;
        EXPECT_NE(error.find(words), std::string::npos) << error;
        EXPECT_TRUE(stillKnown(buffer));
        EXPECT_EQ(host.profileCalls, 0);
        EXPECT_EQ(host.recordCalls, 0);
        if (regular) {
            EXPECT_EQ(fileBytes(path), before);
        }
    }
}

TEST(SubjectImageReading, PathsAreUtf8) {
    TempFolder folder;
    const std::string path = folder.file("Ørsted Straße – 写真.png");
    ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 3, 3, 24).get(), FIF_PNG, path));
    TestHost host;
    host.inputs = {path};
    ImageBuffer buffer(&host);
    std::string error;
    ASSERT_TRUE(buffer.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
    EXPECT_EQ(buffer.bounds, (Rect{0, 0, 3, 3}));
}

}  // namespace
