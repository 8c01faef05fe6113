#pragma once
// The saved screen positions of the floating settings windows: the text "%d %d" (x, y of the
// window's outer top-left corner) in the position parameters "automask window" to "soften matte
// window", written when a window is closed or the tool changes, read when the window opens again.
//
// Reading follows the "%d %d" pattern (white space before each number, an optional sign, anything
// after the second number ignored) but checks the range that scanf leaves undefined: a number
// outside what the window system can place a window at gives no position, and the window is
// centred instead.  X11 carries window coordinates as 16-bit signed values, so a larger number
// would wrap to an unrelated place on the screen.  A position inside that range is used as it
// stands, even when no screen shows it.

#include <optional>
#include <string>
#include <string_view>

struct WindowPosition {
    int x = 0;
    int y = 0;
    bool operator==(const WindowPosition&) const = default;
};

inline constexpr int kWindowCoordinateMin = -32768;
inline constexpr int kWindowCoordinateMax = 32767;

// The position a text holds, or nothing for an empty, unreadable or out-of-range text.
std::optional<WindowPosition> parseWindowPosition(std::string_view text);
// "x y", as the position parameters hold it.
std::string formatWindowPosition(WindowPosition position);
