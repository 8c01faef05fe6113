// Damaged subject images: files that crash or hang the image library, and files shorter than
// their header promises.  Decoding runs in the helper program, so this test program survives
// every one of them, and no damaged file is read as a picture or written over.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/host/app/image_fixture_bytes.h"
#include "tests/host/app/image_io_test_support.h"

namespace {

using namespace ImageIoTest;
using Mav::Host::App::writeSubjectImage;

std::vector<std::uint8_t> encoded(const Bitmap& bitmap, FREE_IMAGE_FORMAT format, int flags = 0) {
    return encodedBytes(bitmap.get(), format, flags);
}

std::vector<std::uint8_t> prefix(const std::vector<std::uint8_t>& bytes, std::size_t length) {
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)};
}

// A buffer holding a known picture, to show that a refused read leaves it alone.
void fillKnown(ImageBuffer& buffer) {
    buffer.allocateSize(3, 2, 8);
    for (int i = 0; i < 24; ++i) buffer.firstPixel[i] = static_cast<std::uint8_t>(i * 7 + 1);
}

bool stillKnown(const ImageBuffer& buffer) {
    if (buffer.bounds != (Rect{0, 0, 3, 2}) || buffer.bitsPerChannel != 8 || !buffer.firstPixel)
        return false;
    for (int i = 0; i < 24; ++i)
        if (buffer.firstPixel[i] != static_cast<std::uint8_t>(i * 7 + 1)) return false;
    return true;
}

// Reads `path` as the current input (and, with `probeToo`, its header alone); the read must be
// refused as damaged, naming the file, with the buffer and the host as they were.
void expectRefusedAsDamaged(const std::string& path, const char* because, bool probeToo) {
    for (const bool pixels : {true, false}) {
        if (!pixels && !probeToo) continue;
        SCOPED_TRACE(pixels ? "pixel read" : "header probe");
        TestHost host;
        host.inputs = {path};
        ImageBuffer buffer(&host);
        fillKnown(buffer);
        std::string error;
        EXPECT_FALSE(buffer.loadInput(0, Rect{}, 1.0f, pixels, &error));
        EXPECT_NE(error.find("\"" + path + "\""), std::string::npos) << error;
        EXPECT_NE(error.find("damaged or incomplete"), std::string::npos) << error;
        EXPECT_NE(error.find(because), std::string::npos) << error;
        EXPECT_TRUE(stillKnown(buffer));
        EXPECT_EQ(host.recordCalls, 0);
        EXPECT_EQ(host.profileCalls, 0);
    }
}

TEST(DamagedSubjectImages, FilesThatCrashOrHangTheImageLibraryAreDamagedAndNothingIsWritten) {
    TempFolder folder;
    // A PSD that claims 252 channels: FreeImage's reader runs off its buffers (SIGSEGV).
    std::vector<std::uint8_t> psd = encoded(makePattern(FIT_BITMAP, 23, 17, 24), FIF_PSD);
    ASSERT_GT(psd.size(), 26u);
    psd[12] = 0;
    psd[13] = 252;
    const std::string crashing = folder.file("channels.psd");
    writeBytes(crashing, psd);
    const std::string hanging = folder.file("header.exr");
    writeBytes(hanging, loopingExr());

    {
        // A crash is told as one however long the checked build, busy, takes to report it.
        const ScopedDecodeTimes patient({.header = std::chrono::milliseconds(30'000),
                                         .base = std::chrono::milliseconds(30'000)});
        // Its header alone is read without harm.
        expectRefusedAsDamaged(crashing, "decoding it crashed", false);
    }
    // Long enough for a small fixture under the sanitizer on a busy machine, short enough that a
    // decoder that never ends costs the test little.
    const ScopedDecodeTimes shortTimes({.header = std::chrono::milliseconds(1500),
                                        .base = std::chrono::milliseconds(1500)});
    const auto start = std::chrono::steady_clock::now();
    expectRefusedAsDamaged(hanging, "decoding it took longer than 1.5 seconds", true);
    // Two reads, each given up after 1.5 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));

    // The writer reads the old file's header for its metadata: a file whose header reader never
    // returns is not replaced.
    TestHost host;
    ImageBuffer result(&host);
    result.allocateSize(23, 17, 8);
    std::memset(result.firstPixel, 90, static_cast<std::size_t>(result.rowBytes * 17));
    const std::vector<std::uint8_t> before = fileBytes(hanging);
    std::string message;
    EXPECT_FALSE(writeSubjectImage(result, hanging, message));
    EXPECT_NE(message.find("\"" + hanging + "\""), std::string::npos) << message;
    EXPECT_EQ(fileBytes(hanging), before);
    EXPECT_EQ(folder.names().size(), 2u) << "no temporary file is left behind";
}

// Reads `whole`, which must be read, then `damaged` (unless it is empty) into the same buffer,
// which must be refused with the buffer as it was; both as files of the given extension.
// Returns the refusal.
std::string readWholeThenDamaged(const TempFolder& folder, const std::string& extension,
                                 const std::vector<std::uint8_t>& whole,
                                 const std::vector<std::uint8_t>& damaged) {
    EXPECT_FALSE(whole.empty());
    const std::string wholePath = folder.file("whole." + extension);
    const std::string damagedPath = folder.file("damaged." + extension);
    writeBytes(wholePath, whole);
    writeBytes(damagedPath, damaged);
    TestHost host;
    host.inputs = {wholePath, damagedPath};
    ImageBuffer buffer(&host);
    std::string error;
    EXPECT_TRUE(buffer.loadInput(2, Rect{}, 1.0f, true, &error)) << error;
    if (damaged.empty()) return "";
    fillKnown(buffer);
    error.clear();
    EXPECT_FALSE(buffer.loadInput(3, Rect{}, 1.0f, true, &error));
    EXPECT_TRUE(stillKnown(buffer));
    return error;
}

// A 1-bit picture for the bilevel formats.
Bitmap bilevel(int width, int height) {
    const Bitmap colour = makePattern(FIT_BITMAP, width, height, 24);
    return Bitmap(FreeImage_Threshold(colour.get(), 128));
}

Bitmap grey(int width, int height) {
    const Bitmap colour = makePattern(FIT_BITMAP, width, height, 24);
    return Bitmap(FreeImage_ConvertToGreyscale(colour.get()));
}

TEST(DamagedSubjectImages, FilesShorterThanTheirHeaderPromisesAreRefused) {
    const ScopedDecodeTimes shortTimes({.header = std::chrono::milliseconds(5000),
                                        .base = std::chrono::milliseconds(5000)});
    TempFolder folder;
    struct Case {
        const char* name;  // also the files' extension: WBMP has no signature
        std::vector<std::uint8_t> whole;
        std::size_t length;  // of the cut file
    };
    std::vector<Case> cases;
    // A header for 8 x 8 colour pixels followed by 40 of their 192 bytes.
    const std::string ppmHeader = "P6\n8 8\n255\n";
    std::vector<std::uint8_t> ppm(ppmHeader.begin(), ppmHeader.end());
    for (int i = 0; i < 192; ++i) ppm.push_back(static_cast<std::uint8_t>(i * 13));
    cases.push_back({"ppm", ppm, ppmHeader.size() + 40});
    const auto cutAt = [](const std::vector<std::uint8_t>& bytes, double fraction) {
        return static_cast<std::size_t>(static_cast<double>(bytes.size()) * fraction);
    };
    const std::vector<std::uint8_t> ascii = encoded(grey(13, 9), FIF_PGM);
    cases.push_back({"pgm", ascii, cutAt(ascii, 0.7)});
    const std::vector<std::uint8_t> raw = encoded(grey(13, 9), FIF_PGMRAW);
    cases.push_back({"pgm", raw, cutAt(raw, 0.8)});
    const std::vector<std::uint8_t> wbmp = encoded(bilevel(40, 9), FIF_WBMP);
    cases.push_back({"wbmp", wbmp, wbmp.size() - 3});
    const std::vector<std::uint8_t> exr =
        encoded(makePattern(FIT_RGBAF, 23, 17, 128), FIF_EXR, EXR_NONE);
    cases.push_back({"exr", exr, exr.size() - 100});
    // The icon's transparency mask comes last; a colour picture is read without it.
    const std::vector<std::uint8_t> icon = encoded(makePattern(FIT_BITMAP, 16, 16, 32), FIF_ICO);
    cases.push_back({"ico", icon, icon.size() - 20});
    // The last pixel row of an XPM loses its last pixel and the text after it.
    const std::vector<std::uint8_t> xpm = encoded(makePattern(FIT_BITMAP, 23, 17, 24), FIF_XPM);
    std::vector<std::uint8_t> shortRow = xpm;
    const std::string text(xpm.begin(), xpm.end());
    const std::size_t lastRowEnd = text.rfind('"');
    ASSERT_NE(lastRowEnd, std::string::npos);
    shortRow.erase(shortRow.begin() + static_cast<std::ptrdiff_t>(lastRowEnd) - 2,
                   shortRow.begin() + static_cast<std::ptrdiff_t>(lastRowEnd));
    cases.push_back({"xpm", xpm, 0});
    const std::vector<std::uint8_t> psd = encoded(makePattern(FIT_RGBA16, 23, 17, 64), FIF_PSD);
    cases.push_back({"psd", psd, cutAt(psd, 0.9)});

    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string error = readWholeThenDamaged(
            folder, k.name, k.whole, k.length == 0 ? shortRow : prefix(k.whole, k.length));
        EXPECT_NE(error.find("damaged or incomplete"), std::string::npos) << error;
    }
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

void putLittle(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A 64 x 16 BMP of two colours in RLE8, one run a row: 64 bytes of pixels where the raw rows
// would take 1024.  (FreeImage's own RLE8 writer gives files its reader refuses.)
std::vector<std::uint8_t> runLengthBitmap() {
    std::vector<std::uint8_t> bytes(62, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    putLittle(bytes, 10, 62, 4);  // pixels after the headers and two palette entries
    putLittle(bytes, 14, 40, 4);
    putLittle(bytes, 18, 64, 4);
    putLittle(bytes, 22, 16, 4);
    putLittle(bytes, 26, 1, 2);
    putLittle(bytes, 28, 8, 2);
    putLittle(bytes, 30, 1, 4);  // BI_RLE8
    putLittle(bytes, 46, 2, 4);  // colours used
    const std::uint8_t palette[8] = {200, 40, 10, 0, 30, 90, 250, 0};
    std::copy(palette, palette + 8, bytes.begin() + 54);
    // FreeImage refuses an end of line after the last row: the end of the picture follows it.
    for (int row = 0; row < 16; ++row) {
        bytes.insert(bytes.end(), {64, static_cast<std::uint8_t>(row % 2)});
        if (row < 15) bytes.insert(bytes.end(), {0, 0});
    }
    bytes.insert(bytes.end(), {0, 1});
    putLittle(bytes, 34, static_cast<std::uint32_t>(bytes.size() - 62), 4);
    putLittle(bytes, 2, static_cast<std::uint32_t>(bytes.size()), 4);
    return bytes;
}

TEST(DamagedSubjectImages, UncompressedRastersLongerThanTheFileAreRefusedBeforeTheyAreAllocated) {
    TempFolder folder;
    struct Case {
        const char* name;
        const char* extension;
        std::vector<std::uint8_t> whole;
        std::vector<std::uint8_t> damaged;  // empty: a compressed layout, the whole file only
    };
    std::vector<Case> cases;
    const auto cut = [](std::vector<std::uint8_t> bytes, std::size_t by) {
        bytes.resize(bytes.size() - by);
        return bytes;
    };
    // 768 bytes that declare 13,959,200 x 24 pixels of 24 bits: a gigabyte.
    const std::vector<std::uint8_t> bmp = encoded(makePattern(FIT_BITMAP, 23, 17, 24), FIF_BMP);
    std::vector<std::uint8_t> giant = bmp;
    putLittle(giant, 18, 13'959'200, 4);
    putLittle(giant, 22, 24, 4);
    giant.resize(768);
    cases.push_back({"BMP, true colour", "bmp", bmp, giant});
    const Bitmap pattern16(FreeImage_ConvertTo16Bits565(makePattern(FIT_BITMAP, 23, 17, 24).get()));
    const std::vector<std::uint8_t> bitfields = encoded(pattern16, FIF_BMP);
    cases.push_back({"BMP, 16-bit bit fields", "bmp", bitfields, cut(bitfields, 1)});
    cases.push_back({"BMP, run-length", "bmp", runLengthBitmap(), {}});
    // Targa keeps a footer after the pixels: the header promises more rows or columns instead.
    const std::vector<std::uint8_t> tga = encoded(makePattern(FIT_BITMAP, 23, 17, 24), FIF_TARGA);
    std::vector<std::uint8_t> tall = tga;
    putLittle(tall, 14, 60'000, 2);
    cases.push_back({"Targa, true colour", "tga", tga, tall});
    const std::vector<std::uint8_t> mapped =
        encoded(makePattern(FIT_BITMAP, 23, 17, 8), FIF_TARGA);
    std::vector<std::uint8_t> wide = mapped;
    putLittle(wide, 12, 60'000, 2);
    cases.push_back({"Targa, colour-mapped", "tga", mapped, wide});
    cases.push_back({"Targa, run-length", "tga",
                     encoded(makePattern(FIT_BITMAP, 23, 17, 24), FIF_TARGA, TARGA_SAVE_RLE), {}});
    // 5 x 3 pixels of three 16-bit samples, a comment in the header.
    std::vector<std::uint8_t> ppm16 = bytesOf("P6\n# by hand\n5 3\n65535\n");
    for (int i = 0; i < 90; ++i) ppm16.push_back(static_cast<std::uint8_t>(i * 29 + 3));
    cases.push_back({"PPM, raw 16-bit", "ppm", ppm16, cut(ppm16, 1)});
    const std::vector<std::uint8_t> pbm = encoded(bilevel(13, 9), FIF_PBMRAW);
    cases.push_back({"PBM, raw", "pbm", pbm, cut(pbm, 1)});
    std::string samples;
    for (int i = 0; i < 12; ++i) samples += std::to_string(i * 21 + 4) + (i % 4 == 3 ? "\n" : " ");
    cases.push_back({"PGM, text", "pgm", bytesOf("P2\n4 3\n255\n" + samples),
                     bytesOf("P2\n4 300\n255\n" + samples)});
    const std::vector<std::uint8_t> pfm = encoded(makePattern(FIT_RGBF, 7, 5, 96), FIF_PFM);
    cases.push_back({"PFM", "pfm", pfm, cut(pfm, 4)});
    const std::vector<std::uint8_t> wbmp = encoded(bilevel(40, 9), FIF_WBMP);
    cases.push_back({"WBMP", "wbmp", wbmp, cut(wbmp, 1)});

    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(readWholeThenDamaged(folder, k.extension, k.whole, k.damaged),
                  k.damaged.empty() ? ""
                                    : "Cannot read \"" + folder.file(std::string("damaged.") +
                                                                     k.extension) +
                                          "\": the file is damaged or incomplete (its header "
                                          "promises more than the file holds).");
    }
}

}  // namespace
