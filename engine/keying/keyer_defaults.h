#pragma once

namespace vantrelo {

struct KeyState;

// Creates the engine-wide threshold and hexagon keyers on first use and lets each, the hexagon
// keyer first, write its default values (thresholds, hexagonRadii) into the state.
void applyAlternativeKeyerDefaults(KeyState* state);

}  // namespace vantrelo
