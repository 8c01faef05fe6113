#pragma once
// The engine's small colour model: HSV conversions and the colour classes that decide how a key
// starts from a backdrop colour.
//
// RGB values are floats in [0, 1] (a 16-bit channel c is brought there as c * kUnit16).  Hue is in
// sextants [0, 6) (0 red, 1 yellow, 2 green, 3 cyan, 4 blue, 5 magenta); saturation and value in
// [0, 1].  Every operation finishes in constant time for any input, NaN included.

#include <cstdint>

namespace vantrelo {

// 1/65535 as the engine's single-precision constant.
inline constexpr float kUnit16 = 1.5259022e-05f;

enum ColourClass : int {
    ColourClassDark = 0,
    ColourClassLight = 1,
    ColourClassGrey = 2,
    ColourClassBlue = 3,
    ColourClassGreen = 4,
    ColourClassRed = 5,
    ColourClassCyan = 6,
    ColourClassMagenta = 7,
    ColourClassYellow = 8,
};

// Hue 0 for a colour without saturation.  A non-finite channel gives (0, 0, 0).
void rgbToHsv(float r, float g, float b, float* h, float* s, float* v);
// A saturation below 0.00001 gives the grey (v, v, v); the hue is taken modulo 6 (7.5 acts as 1.5)
// and the saturation limited to 1.  NaN in any argument, or an infinite hue on a saturated colour,
// gives black.
void hsvToRgb(float h, float s, float v, float* r, float* g, float* b);
// Dark, light or grey for colours of little saturation or extreme value, else the hue class.
int classifyColourHsv(float h, float s, float v);
// The hue class (3 to 8) of a hue: the nearest of the six primary and secondary hues.
int hueClass(float h);
// 1 when each of the three channels lies in [0, 65535], else -1.
int colourInRange(const float* channels);

}  // namespace vantrelo
