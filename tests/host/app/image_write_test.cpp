// Writing results over subject images: round trips that keep format, depth, alpha, metadata and
// profile; the type negotiation for formats that cannot take the buffer as it is; and the
// failures that must leave the original byte for byte.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "tests/host/app/image_io_test_support.h"

namespace {

using namespace ImageIoTest;
using Mav::Host::App::workingProfileBytes;
using Mav::Host::App::writeConsumedImage;
using Mav::Host::App::writeSubjectImage;

// A result unlike the source: colours inverted, and alpha too where the buffer has it.
void invert(ImageBuffer& buffer) {
    const double full = buffer.bitsPerChannel == 32 ? 1.0 : buffer.maxChannelValue();
    for (int y = 0; y < buffer.bounds.y1; ++y)
        for (int x = 0; x < buffer.bounds.x1; ++x)
            for (int c = 0; c < (buffer.hasAlpha ? 4 : 3); ++c)
                setChannel(buffer, x, y, c, full - channel(buffer, x, y, c));
}

double largestDifference(const ImageBuffer& a, const ImageBuffer& b) {
    double largest = 0;
    for (int y = 0; y < a.bounds.y1; ++y)
        for (int x = 0; x < a.bounds.x1; ++x)
            for (int c = 0; c < 4; ++c)
                largest = std::max(largest, std::abs(channel(a, x, y, c) - channel(b, x, y, c)));
    return largest;
}

// Where a format keeps the text tag written below (a null key: it carries no metadata), the key
// the tag comes back under, and whether it carries an ICC profile that FreeImage reads back.
struct FormatMetadata {
    FREE_IMAGE_MDMODEL model;
    const char* key;
    const char* readKey;
    bool profile;
};

FormatMetadata metadataOf(FREE_IMAGE_FORMAT format) {
    switch (format) {
    case FIF_TIFF: return {FIMD_XMP, "XMLPacket", "XMLPacket", true};
    case FIF_PNG: return {FIMD_COMMENTS, "Comment", "Comment", false};
    case FIF_JPEG: return {FIMD_COMMENTS, "Comment", "Comment", true};
    case FIF_GIF: return {FIMD_COMMENTS, "Comment", "Comment0", false};
    default: return {FIMD_COMMENTS, nullptr, nullptr, false};
    }
}

struct RoundTrip {
    const char* name;
    const char* file;
    FREE_IMAGE_FORMAT format;
    FREE_IMAGE_TYPE type;
    int bitsPerPixel;
    double tolerance;  // largest channel difference after the round trip
};

TEST(SubjectImageWriting, RoundTripsKeepFormatDepthAlphaMetadataAndProfile) {
    const RoundTrip cases[] = {
        {"TIFF 8-bit", "rgb8.tif", FIF_TIFF, FIT_BITMAP, 24, 0},
        {"TIFF 8-bit alpha", "rgba8.tif", FIF_TIFF, FIT_BITMAP, 32, 0},
        {"TIFF 16-bit", "rgb16.tif", FIF_TIFF, FIT_RGB16, 48, 0},
        {"TIFF 16-bit alpha", "rgba16.tif", FIF_TIFF, FIT_RGBA16, 64, 0},
        {"TIFF float", "rgbf.tif", FIF_TIFF, FIT_RGBF, 96, 0},
        {"TIFF float alpha", "rgbaf.tif", FIF_TIFF, FIT_RGBAF, 128, 0},
        {"PNG 8-bit", "rgb8.png", FIF_PNG, FIT_BITMAP, 24, 0},
        {"PNG 8-bit alpha", "rgba8.png", FIF_PNG, FIT_BITMAP, 32, 0},
        {"PNG 16-bit", "rgb16.png", FIF_PNG, FIT_RGB16, 48, 0},
        {"PNG 16-bit alpha", "rgba16.png", FIF_PNG, FIT_RGBA16, 64, 0},
        {"JPEG", "flat.jpg", FIF_JPEG, FIT_BITMAP, 24, 4},
        {"BMP", "rgb8.bmp", FIF_BMP, FIT_BITMAP, 24, 0},
        {"Targa", "rgb8.tga", FIF_TARGA, FIT_BITMAP, 24, 0},
        {"Targa alpha", "rgba8.tga", FIF_TARGA, FIT_BITMAP, 32, 0},
        {"GIF", "palette.gif", FIF_GIF, FIT_BITMAP, 8, 12},
    };
    const std::vector<std::uint8_t> rgbProfile = makeRgbProfile("Wide test RGB");
    TempFolder folder;
    for (const RoundTrip& k : cases) {
        SCOPED_TRACE(k.name);
        const FormatMetadata m = metadataOf(k.format);
        const std::string path = folder.file(k.file);
        Bitmap fixture;
        if (k.format == FIF_JPEG) {
            // A flat colour, so that the comparison measures the round trip, not the codec.
            fixture.reset(FreeImage_Allocate(16, 8, 24));
            RGBQUAD colour{};
            colour.rgbRed = 230;
            colour.rgbGreen = 120;
            colour.rgbBlue = 20;
            FreeImage_FillBackground(fixture.get(), &colour);
        } else {
            fixture = makePattern(k.type, 7, 5, k.bitsPerPixel);
        }
        if (m.key)
            setTextTag(fixture.get(), m.model, m.key,
                       m.model == FIMD_XMP ? "<x:xmpmeta xmlns:x='adobe:ns:meta/'>kept</x:xmpmeta>"
                                           : "kept");
        if (m.profile)
            FreeImage_CreateICCProfile(fixture.get(), const_cast<std::uint8_t*>(rgbProfile.data()),
                                       static_cast<long>(rgbProfile.size()));
        ASSERT_TRUE(saveFixture(fixture.get(), k.format, path,
                                k.format == FIF_JPEG ? JPEG_QUALITYSUPERB : 0));

        TestHost host;
        host.inputs = {path};
        ImageBuffer result(&host);
        std::string error;
        ASSERT_TRUE(result.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
        invert(result);
        ASSERT_TRUE(result.saveResult(&error)) << error;
        EXPECT_EQ(folder.names().size(), std::size_t(std::distance(std::begin(cases), &k) + 1))
            << "no temporary file is left behind";

        EXPECT_EQ(FreeImage_GetFileType(path.c_str(), 0), k.format);
        const Bitmap written = loadPlain(path);
        ASSERT_TRUE(written);
        EXPECT_EQ(FreeImage_GetImageType(written.get()), k.type);
        EXPECT_EQ(FreeImage_GetBPP(written.get()), static_cast<unsigned>(k.bitsPerPixel));
        if (m.key) {
            EXPECT_NE(textTag(written.get(), m.model, m.readKey).find("kept"), std::string::npos);
        }
        if (m.profile) {
            const FIICCPROFILE* icc = FreeImage_GetICCProfile(written.get());
            EXPECT_EQ(profileDescription(icc->data, icc->size), "Wide test RGB");
        }
        if (k.format == FIF_TIFF) {
            EXPECT_EQ(tiffCompression(path), 5u) << "LZW";
            FITAG* stale = nullptr;
            EXPECT_FALSE(
                FreeImage_GetMetadata(FIMD_EXIF_MAIN, written.get(), "InterColorProfile", &stale));
        }

        ImageBuffer reread(&host);
        ASSERT_TRUE(reread.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
        EXPECT_EQ(reread.bitsPerChannel, result.bitsPerChannel);
        EXPECT_EQ(reread.hasAlpha, result.hasAlpha);
        EXPECT_LE(largestDifference(reread, result), k.tolerance);
        if (k.format == FIF_GIF) {
            // Quantised, not turned grey: the pattern's channels still differ.
            double spread = 0;
            for (int x = 0; x < 7; ++x)
                spread =
                    std::max(spread, std::abs(channel(reread, x, 2, 0) - channel(reread, x, 2, 1)));
            EXPECT_GT(spread, 100);
        }
    }
}

// A buffer of the given depth with a recognisable colour and, optionally, alpha.
void fillBuffer(ImageBuffer& buffer, int width, int height, int bits, bool alpha) {
    buffer.allocateSize(width, height, bits);
    buffer.hasAlpha = alpha;
    const double full = bits == 32 ? 1.0 : buffer.maxChannelValue();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            setChannel(buffer, x, y, 0, full * 0.8);
            setChannel(buffer, x, y, 1, full * 0.4);
            setChannel(buffer, x, y, 2, full * 0.1);
            setChannel(buffer, x, y, 3, full * 0.5);
        }
}

TEST(SubjectImageWriting, FormatsThatCannotTakeTheBufferGetTheNearestTheyStore) {
    TempFolder folder;
    struct Case {
        const char* name;
        const char* file;
        FREE_IMAGE_FORMAT format;
        int bits;
        bool alpha;
        FREE_IMAGE_TYPE type;  // expected in the written file
        unsigned bitsPerPixel;
    } cases[] = {
        {"16-bit result over JPEG", "deep.jpg", FIF_JPEG, 16, false, FIT_BITMAP, 24},
        {"8-bit opaque result over a 32-bit PNG", "opaque.png", FIF_PNG, 8, false, FIT_BITMAP, 24},
        {"16-bit alpha result over TIFF", "alpha16.tif", FIF_TIFF, 16, true, FIT_RGBA16, 64},
        {"float result over PNG", "float.png", FIF_PNG, 32, false, FIT_BITMAP, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string path = folder.file(k.file);
        ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 6, 4, k.format == FIF_JPEG ? 24 : 32).get(),
                                k.format, path));
        const std::vector<std::uint8_t> before = fileBytes(path);
        ImageBuffer buffer(nullptr);
        fillBuffer(buffer, 6, 4, k.bits, k.alpha);
        std::string message;
        const bool written = writeSubjectImage(buffer, path, message);
        if (k.bitsPerPixel == 0) {
            // FreeImage has no way from float to 8 bits: refused, the file as it was.
            EXPECT_FALSE(written);
            EXPECT_NE(message.find("cannot be converted"), std::string::npos) << message;
            EXPECT_EQ(fileBytes(path), before);
            continue;
        }
        ASSERT_TRUE(written) << message;
        const Bitmap reloaded = loadPlain(path);
        EXPECT_EQ(FreeImage_GetImageType(reloaded.get()), k.type);
        EXPECT_EQ(FreeImage_GetBPP(reloaded.get()), k.bitsPerPixel);
        TestHost host;
        host.inputs = {path};
        ImageBuffer reread(&host);
        ASSERT_TRUE(reread.loadInput(0, Rect{}, 1.0f, true));
        const double scale = reread.bitsPerChannel == 8 ? 255 : 65535;
        EXPECT_NEAR(channel(reread, 2, 1, 0) / scale, 0.8, 0.02);
        EXPECT_NEAR(channel(reread, 2, 1, 2) / scale, 0.1, 0.02);
    }
}

TEST(SubjectImageWriting, TheWorkingProfileIsEmbeddedOnlyForPixelsConvertedIntoIt) {
    TempFolder folder;
    const std::vector<std::uint8_t> cmykProfile = makeCmykProfile();
    const std::vector<std::uint8_t> rgbProfile = makeRgbProfile("Wide test RGB");

    // CMYK in, converted on reading: the result is RGB in the working profile.
    const std::string press = folder.file("press.tif");
    {
        Bitmap cmyk(FreeImage_Allocate(4, 3, 32));
        FreeImage_CreateICCProfile(cmyk.get(), const_cast<std::uint8_t*>(cmykProfile.data()),
                                   static_cast<long>(cmykProfile.size()));
        FreeImage_GetICCProfile(cmyk.get())->flags |= FIICC_COLOR_IS_CMYK;
        ASSERT_TRUE(saveFixture(cmyk.get(), FIF_TIFF, press));
    }
    // Float with its own RGB profile, read unconverted: the profile stays.
    const std::string linear = folder.file("linear.tif");
    {
        Bitmap floats = makePattern(FIT_RGBF, 4, 3, 96);
        FreeImage_CreateICCProfile(floats.get(), const_cast<std::uint8_t*>(rgbProfile.data()),
                                   static_cast<long>(rgbProfile.size()));
        ASSERT_TRUE(saveFixture(floats.get(), FIF_TIFF, linear));
    }
    // No profile at all: none is added.
    const std::string plain = folder.file("plain.tif");
    ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 4, 3, 24).get(), FIF_TIFF, plain));

    for (const std::string& path : {press, linear, plain}) {
        SCOPED_TRACE(path);
        TestHost host;
        host.inputs = {path};
        ImageBuffer result(&host);
        std::string error;
        ASSERT_TRUE(result.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
        ASSERT_TRUE(result.saveResult(&error)) << error;
        const Bitmap written = loadPlain(path, TIFF_CMYK);
        const FIICCPROFILE* icc = FreeImage_GetICCProfile(written.get());
        EXPECT_EQ(icc->flags & FIICC_COLOR_IS_CMYK, 0) << "the result is RGB";
        if (path == press) {
            EXPECT_EQ(FreeImage_GetBPP(written.get()), 24u);
            ASSERT_EQ(static_cast<std::size_t>(icc->size), workingProfileBytes().size());
            EXPECT_EQ(
                std::memcmp(icc->data, workingProfileBytes().data(), workingProfileBytes().size()),
                0);
        } else if (path == linear) {
            EXPECT_EQ(FreeImage_GetImageType(written.get()), FIT_RGBF);
            EXPECT_EQ(profileDescription(icc->data, icc->size), "Wide test RGB");
        } else {
            EXPECT_EQ(icc->size, 0);
        }
    }
}

// Noise compresses badly, so the new file is as large as its pixels.
Bitmap noise(int width, int height) {
    Bitmap bitmap(FreeImage_Allocate(width, height, 24));
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap.get(), y);
        for (int x = 0; x < width * 3; ++x) line[x] = static_cast<BYTE>(random());
    }
    return bitmap;
}

TEST(SubjectImageWriting, RefusedAndFailedWritesLeaveTheOriginalByteForByte) {
    TempFolder folder;
    ImageBuffer result(nullptr);
    fillBuffer(result, 64, 48, 8, false);

    // Not writable for its owner: refused even where the process could replace it (root).
    const std::string locked = folder.file("locked.png");
    ASSERT_TRUE(saveFixture(noise(64, 48).get(), FIF_PNG, locked));
    ::chmod(locked.c_str(), 0444);
    // Not an image of its own type: may be a picture this program does not understand.
    const std::string garbage = folder.file("garbage.png");
    writeBytes(garbage, std::vector<std::uint8_t>(500, 0x33));

    struct Case {
        std::string path;
        const char* words;
    } cases[] = {
        {locked, "read-only"},
        {garbage, "cannot be read as its own type"},
        {folder.file("missing-folder/result.png"), "temporary file cannot be created"},
        {folder.file("unwritable.pcx"), "cannot be written"},
        {folder.file("unknown.qqq"), "not recognised"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.path);
        const bool existed = std::filesystem::exists(k.path);
        const std::vector<std::string> names = folder.names();
        const std::vector<std::uint8_t> before =
            existed ? fileBytes(k.path) : std::vector<std::uint8_t>{};
        std::string message;
        EXPECT_FALSE(writeSubjectImage(result, k.path, message));
        EXPECT_NE(message.find("\"" + k.path + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(k.words), std::string::npos) << message;
        EXPECT_EQ(std::filesystem::exists(k.path), existed);
        if (existed) {
            EXPECT_EQ(fileBytes(k.path), before);
        }
        EXPECT_EQ(folder.names(), names) << "no temporary file is left behind";
    }
    EXPECT_EQ(modeOf(locked), 0444u);
}

// Reading takes a file's first picture only, so writing the result over a file of several would
// drop the rest for good.  Such files are refused and keep every byte; the first picture can
// still be read (the preview shows it), and a file of one picture written by the same page
// writer is replaced as any other.
TEST(SubjectImageWriting, FilesOfSeveralPagesOrFramesAreRefusedAndKeptWhole) {
    struct Case {
        const char* name;
        const char* file;
        FREE_IMAGE_FORMAT format;
        int bitsPerPixel;
        int pages;
        double tolerance;  // of the round trip of a one-picture file
    } cases[] = {
        {"two-page TIFF", "pages.tif", FIF_TIFF, 24, 2, 0},
        {"two-frame GIF", "frames.gif", FIF_GIF, 8, 2, 0},
        {"icon with two pictures", "icons.ico", FIF_ICO, 32, 2, 0},
        {"one-page TIFF from the page writer", "one.tif", FIF_TIFF, 24, 1, 0},
        {"one-frame GIF from the page writer", "one.gif", FIF_GIF, 8, 1, 12},
    };
    TempFolder folder;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string path = folder.file(k.file);
        saveSeveralPages(k.format, path, k.bitsPerPixel, k.pages);
        if (::testing::Test::HasFatalFailure()) return;
        const std::vector<std::uint8_t> before = fileBytes(path);
        const std::vector<std::string> names = folder.names();

        TestHost host;
        host.inputs = {path};
        ImageBuffer result(&host);
        std::string error;
        ASSERT_TRUE(result.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
        EXPECT_EQ(result.bounds, (Rect{0, 0, 16, 16}));
        invert(result);
        const bool written = result.saveResult(&error);
        EXPECT_EQ(folder.names(), names) << "no temporary file is left behind";
        if (k.pages > 1) {
            EXPECT_FALSE(written);
            EXPECT_EQ(error, "\"" + path +
                                 "\" has several pages; Vantrelo keys only single images and left "
                                 "it unchanged.");
            EXPECT_EQ(fileBytes(path), before);

            host.previewMode = true;
            host.previewFlag = true;
            ImageBuffer preview(&host);
            EXPECT_TRUE(preview.loadInput(0, Rect{}, 0.5f, true, &error)) << error;
        } else {
            ASSERT_TRUE(written) << error;
            EXPECT_EQ(FreeImage_GetFileType(path.c_str(), 0), k.format);
            ImageBuffer reread(&host);
            ASSERT_TRUE(reread.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
            EXPECT_LE(largestDifference(reread, result), k.tolerance);
        }
    }
}

// Runs `write` in a child whose files may not grow past `limit` bytes and that ignores SIGXFSZ,
// so that the write fails part way with EFBIG.  Returns the child's exit code: 0 when the write
// reported a failure that names the file, 1 when it claimed success, 2 otherwise.
template <class Write>
int writeWithFileSizeLimit(rlim_t limit, const std::string& path, Write write) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0) ::_exit(3);
        std::string message;
        const bool written = write(message);
        ::_exit(written ? 1
                : message.find(path) != std::string::npos &&
                        message.find("writing failed") != std::string::npos
                    ? 0
                    : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SubjectImageWriting, AFileSizeLimitHitMidWriteFailsTheWriteAndKeepsTheOriginal) {
    TempFolder folder;
    // PNG is the format whose encoder ignores failed writes; TIFF seeks while it writes.
    for (const auto& [name, format] :
         {std::pair{"limit.png", FIF_PNG}, std::pair{"limit.tif", FIF_TIFF},
          std::pair{"limit.jpg", FIF_JPEG}}) {
        SCOPED_TRACE(name);
        const std::string path = folder.file(name);
        ASSERT_TRUE(saveFixture(noise(96, 64).get(), format, path));
        const std::vector<std::uint8_t> before = fileBytes(path);
        const std::vector<std::string> names = folder.names();
        TestHost host;
        host.inputs = {path};
        ImageBuffer result(&host);
        ASSERT_TRUE(result.loadInput(0, Rect{}, 1.0f, true));
        invert(result);
        EXPECT_EQ(
            writeWithFileSizeLimit(
                4096, path, [&](std::string& message) { return result.saveResult(&message); }),
            0);
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_EQ(folder.names(), names) << "no temporary file is left behind";
    }
}

TEST(SubjectImageWriting, ReplacementKeepsPermissionsLinksAndUtf8Names) {
    TempFolder folder;
    const std::string path = folder.file("Ørsted Straße – 写真.png");
    ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 5, 4, 24).get(), FIF_PNG, path));
    ::chmod(path.c_str(), 0640);
    const std::string link = folder.file("link.png");
    std::filesystem::create_symlink(path, link);

    TestHost host;
    host.inputs = {link};
    ImageBuffer result(&host);
    std::string error;
    ASSERT_TRUE(result.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
    invert(result);
    ASSERT_TRUE(result.saveResult(&error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(modeOf(path), 0640u);
    ImageBuffer reread(&host);
    ASSERT_TRUE(reread.loadInput(0, Rect{}, 1.0f, true, &error)) << error;
    EXPECT_EQ(largestDifference(reread, result), 0);
    EXPECT_EQ(folder.names().size(), 2u);

    // Written by root, another user's picture stays that user's, with its set-group bit.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 4242, 4343), 0);
        ::chmod(path.c_str(), 02640);
        invert(result);
        ASSERT_TRUE(result.saveResult(&error)) << error;
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, 4242u);
        EXPECT_EQ(status.st_gid, 4343u);
        EXPECT_EQ(status.st_mode & 07777, 02640u);
    }
}

}  // namespace

namespace {

// A result buffer holding makePattern's pixels, so that FreeImage can encode the very same
// picture for comparison.
void patternBuffer(ImageBuffer& buffer, int width, int height, int bits, bool alpha) {
    buffer.allocateSize(width, height, bits);
    buffer.hasAlpha = alpha;
    const double full = buffer.maxChannelValue();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                setChannel(buffer, x, y, c, c < 3 || alpha ? patternValue(x, y, c) * full : full);
}

// The quality of the IJG scaling that gives the first quantisation table (the luminance one) of
// the file's JPEG stream (all of a JPEG file, a chunk of a JNG); 0 when no quality gives it.
int jpegQuality(const std::vector<std::uint8_t>& bytes) {
    static const int kLuminance[64] = {
        16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static const int kZigzag[64] = {
        0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
        30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    // Markers from the start of image to the first DQT, whose table 0 holds 8-bit entries.
    const std::uint8_t startOfImage[] = {0xFF, 0xD8, 0xFF};
    std::size_t at = static_cast<std::size_t>(
        std::search(bytes.begin(), bytes.end(), std::begin(startOfImage), std::end(startOfImage)) -
        bytes.begin());
    at += 2;
    while (at + 4 <= bytes.size() && bytes[at] == 0xFF) {
        const std::size_t length = bytes[at + 2] << 8 | bytes[at + 3];
        if (bytes[at + 1] == 0xDB) {
            if (at + 5 + 64 > bytes.size() || bytes[at + 4] != 0) return 0;
            const std::uint8_t* table = &bytes[at + 5];
            for (int quality = 1; quality <= 100; ++quality) {
                const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
                bool same = true;
                for (int i = 0; i < 64 && same; ++i)
                    same = table[i] ==
                           std::clamp((kLuminance[kZigzag[i]] * scale + 50) / 100, 1, 255);
                if (same) return quality;
            }
            return 0;
        }
        at += 2 + length;
    }
    return 0;
}

// Whether two bitmaps of the same shape hold the same pixel bytes.
bool samePixels(FIBITMAP* a, FIBITMAP* b) {
    if (FreeImage_GetWidth(a) != FreeImage_GetWidth(b) ||
        FreeImage_GetHeight(a) != FreeImage_GetHeight(b) ||
        FreeImage_GetBPP(a) != FreeImage_GetBPP(b))
        return false;
    const unsigned rowBytes = FreeImage_GetWidth(a) * FreeImage_GetBPP(a) / 8;
    for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y)
        if (std::memcmp(FreeImage_GetScanLine(a, static_cast<int>(y)),
                        FreeImage_GetScanLine(b, static_cast<int>(y)), rowBytes) != 0)
            return false;
    return true;
}

// A result the batch is done with is written as the same file as one it keeps, tall enough that
// its rows are given back in several runs as they are copied, which leave it read as zeros.
TEST(SubjectImageWriting, AConsumedResultWritesTheSameFileAndIsGivenBackAsItIsCopied) {
    TempFolder folder;
    const struct Case {
        const char* file;
        FREE_IMAGE_FORMAT format;
        int bits;
        bool alpha;
    } cases[] = {{"kept.png", FIF_PNG, 8, true},
                 {"kept.jpg", FIF_JPEG, 8, false},
                 {"kept16.tif", FIF_TIFF, 16, false},
                 {"keptF.tif", FIF_TIFF, 32, true}};
    constexpr int kW = 203, kH = 611;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        const std::string kept = folder.file(k.file);
        const std::string consumed = folder.file(std::string("consumed-") + k.file);
        for (const std::string& path : {kept, consumed})
            ASSERT_TRUE(saveFixture(
                makePattern(FIT_BITMAP, 9, 7, k.format == FIF_JPEG ? 24 : 32).get(), k.format,
                path));
        ImageBuffer buffer(nullptr);
        patternBuffer(buffer, kW, kH, k.bits, k.alpha);
        std::string message;
        ASSERT_TRUE(writeSubjectImage(buffer, kept, message)) << message;
        bool taken = false;
        ASSERT_TRUE(writeConsumedImage(buffer, consumed, message, [&] { taken = true; }))
            << message;
        EXPECT_TRUE(taken);
        EXPECT_EQ(fileBytes(consumed), fileBytes(kept));
        // A row well inside the buffer, away from the pages it shares with its neighbours.
        const std::uint8_t* row = buffer.pixelAddress(0, kH / 2);
        EXPECT_TRUE(
            std::all_of(row, row + buffer.rowBytes, [](std::uint8_t b) { return b == 0; }));
    }
}

// The batch's writer keeps the block the encoder's copy is made in from one write to the next.
// Each file must still be what a write of its result alone gives: a second result of the same byte
// count but narrower rows finds the first one's pixels where its own rows now end (BMP stores those
// bytes), and a result of another size gets a block of its own.
TEST(SubjectImageWriting, AKeptEncoderBlockGivesEveryFileAFreshWriteWouldGive) {
    TempFolder folder;
    const struct Case {
        const char* file;
        FREE_IMAGE_FORMAT format;
        int width, height;
    } cases[] = {{"wide.bmp", FIF_BMP, 16, 4},   // 48-byte rows
                 {"narrow.bmp", FIF_BMP, 5, 12},  // 15 bytes of pixels in 16-byte rows
                 {"again.bmp", FIF_BMP, 5, 12},
                 {"other.jpg", FIF_JPEG, 203, 61}};
    Mav::Host::App::EncoderBlock kept;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        const std::string alone = folder.file(std::string("alone-") + k.file);
        const std::string reused = folder.file(k.file);
        for (const std::string& path : {alone, reused})
            ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 9, 7, 24).get(), k.format, path));
        ImageBuffer buffer(nullptr);
        patternBuffer(buffer, k.width, k.height, 8, false);
        std::string message;
        ASSERT_TRUE(writeSubjectImage(buffer, alone, message)) << message;
        ASSERT_TRUE(writeConsumedImage(buffer, reused, message, {}, &kept)) << message;
        EXPECT_EQ(fileBytes(reused), fileBytes(alone));
        EXPECT_TRUE(kept.memory);
    }
}

TEST(SubjectImageWriting, JpegStreamsAreWrittenAtQuality95WhateverQualityTheyHad) {
    TempFolder folder;
    for (const auto& [file, format] :
         {std::pair{"photo.jpg", FIF_JPEG}, std::pair{"photo.jng", FIF_JNG}}) {
        for (int sourceQuality : {50, 100}) {
            SCOPED_TRACE(std::string(file) + " " + std::to_string(sourceQuality));
            const std::string path = folder.file(file);
            ASSERT_TRUE(saveFixture(makePattern(FIT_BITMAP, 37, 23, 24).get(), format, path,
                                    sourceQuality));
            ASSERT_EQ(jpegQuality(fileBytes(path)), sourceQuality)
                << "the estimate reads the fixture";
            ImageBuffer result(nullptr);
            patternBuffer(result, 37, 23, 8, false);
            std::string message;
            ASSERT_TRUE(writeSubjectImage(result, path, message)) << message;
            EXPECT_EQ(FreeImage_GetFileType(path.c_str(), 0), format);
            EXPECT_EQ(jpegQuality(fileBytes(path)), 95);
        }
    }
}

// A lossy picture is written at quality 95: it decodes to what FreeImage's own encoding of the
// same pixels at 95 decodes to, not to the one at 75.  A lossless picture stays lossless.
TEST(SubjectImageWriting, AWebPKeepsItsKindAndALossyOneIsWrittenAtQuality95) {
    TempFolder folder;
    const int width = 61, height = 43;
    const Bitmap pattern = makePattern(FIT_BITMAP, width, height, 24);
    const std::string at95 = folder.file("reference95.webp");
    const std::string at75 = folder.file("reference75.webp");
    ASSERT_TRUE(saveFixture(pattern.get(), FIF_WEBP, at95, 95));
    ASSERT_TRUE(saveFixture(pattern.get(), FIF_WEBP, at75, 75));
    const Bitmap decoded95 = loadPlain(at95);
    const Bitmap decoded75 = loadPlain(at75);
    ASSERT_FALSE(samePixels(decoded95.get(), decoded75.get())) << "the qualities can be told apart";

    struct Case {
        const char* name;
        int sourceFlags;
        const char* chunk;  // the written picture's first image chunk
    } cases[] = {{"lossy", 75, "VP8 "}, {"lossless", WEBP_LOSSLESS, "VP8L"}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string path = folder.file(std::string(k.name) + ".webp");
        Bitmap source = makePattern(FIT_BITMAP, width, height, 24);
        FreeImage_Invert(source.get());
        ASSERT_TRUE(saveFixture(source.get(), FIF_WEBP, path, k.sourceFlags));
        ImageBuffer result(nullptr);
        patternBuffer(result, width, height, 8, false);
        std::string message;
        ASSERT_TRUE(writeSubjectImage(result, path, message)) << message;

        const std::vector<std::uint8_t> bytes = fileBytes(path);
        ASSERT_GT(bytes.size(), 16u);
        EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), k.chunk);
        const Bitmap written = loadPlain(path);
        ASSERT_TRUE(written);
        if (std::string(k.chunk) == "VP8L") {
            EXPECT_TRUE(samePixels(written.get(), pattern.get()));
        } else {
            EXPECT_TRUE(samePixels(written.get(), decoded95.get()));
            EXPECT_EQ(bytes.size(), fileBytes(at95).size());
        }
    }
}

TEST(SubjectImageWriting, JpegTwoThousandIsWrittenWithoutLoss) {
    struct Case {
        const char* file;
        FREE_IMAGE_FORMAT format;
        int bits;
        bool alpha;
        FREE_IMAGE_TYPE type;
        int bitsPerPixel;
    } cases[] = {
        {"stream.j2k", FIF_J2K, 8, false, FIT_BITMAP, 24},
        {"boxed.jp2", FIF_JP2, 8, true, FIT_BITMAP, 32},
        {"deep.jp2", FIF_JP2, 16, false, FIT_RGB16, 48},
        {"deep.j2k", FIF_J2K, 16, true, FIT_RGBA16, 64},
    };
    TempFolder folder;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        const std::string path = folder.file(k.file);
        // Written at the library's default rate, so the fixture itself has lost detail.  Sides
        // under 32 pixels are too small for its wavelet levels.
        ASSERT_TRUE(saveFixture(makePattern(k.type, 70, 45, k.bitsPerPixel).get(), k.format, path));
        ImageBuffer result(nullptr);
        patternBuffer(result, 70, 45, k.bits, k.alpha);
        std::string message;
        ASSERT_TRUE(writeSubjectImage(result, path, message)) << message;

        const Bitmap written = loadPlain(path);
        ASSERT_TRUE(written);
        ASSERT_EQ(FreeImage_GetImageType(written.get()), k.type);
        ASSERT_EQ(FreeImage_GetBPP(written.get()), static_cast<unsigned>(k.bitsPerPixel));
        EXPECT_TRUE(samePixels(written.get(), makePattern(k.type, 70, 45, k.bitsPerPixel).get()));
    }
}

}  // namespace
