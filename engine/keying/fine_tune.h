#pragma once
// Fine tune: local adjustment of a key around one picked colour with three sliders.
//
// beginFineTune finds the face the colour's direction crosses and remembers, in one engine-wide
// anchor, the face's three vertices, the colour's weights on it and those vertices' inner, middle and
// outer radii.  Each slider then sets the anchored radii of its polyhedron to the remembered radii
// plus (value - 0.5) x 2 x 65535 x weight, floored at 1.0, and restores nesting (outer and middle
// sliders from the middle radius, inner slider from the inner radius).  Every slider move starts
// again from the remembered radii, so moves do not accumulate and 0.5 restores the anchored
// vertices.  The anchor is not tied to a state: the same pick may move several states in turn.
//
// The anchor is valid only after a successful beginFineTune; until then a slider changes nothing.
// A pick that fails (a colour within distance 1 of the backdrop colour, or a degenerate face) keeps
// the previous anchor, for the polyhedra and for the alternative keyers alike.  With a keyer flag
// the state's keyer values follow the same pick and sliders through the engine-wide keyer instances.
//
// Engine-wide and unlocked: fine-tune calls come from one thread and never overlap keying of the
// state they change.  The state is compiled again before keying.

#include <cstdint>

#include "engine/keying/key_state.h"
#include "engine/keying/sampling_tools.h"

namespace vantrelo {

// 1, or -1 when no face weights can be found for the colour (the anchor is then left as it was).
int beginFineTune(Sample16 colour, KeyState* state);
// `value` 0..1 with its neutral centre at 0.5.  `apply` 1 moves the polyhedra; any other value drives
// only the alternative keyers.
void fineTuneOuter(float value, KeyState* state, int apply);
void fineTuneMiddle(float value, KeyState* state, int apply);
void fineTuneInner(float value, KeyState* state, int apply);

}  // namespace vantrelo
