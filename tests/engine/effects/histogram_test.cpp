#include "engine/effects/histogram.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace vantrelo {
namespace {

Histogram make(const std::vector<std::int32_t>& values) {
    Histogram h(static_cast<std::int32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) h[static_cast<std::int32_t>(i)] = values[i];
    return h;
}

std::vector<std::int32_t> values(const Histogram& h) {
    return std::vector<std::int32_t>(h.bins(), h.bins() + h.count());
}

TEST(Histogram, SmoothUsesOldValuesAndEdgeWeights) {
    struct Case {
        std::vector<std::int32_t> in, out;
    };
    const Case cases[] = {
        {{0, 0, 8, 0, 0}, {0, 2, 4, 2, 0}},
        {{8, 0, 0}, {6, 2, 0}},
        {{0, 0, 8}, {0, 2, 6}},
        {{1, 1, 0}, {1, 0, 0}},   // truncating division
        {{-8, 0, 0}, {-6, -2, 0}},  // toward zero for negative bins too
        {{5}, {5}},
        {{2147483647, 2147483647, 2147483647}, {2147483647, 2147483647, 2147483647}},  // no overflow
    };
    for (const auto& c : cases) {
        Histogram h = make(c.in);
        h.smooth();
        EXPECT_EQ(values(h), c.out);
    }
}

TEST(Histogram, DifferentiateAndNormalise) {
    Histogram h = make({1, 4, 9, 16});
    h.differentiate();
    EXPECT_EQ(h.count(), 3);
    EXPECT_EQ(h.capacity(), 4);
    EXPECT_EQ(values(h), (std::vector<std::int32_t>{3, 5, 7}));

    Histogram n = make({1, 3});
    n.normalise();
    EXPECT_EQ(values(n), (std::vector<std::int32_t>{5400, 16200}));
    Histogram thirds = make({1, 1, 1});
    thirds.normalise();
    for (std::int32_t v : values(thirds)) EXPECT_NEAR(v, 7200, 1);
    Histogram zero(5);
    zero.normalise();  // no division by zero
    EXPECT_EQ(values(zero), std::vector<std::int32_t>(5, 0));
    // A sum beyond 32 bits still normalises.
    Histogram big = make({2000000000, 2000000000});
    big.normalise();
    for (std::int32_t v : values(big)) EXPECT_NEAR(v, 10800, 1);
}

TEST(Histogram, SearchesCompareAfterDivisionBySeven) {
    // A rise of less than 7 is no rise for the peak search, but is one for the local maximum.
    Histogram small = make({7, 13, 0, 0});
    EXPECT_EQ(small.nextPeak(0), -1);
    EXPECT_EQ(small.nextLocalMax(0), 1);
    Histogram peak = make({0, 7, 13, 0, 30, 0});
    EXPECT_EQ(peak.nextPeak(0), 1);   // 1 >= 13/7 = 1
    EXPECT_EQ(peak.nextPeak(1), 4);
    EXPECT_EQ(peak.nextPeak(4), -1);
    EXPECT_EQ(peak.nextLocalMax(2), 2);
    EXPECT_EQ(peak.nextLocalMax(3), 4);

    // Valleys must lie below -40 after the division.
    Histogram d = make({0, -300, -400, -300, 0});
    EXPECT_EQ(d.previousValley(3), 2);
    EXPECT_EQ(d.previousValley(1), 2);  // starts at i + 1
    EXPECT_EQ(d.previousValley(0), -1);
    Histogram shallow = make({0, -200, -280, -200, 0});  // -280 / 7 = -40 is not below -40
    EXPECT_EQ(shallow.previousValley(3), -1);

    // Any index is safe.
    EXPECT_EQ(peak.nextPeak(1000), -1);
    EXPECT_EQ(peak.nextPeak(-7), 1);
    EXPECT_EQ(d.previousValley(1000), 2);
    EXPECT_EQ(d.previousValley(-5), -1);
    EXPECT_EQ(peak.nextLocalMax(-3), 2);
    EXPECT_EQ(peak.nextLocalMax(std::numeric_limits<std::int32_t>::max()), -1);
}

TEST(Histogram, ExtentAssignReverse) {
    Histogram h = make({0, -3, 5, 0, 2, 0});
    const HistogramExtent e = h.extent();
    EXPECT_EQ(e.smallest, -3);
    EXPECT_EQ(e.largest, 5);
    EXPECT_EQ(e.first, 1);
    EXPECT_EQ(e.last, 4);
    const HistogramExtent empty = Histogram(4).extent();
    EXPECT_EQ(empty.smallest, 0);
    EXPECT_EQ(empty.largest, 0);
    EXPECT_EQ(empty.first, 3);
    EXPECT_EQ(empty.last, 0);

    h.reverse();
    EXPECT_EQ(values(h), (std::vector<std::int32_t>{0, 2, 0, 5, -3, 0}));

    Histogram shortOne = make({9, 8});
    EXPECT_FALSE(shortOne.assign(h));  // would write past its storage
    EXPECT_EQ(values(shortOne), (std::vector<std::int32_t>{9, 8}));
    EXPECT_TRUE(h.assign(shortOne));
    EXPECT_EQ(values(h), (std::vector<std::int32_t>{9, 8}));
    EXPECT_EQ(h.capacity(), 6);

    Histogram none(0);
    EXPECT_EQ(none.count(), 0);
    none.smooth();
    none.differentiate();
    none.normalise();
    none.reverse();
    EXPECT_FALSE(none.add(0));
    EXPECT_EQ(none.nextLocalMax(0), -1);
}

TEST(Histogram, FindPeakBand) {
    auto bands = [](std::initializer_list<std::pair<int, int>> ranges) {
        Histogram h(64);
        for (auto [hi, lo] : ranges)
            for (int b = lo; b <= hi; ++b) h[b] = 100;
        return h;
    };
    std::int32_t end = -9, start = -9, top = -9, gap = -9;
    // A wide gap separates the second band.
    EXPECT_TRUE(bands({{60, 55}, {39, 30}}).findPeakBand(end, start, top, gap, 10));
    EXPECT_EQ(top, 60);
    EXPECT_EQ(gap, 54);
    EXPECT_EQ(start, 39);
    EXPECT_EQ(end, 30);

    // A narrow gap close to the top closes again; more than 20 below the top a gap opens even
    // above the threshold and the very next bin starts the second band.
    end = start = top = gap = -9;
    EXPECT_TRUE(bands({{60, 55}, {49, 20}}).findPeakBand(end, start, top, gap, 10));
    EXPECT_EQ(gap, 39);
    EXPECT_EQ(start, 38);
    EXPECT_EQ(end, 20);

    // One band only.
    end = start = top = gap = -9;
    EXPECT_FALSE(bands({{60, 50}}).findPeakBand(end, start, top, gap, 10));
    EXPECT_EQ(top, 60);
    EXPECT_EQ(gap, 49);
    EXPECT_EQ(start, -9);
    EXPECT_EQ(end, -9);
}

}  // namespace
}  // namespace vantrelo
