#pragma once
// Rasterising mask shape layers into 16-bit masks, and the mask drivers of the processing entry
// points.  Each layer is filled anti-aliased into a 16-bit grey coverage image with its opacity,
// feathered by AGG's stack blur and combined into the target inside the layer's box:
//   first layer of a rendering: copy; mode 1: max(0, t - c); mode 2: min(t, c);
//   mode 3: max(t, c); any other mode: min(65535, t + c).
//
// Targets are width x height pixels of 16-bit channels, rows packed; every channel of a pixel gets
// the same value (4 channels for 4, 3 for 3, one for any other count).
//
// Results: true when the target holds the rendering (also when there was nothing to draw); false
// when an argument is unusable or memory runs out, and then no pixel of the target has changed.
// Nothing here throws.

#include <cstddef>
#include <cstdint>

#include "engine/effects/shape_layer.h"

namespace vantrelo {

struct KeyState;

// Receives one layer's outline.  Coordinates are fractions of the mask width and height.
class ShapeVisitor {
public:
    virtual void beginShape() = 0;
    virtual void addVertex(double x, double y) = 0;
    virtual void addBezier(double x1, double y1, double x2, double y2, double x3, double y3,
                           double x4, double y4) = 0;
    virtual void endShape(int featherRadius, int mode) = 0;
    virtual void setInvert() = 0;
    virtual void setOpacity(float opacity) = 0;

protected:
    ~ShapeVisitor() = default;  // never deleted through the interface
};

// Feather radius in pixels of a layer drawn on a mask `maskWidth` pixels wide:
// (int)(feather x maskWidth x 0.1 + 0.5); a negative or NaN result is 0, a huge one INT_MAX.
int shapeFeatherRadius(float feather, double maskWidth);

// Draws every layer of the list, in order, into the 4-channel target.  width and height describe
// the target; the list's own size is what is drawn, and a list larger than the target is refused.
// rowBytes is accepted for the callers' convenience and not used (rows are packed).  The list's
// bounds grow to include each layer's box.
bool renderShapeLayers(ShapeLayerList* list, std::uint16_t* target, std::ptrdiff_t width,
                       std::ptrdiff_t height, std::ptrdiff_t rowBytes);

// Optionally clears the 16-bit RGBA target, then draws the `count` layers (null entries skipped)
// into it.  `box`, when given, receives the union of the layer boxes (kEmptyShapeBounds when
// none).  With count < 1 only the clearing happens.
bool rasteriseShapeMask(std::uint16_t* target, std::ptrdiff_t width, std::ptrdiff_t height,
                        ShapeLayer* const* layers, std::ptrdiff_t count, bool clear,
                        ShapeBounds* box);

// Mixes source into destination by the mask's fourth channel m inside the inclusive box, clipped
// to the width x height image: m = 0 keeps the destination pixel, m = 65535 copies the source
// pixel, otherwise each of the four channels := (int)(s w + d (1 - w)) with w = m x 1.5259022e-05.
// Nothing without a box or with an empty one.
void mixByMaskInRect16(const std::uint16_t* source, std::uint16_t* destination,
                       const std::uint16_t* mask, std::ptrdiff_t width, std::ptrdiff_t height,
                       const ShapeBounds* box);

// With KeyFlagObeyShapes and at least one layer in the state's obeyShapes: renders those layers
// into a cleared 16-bit RGBA mask from the engine allocator and mixes a (mask 65535) and b (mask 0)
// into out by it, inside the union of the layer boxes, as mixByMatteInRect16 does; out keeps its
// pixels outside that box.  True also when there is nothing to apply.
bool applyObeyShapeMask(const KeyState* state, const std::uint16_t* a, const std::uint16_t* b,
                        std::uint16_t* out, std::ptrdiff_t width, std::ptrdiff_t height);

}  // namespace vantrelo
