#pragma once
// Numbers as the parameter controls show and read them: integers with "%d", floating-point values
// with "%.2f", always in the C locale so a field reads back what it showed whatever the user's
// locale; the slider arithmetic of a number field with a slider beside it; and the filling of the
// number messages.  No toolkit: the validators call these, tests reach them without a display.

#include <cstdint>
#include <string>
#include <string_view>

namespace Mav::Host::Param {

// a and b are equal when |a - b| <= max(|a|, |b|) x 2^-52; a NaN is never equal.
bool approxEqual(double a, double b);

// "%d".
std::string formatIntText(std::int32_t value);
// "%.2f" in the C locale.
std::string formatFloatText(double value);

// The whole text as a base-10 integer (leading white space and a sign allowed, nothing after the
// digits).  A number beyond the 64-bit range reads as the nearest 64-bit limit, so it is clamped
// like any other number out of range instead of being refused.  False when the text is not a
// number.
bool readIntegerText(std::string_view text, std::int64_t& out);
// The whole text as a double in the C locale.  Infinities and numbers beyond the double range read
// as infinities (and are clamped by the caller); NaN and text that is not a number give false.
bool readFloatText(std::string_view text, double& out);

// The value of one slider step for a float parameter with slider range m..M: (M - m) / 100 when
// |M| < 0.01, otherwise the largest of 1, 0.1, 0.01, ... whose hundredfold does not exceed |M|.
// A step that would be 0 or not finite is 1, so no slider arithmetic divides by zero.
double floatSliderStep(double sliderMin, double sliderMax);

// value / step as a slider position: truncated toward zero after a relative nudge of 1e-9, so
// that 2.3 / 0.01 (229.99999999999997 in doubles) gives 230 while 0.379 / 0.01 gives 37; limited
// to the 32-bit range, NaN gives 0.
std::int32_t sliderPositionFor(double value, double step);

// Fills a message format in order: "%s" with `name`, then each "%d" or "%.2f" with `low`, then
// with `high` ("%d" truncated toward zero), "%%" with "%".  Anything else is copied.
std::string fillRangeMessage(std::string_view format, std::string_view name, double low,
                             double high);

}  // namespace Mav::Host::Param
