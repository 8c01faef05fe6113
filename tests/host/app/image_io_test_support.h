#pragma once
// Shared by the subject-image tests: a temporary folder, a host that supplies an input list,
// fixture images made with FreeImage, and small file helpers.

#include <gtest/gtest.h>

#include <FreeImage.h>
#include <lcms2.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "host/app/colour_profile.h"
#include "host/app/image_io.h"
#include "host/app/image_io_support.h"
#include "host/system/image_buffer.h"
#include "host/system/system_host.h"
#include "tests/host/system/store_test_support.h"

namespace ImageIoTest {

using Mav::Host::App::ProfileHandle;
using Mav::Host::App::ImageIo::Bitmap;
using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

// A scratch folder whose files are named as UTF-8 strings, the path type of the image functions.
class TempFolder : public test_store::ScratchFolder {
public:
    TempFolder() : ScratchFolder("vantrelo-imageio") {}
    std::string file(const std::string& name) const { return (path() / name).string(); }
};

// The application host as far as reading and writing need it.
class TestHost : public Mav::Host::System::Host, public Mav::Host::App::SubjectImageHost {
public:
    bool isPreviewMode() const override { return previewMode; }

    std::size_t subjectInputCount() const override { return inputs.size(); }
    std::string subjectInputPath(std::size_t index) const override { return inputs.at(index); }
    std::size_t subjectCurrentInput() const override { return current; }
    void subjectRecordBounds(Rect bounds, std::size_t index) override {
        if (index == current) recorded = bounds;
        ++recordCalls;
    }
    Rect subjectCurrentBounds() override { return recorded; }
    bool subjectPreviewFlag() const override { return previewFlag; }
    bool subjectHighBitDepth() const override { return highBitDepth; }
    bool subjectPerceptualIntent() const override { return perceptual; }
    void subjectTakeProfile(ProfileHandle taken) override {
        profile = std::move(taken);
        ++profileCalls;
    }

    std::vector<std::string> inputs;
    std::size_t current = 0;
    Rect recorded;
    int recordCalls = 0;
    bool previewMode = false;
    bool previewFlag = false;
    bool highBitDepth = true;
    bool perceptual = true;
    ProfileHandle profile;
    int profileCalls = 0;
};

// The helper's time limits while the object lives.
class ScopedDecodeTimes {
public:
    explicit ScopedDecodeTimes(const Mav::Host::App::ImageIo::DecodeTimes& times)
        : saved_(Mav::Host::App::ImageIo::setDecodeTimes(times)) {}
    ~ScopedDecodeTimes() { Mav::Host::App::ImageIo::setDecodeTimes(saved_); }
    ScopedDecodeTimes(const ScopedDecodeTimes&) = delete;
    ScopedDecodeTimes& operator=(const ScopedDecodeTimes&) = delete;

private:
    Mav::Host::App::ImageIo::DecodeTimes saved_;
};

inline std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline unsigned modeOf(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// Channel c of the buffer's pixel (x, y), in the buffer's own units, and the other way.
inline double channel(const ImageBuffer& buffer, int x, int y, int c) {
    const std::uint8_t* pixel = buffer.pixelAddress(x, y);
    switch (buffer.bitsPerChannel) {
    case 8: return pixel[c];
    case 16: return reinterpret_cast<const std::uint16_t*>(pixel)[c];
    default: return reinterpret_cast<const float*>(pixel)[c];
    }
}

inline void setChannel(ImageBuffer& buffer, int x, int y, int c, double value) {
    std::uint8_t* pixel = buffer.pixelAddress(x, y);
    switch (buffer.bitsPerChannel) {
    case 8: pixel[c] = static_cast<std::uint8_t>(value); break;
    case 16: reinterpret_cast<std::uint16_t*>(pixel)[c] = static_cast<std::uint16_t>(value); break;
    default: reinterpret_cast<float*>(pixel)[c] = static_cast<float>(value); break;
    }
}

// A deterministic colour per pixel and channel, different in every channel, so that a swapped
// channel or a flipped row shows.  Values are in 0..1.
inline double patternValue(int x, int y, int channel) {
    return ((x * 37 + y * 91 + channel * 53) % 97) / 96.0;
}

// A bitmap of the given type whose pixel (x, y) (y from the top) holds patternValue in R, G, B
// and, where there is a fourth channel, alpha.  Palette (8-bit) bitmaps get a colour palette.
inline Bitmap makePattern(FREE_IMAGE_TYPE type, int width, int height, int bitsPerPixel) {
    Bitmap bitmap(type == FIT_BITMAP
                      ? FreeImage_Allocate(width, height, bitsPerPixel, FI_RGBA_RED_MASK,
                                           FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK)
                      : FreeImage_AllocateT(type, width, height, bitsPerPixel));
    if (type == FIT_BITMAP && bitsPerPixel == 8) {
        RGBQUAD* palette = FreeImage_GetPalette(bitmap.get());
        for (int i = 0; i < 256; ++i) {
            palette[i].rgbRed = static_cast<BYTE>(i);
            palette[i].rgbGreen = static_cast<BYTE>(255 - i);
            palette[i].rgbBlue = static_cast<BYTE>((i * 7) & 255);
        }
    }
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap.get(), height - 1 - y);
        for (int x = 0; x < width; ++x) {
            auto v = [&](int c) { return patternValue(x, y, c); };
            switch (type) {
            case FIT_BITMAP:
                if (bitsPerPixel == 8) {
                    line[x] = static_cast<BYTE>(v(0) * 255);
                } else {
                    BYTE* p = line + x * (bitsPerPixel / 8);
                    p[FI_RGBA_RED] = static_cast<BYTE>(v(0) * 255);
                    p[FI_RGBA_GREEN] = static_cast<BYTE>(v(1) * 255);
                    p[FI_RGBA_BLUE] = static_cast<BYTE>(v(2) * 255);
                    if (bitsPerPixel == 32) p[FI_RGBA_ALPHA] = static_cast<BYTE>(v(3) * 255);
                }
                break;
            case FIT_UINT16:
                reinterpret_cast<WORD*>(line)[x] = static_cast<WORD>(v(0) * 65535);
                break;
            case FIT_RGB16: {
                auto* p = reinterpret_cast<FIRGB16*>(line) + x;
                p->red = static_cast<WORD>(v(0) * 65535);
                p->green = static_cast<WORD>(v(1) * 65535);
                p->blue = static_cast<WORD>(v(2) * 65535);
                break;
            }
            case FIT_RGBA16: {
                auto* p = reinterpret_cast<FIRGBA16*>(line) + x;
                p->red = static_cast<WORD>(v(0) * 65535);
                p->green = static_cast<WORD>(v(1) * 65535);
                p->blue = static_cast<WORD>(v(2) * 65535);
                p->alpha = static_cast<WORD>(v(3) * 65535);
                break;
            }
            case FIT_RGBF: {
                auto* p = reinterpret_cast<FIRGBF*>(line) + x;
                p->red = static_cast<float>(v(0));
                p->green = static_cast<float>(v(1));
                p->blue = static_cast<float>(v(2));
                break;
            }
            case FIT_RGBAF: {
                auto* p = reinterpret_cast<FIRGBAF*>(line) + x;
                p->red = static_cast<float>(v(0));
                p->green = static_cast<float>(v(1));
                p->blue = static_cast<float>(v(2));
                p->alpha = static_cast<float>(v(3));
                break;
            }
            default: break;
            }
        }
    }
    return bitmap;
}

inline void setTextTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key,
                       const std::string& value) {
    FITAG* tag = FreeImage_CreateTag();
    const auto length = static_cast<DWORD>(value.size() + 1);
    FreeImage_SetTagKey(tag, key);
    FreeImage_SetTagType(tag, FIDT_ASCII);
    FreeImage_SetTagCount(tag, length);
    FreeImage_SetTagLength(tag, length);
    FreeImage_SetTagValue(tag, value.c_str());
    FreeImage_SetMetadata(model, bitmap, key, tag);
    FreeImage_DeleteTag(tag);
}

inline std::string textTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key) {
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(model, bitmap, key, &tag) || !tag) return {};
    const char* value = static_cast<const char*>(FreeImage_GetTagValue(tag));
    return value ? std::string(value, strnlen(value, FreeImage_GetTagLength(tag))) : std::string();
}

inline std::vector<std::uint8_t> saveProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    return bytes;
}

// An RGB profile other than sRGB, told apart by its description.
inline std::vector<std::uint8_t> makeRgbProfile(const char* description) {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", description);
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
    std::vector<std::uint8_t> bytes = saveProfile(profile);
    cmsMLUfree(text);
    cmsFreeToneCurve(gamma);
    cmsCloseProfile(profile);
    return bytes;
}

inline std::string profileDescription(cmsHPROFILE profile) {
    char text[256] = {};
    cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text);
    return text;
}

inline std::string profileDescription(const void* data, long size) {
    const ProfileHandle profile = Mav::Host::App::openProfile(data, static_cast<std::size_t>(size));
    return profile ? profileDescription(profile.get()) : std::string();
}

// A printing profile in the spirit of a press profile, small enough to build here: C, M, Y and K
// remove red, green and blue from white (r = (1 - c)(1 - k), ...) and the result is taken as
// sRGB.  So pure cyan is sRGB (0, 255, 255) and K alone is black.
inline std::vector<std::uint8_t> makeCmykProfile() {
    struct Cargo {
        cmsHTRANSFORM toLab;
    };
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    Cargo cargo{
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0)};
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        clut,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void* data) -> cmsInt32Number {
            const double c = in[0] / 65535.0, m = in[1] / 65535.0, y = in[2] / 65535.0,
                         k = in[3] / 65535.0;
            const double rgb[3] = {(1 - c) * (1 - k), (1 - m) * (1 - k), (1 - y) * (1 - k)};
            cmsCIELab colour;
            cmsDoTransform(static_cast<Cargo*>(data)->toLab, rgb, &colour, 1);
            cmsFloat2LabEncoded(out, &colour);
            return 1;
        },
        &cargo, 0);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));

    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    std::vector<std::uint8_t> bytes = saveProfile(profile);
    cmsCloseProfile(profile);
    cmsPipelineFree(pipeline);
    cmsDeleteTransform(cargo.toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return bytes;
}

// Saves a bitmap with FreeImage's own file functions (the fixtures are made the ordinary way).
inline bool saveFixture(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, const std::string& path,
                        int flags = 0) {
    return FreeImage_Save(format, bitmap, path.c_str(), flags) != 0;
}

inline Bitmap loadPlain(const std::string& path, int flags = 0) {
    return Bitmap(FreeImage_Load(FreeImage_GetFileType(path.c_str(), 0), path.c_str(), flags));
}

// The Compression tag (259) of a TIFF's first directory, read from the file's own bytes; 0 when
// it cannot be found.
inline unsigned tiffCompression(const std::string& path) {
    const std::vector<std::uint8_t> bytes = fileBytes(path);
    if (bytes.size() < 8) return 0;
    const bool little = bytes[0] == 'I';
    auto u16 = [&](std::size_t at) -> unsigned {
        if (at + 2 > bytes.size()) return 0;
        return little ? bytes[at] | bytes[at + 1] << 8 : bytes[at] << 8 | bytes[at + 1];
    };
    auto u32 = [&](std::size_t at) -> std::size_t {
        if (at + 4 > bytes.size()) return 0;
        return little ? std::size_t{u16(at)} | std::size_t{u16(at + 2)} << 16
                      : std::size_t{u16(at)} << 16 | u16(at + 2);
    };
    const std::size_t directory = u32(4);
    const unsigned entries = u16(directory);
    for (unsigned i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * std::size_t{i};
        if (u16(entry) == 259) return u16(entry + 8);
    }
    return 0;
}

// A file of `count` pictures made with FreeImage's own page writer; each picture differs from the
// one before it, so a file cut down to its first shows.
inline void saveSeveralPages(FREE_IMAGE_FORMAT format, const std::string& path,
                             int bitsPerPixel, int count) {
    FIMULTIBITMAP* pages = FreeImage_OpenMultiBitmap(format, path.c_str(), TRUE, FALSE, TRUE);
    ASSERT_NE(pages, nullptr);
    for (int i = 0; i < count; ++i) {
        // The icon writer takes 16 x 16 where it refuses smaller squares.
        Bitmap page = makePattern(FIT_BITMAP, 16, 16, bitsPerPixel);
        if (i % 2 == 1) FreeImage_Invert(page.get());
        FreeImage_AppendPage(pages, page.get());
    }
    ASSERT_TRUE(FreeImage_CloseMultiBitmap(pages, 0));
    FIMULTIBITMAP* check = FreeImage_OpenMultiBitmap(format, path.c_str(), FALSE, TRUE, TRUE);
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(FreeImage_GetPageCount(check), count) << "the fixture holds its pictures";
    FreeImage_CloseMultiBitmap(check, 0);
}

}  // namespace ImageIoTest
