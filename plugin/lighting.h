#pragma once
// Lighting correction: with "adjust lighting" on, an unevenly lit backdrop is pulled toward the
// key's backdrop colour before keying.  The engine's estimate of the backdrop behind the whole
// image is expensive, so the plug-in caches it (VantreloPlugin::lightingCache, with the key states
// it was made from and what it holds) and recomputes it once per key change or image size.
//
// Each entry fills a caller-owned packed RGBA array (width x height of the region, 16-bit or float)
// with the corrected pixels of `region` of the input, which must cover the region.  The input is
// never changed.  Run on the render's thread; failures are the host's exceptions, with the scratch
// images freed and the compiled key released.

#include <cstdint>

#include "host/system/image_buffer.h"
#include "host/system/rect.h"

namespace vantrelo {

class VantreloPlugin;

// Any depth, three or four channels.  A whole input (bounds the size of its domain) reads the
// corrected input from the cache; a partial one goes through applyLightingScaled16.
void applyLighting16(VantreloPlugin& plugin, const Mav::Host::System::ImageBuffer& input,
                     const Mav::Host::System::Rect& region, std::uint16_t* output);
// A partial input: the simulated backdrop of the source proxy, resampled to the region.
void applyLightingScaled16(VantreloPlugin& plugin, const Mav::Host::System::ImageBuffer& input,
                           const Mav::Host::System::Rect& region, std::uint16_t* output);
// A float input into a float array.
void applyLightingFloat(VantreloPlugin& plugin, const Mav::Host::System::ImageBuffer& input,
                        const Mav::Host::System::Rect& region, float* output);

}  // namespace vantrelo
