#include "engine/effects/shape_layer.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "engine/effects/text_fields.h"

namespace vantrelo {

namespace {

// Room for `extra` more points in all four vectors, growing geometrically so that appending point
// by point stays linear.  Either all four have the room afterwards or none changed (reserve keeps
// the contents when it throws).
bool reservePoints(ShapeLayer& layer, std::size_t extra) {
    const std::size_t needed = layer.x.size() + extra;
    if (needed <= layer.x.capacity() && needed <= layer.y.capacity() &&
        needed <= layer.pointType.capacity() && needed <= layer.pointFlag.capacity())
        return true;
    const std::size_t grown = std::max<std::size_t>(needed, 2 * layer.x.size());
    try {
        layer.x.reserve(grown);
        layer.y.reserve(grown);
        layer.pointType.reserve(grown);
        layer.pointFlag.reserve(grown);
    } catch (...) {
        return false;
    }
    return true;
}

// Appends within reserved room: cannot throw.
void appendPoint(ShapeLayer& layer, float x, float y, std::int32_t type) {
    layer.x.push_back(x);
    layer.y.push_back(y);
    layer.pointType.push_back(type);
    layer.pointFlag.push_back(false);
}

}  // namespace

ShapeLayer* newShapeLayer() { return new (std::nothrow) ShapeLayer(); }

void freeShapeLayer(ShapeLayer* layer) { delete layer; }

ShapeLayer* copyShapeLayer(const ShapeLayer* source, ShapeLayer* destination) {
    if (!source || !destination) return nullptr;
    if (source == destination) return destination;
    try {
        ShapeLayer copy(*source);
        *destination = std::move(copy);
    } catch (...) {
        return nullptr;
    }
    return destination;
}

bool resizeShapeLayer(ShapeLayer* layer, std::int64_t n) {
    if (!layer) return false;
    const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (count > layer->x.size() && !reservePoints(*layer, count - layer->x.size())) return false;
    try {  // within the reserved room, or shrinking: nothing allocates
        layer->x.resize(count, 0.0f);
        layer->y.resize(count, 0.0f);
        layer->pointType.resize(count, 0);
        layer->pointFlag.resize(count, false);
    } catch (...) {
        return false;
    }
    return true;
}

bool setShapeLayerPoint(ShapeLayer* layer, std::int64_t index, float x, float y, bool corner) {
    if (!layer) return false;
    const std::int32_t type = corner ? ShapePointCorner : ShapePointSmooth;
    if (index >= 0 && static_cast<std::uint64_t>(index) < layer->x.size()) {
        const auto i = static_cast<std::size_t>(index);
        layer->x[i] = x;
        layer->y[i] = y;
        layer->pointType[i] = type;
        return true;
    }
    if (!reservePoints(*layer, 1)) return false;
    appendPoint(*layer, x, y, type);
    return true;
}

std::int64_t getShapeLayerPointCount(const ShapeLayer* layer) {
    return layer ? static_cast<std::int64_t>(layer->x.size()) : 0;
}

bool getShapeLayerPoint(const ShapeLayer* layer, std::int64_t index, float* x, float* y, bool* corner) {
    if (!layer || index < 0 || static_cast<std::uint64_t>(index) >= layer->x.size()) return false;
    const auto i = static_cast<std::size_t>(index);
    if (x) *x = layer->x[i];
    if (y) *y = layer->y[i];
    if (corner) *corner = layer->pointType[i] != ShapePointSmooth;
    return true;
}

bool getShapeLayerInvert(const ShapeLayer* layer) { return layer && layer->invert; }
void setShapeLayerInvert(ShapeLayer* layer, bool value) {
    if (layer) layer->invert = value;
}
float getShapeLayerOpacity(const ShapeLayer* layer) { return layer ? layer->opacity : 0.0f; }
void setShapeLayerOpacity(ShapeLayer* layer, float value) {
    if (layer) layer->opacity = value;
}
float getShapeLayerFeather(const ShapeLayer* layer) { return layer ? layer->feather : 0.0f; }
void setShapeLayerFeather(ShapeLayer* layer, float value) {
    if (layer) layer->feather = value;
}
std::int32_t getShapeLayerMode(const ShapeLayer* layer) { return layer ? layer->mode : 0; }
void setShapeLayerMode(ShapeLayer* layer, std::int32_t value) {
    if (layer) layer->mode = value;
}

bool writeShapeLayer(const ShapeLayer* layer, std::FILE* file) {
    if (!file) return false;
    if (!layer) return true;
    text::LineWriter line;
    bool ok = line.integer(layer->invert ? 1 : 0).writeTo(file);
    ok = ok && line.fixed6(layer->opacity).writeTo(file);
    ok = ok && line.fixed6(layer->feather).writeTo(file);
    ok = ok && line.integer(layer->mode).writeTo(file);
    ok = ok && line.integer(static_cast<std::int64_t>(layer->x.size())).writeTo(file);
    for (std::size_t i = 0; ok && i < layer->x.size(); ++i)
        ok = line.fixed6(layer->x[i]).space().fixed6(layer->y[i]).space().integer(layer->pointType[i]).writeTo(file);
    return ok;
}

ShapeLayer* readShapeLayer(std::FILE* file) {
    if (!file) return nullptr;
    // The five header lines are consumed before any of them is judged, so that a damaged header
    // leaves the reader at the same place as a good one.
    text::Line header[5];
    for (text::Line& line : header)
        if (!text::readLine(file, line)) return nullptr;
    std::int32_t invert = 0, mode = 0, count = 0;
    float opacity = 0.0f, feather = 0.0f;
    if (!text::Scanner(header[0].text).scanIntAuto(invert) || !text::Scanner(header[1].text).scanFloat(opacity) ||
        !text::Scanner(header[2].text).scanFloat(feather) || !text::Scanner(header[3].text).scanIntAuto(mode) ||
        !text::Scanner(header[4].text).scanIntAuto(count) || !std::isfinite(opacity) || !std::isfinite(feather))
        return nullptr;
    if (count == 0) return nullptr;

    ShapeLayer* layer = newShapeLayer();
    if (!layer) return nullptr;
    layer->invert = invert != 0;
    layer->opacity = opacity;
    layer->feather = feather;
    layer->mode = mode;
    // The points are read one line at a time and the vectors grow with them, so a count that the
    // file does not back costs nothing.
    for (std::int32_t i = 0; i < count; ++i) {
        text::Line line;
        bool ok = text::readLine(file, line);
        float x = 0.0f, y = 0.0f;
        std::int32_t type = 0;
        text::Scanner scan(line.text);
        ok = ok && scan.scanFloat(x) && scan.scanFloat(y) && scan.scanIntAuto(type) && std::isfinite(x) &&
             std::isfinite(y) && reservePoints(*layer, 1);
        if (!ok) {
            freeShapeLayer(layer);
            return nullptr;
        }
        appendPoint(*layer, x, y, type);
    }
    return layer;
}

bool interpolateShapeLayers(const ShapeLayer* a, const ShapeLayer* b, float t, ShapeLayer*& destination) {
    if (!a || !b || !destination) return false;
    ShapeLayer result;
    try {
        result = *a;
    } catch (...) {
        return false;
    }
    result.opacity = (1.0f - t) * b->opacity + t * a->opacity;
    if (a->x.size() == b->x.size()) {
        for (std::size_t i = 0; i < result.x.size(); ++i) {
            result.x[i] = t * a->x[i] + (1.0f - t) * b->x[i];
            result.y[i] = t * a->y[i] + (1.0f - t) * b->y[i];
        }
    }
    *destination = std::move(result);
    return true;
}

ShapeLayerList* newShapeLayerList(double width, double height) {
    ShapeLayerList* list = new (std::nothrow) ShapeLayerList();
    if (!list) return nullptr;
    list->width = width;
    list->height = height;
    return list;
}

bool addShapeLayerToList(ShapeLayerList* list, ShapeLayer* layer) {
    if (!list || !layer) return false;
    try {
        list->layers.push_back(layer);
    } catch (...) {
        return false;
    }
    return true;
}

void getShapeLayerListBounds(const ShapeLayerList* list, ShapeBounds* box) {
    if (list && box) *box = list->bounds;
}

void freeShapeLayerList(ShapeLayerList* list) { delete list; }

}  // namespace vantrelo
