#include "engine/keying/colour_model.h"

#include <cmath>

namespace vantrelo {

void rgbToHsv(float r, float g, float b, float* h, float* s, float* v) {
    if (!h || !s || !v) return;
    if (!std::isfinite(r) || !std::isfinite(g) || !std::isfinite(b)) {
        *h = *s = *v = 0.0f;
        return;
    }
    const float high = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const float low = r < g ? (r < b ? r : b) : (g < b ? g : b);
    const float d = high - low;
    *v = high;
    *s = high > 0.0f ? d / high : 0.0f;
    if (*s == 0.0f) {
        *h = 0.0f;
        return;
    }
    const float rc = (high - r) / d;
    const float gc = (high - g) / d;
    const float bc = (high - b) / d;
    float hue;
    if (r == high)
        hue = bc - gc;
    else if (g == high)
        hue = 2.0f + rc - bc;
    else
        hue = 4.0f + gc - rc;
    if (hue < 0.0f) hue += 6.0f;
    *h = hue;
}

void hsvToRgb(float h, float s, float v, float* r, float* g, float* b) {
    if (!r || !g || !b) return;
    if (std::isnan(h) || std::isnan(s) || std::isnan(v)) {
        *r = *g = *b = 0.0f;
        return;
    }
    if (s < 0.00001f) {
        *r = *g = *b = v;
        return;
    }
    if (!std::isfinite(h)) {
        *r = *g = *b = 0.0f;
        return;
    }
    // fmod is exact, so a hue of any size lands in [0, 6) in one step; a tiny negative remainder
    // can round up to 6 when shifted and then counts as 0.
    h = std::fmod(h, 6.0f);
    if (h < 0.0f) h += 6.0f;
    if (h >= 6.0f) h = 0.0f;
    if (s > 1.0f) s = 1.0f;
    const int i = static_cast<int>(h);
    const float f = h - static_cast<float>(i);
    const float p = v * (1.0f - s);
    const float q = v * (1.0f - s * f);
    const float t = v * (1.0f - s * (1.0f - f));
    switch (i) {
    case 0: *r = v, *g = t, *b = p; break;
    case 1: *r = q, *g = v, *b = p; break;
    case 2: *r = p, *g = v, *b = t; break;
    case 3: *r = p, *g = q, *b = v; break;
    case 4: *r = t, *g = p, *b = v; break;
    default: *r = v, *g = p, *b = q; break;
    }
}

int classifyColourHsv(float h, float s, float v) {
    const double sd = s, vd = v;
    if (sd < 0.1) {
        if (vd > 0.7) return ColourClassLight;
        if (vd >= 0.3) return ColourClassGrey;
        return ColourClassDark;
    }
    if (sd >= 0.6 || (vd >= 0.07 && vd <= 0.93)) return hueClass(h);
    if (vd > 0.93) return ColourClassLight;
    return ColourClassDark;  // v below 0.07, or not a number
}

int hueClass(float h) {
    const double hd = h;
    if (hd < 0.5) return ColourClassRed;
    if (hd < 1.5) return ColourClassYellow;
    if (hd < 2.5) return ColourClassGreen;
    if (hd < 3.5) return ColourClassCyan;
    if (hd < 4.5) return ColourClassBlue;
    if (hd < 5.5) return ColourClassMagenta;
    return ColourClassRed;
}

int colourInRange(const float* channels) {
    if (!channels) return -1;
    for (int c = 0; c < 3; ++c)
        if (!(channels[c] >= 0.0f && channels[c] <= 65535.0f)) return -1;
    return 1;
}

}  // namespace vantrelo
