#pragma once
// Lighting correction: with "adjust lighting" on, an unevenly lit backdrop is pulled toward the
// key's backdrop colour before keying.  The engine's estimate of the backdrop behind the whole
// image is expensive, so the plug-in caches it (VantreloPlugin::lightingCache, with the key states
// it was made from and what it holds) and recomputes it once per key change or image size.
//
// Two kinds of cache content, told apart by VantreloPlugin::lightingCacheContent:
// - CorrectedInput: a whole input (bounds the size of its domain) in 16 bits with its backdrop evened
//   out by the engine (simulated foreground, mode 0); the 16-bit entry copies its region from it,
//   alpha 65535 as the engine writes it.
// - SimulatedBackdrop: the engine's backdrop estimate (mode 1) of the source proxy.  Every other
//   input reads it at its own scale: the estimate is sampled bilinearly at the centre of each
//   input pixel mapped onto the proxy's domain, so a pixel gets the same value in every tile and
//   strip, and nothing is read outside the cache.  The region is keyed (one engine call over the
//   whole region) and each pixel moves toward the key's backdrop colour by (backdrop colour -
//   estimate) x (1 - matte), keeping its own alpha (applyLightingPixel16 / applyLightingPixelFloat).
//   The float entry keys a scratch copy, so the pixel corrected is the input's own value, not the
//   copy the engine scales to 16-bit units.
// The cache is recomputed when it holds the other kind, has no pixels, was made from an image of
// other bounds, or when the key state (or, with hybrid keying, the body or edge state; zero
// records without) differs from the record kept in VantreloPlugin::lightingStates in anything but
// the compiled fields that compileKey rewrites.  A grid size that makes the engine write nothing
// leaves the cache as "no correction" (the input itself, or the backdrop colour as estimate).
// Without a source proxy the partial entries correct nothing: the output is the input converted.
//
// Each entry fills a caller-owned packed RGBA array (width x height of the region, 16-bit or float)
// with the corrected pixels of `region` of the input, which must hold pixels over the region (any
// depth for the 16-bit entries, float for the float entry; three or more channels); the input is
// never changed.  An empty region writes nothing.  Called on the render's thread; the conversions
// and the pixel rule run in row bands on the host's runner (which changes nothing but the time)
// and the engine splits its own work.  Failures are the host's exceptions: Mav::Exception for an
// input that does not fit (before anything is touched), std::bad_alloc when memory ran out (also
// when the engine could not make its estimate; the cache is then dropped), with the scratch images
// freed and the compiled key released.

#include <array>
#include <cstdint>

#include "engine/keying/key_state.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "host/system/system_host.h"
#include "plugin/vantrelo_plugin.h"

namespace vantrelo {

class CVantreloBridge;

// What the correction reads and writes of the plug-in, as pointers so that the entries work on
// any such set of objects (the plug-in's own: lightingContext).
struct LightingContext {
    Mav::Host::System::Host* host = nullptr;  // runs the conversions; owns the scratch images
    CVantreloBridge* bridge = nullptr;        // key states; the key state is compiled and released
    Mav::Host::System::ImageBuffer* cache = nullptr;
    std::array<KeyState, 3>* states = nullptr;  // key, body (or zeros), edge (or zeros)
    LightingCacheContent* content = nullptr;
    const Mav::Host::System::ImageBuffer* sourceProxy = nullptr;
};

LightingContext lightingContext(VantreloPlugin& plugin);

// Any depth.  A whole input reads the corrected input from the cache; a partial one goes through
// applyLightingScaled16.
void applyLighting16(LightingContext& context, const Mav::Host::System::ImageBuffer& input,
                     const Mav::Host::System::Rect& region, std::uint16_t* output);
// The estimate of the source proxy, sampled at the input's scale.
void applyLightingScaled16(LightingContext& context, const Mav::Host::System::ImageBuffer& input,
                           const Mav::Host::System::Rect& region, std::uint16_t* output);
// A float input into a float array, whole or partial, through the estimate of the source proxy.
void applyLightingFloat(LightingContext& context, const Mav::Host::System::ImageBuffer& input,
                        const Mav::Host::System::Rect& region, float* output);

// The same on the plug-in's own cache.
void applyLighting16(VantreloPlugin& plugin, const Mav::Host::System::ImageBuffer& input,
                     const Mav::Host::System::Rect& region, std::uint16_t* output);
void applyLightingScaled16(VantreloPlugin& plugin, const Mav::Host::System::ImageBuffer& input,
                           const Mav::Host::System::Rect& region, std::uint16_t* output);
void applyLightingFloat(VantreloPlugin& plugin, const Mav::Host::System::ImageBuffer& input,
                        const Mav::Host::System::Rect& region, float* output);

}  // namespace vantrelo
