#include "kernels/band_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "kernel_test_support.h"

namespace vantrelo {
namespace {

using kernel_test::TestHost;

TEST(BandRange, BandsPartitionTheLinesInTruncatedShares) {
    struct Case {
        std::ptrdiff_t first, end;
        std::uint64_t count;
        std::vector<std::ptrdiff_t> sizes;
    };
    const Case cases[] = {
        {0, 3, 8, {0, 0, 1, 0, 0, 1, 0, 1}},  // more bands than rows: five empty bands
        {0, 10, 4, {2, 3, 2, 3}},
        {-7, 5, 5, {2, 2, 3, 2, 3}},  // negative first line
        {4, 4, 3, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        std::ptrdiff_t next = c.first;
        for (std::uint64_t k = 0; k < c.count; ++k) {
            const BandRange band = bandRange(c.first, c.end, k, c.count);
            const std::ptrdiff_t size = band.empty() ? 0 : band.end - band.begin;
            EXPECT_EQ(size, c.sizes[k]) << c.first << ".." << c.end << " band " << k;
            if (!band.empty()) {
                EXPECT_EQ(band.begin, next);  // no gap, no overlap
                next = band.end;
            }
        }
        EXPECT_EQ(next, c.end == c.first ? c.first : c.end);
    }
}

TEST(BandRange, HugeSpansAndBandCountsDoNotOverflow) {
    const BandRange band = bandRange(-2147483648LL, 2147483647LL, 3000000000ULL, 4000000000ULL);
    EXPECT_EQ(band.begin, -2147483648LL + 3221225471LL);
    EXPECT_LE(band.end - band.begin, 2);
}

struct CountingJob {
    std::atomic<int> calls{0};
    std::atomic<std::uint64_t> indexSum{0};
    std::atomic<bool> keyIsIndex{true};
    std::uint64_t seenCount = 0;
};

void countingWorker(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key) {
    auto& j = *static_cast<CountingJob*>(job);
    ++j.calls;
    j.indexSum += index;
    if (key != index) j.keyIsIndex = false;
    if (index == 0) j.seenCount = count;
}

TEST(RunBands, EveryBandRunsOnceWithItsIndexAsKey) {
    TestHost host;
    for (std::uint64_t n : {1u, 2u, 5u}) {
        CountingJob job;
        runBands(host, countingWorker, &job, n);
        EXPECT_EQ(job.calls, static_cast<int>(n));
        EXPECT_EQ(job.indexSum, n * (n - 1) / 2);
        EXPECT_TRUE(job.keyIsIndex);
        EXPECT_EQ(job.seenCount, n);
    }
    CountingJob all;
    runBands(host, countingWorker, &all);  // one band per processor
    EXPECT_EQ(static_cast<std::uint64_t>(all.calls), host.processorCount());
}

void failingWorker(void*, std::uint64_t index, std::uint64_t, std::uint64_t) {
    if (index == 2) throw Mav::Interrupted();
}

TEST(RunBands, AFailingBandReachesTheCallerAfterTheJoin) {
    TestHost host;
    EXPECT_THROW(runBands(host, failingWorker, nullptr, 4), Mav::Interrupted);
}

}  // namespace
}  // namespace vantrelo
