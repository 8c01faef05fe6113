#include "engine/keying/key_data_file.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/replacing_file.h"
#include "engine/effects/shape_layer.h"
#include "engine/effects/text_fields.h"
#include "engine/keying/colour_model.h"
#include "engine/keying/keyer.h"
#include "engine/keying/numeric.h"

namespace vantrelo {

namespace {

constexpr int kOk = 1;
constexpr int kCannotOpen = -1;
constexpr int kFailed = -2;

// The single-precision value nearest 1/255, by which the headerless form scales 8-bit values.
constexpr float kFrom255 = 0.003921569f;

float fromFraction(float v) { return v * 65535.0f; }

// ---- Writing ----

bool writeTriple(std::FILE* file, float a, float b, float c) {
    text::LineWriter line;
    return line.fixed6(a).space().fixed6(b).space().fixed6(c).writeTo(file);
}

// Colours and radii are stored as fractions of 65535, the product taken in single precision.
bool writeFractions(std::FILE* file, float a, float b, float c) {
    return writeTriple(file, a * kUnit16, b * kUnit16, c * kUnit16);
}

bool writeText(std::FILE* file, const char* value) { return text::LineWriter().text(value).writeTo(file); }

bool writeShapes(std::FILE* file, const char* keyword, ShapeLayer* const* layers) {
    if (!layers) return true;
    for (std::size_t i = 0; layers[i]; ++i)
        if (!writeText(file, keyword) || !writeShapeLayer(layers[i], file)) return false;
    return true;
}

// ---- Reading ----

// Frees the layers of a list being read unless it is handed on.
struct PendingLayers {
    std::vector<ShapeLayer*> layers;
    ~PendingLayers() {
        for (ShapeLayer* layer : layers) freeShapeLayer(layer);
    }
};

class RecordReader {
public:
    RecordReader(std::FILE* file, KeyState& state) : file_(file), state_(state) {}

    bool next() { return text::readLine(file_, line_); }
    const text::Line& line() const { return line_; }

    // NaN and infinity scan as numbers but are no value any field can hold: the record is damaged.
    template <class... T>
    bool floats(T&... out) {
        if (!next()) return false;
        text::Scanner scan(line_.text);
        return (scan.scanFloat(out) && ...) && (std::isfinite(out) && ...);
    }
    template <class... T>
    bool ints(T&... out) {
        if (!next()) return false;
        text::Scanner scan(line_.text);
        return (scan.scanInt(out) && ...);
    }

    // Formats 5 to 7, after the header.
    bool readVersioned(int version, KeyShapeLists* shapes, bool& outOfMemory);
    // The headerless form; its first line is already in line().
    bool readHeaderless();

    bool extSupplied = false;
    bool obeySupplied = false;

private:
    // A fraction so large that its colour overflows single precision is damage too.
    bool fractionTriple(float* out) {
        float a = 0, b = 0, c = 0;
        if (!floats(a, b, c)) return false;
        out[0] = fromFraction(a);
        out[1] = fromFraction(b);
        out[2] = fromFraction(c);
        return std::isfinite(out[0]) && std::isfinite(out[1]) && std::isfinite(out[2]);
    }
    bool word(char* out) {
        if (!next()) return false;
        return text::Scanner(line_.text).scanWord(out, 256);
    }
    bool readShapes(KeyShapeLists* shapes, bool& outOfMemory);

    std::FILE* file_;
    KeyState& state_;
    text::Line line_{};
};

bool RecordReader::readVersioned(int version, KeyShapeLists* shapes, bool& outOfMemory) {
    KeyState& s = state_;
    if (!fractionTriple(s.backdrop)) return false;
    std::int32_t flags = 0;
    if (!ints(flags)) return false;
    s.flags = static_cast<std::uint32_t>(flags);
    if (!ints(s.auxValue1, s.auxValue2)) return false;
    if (!word(s.label1) || !word(s.label2)) return false;
    for (int v = 0; v < kVertexCount; ++v) {
        float r[3];
        if (!fractionTriple(r)) return false;
        s.innerRadii[v] = r[0];
        s.middleRadii[v] = r[1];
        s.outerRadii[v] = r[2];
    }
    float replacement[3];
    if (!floats(replacement[0], replacement[1], replacement[2])) return false;
    for (int c = 0; c < 3; ++c) {
        // A 16-bit colour: a value that truncates to no 16-bit sample is damage, not a clamp.
        const float value = fromFraction(replacement[c]);
        if (!(value > -1.0f && value < 65536.0f)) return false;
        s.replacementColour[c] = truncToUint16(value);
    }
    for (float* set : {s.correctionSet1, s.correctionSet2})
        for (int line = 0; line < 4; ++line)
            if (!floats(set[3 * line], set[3 * line + 1], set[3 * line + 2])) return false;
    for (int line = 0; line < 3; ++line) {
        std::int32_t* q = s.auxInts + 4 * line;
        if (!ints(q[0], q[1], q[2], q[3])) return false;
    }
    if (version >= 6) {
        if (!floats(s.thresholds[0], s.thresholds[1], s.thresholds[2])) return false;
        for (int k = 0; k < 7; ++k) {
            float* t = s.hexagonRadii + 3 * k;
            if (!floats(t[0], t[1], t[2])) return false;
        }
    }
    if (version == 7) return readShapes(shapes, outOfMemory);
    return true;
}

bool RecordReader::readShapes(KeyShapeLists* shapes, bool& outOfMemory) {
    // The line after the record: the end of the file, or the start of the shape sections, or
    // (without shape flags) a line that is consumed whatever it holds.
    if (!next()) return true;
    if (!(state_.flags & (KeyFlagExtShapes | KeyFlagObeyShapes))) return true;
    PendingLayers ext, obey;
    for (;;) {
        if (text::startsWith(line_, "ENDLAYER")) break;
        const bool isExt = text::startsWith(line_, "EXTSHAPE");
        const bool isObey = !isExt && text::startsWith(line_, "OBEYSHAPE");
        if (isExt || isObey) {
            if (ShapeLayer* layer = readShapeLayer(file_)) {
                if (!shapes) {
                    freeShapeLayer(layer);
                } else {
                    try {
                        (isExt ? ext : obey).layers.push_back(layer);
                    } catch (...) {
                        freeShapeLayer(layer);
                        outOfMemory = true;
                        return false;
                    }
                }
            }
        }
        if (!next()) break;
    }
    if (!shapes) return true;
    try {
        ext.layers.push_back(nullptr);
        obey.layers.push_back(nullptr);
    } catch (...) {
        outOfMemory = true;
        return false;
    }
    extSupplied = ext.layers.size() > 1;
    obeySupplied = obey.layers.size() > 1;
    // Nothing can fail from here on: the lists take the layers and the state points at them.
    shapes->replace(ext.layers, obey.layers);
    state_.extShapes = shapes->ext();
    state_.obeyShapes = shapes->obey();
    return true;
}

bool RecordReader::readHeaderless() {
    KeyState& s = state_;
    const auto scaled = [](std::int32_t v) {
        return static_cast<float>(static_cast<std::int64_t>(v) * 65535) * kFrom255;
    };
    std::int32_t c[3];
    text::Scanner first(line_.text);
    if (!first.scanInt(c[0]) || !first.scanInt(c[1]) || !first.scanInt(c[2])) return false;
    for (int k = 0; k < 3; ++k) s.backdrop[k] = scaled(c[k]);
    for (int v = 0; v < kVertexCount; ++v) {
        std::int32_t r[3];
        if (!ints(r[0], r[1], r[2])) return false;
        s.innerRadii[v] = scaled(r[0]);
        s.middleRadii[v] = scaled(r[1]);
        s.outerRadii[v] = scaled(r[2]);
    }
    std::int32_t flags = 0;
    if (!ints(flags)) return false;
    s.flags = static_cast<std::uint32_t>(flags);
    if (!ints(c[0], c[1], c[2])) return false;
    for (int k = 0; k < 3; ++k) {
        const std::int64_t value = static_cast<std::int64_t>(c[k]) * 65535 / 255;
        if (value < 0 || value > 65535) return false;  // no 16-bit colour: damage
        s.replacementColour[k] = static_cast<std::uint16_t>(value);
    }
    for (float* set : {s.correctionSet1, s.correctionSet2}) {
        std::int32_t level[6];
        float gamma[3];
        if (!next()) return false;
        text::Scanner scan(line_.text);
        for (std::int32_t& v : level)
            if (!scan.scanInt(v)) return false;
        for (float& g : gamma)
            if (!scan.scanFloat(g) || !std::isfinite(g)) return false;
        set[0] = 0.0f;
        set[1] = 1.0f;
        set[2] = 1.0f;
        for (int k = 0; k < 6; ++k) set[3 + k] = static_cast<float>(level[k]) * kFrom255;
        for (int k = 0; k < 3; ++k) set[9 + k] = gamma[k];
    }
    return true;
}

std::FILE* openForReading(const char* path) { return path ? std::fopen(path, "r") : nullptr; }

}  // namespace

void KeyShapeLists::clear() noexcept {
    for (ShapeLayer* layer : ext_) freeShapeLayer(layer);
    for (ShapeLayer* layer : obey_) freeShapeLayer(layer);
    ext_.clear();
    obey_.clear();
}

void KeyShapeLists::replace(std::vector<ShapeLayer*>& ext, std::vector<ShapeLayer*>& obey) noexcept {
    clear();
    ext_.swap(ext);
    obey_.swap(obey);
}

int writeKeyData(std::FILE* file, const KeyState* state) {
    if (!file || !state) return kCannotOpen;
    const KeyState& s = *state;
    text::LineWriter line;
    bool ok = writeText(file, "# 7.0 vantrelo data");
    ok = ok && writeFractions(file, s.backdrop[0], s.backdrop[1], s.backdrop[2]);
    ok = ok && line.integer(static_cast<std::int32_t>(s.flags)).writeTo(file);
    ok = ok && line.integer(s.auxValue1).space().integer(s.auxValue2).writeTo(file);
    // The labels themselves are never stored; the reader takes the first word of each line.
    ok = ok && writeText(file, "NOT SET") && writeText(file, "NOT SET");
    for (int v = 0; ok && v < kVertexCount; ++v)
        ok = writeFractions(file, s.innerRadii[v], s.middleRadii[v], s.outerRadii[v]);
    ok = ok && writeFractions(file, s.replacementColour[0], s.replacementColour[1], s.replacementColour[2]);
    for (const float* set : {s.correctionSet1, s.correctionSet2})
        for (int k = 0; ok && k < 4; ++k) ok = writeTriple(file, set[3 * k], set[3 * k + 1], set[3 * k + 2]);
    for (int k = 0; ok && k < 3; ++k) {
        const std::int32_t* q = s.auxInts + 4 * k;
        ok = line.integer(q[0]).space().integer(q[1]).space().integer(q[2]).space().integer(q[3]).writeTo(file);
    }
    ok = ok && writeTriple(file, s.thresholds[0], s.thresholds[1], s.thresholds[2]);
    for (int k = 0; ok && k < 7; ++k)
        ok = writeTriple(file, s.hexagonRadii[3 * k], s.hexagonRadii[3 * k + 1], s.hexagonRadii[3 * k + 2]);
    if (ok && (s.flags & KeyFlagExtShapes)) ok = writeShapes(file, "EXTSHAPE", s.extShapes);
    if (ok && (s.flags & KeyFlagObeyShapes)) ok = writeShapes(file, "OBEYSHAPE", s.obeyShapes);
    return ok ? kOk : kFailed;
}

int saveKeyFile(const char* path, const KeyState* state) {
    if (!path || !state) return kCannotOpen;
    base::ReplacingFile out;
    if (!out.open(path)) return kCannotOpen;
    if (writeKeyData(out.file(), state) != kOk) return kFailed;
    return out.commit() ? kOk : kFailed;
}

int readKeyData(std::FILE* file, KeyState* state, KeyShapeLists* shapes) {
    if (!file || !state) return kCannotOpen;
    // The record is read into a copy that replaces the state only when it is complete.
    KeyState copy;
    std::memcpy(&copy, state, sizeof copy);
    RecordReader reader(file, copy);
    if (!reader.next()) return kFailed;
    // A separator left by a record of an older format.
    if (text::startsWith(reader.line(), "ENDLAYER") && !reader.next()) return kFailed;
    int version = 0;
    if (text::startsWith(reader.line(), "# 5"))
        version = 5;
    else if (text::startsWith(reader.line(), "# 6"))
        version = 6;
    else if (text::startsWith(reader.line(), "# 7"))
        version = 7;
    bool outOfMemory = false;
    const bool complete = version ? reader.readVersioned(version, shapes, outOfMemory) : reader.readHeaderless();
    if (!complete) return kFailed;
    if (!reader.extSupplied) copy.flags &= ~static_cast<std::uint32_t>(KeyFlagExtShapes);
    if (!reader.obeySupplied) copy.flags &= ~static_cast<std::uint32_t>(KeyFlagObeyShapes);
    std::memcpy(state, &copy, sizeof copy);
    return kOk;
}

int loadKeyFile(const char* path, KeyState* state, KeyShapeLists* shapes) {
    if (!state) return kCannotOpen;
    std::FILE* file = openForReading(path);
    if (!file) return kCannotOpen;
    const int result = readKeyData(file, state, shapes);
    std::fclose(file);
    return result;
}

int saveKeyLayers(const char* path, const KeyState* const* states) {
    if (!path || !states) return kCannotOpen;
    base::ReplacingFile out;
    if (!out.open(path)) return kCannotOpen;
    for (std::size_t i = 0; states[i]; ++i)
        if (writeKeyData(out.file(), states[i]) != kOk || !writeText(out.file(), "ENDLAYER")) return kFailed;
    return out.commit() ? kOk : kFailed;
}

int countKeyLayers(const char* path, std::int32_t* count) {
    if (count) *count = 0;
    if (!count) return kCannotOpen;
    std::FILE* file = openForReading(path);
    if (!file) return kCannotOpen;
    KeyState scratch;
    std::memset(&scratch, 0, sizeof scratch);
    initKeyState(&scratch);  // no shape lists: the records' layers are read and freed
    while (*count < INT32_MAX && readKeyData(file, &scratch, nullptr) == kOk) ++*count;
    std::fclose(file);
    return kOk;
}

int loadKeyLayers(const char* path, KeyState* const* states, KeyShapeLists* const* shapes) {
    if (!states) return kCannotOpen;
    std::FILE* file = openForReading(path);
    if (!file) return kCannotOpen;
    int result = kOk;
    for (std::size_t i = 0; states[i]; ++i) {
        result = readKeyData(file, states[i], shapes ? shapes[i] : nullptr);
        if (result != kOk) break;
    }
    std::fclose(file);
    return result;
}

bool interpolateKeyStates(KeyState* out, const KeyState* a, const KeyState* b, float t) {
    if (!out || !a || !b) return false;
    // Copies, so that out may be a or b.
    KeyState first, second;
    std::memcpy(&first, a, sizeof first);
    std::memcpy(&second, b, sizeof second);
    const auto blend = [t](float x, float y) { return (1.0f - t) * x + t * y; };

    for (int c = 0; c < 3; ++c) out->backdrop[c] = blend(first.backdrop[c], second.backdrop[c]);
    out->flags = 0;
    out->auxValue1 = first.auxValue1;
    out->auxValue2 = first.auxValue2;
    std::memcpy(out->label1, first.label1, sizeof out->label1);
    std::memcpy(out->label2, first.label2, sizeof out->label2);
    for (int c = 0; c < 3; ++c)
        out->replacementColour[c] = truncToUint16(blend(first.replacementColour[c], second.replacementColour[c]));
    for (int v = 0; v < kVertexCount; ++v) {
        out->innerRadii[v] = blend(first.innerRadii[v], second.innerRadii[v]);
        out->middleRadii[v] = blend(first.middleRadii[v], second.middleRadii[v]);
        out->outerRadii[v] = blend(first.outerRadii[v], second.outerRadii[v]);
    }
    for (int k = 0; k < 12; ++k) {
        out->correctionSet1[k] = blend(first.correctionSet1[k], second.correctionSet1[k]);
        out->correctionSet2[k] = blend(first.correctionSet2[k], second.correctionSet2[k]);
        out->auxInts[k] = truncToInt32(blend(static_cast<float>(first.auxInts[k]), static_cast<float>(second.auxInts[k])));
    }
    // The keyers blend their own values (hexagonRadii, thresholds), hexagon keyer first.
    bool keyers = true;
    for (VantreloBase* keyer : {engineHexagonKeyer(), engineThresholdKeyer()}) {
        if (keyer)
            keyer->interpolate(out, &first, &second, t);
        else
            keyers = false;
    }
    out->grainLevel = first.grainLevel;
    out->grainAmount = blend(first.grainAmount, second.grainAmount);
    return keyers;
}

}  // namespace vantrelo
