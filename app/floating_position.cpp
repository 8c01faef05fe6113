#include "app/floating_position.h"

#include <cstdint>

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One "%d" from `at`: white space, an optional sign and at least one digit.  Digits past the
// window range are still consumed (the number is refused, not cut short into another one).
std::optional<int> readCoordinate(std::string_view text, std::size_t& at) {
    while (at < text.size() && isSpace(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const std::size_t first = at;
    std::int64_t magnitude = 0;
    bool inRange = true;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (inRange) magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > -std::int64_t{kWindowCoordinateMin}) inRange = false;
    }
    if (at == first) return std::nullopt;
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (!inRange || value < kWindowCoordinateMin || value > kWindowCoordinateMax)
        return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

std::optional<WindowPosition> parseWindowPosition(std::string_view text) {
    std::size_t at = 0;
    const std::optional<int> x = readCoordinate(text, at);
    if (!x) return std::nullopt;
    const std::optional<int> y = readCoordinate(text, at);
    if (!y) return std::nullopt;
    return WindowPosition{*x, *y};
}

std::string formatWindowPosition(WindowPosition position) {
    return std::to_string(position.x) + " " + std::to_string(position.y);
}
