// How parameter controls show and read numbers, and the slider arithmetic, without a display.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "host/param/param_number_text.h"
#include "tests/comma_locale.h"

namespace {

using namespace Mav::Host::Param;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ParamNumberText, ApproxEqualIsRelativeAndNeverHoldsForNaN) {
    EXPECT_TRUE(approxEqual(0.0, 0.0));
    EXPECT_TRUE(approxEqual(1e300, 1e300 * (1 + 2e-16)));
    EXPECT_TRUE(approxEqual(0.1 + 0.2, 0.3));  // one unit in the last place apart
    EXPECT_FALSE(approxEqual(1.0, 1.0 + 1e-15));
    EXPECT_FALSE(approxEqual(0.0, 1e-300));
    EXPECT_FALSE(approxEqual(kNaN, kNaN));
    EXPECT_FALSE(approxEqual(kNaN, 1.0));
}

TEST(ParamNumberText, FloatsShowTwoDecimalsWithAPointInEveryLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!test_locale::selectCommaLocale())
        GTEST_SKIP() << "no locale with a decimal comma is installed or can be made";
    const std::string shown = formatFloatText(12.3449);
    const std::string rounded = formatFloatText(-0.125);
    double read = 0;
    const bool readPoint = readFloatText("2.5", read);
    double ignored = 0;
    const bool readComma = readFloatText("2,5", ignored);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(shown, "12.34");
    EXPECT_EQ(rounded, "-0.12");  // an exact tie rounds to even, as "%.2f" does
    EXPECT_EQ(formatFloatText(100), "100.00");
    EXPECT_EQ(formatIntText(-42), "-42");
    ASSERT_TRUE(readPoint);
    EXPECT_EQ(read, 2.5);
    EXPECT_FALSE(readComma);
}

TEST(ParamNumberText, IntegerTextMustBeWholeAndSaturatesBeyondSixtyFourBits) {
    struct Case {
        const char* text;
        bool reads;
        std::int64_t value;
    };
    const Case cases[] = {
        {"42", true, 42},
        {"  -7", true, -7},
        {"+15", true, 15},
        {"-2147483649", true, -2147483649LL},
        {"99999999999999999999", true, std::numeric_limits<std::int64_t>::max()},
        {"-99999999999999999999", true, std::numeric_limits<std::int64_t>::min()},
        {"-9223372036854775808", true, std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", true, std::numeric_limits<std::int64_t>::max()},
        {"", false, 0},
        {"-", false, 0},
        {"12 ", false, 0},
        {"1.5", false, 0},
        {"abc", false, 0},
        {"0x10", false, 0},
    };
    for (const Case& c : cases) {
        std::int64_t value = 12345;
        EXPECT_EQ(readIntegerText(c.text, value), c.reads) << c.text;
        if (c.reads) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(ParamNumberText, FloatTextRefusesNaNAndKeepsInfinitiesForClamping) {
    double value = 0;
    EXPECT_FALSE(readFloatText("nan", value));
    EXPECT_FALSE(readFloatText("-NaN", value));
    EXPECT_FALSE(readFloatText("", value));
    EXPECT_FALSE(readFloatText("12abc", value));
    ASSERT_TRUE(readFloatText("inf", value));
    EXPECT_EQ(value, kInf);
    ASSERT_TRUE(readFloatText("-1e999", value));
    EXPECT_EQ(value, -kInf);
    ASSERT_TRUE(readFloatText("1e-999", value));
    EXPECT_EQ(value, 0.0);
    ASSERT_TRUE(readFloatText(" 12.341", value));
    EXPECT_EQ(value, 12.341);
}

TEST(ParamNumberText, SliderStepFollowsTheSliderMaximum) {
    struct Case {
        double low, high, step;
    };
    const Case cases[] = {
        {0, 100, 1},     {0, 50, 0.1},     {0, 5, 0.01},      {0, 200, 1},
        {0, 1, 0.01},    {-3, -0.5, 0.001}, {0, 0.005, 0.00005}, {0, 0, 1},
        {0, kNaN, 1},    {0, kInf, 1},     {-kInf, 0.001, 1},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(floatSliderStep(c.low, c.high), c.step) << c.low << ".." << c.high;
}

TEST(ParamNumberText, SliderPositionsTruncateAfterARelativeNudge) {
    EXPECT_EQ(sliderPositionFor(2.3, 0.01), 230);  // 229.99999999999997 before the nudge
    EXPECT_EQ(sliderPositionFor(-2.3, 0.01), -230);
    EXPECT_EQ(sliderPositionFor(0.379, 0.01), 37);
    EXPECT_EQ(sliderPositionFor(-0.379, 0.01), -37);
    EXPECT_EQ(sliderPositionFor(0.37, 0.01), 37);
    EXPECT_EQ(sliderPositionFor(kNaN, 1), 0);
    EXPECT_EQ(sliderPositionFor(1e300, 1), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(sliderPositionFor(-1e300, 1), std::numeric_limits<std::int32_t>::min());
}

TEST(ParamNumberText, RangeMessagesAreFilledInOrder) {
    EXPECT_EQ(fillRangeMessage("\"%s\": between %d and %d, 100%%", "Größe", 2, 100),
              "\"Größe\": between 2 and 100, 100%");
    EXPECT_EQ(fillRangeMessage("%s %.2f..%.2f %q", "x", 0, 1.5), "x 0.00..1.50 %q");
}

}  // namespace
