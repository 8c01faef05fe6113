// Damaged inputs of every image type the reader takes, made by mutating small files the test
// writes itself: cuts, overwritten and flipped bytes, runs of 0xff, removed and repeated spans.
// Whatever the image library does with them (crash, hang, read past its buffers), this program
// must go on, every read must end, and a cut file must never come back as a picture with pixels
// it made up: it is refused, or (an icon or Targa file that lost only trailing metadata) it gives
// exactly the intact file's pixels.  Runs in the sanitizer build as well.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "tests/host/app/image_fixture_bytes.h"
#include "tests/host/app/image_io_test_support.h"

namespace {

using namespace ImageIoTest;
using Mav::Host::App::ReadOptions;
using Mav::Host::App::readSubjectImage;
using Mav::Host::App::ImageIo::isSubjectFormat;

struct Seed {
    FREE_IMAGE_FORMAT format;
    const char* extension;  // WBMP and the plain PNM variants are told by their name
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> encoded(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, int flags = 0) {
    return encodedBytes(bitmap, format, flags);
}

// One small file per type, of a pixel type the type stores, with a colour per pixel and channel.
std::vector<Seed> seeds() {
    const Bitmap rgb = makePattern(FIT_BITMAP, 23, 17, 24);
    const Bitmap rgba = makePattern(FIT_BITMAP, 23, 17, 32);
    const Bitmap palette = makePattern(FIT_BITMAP, 23, 17, 8);
    const Bitmap grey(FreeImage_ConvertToGreyscale(rgb.get()));
    const Bitmap bilevel(FreeImage_Threshold(rgb.get(), 128));
    const Bitmap icon = makePattern(FIT_BITMAP, 16, 16, 32);
    const Bitmap large = makePattern(FIT_BITMAP, 64, 48, 24);  // the JPEG 2000 encoder's minimum
    const Bitmap rgb16 = makePattern(FIT_RGB16, 23, 17, 48);
    const Bitmap rgba16 = makePattern(FIT_RGBA16, 23, 17, 64);
    const Bitmap rgbf = makePattern(FIT_RGBF, 23, 17, 96);
    const Bitmap rgbaf = makePattern(FIT_RGBAF, 23, 17, 128);
    return {
        {FIF_BMP, "bmp", encoded(rgb.get(), FIF_BMP)},
        {FIF_ICO, "ico", encoded(icon.get(), FIF_ICO)},
        {FIF_JPEG, "jpg", encoded(rgb.get(), FIF_JPEG)},
        {FIF_JNG, "jng", encoded(rgb.get(), FIF_JNG)},
        {FIF_PBM, "pbm", encoded(bilevel.get(), FIF_PBM)},
        {FIF_PBMRAW, "pbm", encoded(bilevel.get(), FIF_PBMRAW)},
        {FIF_PGM, "pgm", encoded(grey.get(), FIF_PGM)},
        {FIF_PGMRAW, "pgm", encoded(grey.get(), FIF_PGMRAW)},
        {FIF_PNG, "png", encoded(rgba16.get(), FIF_PNG)},
        {FIF_PPM, "ppm", encoded(rgb.get(), FIF_PPM)},
        {FIF_PPMRAW, "ppm", encoded(rgb16.get(), FIF_PPMRAW)},
        {FIF_TARGA, "tga", encoded(rgba.get(), FIF_TARGA)},
        {FIF_TIFF, "tif", encoded(rgb16.get(), FIF_TIFF, TIFF_LZW)},
        {FIF_WBMP, "wbmp", encoded(bilevel.get(), FIF_WBMP)},
        {FIF_PSD, "psd", encoded(rgb.get(), FIF_PSD)},
        {FIF_PSD, "psd", encoded(rgba16.get(), FIF_PSD)},
        {FIF_XPM, "xpm", encoded(rgb.get(), FIF_XPM)},
        {FIF_GIF, "gif", encoded(palette.get(), FIF_GIF)},
        {FIF_HDR, "hdr", encoded(rgbf.get(), FIF_HDR)},
        {FIF_EXR, "exr", encoded(rgbaf.get(), FIF_EXR, EXR_NONE)},
        {FIF_EXR, "exr", encoded(rgbf.get(), FIF_EXR)},
        {FIF_J2K, "j2k", encoded(large.get(), FIF_J2K)},
        {FIF_JP2, "jp2", encoded(large.get(), FIF_JP2)},
        {FIF_PFM, "pfm", encoded(rgbf.get(), FIF_PFM)},
        {FIF_WEBP, "webp", encoded(rgb.get(), FIF_WEBP)},
    };
}

struct Mutant {
    std::vector<std::uint8_t> bytes;
    bool cut = false;  // a prefix of the intact file
};

// Damaged copies of `whole`.  Headers sit at the start, so most changes land in the first 256
// bytes; cuts are spread over the whole file.
std::vector<Mutant> mutants(const std::vector<std::uint8_t>& whole, std::uint32_t seed) {
    std::mt19937 random(seed);
    const auto below = [&](std::size_t limit) {
        return limit == 0 ? std::size_t{0}
                          : std::uniform_int_distribution<std::size_t>(0, limit - 1)(random);
    };
    const std::size_t size = whole.size();
    const auto headerPosition = [&] {
        return below(4) == 0 ? below(size) : below(std::min<std::size_t>(size, 256));
    };
    std::vector<Mutant> out;
    for (int i = 0; i < 16; ++i) out.push_back({{whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size * i / 16)}, true});
    for (int i = 0; i < 8; ++i) {
        const std::size_t length = size - 1 - below(std::min<std::size_t>(size - 1, 64));
        out.push_back({{whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)}, true});
    }
    for (int i = 0; i < 20; ++i) {
        Mutant m{whole};
        m.bytes[headerPosition()] = static_cast<std::uint8_t>(random());
        out.push_back(std::move(m));
    }
    for (int i = 0; i < 10; ++i) {
        Mutant m{whole};
        m.bytes[headerPosition()] ^= static_cast<std::uint8_t>(1u << below(8));
        out.push_back(std::move(m));
    }
    for (int i = 0; i < 8; ++i) {
        Mutant m{whole};
        const std::size_t at = headerPosition();
        for (std::size_t k = at; k < std::min(size, at + 1 + below(4)); ++k) m.bytes[k] = 0xff;
        out.push_back(std::move(m));
    }
    for (int i = 0; i < 6; ++i) {
        Mutant m{whole};
        const std::size_t at = headerPosition();
        const std::size_t length = std::min(size - at, 1 + below(16));
        if (i % 2 == 0)
            m.bytes.erase(m.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                          m.bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        else
            m.bytes.insert(m.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           whole.begin() + static_cast<std::ptrdiff_t>(at),
                           whole.begin() + static_cast<std::ptrdiff_t>(at + length));
        out.push_back(std::move(m));
    }
    return out;
}

bool samePixels(const ImageBuffer& a, const ImageBuffer& b) {
    if (a.bounds != b.bounds || a.bitsPerChannel != b.bitsPerChannel || !a.firstPixel ||
        !b.firstPixel)
        return false;
    const std::size_t row = static_cast<std::size_t>(a.bounds.width() * a.bytesPerPixel());
    for (std::int32_t y = a.bounds.y0; y < a.bounds.y1; ++y)
        if (std::memcmp(a.pixelAddress(a.bounds.x0, y), b.pixelAddress(b.bounds.x0, y), row) != 0)
            return false;
    return true;
}

struct Tally {
    int tried = 0;
    int read = 0;
    int refused = 0;
    int decoderStopped = 0;  // crashed, failed or ran out of time in the helper
};

TEST(SubjectImageMutation, DamagedInputsOfEveryTypeEndAndNoCutFileIsReadWithMadeUpPixels) {
    // Long enough for the fixtures under the sanitizer on a busy machine; files that hang the
    // decoder cost a second or two each.
    const ScopedDecodeTimes shortTimes({.header = std::chrono::milliseconds(1000),
                                        .base = std::chrono::milliseconds(1000)});
    TempFolder folder;
    const std::vector<Seed> all = seeds();

    // Every type the reader takes has a seed.
    for (int f = 0; f < FreeImage_GetFIFCount(); ++f) {
        const auto format = static_cast<FREE_IMAGE_FORMAT>(f);
        if (!isSubjectFormat(format)) continue;
        EXPECT_TRUE(std::any_of(all.begin(), all.end(),
                                [&](const Seed& s) { return s.format == format; }))
            << "no seed for " << FreeImage_GetFormatFromFIF(format);
    }

    struct Job {
        const Seed* seed;
        const ImageBuffer* intact;
        Mutant mutant;
    };
    std::vector<Job> jobs;
    std::vector<std::unique_ptr<ImageBuffer>> intact;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Seed& seed = all[i];
        SCOPED_TRACE(FreeImage_GetFormatFromFIF(seed.format));
        ASSERT_FALSE(seed.bytes.empty());
        const std::string path = folder.file("seed" + std::to_string(i) + "." + seed.extension);
        writeBytes(path, seed.bytes);
        intact.push_back(std::make_unique<ImageBuffer>(nullptr));
        const auto result = readSubjectImage(*intact.back(), path, ReadOptions{});
        ASSERT_TRUE(result.ok) << result.message;
        for (Mutant& m : mutants(seed.bytes, static_cast<std::uint32_t>(i * 7919 + 17)))
            jobs.push_back({&seed, intact.back().get(), std::move(m)});
    }

    // Reads of separate files are independent: each decodes in its own helper process.
    std::mutex mutex;
    std::map<std::string, Tally> tallies;
    std::vector<std::string> faults;
    std::atomic<std::size_t> next{0};
    const auto work = [&](int thread) {
        for (std::size_t j; (j = next++) < jobs.size();) {
            const Job& job = jobs[j];
            const std::string path = folder.file("mutant" + std::to_string(thread) + "." +
                                                 job.seed->extension);
            writeBytes(path, job.mutant.bytes);
            ImageBuffer buffer(nullptr);
            const auto result = readSubjectImage(buffer, path, ReadOptions{});
            std::string fault;
            if (result.ok && (!buffer.firstPixel || buffer.bounds.empty() || buffer.channels != 4))
                fault = "read without pixels";
            else if (result.ok && job.mutant.cut && !samePixels(buffer, *job.intact))
                fault = "a file cut to " + std::to_string(job.mutant.bytes.size()) + " of " +
                        std::to_string(job.seed->bytes.size()) + " bytes was read";
            else if (!result.ok && result.message.find("\"" + path + "\"") == std::string::npos)
                fault = "the refusal does not name the file: " + result.message;
            const bool stopped = result.message.find("decoding it") != std::string::npos;
            const std::lock_guard<std::mutex> lock(mutex);
            Tally& tally = tallies[FreeImage_GetFormatFromFIF(job.seed->format)];
            ++tally.tried;
            ++(result.ok ? tally.read : tally.refused);
            if (stopped) ++tally.decoderStopped;
            if (!fault.empty())
                faults.push_back(std::string(FreeImage_GetFormatFromFIF(job.seed->format)) +
                                 ": " + fault);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
    for (std::thread& t : threads) t.join();

    for (const std::string& fault : faults) ADD_FAILURE() << fault;
    std::ostringstream table;
    table << "damaged inputs per type (tried / read / refused / decoder stopped):\n";
    int total = 0;
    for (const auto& [name, t] : tallies) {
        table << "  " << name << ": " << t.tried << " / " << t.read << " / " << t.refused << " / "
              << t.decoderStopped << "\n";
        total += t.tried;
    }
    table << "  all: " << total << "\n";
    std::printf("%s", table.str().c_str());
    EXPECT_EQ(total, static_cast<int>(jobs.size()));
}

}  // namespace
