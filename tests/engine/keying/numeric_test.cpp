#include "engine/keying/numeric.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace vantrelo {
namespace {

// The edges every channel store relies on: NaN and negatives (and -0) give 0, values truncate
// toward zero, anything at or above the top (infinity included) gives the top, and a float and the
// same value widened to double give the same sample.
TEST(Numeric, UnsignedSamplesClampThenTruncate) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    constexpr float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float v;
        std::uint16_t sixteen;
        std::uint8_t eight;
    } cases[] = {{nan, 0, 0},          {-inf, 0, 0},          {-1.0f, 0, 0},         {-0.0f, 0, 0},
                 {0.999f, 0, 0},       {1.0f, 1, 1},          {254.99f, 254, 254},   {255.0f, 255, 255},
                 {255.5f, 255, 255},   {65534.99f, 65534, 255}, {65535.0f, 65535, 255}, {65535.5f, 65535, 255},
                 {1e30f, 65535, 255},  {inf, 65535, 255}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.v);
        EXPECT_EQ(truncToUint16(c.v), c.sixteen);
        EXPECT_EQ(truncToUint16(static_cast<double>(c.v)), c.sixteen);
        EXPECT_EQ(truncToUint8(c.v), c.eight);
        EXPECT_EQ(truncToUint8(static_cast<double>(c.v)), c.eight);
    }
    // Just below the top in double, which float cannot hold apart from the top itself.
    EXPECT_EQ(truncToUint16(65534.999999), 65534);
    EXPECT_EQ(truncToUint8(254.999999), 254);
}

TEST(Numeric, Int64IntermediatesSaturateToInt32) {
    constexpr std::int64_t top = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t bottom = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(saturateToInt32(0), 0);
    EXPECT_EQ(saturateToInt32(-5), -5);
    EXPECT_EQ(saturateToInt32(top), top);
    EXPECT_EQ(saturateToInt32(top + 1), top);
    EXPECT_EQ(saturateToInt32(bottom), bottom);
    EXPECT_EQ(saturateToInt32(bottom - 1), bottom);
    EXPECT_EQ(saturateToInt32(std::numeric_limits<std::int64_t>::max()), top);
    EXPECT_EQ(saturateToInt32(std::numeric_limits<std::int64_t>::min()), bottom);
}

}  // namespace
}  // namespace vantrelo
