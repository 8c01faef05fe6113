// The block in which the decoding helper hands its answer to the program.  The helper ran a
// decoder on a file that may be damaged before it wrote the block, so the program must take a
// complete block as it was written and refuse one that is cut short or whose fields disagree.

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/app/decoded_image.h"
#include "tests/host/app/image_io_test_support.h"

namespace {

using namespace ImageIoTest;
using Mav::Host::App::ImageIo::Decoded;
using Mav::Host::App::ImageIo::loadDecoded;
using Mav::Host::App::ImageIo::storeDecoded;

struct MemoryFile {
    MemoryFile() : fd(::memfd_create("decoded-image-test", MFD_CLOEXEC)) {}
    ~MemoryFile() {
        if (fd >= 0) ::close(fd);
    }
    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> all(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)));
        if (!all.empty() && ::pread(fd, all.data(), all.size(), 0) != ssize_t(all.size()))
            all.clear();
        return all;
    }
    void replace(const std::vector<std::uint8_t>& with) const {
        ASSERT_EQ(::ftruncate(fd, 0), 0);
        ASSERT_EQ(::pwrite(fd, with.data(), with.size(), 0), ssize_t(with.size()));
    }
    int fd;
};

// A 7 x 5 RGB16 picture (rows padded to the pitch), with a resolution, a colour profile and a
// comment: a block with every part.
Decoded pictureWithEverything() {
    Decoded decoded;
    decoded.bitmap = makePattern(FIT_RGB16, 7, 5, 48);
    FreeImage_SetDotsPerMeterX(decoded.bitmap.get(), 3780);
    FreeImage_SetDotsPerMeterY(decoded.bitmap.get(), 2835);
    const std::uint8_t profile[] = {1, 2, 3, 250, 251, 0, 7};
    FreeImage_CreateICCProfile(decoded.bitmap.get(), const_cast<std::uint8_t*>(profile),
                               sizeof profile);
    FITAG* tag = FreeImage_CreateTag();
    const char comment[] = "shot at dusk";
    FreeImage_SetTagKey(tag, "Comment");
    FreeImage_SetTagType(tag, FIDT_ASCII);
    FreeImage_SetTagCount(tag, sizeof comment);
    FreeImage_SetTagLength(tag, sizeof comment);
    FreeImage_SetTagValue(tag, comment);
    FreeImage_SetMetadata(FIMD_COMMENTS, decoded.bitmap.get(), "Comment", tag);
    FreeImage_DeleteTag(tag);
    return decoded;
}

TEST(DecodedImageBlock, ACompleteBlockGivesBackWhatWasStored) {
    const Decoded stored = pictureWithEverything();
    MemoryFile file;
    ASSERT_TRUE(storeDecoded(file.fd, stored, 3));
    Decoded loaded;
    int pages = 0;
    ASSERT_TRUE(loadDecoded(file.fd, loaded, pages));
    EXPECT_EQ(pages, 3);
    EXPECT_TRUE(loaded.problem.empty());
    FIBITMAP* a = stored.bitmap.get();
    FIBITMAP* b = loaded.bitmap.get();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(FreeImage_GetImageType(b), FIT_RGB16);
    EXPECT_EQ(FreeImage_GetWidth(b), 7u);
    EXPECT_EQ(FreeImage_GetHeight(b), 5u);
    EXPECT_EQ(FreeImage_GetDotsPerMeterX(b), 3780u);
    EXPECT_EQ(FreeImage_GetDotsPerMeterY(b), 2835u);
    for (int y = 0; y < 5; ++y)
        EXPECT_EQ(std::memcmp(FreeImage_GetScanLine(a, y), FreeImage_GetScanLine(b, y),
                              FreeImage_GetLine(a)),
                  0)
            << "row " << y;
    const FIICCPROFILE* profile = FreeImage_GetICCProfile(b);
    ASSERT_EQ(profile->size, 7);
    EXPECT_EQ(static_cast<const std::uint8_t*>(profile->data)[3], 250);
    FITAG* comment = nullptr;
    ASSERT_TRUE(FreeImage_GetMetadata(FIMD_COMMENTS, b, "Comment", &comment));
    EXPECT_STREQ(static_cast<const char*>(FreeImage_GetTagValue(comment)), "shot at dusk");
}

// A helper killed while it wrote, or one that wrote less than it promised: every shorter block
// is refused, and what the caller held stays.
TEST(DecodedImageBlock, EveryCutBlockIsRefused) {
    MemoryFile file;
    ASSERT_TRUE(storeDecoded(file.fd, pictureWithEverything(), -1));
    const std::vector<std::uint8_t> whole = file.bytes();
    ASSERT_GT(whole.size(), 200u);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        file.replace({whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)});
        Decoded loaded;
        loaded.problem = "held";
        int pages = 17;
        EXPECT_FALSE(loadDecoded(file.fd, loaded, pages)) << length << " of " << whole.size();
        EXPECT_EQ(pages, 17);
        EXPECT_EQ(loaded.problem, "held");
    }
}

// FreeImage takes the depth of a type from the type itself, so a block that names a deeper type
// than its depth and pitch describe would give rows that run past the block.
TEST(DecodedImageBlock, ADepthThatDisagreesWithTheTypeIsRefused) {
    Decoded colour;
    colour.bitmap = makePattern(FIT_BITMAP, 9, 4, 24);
    MemoryFile file;
    ASSERT_TRUE(storeDecoded(file.fd, colour, -1));
    std::vector<std::uint8_t> block = file.bytes();
    // The type, width, height and depth stand together as 32-bit numbers.
    const std::uint32_t fields[] = {FIT_BITMAP, 9, 4, 24};
    std::size_t at = 0;
    while (at + sizeof fields <= block.size() && std::memcmp(&block[at], fields, sizeof fields))
        ++at;
    ASSERT_LE(at + sizeof fields, block.size());
    for (const std::uint32_t type : {std::uint32_t{FIT_RGB16}, std::uint32_t{FIT_RGBAF}}) {
        SCOPED_TRACE(type);
        std::memcpy(&block[at], &type, sizeof type);
        file.replace(block);
        Decoded loaded;
        int pages = 0;
        EXPECT_FALSE(loadDecoded(file.fd, loaded, pages));
        EXPECT_EQ(loaded.bitmap, nullptr);
    }
    const std::uint32_t oddDepth = 5;
    std::memcpy(&block[at], &fields[0], sizeof fields[0]);
    std::memcpy(&block[at + 12], &oddDepth, sizeof oddDepth);
    file.replace(block);
    Decoded loaded;
    int pages = 0;
    EXPECT_FALSE(loadDecoded(file.fd, loaded, pages)) << "a depth FIT_BITMAP does not have";
}

}  // namespace
