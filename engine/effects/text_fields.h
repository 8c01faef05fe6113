#pragma once
// Line-oriented number text of the engine's files (shape layers, key data), internal to the
// engine.  Numbers are written and read in the C locale whatever the process locale, with the
// conventions of the printf/scanf directives the formats are defined by ("%f", "%d", "%i", "%s"),
// but every scan reports whether it succeeded and nothing reads past the line or writes past the
// caller's storage.

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace vantrelo::text {

// One line of at most 255 characters including its newline; a longer line is read in pieces that
// each count as a line (the behaviour of fgets into 256 bytes).  False at end of file or on a read
// error.  The text is always zero-terminated.
struct Line {
    char text[256];
};
bool readLine(std::FILE* file, Line& line);

// Whether the line begins with `prefix` (compared over the prefix's length).
bool startsWith(const Line& line, const char* prefix);

// Successive scanf-like conversions over one line.  Each skips leading white space, as scanf does,
// and on failure leaves the output untouched and returns false.
class Scanner {
public:
    explicit Scanner(const char* text) : at_(text) {}
    bool scanFloat(float& out);         // "%f": decimal, exponent, inf and nan; out of range fails
    bool scanInt(std::int32_t& out);    // "%d": optional sign, decimal; out of range fails
    bool scanIntAuto(std::int32_t& out);  // "%i": 0x hex, leading-0 octal, else decimal
    // "%s": the next word (up to white space), at most capacity - 1 characters kept.
    bool scanWord(char* out, std::size_t capacity);

private:
    void skipSpace();
    // "%d", or with prefixedBases "%i".
    bool scanInteger(std::int32_t& out, bool prefixedBases);
    const char* at_;
};

// Builds one output line in a fixed buffer and writes it with a checked write.
class LineWriter {
public:
    LineWriter& fixed6(double value);       // "%f"
    LineWriter& integer(std::int64_t value);  // "%d"
    LineWriter& text(const char* value);
    LineWriter& space() { return text(" "); }
    // Appends the newline and writes the line; false when the line overflowed its buffer or the
    // write failed.  The writer is empty again afterwards.
    bool writeTo(std::FILE* file);

private:
    char buffer_[512];
    std::size_t length_ = 0;
    bool overflow_ = false;
};

}  // namespace vantrelo::text
