#include "plugin/key_data_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace vantrelo {

namespace {

constexpr std::size_t kLineCapacity = 256;
// A name's line with its line feed must fit what the reader takes as one line (capacity - 1), or the
// line feed would be read as the next line and every later line would shift.
constexpr std::size_t kMaxNameOnLine = kLineCapacity - 2;
constexpr std::string_view kHeader = "# 6.0 vantrelo data\n";
constexpr std::uint32_t kShapeFlags = KeyFlagExtShapes | KeyFlagObeyShapes;
constexpr float kFull16 = 65535.0f;

// ---- Writing ----

class LineWriter {
public:
    explicit LineWriter(std::string& out) : out_(out) {}

    LineWriter& real(float value) {
        separate();
        char buffer[kLineCapacity];
        // "%f" of the value widened to double, without the process locale.
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                          std::chars_format::fixed, 6);
        line_.append(buffer, result.ptr);
        return *this;
    }
    LineWriter& integer(std::int32_t value) {
        separate();
        char buffer[16];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        line_.append(buffer, result.ptr);
        return *this;
    }
    void end() {
        line_ += '\n';
        appendTextLine(out_, line_, false);
        line_.clear();
    }

private:
    void separate() {
        if (!line_.empty()) line_ += ' ';
    }

    std::string& out_;
    std::string line_;
};

void writeName(std::string& out, const char (&name)[256]) {
    const std::size_t stored = strnlen(name, sizeof name);
    std::string line(name, std::min(stored, kMaxNameOnLine));
    line += '\n';
    appendTextLine(out, line, true);
}

// ---- Reading ----

// The numbers of one line, scanned as scanf's "%f" and "%d" do in the C locale: white space skipped,
// an optional sign, then the number.  The first text that is no number ends the line; a number that
// is NaN, infinite or beyond its type is passed over without being stored.
class LineScanner {
public:
    explicit LineScanner(const char* line) : p_(line), end_(line + std::strlen(line)) {}

    // Each returns true when a value was stored.
    bool real(float& out) {
        float value;
        if (!scan(value)) return false;
        if (!std::isfinite(value)) return false;
        out = value;
        return true;
    }
    bool integer(std::int32_t& out) { return scan(out); }

private:
    template <class T>
    bool scan(T& out) {
        if (stopped_) return false;
        while (p_ < end_ && isCSpace(*p_)) ++p_;
        const char* start = p_;
        if (start < end_ && *start == '+' && start + 1 < end_ && start[1] != '-') ++start;
        T value{};
        std::from_chars_result result;
        if constexpr (std::is_floating_point_v<T>)
            result = std::from_chars(start, end_, value, std::chars_format::general);
        else
            result = std::from_chars(start, end_, value);
        if (result.ptr == start) {
            stopped_ = true;
            return false;
        }
        p_ = result.ptr;
        if (result.ec != std::errc{}) return false;
        out = value;
        return true;
    }
    static bool isCSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }

    const char* p_;
    const char* end_;
    bool stopped_ = false;
};

class TextReader {
public:
    TextReader(std::string_view text, KeyState& state) : text_(text), state_(state) {}

    bool nextLine() { return readTextLine(text_, position_, line_, kLineCapacity, false); }
    const char* line() const { return line_; }

    // The line's reals x 65535 (single precision) into the fields.
    void scaledReals(float* a, float* b, float* c) {
        LineScanner scan(line_);
        for (float* field : {a, b, c}) {
            float value;
            if (!scan.real(value)) continue;
            const float scaled = value * kFull16;
            if (std::isfinite(scaled)) *field = scaled;
        }
    }
    void reals(float* fields, int count) {
        LineScanner scan(line_);
        for (int i = 0; i < count; ++i) scan.real(fields[i]);
    }
    void integers(std::int32_t* fields, int count) {
        LineScanner scan(line_);
        for (int i = 0; i < count; ++i) scan.integer(fields[i]);
    }
    void flagWord() {
        std::int32_t value;
        LineScanner scan(line_);
        if (scan.integer(value)) state_.flags = static_cast<std::uint32_t>(value) & ~kShapeFlags;
    }
    // Reals x 65535 truncated toward zero; a result outside 0..65535 does not fit and is not stored.
    void replacementColour() {
        LineScanner scan(line_);
        for (int c = 0; c < 3; ++c) {
            float value;
            if (!scan.real(value)) continue;
            const float truncated = std::trunc(value * kFull16);
            if (truncated >= 0.0f && truncated <= kFull16)
                state_.replacementColour[c] = static_cast<std::uint16_t>(truncated);
        }
    }
    // A name line straight into the field (line feed dropped); false at the end of the text, with the
    // name kept.
    bool name(char (&field)[256]) {
        char buffer[kLineCapacity];
        if (!readTextLine(text_, position_, buffer, sizeof buffer, true)) return false;
        std::memset(field, 0, sizeof field);
        std::memcpy(field, buffer, std::strlen(buffer));
        return true;
    }

    // 8-bit lines: integers 0..255 brought to 16-bit units.
    void eightBitTriple(float* a, float* b, float* c) {
        LineScanner scan(line_);
        for (float* field : {a, b, c}) {
            std::int32_t value;
            if (scan.integer(value)) *field = static_cast<float>(std::int64_t{value} * 65535) / 255.0f;
        }
    }
    void eightBitReplacementColour() {
        LineScanner scan(line_);
        for (int c = 0; c < 3; ++c) {
            std::int32_t value;
            if (!scan.integer(value)) continue;
            const std::int64_t converted = std::int64_t{value} * 65535 / 255;
            if (converted >= 0 && converted <= 65535)
                state_.replacementColour[c] = static_cast<std::uint16_t>(converted);
        }
    }
    void eightBitCorrection(float* set) {
        set[0] = 0.0f;
        set[1] = 1.0f;
        set[2] = 1.0f;
        LineScanner scan(line_);
        for (int i = 3; i < 9; ++i) {
            std::int32_t value;
            if (!scan.integer(value)) continue;
            set[i] = static_cast<float>(value) / 255.0f;
        }
        for (int i = 9; i < 12; ++i) scan.real(set[i]);
    }

private:
    std::string_view text_;
    KeyState& state_;
    std::size_t position_ = 0;
    char line_[kLineCapacity] = {};
};

bool readVersioned(TextReader& reader, KeyState& state, bool withKeyers) {
    if (!reader.nextLine()) return false;
    reader.scaledReals(&state.backdrop[0], &state.backdrop[1], &state.backdrop[2]);
    if (!reader.nextLine()) return false;
    reader.flagWord();
    if (!reader.nextLine()) return false;
    {
        std::int32_t values[2] = {state.auxValue1, state.auxValue2};
        reader.integers(values, 2);
        state.auxValue1 = values[0];
        state.auxValue2 = values[1];
    }
    if (!reader.name(state.label1)) return false;
    if (!reader.name(state.label2)) return false;
    for (int v = 0; v < kVertexCount; ++v) {
        if (!reader.nextLine()) return false;
        reader.scaledReals(&state.innerRadii[v], &state.middleRadii[v], &state.outerRadii[v]);
    }
    if (!reader.nextLine()) return false;
    reader.replacementColour();

    for (float* set : {state.correctionSet1, state.correctionSet2})
        for (int k = 0; k < 4; ++k)
            if (reader.nextLine()) reader.reals(set + 3 * k, 3);
    for (int k = 0; k < 3; ++k)
        if (reader.nextLine()) reader.integers(state.auxInts + 4 * k, 4);
    if (withKeyers) {
        if (reader.nextLine()) reader.reals(state.thresholds, 3);
        for (int k = 0; k < 7; ++k)
            if (reader.nextLine()) reader.reals(state.hexagonRadii + 3 * k, 3);
    }
    return true;
}

// The first line, already read, is the backdrop colour.
bool readEightBit(TextReader& reader, KeyState& state) {
    reader.eightBitTriple(&state.backdrop[0], &state.backdrop[1], &state.backdrop[2]);
    for (int v = 0; v < kVertexCount; ++v) {
        if (!reader.nextLine()) return false;
        reader.eightBitTriple(&state.innerRadii[v], &state.middleRadii[v], &state.outerRadii[v]);
    }
    if (!reader.nextLine()) return false;
    reader.flagWord();
    if (!reader.nextLine()) return false;
    reader.eightBitReplacementColour();
    for (float* set : {state.correctionSet1, state.correctionSet2})
        if (reader.nextLine()) reader.eightBitCorrection(set);
    return true;
}

}  // namespace

bool readTextLine(std::string_view text, std::size_t& position, char* buffer, std::size_t capacity,
                  bool dropNewline) {
    if (capacity == 0) return false;
    if (position >= text.size()) {
        buffer[0] = '\0';
        return false;
    }
    std::size_t copied = 0;
    while (copied + 1 < capacity && position < text.size()) {
        const char c = text[position++];
        buffer[copied++] = c;
        if (c == '\n') break;
    }
    if (dropNewline && copied > 0 && buffer[copied - 1] == '\n') --copied;
    buffer[copied] = '\0';
    return true;
}

void appendTextLine(std::string& out, std::string_view line, bool lineMode) {
    if (!lineMode) {
        out.append(line);
        return;
    }
    const std::size_t feed = line.find('\n');
    out.append(line.substr(0, feed == std::string_view::npos ? line.size() : feed + 1));
}

std::string writeKeyDataText(const KeyState& state) {
    std::string out;
    appendTextLine(out, kHeader, false);
    LineWriter line(out);
    line.real(state.backdrop[0] / kFull16).real(state.backdrop[1] / kFull16).real(state.backdrop[2] / kFull16).end();
    line.integer(static_cast<std::int32_t>(state.flags)).end();
    line.integer(state.auxValue1).integer(state.auxValue2).end();
    writeName(out, state.label1);
    writeName(out, state.label2);
    for (int v = 0; v < kVertexCount; ++v)
        line.real(state.innerRadii[v] / kFull16)
            .real(state.middleRadii[v] / kFull16)
            .real(state.outerRadii[v] / kFull16)
            .end();
    for (int c = 0; c < 3; ++c) line.real(state.replacementColour[c] / kFull16);
    line.end();
    for (const float* set : {state.correctionSet1, state.correctionSet2})
        for (int k = 0; k < 4; ++k) line.real(set[3 * k]).real(set[3 * k + 1]).real(set[3 * k + 2]).end();
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 4; ++i) line.integer(state.auxInts[4 * k + i]);
        line.end();
    }
    line.real(state.thresholds[0]).real(state.thresholds[1]).real(state.thresholds[2]).end();
    for (int k = 0; k < 7; ++k)
        line.real(state.hexagonRadii[3 * k]).real(state.hexagonRadii[3 * k + 1]).real(state.hexagonRadii[3 * k + 2]).end();
    return out;
}

bool readKeyDataText(std::string_view text, KeyState& state) {
    TextReader reader(text, state);
    if (!reader.nextLine()) return false;
    const std::string_view first = reader.line();
    if (first.starts_with("# 6")) return readVersioned(reader, state, true);
    if (first.starts_with("# 5")) return readVersioned(reader, state, false);
    return readEightBit(reader, state);
}

}  // namespace vantrelo
