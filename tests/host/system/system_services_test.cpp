#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <thread>

#include <unistd.h>

#include "host/system/aligned_buffer.h"
#include "host/system/critical_section.h"
#include "host/system/exceptions.h"
#include "host/system/system_info.h"
#include "host/system/thread.h"

#if defined(__SANITIZE_ADDRESS__)
// The allocation-failure tests ask for impossible blocks; AddressSanitizer must report those as a
// null result, as the plain runtime does, instead of ending the program.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace {

using namespace Mav::Host::System;

// Far beyond any address space, so the runtime refuses it at once without touching memory.
constexpr std::uint64_t kImpossibleSize = std::uint64_t{1} << 62;

TEST(RoundUp, RaisesToTheNextMultiple) {
    struct Case {
        std::uint64_t value, multiple, expected;
    } cases[] = {{0, 32, 0}, {1, 32, 32}, {32, 32, 32}, {33, 32, 64}, {64, 32, 64}, {7, 1, 7}};
    for (const Case& c : cases)
        EXPECT_EQ(roundUp(c.value, c.multiple), c.expected) << c.value << " to " << c.multiple;
}

// The whole rounded block must be usable: rows are processed with full 32-byte vector stores, so
// writing up to the rounded end (checked under AddressSanitizer) shows the block really is that big.
TEST(AlignedBuffer, AllocatesTheRoundedBlockAlignedAndRecordsTheRequestedSize) {
    for (std::uint64_t size : {1u, 31u, 32u, 33u, 100u, 4097u}) {
        AlignedBuffer buffer;
        buffer.resize(size);
        ASSERT_NE(buffer.pointer(), nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.pointer()) % 32, 0u) << size;
        EXPECT_EQ(buffer.size(), size);
        std::memset(buffer.pointer(), 0xab, roundUp(size, 32));
    }
}

TEST(AlignedBuffer, ResizeToZeroAndReleaseLeaveItEmpty) {
    AlignedBuffer buffer;
    buffer.resize(100);
    buffer.resize(0);
    EXPECT_EQ(buffer.pointer(), nullptr);
    EXPECT_EQ(buffer.size(), 0u);
    buffer.resize(10);
    buffer.release();
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(buffer.size(), 0u);
    buffer.release();  // releasing an empty buffer is harmless
    releaseAlignedBuffer(buffer);
    EXPECT_TRUE(buffer.empty());
}

TEST(AlignedBuffer, SwapExchangesBlocksWithoutCopying) {
    AlignedBuffer a, b;
    a.resize(10);
    std::uint8_t* const block = a.pointer();
    a.swap(b);
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(a.size(), 0u);
    EXPECT_EQ(b.pointer(), block);
    EXPECT_EQ(b.size(), 10u);
}

// A failed allocation leaves neither a stale pointer nor a size that describes memory the buffer
// does not hold, even when the buffer held a block before.
TEST(AlignedBuffer, FailureWithoutNewHandlerThrowsBadAllocationAndLeavesItEmpty) {
    const std::new_handler previous = std::set_new_handler(nullptr);
    for (std::uint64_t size : {kImpossibleSize, std::numeric_limits<std::uint64_t>::max() - 3}) {
        AlignedBuffer buffer;
        buffer.resize(64);
        try {
            buffer.resize(size);
            ADD_FAILURE() << "resize(" << size << ") succeeded";
        } catch (const std::bad_alloc& e) {
            EXPECT_STREQ(e.what(), "bad allocation");
        }
        EXPECT_EQ(buffer.pointer(), nullptr);
        EXPECT_EQ(buffer.size(), 0u);
    }
    std::set_new_handler(previous);
}

int handlerCalls = 0;
void uninstallOnThirdCall() {
    if (++handlerCalls == 3) std::set_new_handler(nullptr);
}

TEST(AlignedBuffer, FailureRetriesThroughTheNewHandlerUntilItGivesUp) {
    handlerCalls = 0;
    const std::new_handler previous = std::set_new_handler(uninstallOnThirdCall);
    AlignedBuffer buffer;
    EXPECT_THROW(buffer.resize(kImpossibleSize), std::bad_alloc);
    EXPECT_EQ(handlerCalls, 3);
    EXPECT_TRUE(buffer.empty());
    std::set_new_handler(previous);
}

TEST(Thread, CountsProcessorsOnceAndKeepsTheCount) {
    Thread thread;
    const std::uint64_t first = thread.processorCount();
    EXPECT_GE(first, 1u);
    EXPECT_EQ(first, static_cast<std::uint64_t>(::sysconf(_SC_NPROCESSORS_ONLN)));
    EXPECT_EQ(first, systemProcessorCount());
    EXPECT_EQ(thread.processorCount(), first);
}

#if defined(__x86_64__)
TEST(CpuFeatures, BaseSetIsAlwaysReportedOnX86_64) {
    const std::uint32_t mask = cpuFeatures();
    EXPECT_EQ(mask & kCpuBaseSet, kCpuBaseSet);
    EXPECT_EQ(mask >> 22, 0u);
    if (mask & kCpuAvx2) {
        EXPECT_TRUE(mask & kCpuAvx);
    }
}
#endif

TEST(Exceptions, CopiedExceptionKeepsItsText) {
    try {
        try {
            throw Mav::Exception("first: second");
        } catch (const Mav::Exception& e) {
            Mav::Exception copy = e;
            throw copy;
        }
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "first: second");
    }
}

TEST(CriticalSection, IsReEntrantForItsOwnerAndExcludesOthers) {
    CriticalSection section;
    section.enter();
    ASSERT_TRUE(section.tryEnter());  // the owner gets in again
    bool otherGotIn = true;
    std::thread([&] { otherGotIn = section.tryEnter(); }).join();
    EXPECT_FALSE(otherGotIn);
    section.leave();
    std::thread([&] { otherGotIn = section.tryEnter(); }).join();
    EXPECT_FALSE(otherGotIn) << "one of two entries is still held";
    section.leave();
    std::thread([&] {
        otherGotIn = section.tryEnter();
        if (otherGotIn) section.leave();
    }).join();
    EXPECT_TRUE(otherGotIn);
}

TEST(CriticalSection, GuardLeavesOnException) {
    CriticalSection section;
    try {
        LockGuard outer(section);
        LockGuard inner(section);
        throw std::runtime_error("leave");
    } catch (const std::runtime_error&) {
    }
    bool otherGotIn = false;
    std::thread([&] {
        otherGotIn = section.tryEnter();
        if (otherGotIn) section.leave();
    }).join();
    EXPECT_TRUE(otherGotIn);
}

}  // namespace
