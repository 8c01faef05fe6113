#include "engine/keying/colour_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vantrelo {
namespace {

struct Rgb {
    float r, g, b;
};

Rgb toRgb(float h, float s, float v) {
    Rgb out{-1, -1, -1};
    hsvToRgb(h, s, v, &out.r, &out.g, &out.b);
    return out;
}

// HSV and back returns the colour, over a grid that covers every sextant, greys and black.
TEST(ColourModel, HsvRoundTripReturnsTheColour) {
    for (int r = 0; r <= 8; ++r)
        for (int g = 0; g <= 8; ++g)
            for (int b = 0; b <= 8; ++b) {
                const float in[3] = {r / 8.0f, g / 8.0f, b / 8.0f};
                float h, s, v;
                rgbToHsv(in[0], in[1], in[2], &h, &s, &v);
                EXPECT_GE(h, 0.0f);
                EXPECT_LT(h, 6.0f);
                EXPECT_GE(s, 0.0f);
                EXPECT_LE(s, 1.0f);
                const Rgb out = toRgb(h, s, v);
                EXPECT_NEAR(out.r, in[0], 1e-6f);
                EXPECT_NEAR(out.g, in[1], 1e-6f);
                EXPECT_NEAR(out.b, in[2], 1e-6f);
            }
}

TEST(ColourModel, RgbToHsvKnownColours) {
    struct Case {
        float r, g, b, h, s, v;
    } cases[] = {
        {1, 0, 0, 0, 1, 1},     {1, 1, 0, 1, 1, 1},   {0, 1, 0, 2, 1, 1},       {0, 1, 1, 3, 1, 1},
        {0, 0, 1, 4, 1, 1},     {1, 0, 1, 5, 1, 1},   {0.5f, 0.5f, 0.5f, 0, 0, 0.5f},
        {0, 0, 0, 0, 0, 0},     {1, 0, 0.5f, 5.5f, 1, 1},
    };
    for (const Case& c : cases) {
        float h, s, v;
        rgbToHsv(c.r, c.g, c.b, &h, &s, &v);
        EXPECT_FLOAT_EQ(h, c.h) << c.r << " " << c.g << " " << c.b;
        EXPECT_FLOAT_EQ(s, c.s);
        EXPECT_FLOAT_EQ(v, c.v);
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    float h = 9, s = 9, v = 9;
    rgbToHsv(nan, 0.5f, 0.5f, &h, &s, &v);
    EXPECT_EQ(h + s + v, 0.0f);
}

// The hue is reduced modulo 6 in one step, whatever its size; NaN anywhere gives black.
TEST(ColourModel, HsvToRgbReducesAnyHueAndTurnsNanIntoBlack) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float h, s, v;
        float sameAsH, sameAsS;
    } same[] = {
        {7.5f, 0.8f, 0.9f, 1.5f, 0.8f}, {-0.5f, 0.8f, 0.9f, 5.5f, 0.8f}, {13.25f, 0.5f, 0.5f, 1.25f, 0.5f},
        {6.0f, 1.0f, 1.0f, 0.0f, 1.0f}, {-6.0f, 1.0f, 1.0f, 0.0f, 1.0f}, {2.5f, 1.5f, 0.7f, 2.5f, 1.0f},
        {-1e-9f, 1.0f, 1.0f, 0.0f, 1.0f},
    };
    for (const Case& c : same) {
        const Rgb a = toRgb(c.h, c.s, c.v), b = toRgb(c.sameAsH, c.sameAsS, c.v);
        EXPECT_FLOAT_EQ(a.r, b.r) << "h " << c.h;
        EXPECT_FLOAT_EQ(a.g, b.g) << "h " << c.h;
        EXPECT_FLOAT_EQ(a.b, b.b) << "h " << c.h;
    }
    // A loop that steps by 6 would never finish these.
    for (float h : {3e38f, -3e38f, 1e20f, 16777217.0f * 6.0f}) {
        const Rgb out = toRgb(h, 1.0f, 1.0f);
        for (float c : {out.r, out.g, out.b}) {
            EXPECT_GE(c, 0.0f) << h;
            EXPECT_LE(c, 1.0f) << h;
        }
    }
    struct Black {
        float h, s, v;
    } blacks[] = {{nan, 0.5f, 0.5f}, {1.0f, nan, 0.5f}, {1.0f, 0.5f, nan}, {inf, 0.5f, 0.5f}, {-inf, 1, 1}};
    for (const Black& c : blacks) {
        const Rgb out = toRgb(c.h, c.s, c.v);
        EXPECT_EQ(out.r, 0.0f);
        EXPECT_EQ(out.g, 0.0f);
        EXPECT_EQ(out.b, 0.0f);
    }
    const Rgb grey = toRgb(inf, 0.0f, 0.25f);  // no saturation: the hue does not matter
    EXPECT_EQ(grey.r, 0.25f);
    EXPECT_EQ(grey.b, 0.25f);
}

TEST(ColourModel, ColourClasses) {
    struct Case {
        float h, s, v;
        int colourClass;
    } cases[] = {
        {0.2f, 0.3f, 0.95f, ColourClassLight}, {2.2f, 0.7f, 0.95f, ColourClassGreen},
        {4.0f, 0.05f, 0.8f, ColourClassLight}, {4.0f, 0.05f, 0.5f, ColourClassGrey},
        {4.0f, 0.05f, 0.2f, ColourClassDark},  {4.0f, 0.3f, 0.05f, ColourClassDark},
        {4.0f, 0.3f, 0.5f, ColourClassBlue},   {4.0f, 0.6f, 0.02f, ColourClassBlue},
        {0.7f, 0.5f, 0.5f, ColourClassYellow}, {3.0f, 0.5f, 0.5f, ColourClassCyan},
        {5.0f, 0.5f, 0.5f, ColourClassMagenta}, {5.7f, 0.5f, 0.5f, ColourClassRed},
        {0.0f, std::nanf(""), std::nanf(""), ColourClassDark},
    };
    for (const Case& c : cases)
        EXPECT_EQ(classifyColourHsv(c.h, c.s, c.v), c.colourClass) << c.h << " " << c.s << " " << c.v;
    // Each bound on both sides: the class changes exactly at 0.5, 1.5, ... 5.5.
    const float bounds[][2] = {{0.49f, 5}, {0.5f, 8}, {1.49f, 8}, {1.5f, 4}, {2.49f, 4}, {2.5f, 6}, {3.49f, 6},
                               {3.5f, 3}, {4.49f, 3}, {4.5f, 7}, {5.49f, 7}, {5.5f, 5}, {7.0f, 5}, {-1.0f, 5}};
    for (const auto& b : bounds) EXPECT_EQ(hueClass(b[0]), int(b[1])) << b[0];
    EXPECT_EQ(hueClass(std::nanf("")), ColourClassRed);
}

TEST(ColourModel, ColourInRange) {
    const float inRange[3] = {0, 65535, 100};
    const float below[3] = {0, -0.5f, 100};
    const float above[3] = {65535.5f, 0, 0};
    const float notANumber[3] = {0, 0, std::nanf("")};
    EXPECT_EQ(colourInRange(inRange), 1);
    EXPECT_EQ(colourInRange(below), -1);
    EXPECT_EQ(colourInRange(above), -1);
    EXPECT_EQ(colourInRange(notANumber), -1);
}

}  // namespace
}  // namespace vantrelo
