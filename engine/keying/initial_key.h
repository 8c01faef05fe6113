#pragma once
// A key started from the backdrop colour alone.
//
// The three polyhedra are set to fixed starting radii (inner 1, middle and outer 130560, that is
// 2 x 65280) and the outer one is then shrunk away from a synthetic cloud of colours that a backdrop
// of that hue is not: a grid of colours whose hues lie two to four sextants from the backdrop's, with
// white where the grid is empty.  A grey, dark or light backdrop gets no cloud from
// setBackdropColour: its middle and outer polyhedra become spheres of radius 32640.
//
// Each operation replaces the backdrop colour and all 198 radii and leaves the other fields (flags,
// labels, correction sets) as they were, except the keyer values that the keyer operations set.
// The cloud buffer is the only allocation; when it fails the key is left exactly as it was and the
// operation returns false, so a caller never goes on shaping a key that did not start from the
// colour.  The state is compiled again before keying.

#include <cstdint>

#include "engine/keying/key_state.h"

namespace vantrelo {

// Samples in a cloud buffer.
inline constexpr int kCloudSize = 10000;

// Backdrop := the colour (R, G, B of a 16-bit RGBA sample); starting radii; the outer polyhedron shrunk
// from the colour's cloud (class by rgbToHsv and classifyColourHsv); nesting from the outer radius
// inward; then the alternative keyers the state selects start from the colour.  Returns true when
// the key was started; false, with nothing changed, when the colour or the state is missing or the
// cloud buffer was refused.
bool setBackdropColour(const std::uint16_t* colour, KeyState* state);
// As setBackdropColour, but the cloud is always made, by the hue class of the colour alone, and the
// keyers are not started (the shrink still drives them).
bool selectBackdropColour(const std::uint16_t* colour, KeyState* state);
// As setBackdropColour with the inner radii starting at `innerRadius`.
bool setBackdropColourWithRadius(const std::uint16_t* colour, KeyState* state, int innerRadius);

// Fills `buffer` (kCloudSize RGBA samples; A is never written) with the cloud of a colour class
// around the state's backdrop colour; returns the number of samples written.  Classes 0 to 2: the
// points of a sphere of radius 16383.75 that lie in the 16-bit cube; any other class: the hue-rotated
// grid, always kCloudSize samples.
int makeSampleCloud(int colourClass, std::uint16_t* buffer, const KeyState* state, float spread);
// Allocates a cloud buffer through engineAllocate into *out (null when that fails; the caller
// releases a non-null one with engineRelease) and fills it for the backdrop colour's class with
// spread 0.1; 0 samples for a dark, light or grey backdrop or a failed allocation.
int makeInitialCloud(std::uint16_t** out, const KeyState* state);
// The same by the backdrop colour's hue class alone: always kCloudSize samples unless the
// allocation fails (then 0 and *out null).
int makeInitialCloudByHue(std::uint16_t** out, const KeyState* state, float spread);

}  // namespace vantrelo
