#pragma once
// The render pipeline: one output region of the keyer, in one of three instances by the output's
// depth (float, 16-bit, 8-bit; the 8-bit render keys in 16 bits).
//
// Steps, each finished before the next: colour fill, backdrop layers, backdrop blur, split,
// foreground warp, keying pass, matte softening, light wrap, composite rows, overlay layers (where
// no softening and no light wrap come between them, each keyed row is composited as soon as it is
// keyed, and over a plain colour the composite lays the fill).  Which run is settled by the view
// mode, a "mask mode" choice (parameter_schema.h): in the preview "mask mode" itself; in the batch
// the composite, or the matte for "mask mask" into an image with alpha when "Render against BD" is
// off.
//
// The output's bounds are the region, its domain the whole image at the render scale (the host's
// pixel scale).  The input must cover the region the plug-in asked for (requiredInputRect) and have
// the output's depth.  Scratch images cover the region plus the margins the later blurs need, so a
// tile costs in proportion to its size, and the result does not depend on the tiling: every margin
// is derived from the output's domain and the final view mode, never from the region alone.
//
// Failures: std::bad_alloc, Mav::Interrupted from a band's progress report, Mav::Exception from a
// kernel; every scratch image is freed on the way out and the output keeps what finished steps
// wrote.

#include "host/app/app_parameters.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "plugin/parameter_schema.h"

namespace vantrelo {

class VantreloPlugin;

// The values a render settles before its first step, from the parameters, the host's preview flag
// and the output.
struct RenderModes {
    MaskMode viewMode = kMaskForeground;
    bool transparent = false;  // the subject is copied, not composited, and the backdrop unblurred
    bool split = false;        // the backdrop is cleared above the domain's diagonal
    bool plainColour = false;  // "background color" chosen and no backdrop layer listed
};
RenderModes settleRenderModes(const VantreloPlugin& plugin,
                              const Mav::Host::App::Parameters& set,
                              const Mav::Host::System::ImageBuffer& output);

void renderFloat(VantreloPlugin& plugin, Mav::Host::App::Parameters& set,
                 const Mav::Host::System::ImageBuffer& input,
                 Mav::Host::System::ImageBuffer& output);
void render16(VantreloPlugin& plugin, Mav::Host::App::Parameters& set,
              const Mav::Host::System::ImageBuffer& input, Mav::Host::System::ImageBuffer& output);
void render8(VantreloPlugin& plugin, Mav::Host::App::Parameters& set,
             const Mav::Host::System::ImageBuffer& input, Mav::Host::System::ImageBuffer& output);

}  // namespace vantrelo
