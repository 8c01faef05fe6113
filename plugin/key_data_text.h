#pragma once
// Key-data text: one KeyState as the text of a string parameter ("key data", "edge data",
// "body data"), so that a key is stored, undone and carried between images with the other settings.
//
// The writer makes the 92-line version-6 form:
//   "# 6.0 vantrelo data"; backdrop R G B / 65535; flag word; the two integers after it; the two
//   names; 66 lines of inner, middle, outer radius / 65535; replacement colour / 65535; the two
//   colour-correction sets, three reals a line; the twelve integers, four a line; the threshold
//   keyer's three values; the hexagon keyer's 21 values, three a line.
// Reals are written "%f" (six decimals), integers "%d", one blank between numbers, lines ended by a
// line feed.  Numbers are written and read in the C locale, whatever the process locale is.
//
// The reader also takes the version-5 form (no keyer lines) and the headerless 8-bit form of older
// texts (colours and radii 0..255).  It parses over the state: a field whose number is missing,
// malformed, NaN, infinite or out of its type's range keeps its value, and reading goes on with the
// next line.  The shape-layer flags are cleared from a flag word read, since the text carries no
// shape layers.  A name is at most 254 characters on the text's line, so that every written text
// reads back line for line.

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/keying/key_state.h"

namespace vantrelo {

// The version-6 text of the state.
std::string writeKeyDataText(const KeyState& state);

// Parses the text over the state.  True when the text reached the replacement-colour line of its
// form; false before it (the lines before stay stored).  An empty text returns false and changes
// nothing.
bool readKeyDataText(std::string_view text, KeyState& state);

// Reads the next line from `position` into buffer (capacity bytes, at least 1), advancing position:
// up to and including a line feed, or capacity - 1 characters, or the end of the text.  The line feed
// is dropped when dropNewline is set.  At the end of the text the buffer is emptied and the result is
// false.
bool readTextLine(std::string_view text, std::size_t& position, char* buffer, std::size_t capacity,
                  bool dropNewline);

// Appends the line, or with lineMode only up to and including its first line feed.
void appendTextLine(std::string& out, std::string_view line, bool lineMode);

}  // namespace vantrelo
