#include "engine/effects/text_fields.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

namespace vantrelo::text {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

const char* lineEnd(const char* at) { return at + std::strlen(at); }

// Magnitude digits in `base` followed by a sign, as strtol would take them, with a range check.
bool finishInt(const char* first, const char* last, int base, bool negative, std::int32_t& out,
               const char*& next) {
    std::uint64_t magnitude = 0;
    const auto result = std::from_chars(first, last, magnitude, base);
    if (result.ec != std::errc{}) return false;
    const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    if (magnitude > limit) return false;
    out = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                   : static_cast<std::int32_t>(magnitude);
    next = result.ptr;
    return true;
}

// std::to_chars onto the `length` characters of a line buffer of `size`, keeping room for the
// newline; false, nothing appended, when the text does not fit.
template <class... Format>
bool appendChars(char* buffer, std::size_t size, std::size_t& length, Format... format) {
    const auto result = std::to_chars(buffer + length, buffer + size - 2, format...);
    if (result.ec != std::errc{}) return false;
    length = static_cast<std::size_t>(result.ptr - buffer);
    return true;
}

}  // namespace

bool readLine(std::FILE* file, Line& line) {
    if (!file || !std::fgets(line.text, sizeof line.text, file)) {
        line.text[0] = '\0';
        return false;
    }
    return true;
}

bool startsWith(const Line& line, const char* prefix) {
    return std::strncmp(line.text, prefix, std::strlen(prefix)) == 0;
}

void Scanner::skipSpace() {
    while (*at_ && isSpace(*at_)) ++at_;
}

bool Scanner::scanFloat(float& out) {
    skipSpace();
    const char* first = at_;
    const char* last = lineEnd(first);
    // from_chars takes a minus sign but not a plus sign; scanf takes both.
    if (first < last && *first == '+') {
        ++first;
        if (first < last && *first == '-') return false;
    }
    float value = 0.0f;
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec != std::errc{}) return false;
    out = value;
    at_ = result.ptr;
    return true;
}

bool Scanner::scanInt(std::int32_t& out) { return scanInteger(out, false); }

bool Scanner::scanIntAuto(std::int32_t& out) { return scanInteger(out, true); }

bool Scanner::scanInteger(std::int32_t& out, bool prefixedBases) {
    skipSpace();
    const char* first = at_;
    const char* last = lineEnd(first);
    bool negative = false;
    if (first < last && (*first == '+' || *first == '-')) negative = *first++ == '-';
    if (first == last || *first < '0' || *first > '9') return false;
    int base = 10;
    if (prefixedBases && *first == '0') {
        const bool hexPrefix = last - first >= 3 && (first[1] == 'x' || first[1] == 'X') &&
                               std::isxdigit(static_cast<unsigned char>(first[2]));
        if (hexPrefix) {
            base = 16;
            first += 2;
        } else {
            base = 8;
        }
    }
    const char* next = nullptr;
    if (!finishInt(first, last, base, negative, out, next)) return false;
    at_ = next;
    return true;
}

bool Scanner::scanWord(char* out, std::size_t capacity) {
    skipSpace();
    if (!*at_ || capacity == 0) return false;
    std::size_t n = 0;
    while (at_[n] && !isSpace(at_[n])) ++n;
    const std::size_t kept = n < capacity - 1 ? n : capacity - 1;
    std::memcpy(out, at_, kept);
    out[kept] = '\0';
    at_ += n;
    return true;
}

LineWriter& LineWriter::fixed6(double value) {
    if (!overflow_) overflow_ = !appendChars(buffer_, sizeof buffer_, length_, value, std::chars_format::fixed, 6);
    return *this;
}

LineWriter& LineWriter::integer(std::int64_t value) {
    if (!overflow_) overflow_ = !appendChars(buffer_, sizeof buffer_, length_, value);
    return *this;
}

LineWriter& LineWriter::text(const char* value) {
    if (overflow_) return *this;
    const std::size_t n = std::strlen(value);
    if (n > sizeof buffer_ - 2 - length_) {
        overflow_ = true;
        return *this;
    }
    std::memcpy(buffer_ + length_, value, n);
    length_ += n;
    return *this;
}

bool LineWriter::writeTo(std::FILE* file) {
    bool ok = !overflow_ && file;
    if (ok) {
        buffer_[length_++] = '\n';
        ok = std::fwrite(buffer_, 1, length_, file) == length_;
    }
    length_ = 0;
    overflow_ = false;
    return ok;
}

}  // namespace vantrelo::text
