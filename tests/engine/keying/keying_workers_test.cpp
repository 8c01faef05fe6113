#include "engine/keying/keying_workers.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "engine/keying/key_float8.h"
#include "engine/keying/key_pixel16.h"
#include "tests/engine/keying/keying_fixtures.h"
#include "tests/unstartable_threads.h"

namespace vantrelo {
namespace {

using testing_keys::Compiled;
using testing_keys::pixelsAround;
using testing_keys::shapedKey;
using test_threads::UnstartableThreads;

// Sets the engine's worker count for one test and puts the previous one back.
struct WorkerCount {
    std::int32_t saved = workerThreadCount();
    explicit WorkerCount(std::int32_t count) { setWorkerThreadCount(count); }
    ~WorkerCount() { setWorkerThreadCount(saved); }
};

TEST(KeyingWorkers, BandsSplitEvenlyAndTheLastTakesTheRest) {
    struct Case {
        int bands;
        std::ptrdiff_t total;
        std::vector<Band> expected;
    };
    const Case cases[] = {
        {4, 10, {{0, 2}, {2, 2}, {4, 2}, {6, 4}}},
        {4, 3, {{0, 0}, {0, 0}, {0, 0}, {0, 3}}},
        {3, 50, {{0, 16}, {16, 16}, {32, 18}}},
        {1, 7, {{0, 7}}},
    };
    for (const Case& c : cases)
        for (int i = 0; i < c.bands; ++i) {
            const Band band = bandOf(i, c.bands, c.total);
            EXPECT_EQ(band.start, c.expected[i].start) << c.total << "/" << c.bands << " band " << i;
            EXPECT_EQ(band.count, c.expected[i].count) << c.total << "/" << c.bands << " band " << i;
        }
    // Offsets stay 64-bit: a band of a span longer than 2^31 pixels starts where it should.
    const Band far = bandOf(3, 4, std::ptrdiff_t{6} << 30);
    EXPECT_EQ(far.start, std::ptrdiff_t{3} * (std::ptrdiff_t{6} << 30) / 4);
}

TEST(KeyingWorkers, BandOffsetsAdvanceByElementsOrWholeRows) {
    auto nothing = [](std::ptrdiff_t, std::ptrdiff_t) {};
    // Image 100 wide, 50 high, by rows over 3: rows 16 to 31 start 1600 pixels in.
    const Band rows = bandOf(1, 3, 50);
    BandWorker<decltype(nothing)> byRows(rows, 100, 50, true, true, nothing);
    std::vector<std::uint16_t> rgba16(4 * 5000);
    std::vector<float> rgbaFloat(4 * 5000);
    std::vector<std::uint8_t> bgr(3 * 5000), matte(5000);
    EXPECT_EQ(byRows.bandOffset8(rgba16.data()), rgba16.data() + 4 * 1600);
    EXPECT_EQ(byRows.bandOffset16(rgbaFloat.data()), rgbaFloat.data() + 4 * 1600);
    EXPECT_EQ(byRows.bandOffset3(bgr.data()), bgr.data() + 3 * 1600);
    EXPECT_EQ(byRows.bandOffset1(matte.data()), matte.data() + 1600);
    // A span band advances by its first element; an absent array stays absent.
    BandWorker<decltype(nothing)> span(bandOf(3, 4, 10), 1, 4, false, false, nothing);
    const std::uint16_t* constant = rgba16.data();
    EXPECT_EQ(span.bandOffset8(constant), constant + 4 * 6);
    EXPECT_EQ(span.bandOffset1(static_cast<std::uint8_t*>(nullptr)), nullptr);
}

// The band constructors of the worker base: a span, an image split by rows, one split by columns.
TEST(KeyingWorkers, BandConstructorsFillTheBandFields) {
    struct Probe final : VantThread {
        using VantThread::VantThread;
        unsigned run() override { return 0; }
    };
    struct Case {
        Probe worker;
        std::ptrdiff_t start, count, width, height;
        bool twoDimensional, byRows;
    };
    const Case cases[] = {
        {Probe(1, 4, 10), 2, 2, 1, 2, false, false},
        {Probe(3, 4, 10), 6, 4, 1, 4, false, false},
        {Probe(1, 3, 100, 50, true), 16, 16, 100, 16, true, true},    // rows 16 to 31 of 100 x 50
        {Probe(2, 3, 100, 50, true), 32, 18, 100, 18, true, true},
        {Probe(2, 3, 100, 50, false), 66, 34, 34, 50, true, false},  // columns 66 to 99
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "band at " << c.start);
        EXPECT_EQ(c.worker.bandStart(), c.start);
        EXPECT_EQ(c.worker.bandCount(), c.count);
        EXPECT_EQ(c.worker.width(), c.width);
        EXPECT_EQ(c.worker.height(), c.height);
        EXPECT_EQ(c.worker.twoDimensional(), c.twoDimensional);
        EXPECT_EQ(c.worker.byRows(), c.byRows);
    }
    std::vector<std::uint16_t> rgba16(4 * 5000);
    EXPECT_EQ(cases[2].worker.bandOffset8(rgba16.data()), rgba16.data() + 4 * 1600);
    EXPECT_EQ(cases[4].worker.bandOffset8(rgba16.data()), rgba16.data() + 4 * 66);
}

TEST(KeyingWorkers, AFailingBandLeavesTheOthersDone) {
    std::vector<int> marks(40, 0);
    const bool ok = runSpanWorkers(4, 40, [&](std::ptrdiff_t start, std::ptrdiff_t count) {
        if (start == 10) throw std::runtime_error("band");
        for (std::ptrdiff_t i = start; i < start + count; ++i) marks[i] = 1;
    });
    EXPECT_FALSE(ok);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(marks[i], i >= 10 && i < 20 ? 0 : 1) << i;
}

// Threaded keying writes exactly what one call over the whole span writes, for any worker count and
// for spans shorter than the number of workers.
TEST(KeyingWorkers, ThreadedKeyingEqualsOneCall) {
    const std::ptrdiff_t lengths[] = {3, 31, 99, 100, 2500};
    const std::int32_t counts[] = {1, 2, 7, 32};
    const std::uint32_t keys[] = {KeyFlagGarbageMask, KeyFlagSpillComplement | KeyFlagDirectCallbacks,
                                  KeyFlagSpillSolid | KeyFlagGarbageMask | KeyFlagDirectCallbacks,
                                  KeyFlagUseRT | KeyFlagGarbageMask, KeyFlagUseRTPlus | KeyFlagSpillComplement};
    for (std::uint32_t flags : keys) {
        KeyState state = shapedKey(flags);
        Compiled compiled(&state);
        ASSERT_EQ(compiled.result, 1);
        for (std::ptrdiff_t n : lengths) {
            // The keyers' runs are slow in the checked build; their band edges show on short runs.
            if ((flags & (KeyFlagUseRT | KeyFlagUseRTPlus)) && n > 100) continue;
            const std::size_t count = std::size_t(n);
            const std::vector<std::uint16_t> x = pixelsAround(state, count, 5), y = pixelsAround(state, count, 6);
            const std::vector<std::uint16_t> s = pixelsAround(state, count, 7), m = pixelsAround(state, count, 8);
            std::vector<float> xf(x.begin(), x.end()), yf(y.begin(), y.end()), sf(s.begin(), s.end()),
                mf(m.begin(), m.end());
            std::vector<std::uint8_t> x8(3 * count), s8(3 * count), m8(3 * count);
            for (std::size_t i = 0; i < 3 * count; ++i) {
                x8[i] = std::uint8_t(x[i + i / 3] >> 8);
                s8[i] = std::uint8_t(s[i + i / 3] >> 8);
                m8[i] = std::uint8_t(m[i + i / 3] >> 8);
            }
            std::vector<std::uint16_t> one(4 * count), comp(x);
            std::vector<float> oneF(4 * count);
            std::vector<std::uint8_t> one8(3 * count), oneA(count);
            vantproc(x.data(), y.data(), s.data(), m.data(), one.data(), n, &state);
            super_vantproc(xf.data(), yf.data(), sf.data(), mf.data(), oneF.data(), n, &state);
            vantproc_8(x8.data(), x8.data(), s8.data(), m8.data(), one8.data(), oneA.data(), n, &state);
            vantcompositeLoop(comp.data(), s.data(), n);
            for (std::int32_t workers : counts) {
                WorkerCount scope(workers);
                std::vector<std::uint16_t> out(4 * count, 0x1234), composite(x);
                std::vector<float> outF(4 * count, -3.0f);
                std::vector<std::uint8_t> out8(3 * count, 0x12), outA(count, 0x34);
                EXPECT_TRUE(runVantprocWorkers(x.data(), y.data(), s.data(), m.data(), out.data(), n, &state,
                                               state.flags));
                EXPECT_TRUE(runFloatKeyWorkers(xf.data(), yf.data(), sf.data(), mf.data(), outF.data(), n, &state,
                                               state.flags));
                EXPECT_TRUE(runVantproc8Workers(x8.data(), x8.data(), s8.data(), m8.data(), out8.data(),
                                                outA.data(), n, &state, state.flags));
                EXPECT_TRUE(runCompositeLoopWorkers(composite.data(), s.data(), n));
                EXPECT_EQ(out, one) << workers << " workers, " << n << " pixels";
                EXPECT_EQ(outF, oneF) << workers << " workers, " << n << " pixels";
                EXPECT_EQ(out8, one8) << workers << " workers, " << n << " pixels";
                EXPECT_EQ(outA, oneA) << workers << " workers, " << n << " pixels";
                EXPECT_EQ(composite, comp) << workers << " workers, " << n << " pixels";
            }
        }
    }
}

// A band whose thread cannot be started is not lost: it runs on the calling thread, and the result
// is the one of a single call.  Starting never throws, whatever std::thread reports (a refused
// thread, or no memory for its start record).
TEST(KeyingWorkers, BandsWhoseThreadCannotStartRunOnTheCaller) {
    static_assert(noexcept(std::declval<VantThread&>().start()));
    KeyState state = shapedKey(KeyFlagSpillSolid | KeyFlagDirectCallbacks);
    Compiled compiled(&state);
    const std::ptrdiff_t n = 1000;
    const std::vector<std::uint16_t> x = pixelsAround(state, std::size_t(n), 21);
    std::vector<std::uint16_t> one(4 * std::size_t(n)), out(4 * std::size_t(n), 0x1234);
    vantproc(x.data(), x.data(), nullptr, nullptr, one.data(), n, &state);
    std::vector<std::thread::id> ran(4);
    bool ok = false, keyed = false;
    {
        UnstartableThreads noThreads;
        if (!noThreads.ok()) GTEST_SKIP() << "the default thread attributes cannot be changed";
        bool threadStarts = true;
        try {
            std::thread probe([] {});
            probe.join();
        } catch (const std::system_error&) {
            threadStarts = false;
        }
        if (threadStarts) GTEST_SKIP() << "threads still start with a huge default stack";
        WorkerCount scope(4);
        keyed = runVantprocWorkers(x.data(), x.data(), nullptr, nullptr, out.data(), n, &state, state.flags);
        ok = runSpanWorkers(4, 4, [&](std::ptrdiff_t start, std::ptrdiff_t count) {
            if (count == 1) ran[std::size_t(start)] = std::this_thread::get_id();
        });
    }
    EXPECT_TRUE(keyed);
    EXPECT_EQ(out, one);
    EXPECT_TRUE(ok);
    for (const std::thread::id& id : ran) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(KeyingWorkers, WorkerCountIsLimitedToOneToThirtyTwo) {
    struct Case {
        std::int32_t set;
        int bands;
    };
    const Case cases[] = {{0, 1}, {-5, 1}, {1, 1}, {9, 9}, {40, 32}};
    for (const Case& c : cases) {
        WorkerCount scope(c.set);
        EXPECT_EQ(keyingBandCount(), c.bands) << c.set;
    }
}

}  // namespace
}  // namespace vantrelo
