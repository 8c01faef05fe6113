#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include <malloc.h>
#include <unistd.h>

#include "host/system/image_buffer.h"
#include "host/system/memory_pages.h"
#include "host/system/rect.h"
#include "host/system/system_host.h"

namespace {

using namespace Mav::Host::System;

class FakeHost : public Host {
public:
    explicit FakeHost(bool preview) : preview_(preview) {}
    bool isPreviewMode() const override { return preview_; }

private:
    bool preview_;
};

TEST(Rect, IntersectionUnionAndContainment) {
    struct Case {
        Rect a, b, intersection, united;
        bool aContainsB;
    } cases[] = {
        // disjoint side by side: the intersection comes out inverted, hence empty
        {{0, 0, 10, 10}, {20, 0, 30, 10}, {20, 0, 10, 10}, {0, 0, 30, 10}, false},
        {{0, 0, 10, 10}, {2, 3, 5, 7}, {2, 3, 5, 7}, {0, 0, 10, 10}, true},
        {{0, 0, 10, 10}, {5, -5, 15, 5}, {5, 0, 10, 5}, {0, -5, 15, 10}, false},
        // empty first: the union is the second unchanged
        {{4, 4, 4, 9}, {1, 2, 3, 4}, {4, 4, 3, 4}, {1, 2, 3, 4}, false},
        // empty second: the bounding box of all eight coordinates
        {{0, 0, 10, 10}, {30, 40, 20, 20}, {30, 40, 10, 10}, {0, 0, 20, 20}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(intersectRect(c.a, c.b), c.intersection);
        EXPECT_EQ(unionRect(c.a, c.b), c.united);
        EXPECT_EQ(rectContains(c.a, c.b), c.aContainsB);
    }
    EXPECT_TRUE(intersectRect({0, 0, 10, 10}, {20, 0, 30, 10}).empty());
}

TEST(Rect, InvertedRectangleHasNoSize) {
    const Rect inverted{20, 0, 10, 10};
    EXPECT_TRUE(inverted.empty());
    EXPECT_EQ(inverted.width(), 0);
    EXPECT_EQ(inverted.height(), 10);
    const Rect huge{std::numeric_limits<std::int32_t>::min(), 0,
                    std::numeric_limits<std::int32_t>::max(), 1};
    EXPECT_EQ(huge.width(), (std::ptrdiff_t{1} << 32) - 1);
}

TEST(Rect, ScaleTruncatesTowardZeroInSinglePrecision) {
    struct Case {
        Rect in;
        float factor;
        Rect out;
    } cases[] = {
        {{1, 1, 3, 3}, 0.5f, {0, 0, 1, 1}},
        {{-3, 0, 3, 3}, 0.5f, {-1, 0, 1, 1}},
        {{0, 0, 1000, 2000}, 0.25f, {0, 0, 250, 500}},
        {{0, 0, 3, 3}, 1.0f / 3.0f, {0, 0, 1, 1}},
        {{-1, 0, 1 << 30, 7}, 8.0f, {-8, 0, std::numeric_limits<std::int32_t>::max(), 56}},
        {{1, 2, 3, 4}, std::numeric_limits<float>::quiet_NaN(), {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        Rect r = c.in;
        r.scale(c.factor);
        EXPECT_EQ(r, c.out) << c.in.x0 << "," << c.in.y0 << "," << c.in.x1 << "," << c.in.y1;
    }
}

TEST(ImageBuffer, StartsEmptyAndAllocatesPackedOrAlignedRows) {
    FakeHost host(false);
    ImageBuffer buffer(&host);
    EXPECT_EQ(buffer.owner, &host);
    EXPECT_EQ(buffer.firstPixel, nullptr);
    EXPECT_EQ(buffer.scale, 1.0f);
    EXPECT_EQ(buffer.bitsPerChannel, 0);
    EXPECT_EQ(buffer.channels, 0);

    buffer.scale = 0.5f;
    buffer.allocate({0, 0, 3, 2}, 16);
    EXPECT_EQ(buffer.rowBytes, 24);
    EXPECT_EQ(buffer.storage.size(), 48u);
    EXPECT_EQ(buffer.firstPixel, buffer.storage.pointer());
    EXPECT_EQ(buffer.channels, 4);
    EXPECT_EQ(buffer.bounds, (Rect{0, 0, 3, 2}));
    EXPECT_EQ(buffer.domain, (Rect{0, 0, 3, 2}));
    EXPECT_EQ(buffer.scale, 0.5f) << "allocation leaves the scale alone";

    buffer.rowAligned = true;
    buffer.allocateSize(3, 2, 16);
    EXPECT_EQ(buffer.rowBytes, 32);
    EXPECT_EQ(buffer.storage.size(), 64u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.pixelAddress(0, 1)) % 32, 0u);

    buffer.reset();
    EXPECT_EQ(buffer.firstPixel, nullptr);
    EXPECT_TRUE(buffer.storage.empty());
    EXPECT_EQ(buffer.bounds, Rect{});
    EXPECT_EQ(buffer.bitsPerChannel, 16) << "reset keeps the format";

    // An inverted rectangle gives no pixels and no negative stride.
    buffer.allocate({10, 10, 5, 20}, 8);
    EXPECT_EQ(buffer.firstPixel, nullptr);
    EXPECT_EQ(buffer.rowBytes, 0);
}

// Given-back rows read as zeros where they cover whole pages, and nothing outside them changes:
// for a small image and a large one, with ranges that start and end inside pages.
TEST(ImageBuffer, DiscardedRowsReadAsZerosAndEveryOtherByteIsKept) {
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    ASSERT_GT(pageSize, 0);
    const auto page = static_cast<std::uintptr_t>(pageSize);
    struct Case {
        Rect bounds;
        std::int32_t bits;
        std::int64_t first, last;  // rows given back
    };
    const Case cases[] = {
        {{3, 5, 403, 298}, 8, 40, 211},          // 0.5 MB
        {{-7, 11, 1524, 888}, 16, 180, 731},     // 10.5 MB
        {{-7, 11, 1524, 888}, 16, 11, 888},      // every row
        {{-7, 11, 1524, 888}, 16, 500, 500},     // none
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << "-bit, rows " << c.first << " to " << c.last);
        FakeHost host(false);
        ImageBuffer buffer(&host);
        buffer.allocate(c.bounds, c.bits);
        ASSERT_NE(buffer.firstPixel, nullptr);
        const auto bytes = static_cast<std::size_t>(buffer.rowBytes) *
                           static_cast<std::size_t>(c.bounds.height());
        std::uint8_t* const begin = buffer.firstPixel;
        for (std::size_t i = 0; i < bytes; ++i) begin[i] = static_cast<std::uint8_t>(i % 251 + 1);

        buffer.discardRows(c.first, c.last);

        const auto rowAt = [&](std::int64_t y) {
            return begin + (y - c.bounds.y0) * buffer.rowBytes;
        };
        const auto from =
            reinterpret_cast<std::uintptr_t>(rowAt(std::max<std::int64_t>(c.first, c.bounds.y0)));
        const auto to =
            reinterpret_cast<std::uintptr_t>(rowAt(std::min<std::int64_t>(c.last, c.bounds.y1)));
        const std::uintptr_t wholeFrom = (from + page - 1) / page * page;
        const std::uintptr_t wholeTo = to / page * page;
        std::size_t wrong = 0, zeroed = 0;
        for (std::size_t i = 0; i < bytes; ++i) {
            const auto at = reinterpret_cast<std::uintptr_t>(begin + i);
            const bool given = c.first < c.last && at >= wholeFrom && at < wholeTo;
            const std::uint8_t expected = given ? 0 : static_cast<std::uint8_t>(i % 251 + 1);
            wrong += begin[i] != expected;
            zeroed += begin[i] == 0;
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(zeroed, wholeFrom < wholeTo && c.first < c.last ? wholeTo - wholeFrom : 0u);
    }
}

// The sanitizer's allocator keeps its own books and has no such threshold.
#if !defined(__SANITIZE_ADDRESS__)
TEST(MemoryPages, BlocksOfAMebibyteStayMappedForThemselvesAfterALargerOneIsFreed) {
    Mav::Host::System::returnLargeBlocksWhenFreed();
    static void* volatile block = nullptr;  // keeps the compiler from leaving the blocks out
    const auto touchAndFree = [](std::size_t bytes) {
        block = std::malloc(bytes);
        ASSERT_NE(block, nullptr);
        static_cast<volatile char*>(block)[bytes - 1] = 1;
    };
    // Freed, a 16 MiB block would raise the C library's threshold to its size.
    touchAndFree(16u << 20);
    std::free(block);
    const std::size_t mappedBefore = ::mallinfo2().hblkhd;
    touchAndFree(1u << 20);
    const std::size_t mappedDuring = ::mallinfo2().hblkhd;
    std::free(block);
    EXPECT_GE(mappedDuring, mappedBefore + (1u << 20));
    EXPECT_EQ(::mallinfo2().hblkhd, mappedBefore);
}
#endif

TEST(ImageBuffer, AllocateLikeCopiesTheFormatAndForcesAlphaInPreview) {
    FakeHost interactive(true), batch(false);
    ImageBuffer model(&batch);
    model.allocate({0, 0, 8, 8}, 32);
    model.domain = {0, 0, 80, 80};
    model.scale = 0.1f;
    model.channels = 3;  // as file reading leaves a three-channel float image

    for (Host* host : {static_cast<Host*>(&batch), static_cast<Host*>(&interactive)}) {
        ImageBuffer like(host);
        like.allocateLike(model, {2, 2, 5, 4});
        EXPECT_EQ(like.bounds, (Rect{2, 2, 5, 4}));
        EXPECT_EQ(like.domain, model.domain);
        EXPECT_EQ(like.scale, 0.1f);
        EXPECT_EQ(like.bitsPerChannel, 32);
        EXPECT_EQ(like.channels, 3);
        EXPECT_EQ(like.rowBytes, 3 * 4 * 3);
        EXPECT_EQ(like.hasAlpha, host == &interactive);
    }
    ImageBuffer same(nullptr);
    same.allocateSameAs(model);
    EXPECT_EQ(same.bounds, model.bounds);
    EXPECT_FALSE(same.hasAlpha);
    // A buffer made alike itself keeps the format it had.
    same.allocateSameAs(same);
    EXPECT_EQ(same.bounds, model.bounds);
    EXPECT_EQ(same.domain, model.domain);
    EXPECT_NE(same.firstPixel, nullptr);
}

// Fills each 16-bit channel with a value that tells its pixel and channel apart.
std::uint16_t tag(std::int32_t x, std::int32_t y, int c) {
    return static_cast<std::uint16_t>(1000 * (y + 50) + 10 * (x + 50) + c);
}

void fill(ImageBuffer& buffer) {
    for (std::int32_t y = buffer.bounds.y0; y < buffer.bounds.y1; ++y)
        for (std::int32_t x = buffer.bounds.x0; x < buffer.bounds.x1; ++x) {
            auto* p = reinterpret_cast<std::uint16_t*>(buffer.pixelAddress(x, y));
            for (int c = 0; c < 4; ++c) p[c] = tag(x, y, c);
        }
}

std::uint16_t channel(const ImageBuffer& buffer, std::int32_t x, std::int32_t y, int c) {
    return reinterpret_cast<const std::uint16_t*>(buffer.pixelAddress(x, y))[c];
}

TEST(ImageBuffer, ViewsSharePixelsWithTheirSource) {
    ImageBuffer source(nullptr);
    source.allocate({0, 0, 10, 10}, 16);
    source.hasAlpha = true;
    fill(source);

    ImageBuffer view(nullptr);
    view.makeView(source, {5, 5, 15, 15});
    EXPECT_EQ(view.bounds, (Rect{5, 5, 10, 10}));
    EXPECT_EQ(view.firstPixel, source.pixelAddress(5, 5));
    EXPECT_TRUE(view.storage.empty());
    EXPECT_EQ(view.rowBytes, source.rowBytes);
    EXPECT_TRUE(view.hasAlpha);
    EXPECT_EQ(channel(view, 7, 8, 2), tag(7, 8, 2));

    reinterpret_cast<std::uint16_t*>(view.pixelAddress(9, 9))[0] = 7;
    EXPECT_EQ(channel(source, 9, 9, 0), 7);

    // A view of a view still addresses the same pixels.
    ImageBuffer inner(nullptr);
    inner.makeView(view, {6, 6, 8, 7});
    EXPECT_EQ(inner.firstPixel, source.pixelAddress(6, 6));

    ImageBuffer outside(nullptr);
    outside.makeView(source, {20, 0, 30, 10});
    EXPECT_EQ(outside.firstPixel, nullptr);
}

TEST(ImageBuffer, SetBoundsKeepsSharedPixelsAtTheirCoordinates) {
    ImageBuffer buffer(nullptr);
    buffer.allocate({0, 0, 4, 3}, 16);
    fill(buffer);
    std::uint8_t* const first = buffer.firstPixel;
    buffer.setBounds({0, 0, 4, 3});
    EXPECT_EQ(buffer.firstPixel, first) << "the same rectangle keeps the same storage";

    buffer.setBounds({-2, -1, 6, 5});
    EXPECT_EQ(buffer.domain, (Rect{0, 0, 4, 3}));
    EXPECT_EQ(buffer.rowBytes, 8 * 8);
    for (std::int32_t y = 0; y < 3; ++y)
        for (std::int32_t x = 0; x < 4; ++x)
            for (int c = 0; c < 4; ++c) ASSERT_EQ(channel(buffer, x, y, c), tag(x, y, c));

    buffer.setBounds({1, 1, 3, 2});
    EXPECT_EQ(channel(buffer, 2, 1, 3), tag(2, 1, 3));

    // A view that changes its bounds becomes an owner and leaves its source alone.
    ImageBuffer source(nullptr);
    source.allocate({0, 0, 4, 4}, 16);
    fill(source);
    ImageBuffer view(nullptr);
    view.makeView(source, {1, 1, 3, 3});
    view.setBounds({2, 2, 5, 5});
    EXPECT_FALSE(view.storage.empty());
    EXPECT_EQ(channel(view, 2, 2, 1), tag(2, 2, 1));
    reinterpret_cast<std::uint16_t*>(view.pixelAddress(2, 2))[1] = 0;
    EXPECT_EQ(channel(source, 2, 2, 1), tag(2, 2, 1));
}

TEST(ImageBuffer, ClearAndCopyTouchOnlyTheOverlap) {
    ImageBuffer a(nullptr), b(nullptr);
    a.allocate({0, 0, 10, 10}, 16);
    b.allocate({20, 0, 30, 10}, 16);
    fill(a);
    fill(b);
    a.clearRect({20, 0, 30, 10});  // no overlap in x
    a.clearRect({0, 5, 10, 2});    // inverted in y
    a.copyOverlap(b);
    for (std::int32_t y = 0; y < 10; ++y)
        for (std::int32_t x = 0; x < 10; ++x) ASSERT_EQ(channel(a, x, y, 0), tag(x, y, 0));

    a.clearRect({8, 8, 12, 12});
    for (std::int32_t y = 7; y < 10; ++y)
        for (std::int32_t x = 7; x < 10; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(channel(a, x, y, c), x >= 8 && y >= 8 ? 0 : tag(x, y, c));

    ImageBuffer c(nullptr);
    c.allocate({5, 5, 15, 15}, 16);
    c.clearRect(c.bounds);
    c.copyOverlap(a);
    EXPECT_EQ(channel(c, 5, 5, 2), tag(5, 5, 2));
    EXPECT_EQ(channel(c, 9, 9, 2), 0) << "cleared in a before the copy";
    EXPECT_EQ(channel(c, 10, 5, 2), 0) << "outside a";

    // Rows of another format would be read past their end: nothing is copied.
    ImageBuffer narrow(nullptr);
    narrow.allocate({0, 0, 10, 10}, 8);
    std::memset(narrow.firstPixel, 0x11, narrow.storage.size());
    narrow.copyOverlap(a);
    EXPECT_EQ(narrow.firstPixel[0], 0x11);
}

TEST(ImageBuffer, SwapExchangesEverythingButTheOwner) {
    FakeHost h1(false), h2(true);
    ImageBuffer a(&h1), b(&h2);
    a.allocate({0, 0, 2, 2}, 8);
    a.scale = 0.5f;
    a.hasAlpha = true;
    std::uint8_t* const pixels = a.firstPixel;
    a.swap(b);
    EXPECT_EQ(a.owner, &h1);
    EXPECT_EQ(b.owner, &h2);
    EXPECT_EQ(a.firstPixel, nullptr);
    EXPECT_EQ(b.firstPixel, pixels);
    EXPECT_EQ(b.bounds, (Rect{0, 0, 2, 2}));
    EXPECT_EQ(b.scale, 0.5f);
    EXPECT_TRUE(b.hasAlpha);
    EXPECT_EQ(b.bitsPerChannel, 8);
    EXPECT_EQ(a.bitsPerChannel, 0);
}

TEST(ImageBuffer, FailedAllocationLeavesNoPixelsButDescribesTheRequest) {
    const std::new_handler previous = std::set_new_handler(nullptr);
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    // The first does not fit 64 bits at all; the second fits but no machine has the memory.
    for (Rect huge : {Rect{0, 0, big, big}, Rect{0, 0, 1 << 30, 1 << 20}}) {
        ImageBuffer buffer(nullptr);
        buffer.allocate({0, 0, 4, 4}, 32);
        try {
            buffer.allocate(huge, 32);
            ADD_FAILURE() << "allocated " << huge.width() << " x " << huge.height();
        } catch (const std::bad_alloc& e) {
            EXPECT_STREQ(e.what(), "bad allocation");
        }
        EXPECT_EQ(buffer.firstPixel, nullptr);
        EXPECT_TRUE(buffer.storage.empty());
        EXPECT_EQ(buffer.bounds, huge);
        EXPECT_EQ(buffer.bitsPerChannel, 32);

        buffer.allocate({0, 0, 4, 4}, 32);
        EXPECT_THROW(buffer.setBounds(huge), std::bad_alloc);
        EXPECT_EQ(buffer.firstPixel, nullptr) << "old pixels are freed when setBounds throws";
        EXPECT_TRUE(buffer.storage.empty());
    }
    std::set_new_handler(previous);
}

TEST(ImageBuffer, ChannelRangeAndOrder) {
    ImageBuffer buffer(nullptr);
    for (auto [bits, max] : {std::pair{8, 255}, std::pair{16, 65535}, std::pair{32, 1}}) {
        buffer.bitsPerChannel = bits;
        EXPECT_EQ(buffer.maxChannelValue(), max);
    }
    std::int32_t r = -1, g = -1, b = -1, a = -1;
    EXPECT_TRUE(buffer.channelOrder(r, g, b, a));
    EXPECT_EQ(r, 0);
    EXPECT_EQ(g, 1);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(a, 3);
}

}  // namespace
