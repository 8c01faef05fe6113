#pragma once
// Mask shape layers: one hand-drawn closed outline with its opacity, feather, invert flag and the
// rule by which it combines with the layers drawn before it; the list handed to the rasteriser;
// and the layer's text form, which the key data file stores.
//
// Every operation is safe with a null layer or list: it does nothing and returns 0, false or null.
// Nothing here throws.  The operations that need memory report a failed allocation by their result
// and then leave the layer or list exactly as it was.
//
// Ownership: whoever creates a layer (newShapeLayer, readShapeLayer) owns it and frees it with
// freeShapeLayer.  A KeyState only refers to layers through its null-terminated extShapes and
// obeyShapes arrays; no engine operation frees them, and a copy of a state refers to the same
// layers.  A ShapeLayerList refers to layers too and never frees them.

#include <cstdint>
#include <cstdio>
#include <vector>

namespace vantrelo {

class ShapeVisitor;

// Point types of an outline.
enum : std::int32_t {
    ShapePointSmooth = 1,
    ShapePointDoubled = 2,  // the outline is pulled closer to the point
    ShapePointCorner = 3,   // the outline passes through the point with a corner
};

// Combine modes; any other value adds.  The first layer drawn by a rendering always copies.
enum : std::int32_t {
    ShapeModeSubtract = 1,
    ShapeModeMinimum = 2,
    ShapeModeMaximum = 3,
};

struct ShapeLayer {
    bool invert = false;      // the shape covers everything outside its outline
    float opacity = 1.0f;     // 0..1, the coverage of the filled shape
    float feather = 0.0f;     // blur radius (int)(feather x mask width x 0.1 + 0.5) pixels
    std::vector<float> x;     // outline points as fractions of the mask width
    std::vector<float> y;     // ... and of the mask height
    std::vector<std::int32_t> pointType;
    std::vector<bool> pointFlag;  // never stored in the text form
    std::int32_t mode = 0;

    // The four vectors always have the point count as their length.  Copying may throw
    // std::bad_alloc; the engine's own callers go through copyShapeLayer, which does not.
    ShapeLayer() = default;
    ~ShapeLayer() = default;
    ShapeLayer(const ShapeLayer&) = default;
    ShapeLayer& operator=(const ShapeLayer&) = default;
    ShapeLayer(ShapeLayer&&) noexcept = default;
    ShapeLayer& operator=(ShapeLayer&&) noexcept = default;

    // Sends the closed uniform cubic B-spline whose control points are the points, each repeated
    // by its type (doubled twice, corner three times), to the visitor as Bezier segments.  Fewer
    // than three points send nothing.  Allocates nothing.
    void emitOutline(ShapeVisitor* visitor) const;
};

// Inclusive pixel box; empty when x0 > x1 or y0 > y1.
struct ShapeBounds {
    std::int32_t x0, y0, x1, y1;
};
constexpr ShapeBounds kEmptyShapeBounds{0, 0, -1, -1};

struct ShapeLayerList {
    std::vector<ShapeLayer*> layers;  // drawing order; not owned
    double width = 0.0;               // mask size in pixels
    double height = 0.0;
    ShapeBounds bounds = kEmptyShapeBounds;  // union of the boxes of the layers drawn so far
};

// A new layer without points (not inverted, opacity 1, feather 0, mode 0); null when out of memory.
ShapeLayer* newShapeLayer();
void freeShapeLayer(ShapeLayer* layer);
// destination := a copy of source; returns destination, or null (destination unchanged) when
// either is null or memory runs out.
ShapeLayer* copyShapeLayer(const ShapeLayer* source, ShapeLayer* destination);
// The point count becomes n (n < 0 counts as 0); new points are (0, 0), type 0, flag false.
// False (layer unchanged) for a null layer or when memory runs out.
bool resizeShapeLayer(ShapeLayer* layer, std::int64_t n);
// An index below the point count replaces x, y and the type (corner: 3, else 1) of that point and
// keeps its flag; any other index, negative ones too, appends the point with a false flag.
bool setShapeLayerPoint(ShapeLayer* layer, std::int64_t index, float x, float y, bool corner);
std::int64_t getShapeLayerPointCount(const ShapeLayer* layer);
// corner = (type != 1).  False, outputs untouched, for a null layer or an index out of range.
bool getShapeLayerPoint(const ShapeLayer* layer, std::int64_t index, float* x, float* y,
                        bool* corner);
bool getShapeLayerInvert(const ShapeLayer* layer);
void setShapeLayerInvert(ShapeLayer* layer, bool value);
float getShapeLayerOpacity(const ShapeLayer* layer);
void setShapeLayerOpacity(ShapeLayer* layer, float value);
float getShapeLayerFeather(const ShapeLayer* layer);
void setShapeLayerFeather(ShapeLayer* layer, float value);
std::int32_t getShapeLayerMode(const ShapeLayer* layer);
void setShapeLayerMode(ShapeLayer* layer, std::int32_t value);

// Text form, one value group per line, numbers in the C locale whatever the process locale:
//   invert ("%i"), opacity ("%f"), feather ("%f"), mode ("%i"), point count n ("%i"),
//   then n lines "x y type" ("%f %f %d").
// writeShapeLayer returns false when the file is null or a write fails; a null layer writes nothing.
bool writeShapeLayer(const ShapeLayer* layer, std::FILE* file);
// Reads one layer (lines of at most 255 characters; a longer line counts as several).  Null when a
// line is missing or does not scan, when a number is not finite (NaN and infinity are damage, not
// a shape), when the point count is 0, or when memory runs out; the lines read so far stay
// consumed.  A negative count gives a layer without points.  The caller owns the
// result.
ShapeLayer* readShapeLayer(std::FILE* file);

// destination := a copy of a, with opacity (1 - t) b + t a and, when a and b have the same point
// count, each x and y t a + (1 - t) b.  False (destination unchanged) on a null argument or when
// memory runs out.
bool interpolateShapeLayers(const ShapeLayer* a, const ShapeLayer* b, float t,
                            ShapeLayer*& destination);

// A new empty list with empty bounds; null when out of memory.
ShapeLayerList* newShapeLayerList(double width, double height);
// Appends the layer pointer (a null layer is not appended).  False when the list or layer is null
// or memory runs out.
bool addShapeLayerToList(ShapeLayerList* list, ShapeLayer* layer);
void getShapeLayerListBounds(const ShapeLayerList* list, ShapeBounds* box);
// Frees the list, never its layers.
void freeShapeLayerList(ShapeLayerList* list);

}  // namespace vantrelo
