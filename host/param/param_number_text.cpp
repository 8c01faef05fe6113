#include "host/param/param_number_text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace Mav::Host::Param {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The C locale for strtod_l, made once; strtod would follow the process locale.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return locale;
}

std::int32_t truncToInt32(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

}  // namespace

bool approxEqual(double a, double b) {
    return std::fabs(a - b) <= std::max(std::fabs(a), std::fabs(b)) * 2.220446049250313e-16;
}

std::string formatIntText(std::int32_t value) {
    return std::to_string(value);
}

std::string formatFloatText(double value) {
    char buffer[400];  // the largest double in fixed notation has 309 digits
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::fixed, 2);
    return std::string(buffer, result.ptr);
}

bool readIntegerText(std::string_view text, std::int64_t& out) {
    std::size_t at = 0;
    while (at < text.size() && isBlank(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const std::size_t digitsFrom = at;
    // Accumulated as a negative number, whose range includes the 64-bit minimum.
    std::int64_t value = 0;
    bool saturated = false;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const int digit = text[at] - '0';
        if (value < (lowest + digit) / 10) {
            saturated = true;
        } else if (!saturated) {
            value = value * 10 - digit;
        }
    }
    if (at == digitsFrom || at != text.size()) return false;
    if (saturated) {
        out = negative ? lowest : std::numeric_limits<std::int64_t>::max();
    } else if (negative) {
        out = value;
    } else {
        out = value == lowest ? std::numeric_limits<std::int64_t>::max() : -value;
    }
    return true;
}

bool readFloatText(std::string_view text, double& out) {
    const std::string copy(text);  // strtod needs the terminating zero
    const char* begin = copy.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = strtod_l(begin, &end, cLocale());
    if (end == begin || static_cast<std::size_t>(end - begin) != copy.size()) return false;
    if (std::isnan(value)) return false;
    out = value;  // overflow gives +-HUGE_VAL (infinity), underflow a tiny number or zero
    return true;
}

double floatSliderStep(double sliderMin, double sliderMax) {
    const double top = std::fabs(sliderMax);
    double step = 1.0;
    if (top < 0.01) {
        step = (sliderMax - sliderMin) / 100.0;
    } else {
        // Exact powers of ten (100 / 10^k) keep 0.1 and 0.01 from drifting under repeated division.
        double power = 1.0;
        while (100.0 / power > top && power < 1e300) power *= 10.0;
        step = 1.0 / power;
    }
    if (step == 0.0 || !std::isfinite(step)) step = 1.0;
    return step;
}

std::int32_t sliderPositionFor(double value, double step) {
    // The nudge moves away from zero, so negative ends gain the same as positive ones.
    return truncToInt32(value / step * (1.0 + 1e-9));
}

std::string fillRangeMessage(std::string_view format, std::string_view name, double low,
                             double high) {
    std::string text;
    int numbersUsed = 0;
    auto number = [&](bool isFloat) {
        const double value = numbersUsed++ == 0 ? low : high;
        text += isFloat ? formatFloatText(value) : formatIntText(truncToInt32(value));
    };
    for (std::size_t at = 0; at < format.size(); ++at) {
        if (format[at] != '%') {
            text += format[at];
            continue;
        }
        const std::string_view rest = format.substr(at);
        if (rest.starts_with("%s")) {
            text += name;
            at += 1;
        } else if (rest.starts_with("%d")) {
            number(false);
            at += 1;
        } else if (rest.starts_with("%.2f")) {
            number(true);
            at += 3;
        } else if (rest.starts_with("%%")) {
            text += '%';
            at += 1;
        } else {
            text += '%';
        }
    }
    return text;
}

}  // namespace Mav::Host::Param
