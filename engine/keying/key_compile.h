#pragma once
// Key compilation: turns the radii of a KeyState into per-face numbers, so that keying a pixel is a
// face lookup and a few multiply-adds.
//
// compileKey writes, for every face and each of the three surfaces, the face equation, the reach
// n . (P0 - K) and the backdrop dot n . K into the state's own arrays (read by the per-pixel
// operations and the sampling tools) and into one 16-byte-aligned face table laid out for
// four-wide arithmetic (read by the span loops); it derives the near-backdrop tolerances from the
// grain settings, creates the alternative keyer object the flags select, and only then installs
// the span callbacks.  A state is keyed only between compileKey and releaseKey.

#include <cstdint>

#include "engine/keying/key_state.h"

namespace vantrelo {

// Face table record: five rows of four floats, columns inner, outer, middle and an unread 1.0.
enum FaceTableRow : int {
    FaceRowNx = 0,
    FaceRowNy = 1,
    FaceRowNz = 2,
    FaceRowBackdropDot = 3,
    FaceRowReach = 4,
};
enum FaceTableColumn : int {
    FaceColumnInner = 0,
    FaceColumnOuter = 1,
    FaceColumnMiddle = 2,
};

// Returns 1 when the state is compiled: face table present and, when the flags select an
// alternative keyer, its object created.  Returns 0 when either could not be obtained; the state
// then has no span callbacks (keying it uses the per-pixel rule and never reads a face table).
// A compiled state is released before it is compiled again: this call does not free the previous
// face table or keyer, which a copy of the record may share.
int compileKey(KeyState* state);

// Frees the keyer object and the face table and clears the span callbacks; radii, settings and the
// other compiled fields stay.  Always 1; a state that was never compiled is left as it is.
int releaseKey(KeyState* state);

}  // namespace vantrelo
