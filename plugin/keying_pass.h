#pragma once
// The keying pass: the subject pixels of one render turned into the keyed image (straight colour,
// spill corrected, the matte times the subject's alpha as alpha) over the keying rectangle,
// against the backdrop image, the solid replacement colour or transparent black.  One instance per
// render depth; the 8-bit render keys its 8-bit input into a 16-bit keyed image.
//
// The pass builds a work image when it needs one (the input lighting-corrected when "adjust
// lighting" is on, drawn through the foreground transform when the render has not drawn it),
// compiles the adapter's key state once, prepares the rows in bands on every processor and keys
// them, and releases the key, also on failure.  Every pixel the engine keys has been written: parts
// of the rectangle that the subject or the backdrop image does not cover are transparent black.
//
// How the rows go to the engine, so that the result depends on the tile and never on the number
// of processors:
// - row by row, inside the bands, one engine call per row with a work row and a background row of
//   the band's own; this is the usual case;
// - as one engine call over the whole rectangle, after the bands have prepared every row, when the
//   engine's result depends on the run it is given as a whole: with the lighting correction (the
//   grain filter and the blurred-background spill work on the run) and with hybrid two-key keying
//   (a whole-image merge that must not run per band).  The engine spreads that call over its own
//   workers.
//
// Also here: the float colour fills of the float render and the two 16-bit "over" blends.

#include <cstdint>

#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "host/system/system_host.h"
#include "kernels/matrix3.h"

namespace vantrelo {

class VantreloPlugin;
class CVantreloBridge;
struct LightingContext;

// A step that takes each keyed row while it is still in cache, in place of the keyed image: the
// render's composite, when nothing after the keying reads the keyed image (no softening, no light
// wrap).  run(context, y, row) receives row y of the keying rectangle, four channels of the keyed
// type a pixel, its columns from the rectangle's x0 to x1 - 1; it runs on the band that keyed the
// row and may write only what belongs to that row.  With a step the keyed image is neither checked
// nor written; a pass that keys its area as one run (lighting correction, hybrid key) refuses one.
struct KeyedRowStep {
    void (*run)(const void* context, std::int32_t y, const void* row) = nullptr;
    const void* context = nullptr;
};

// What the pass takes from the plug-in (VantreloPlugin builds it for its own entries).
struct KeyPassContext {
    Mav::Host::System::Host* host = nullptr;  // runner, progress, owner of the scratch images
    CVantreloBridge* adapter = nullptr;       // its key state is compiled for the pass
    Matrix3 foreground;                       // the foreground transform at the render scale
    LightingContext* lighting = nullptr;      // needed when the lighting flag is set
    // Bands of the keying rows: 0 (the render's choice) one per processor of the host; tests and
    // benchmarks set other counts, which give the same result.
    std::uint64_t bandCount = 0;
    const KeyedRowStep* rowStep = nullptr;  // optional: the keyed rows go to it
};

// The job of the keying rows, on the pass's stack for one run.
struct KeyRowsJob {
    Mav::Host::System::Host* host = nullptr;  // receives the progress reports
    // With a prepared work image or a whole-rectangle run: the work image's first pixel (the area,
    // packed); else null and each band keys through a row of its own.
    void* workPixels = nullptr;
    // Whole-rectangle run: the background of the whole area (packed), filled by the bands; the
    // pass keys the area after the bands are done.  Null: the bands key row by row.
    void* backgroundPixels = nullptr;
    const CVantreloBridge* adapter = nullptr;
    const Mav::Host::System::ImageBuffer* input = nullptr;
    const Mav::Host::System::ImageBuffer* warpedForeground = nullptr;  // may hold no pixels
    const Mav::Host::System::ImageBuffer* backdrop = nullptr;          // null: a colour backdrop
    Mav::Host::System::ImageBuffer* keyed = nullptr;                   // destination, packed rows
    Mav::Host::System::Rect area;                                      // the keying rectangle
    std::uint8_t plainColour = 0;  // 1: the colour backdrop is the solid replacement colour
    std::uint8_t transformed = 0;  // 1: the foreground transform is not the identity
    std::uint8_t lighting = 0;     // 1: "adjust lighting" is on
    std::uint8_t workReady = 0;    // 1: the work image already holds the subject
    const KeyedRowStep* rowStep = nullptr;  // takes each keyed row in place of `keyed`
};

// keyed: four channels over exactly `keyingRect` with packed rows, float (float pass) or 16-bit;
// input, warped foreground and backdrop image have the render's depth (float, 16-bit, 8-bit) and
// three or more channels.  The subject is the warped foreground when the foreground is transformed
// and the render drew it, else the input (lighting-corrected with the lighting flag), drawn by the
// pass through the foreground transform when transformed.  Pixels outside the subject's and the
// backdrop image's bounds key as transparent black.  Images that do not fit throw Mav::Exception
// before anything is touched; otherwise std::bad_alloc, Mav::Interrupted (progress) or an engine
// failure, with the key released and the scratch freed.
void keyPassFloat(const KeyPassContext& context, const Mav::Host::System::ImageBuffer& input,
                  const Mav::Host::System::ImageBuffer& warpedForeground,
                  const Mav::Host::System::ImageBuffer* backdrop,
                  Mav::Host::System::ImageBuffer& keyed, const Mav::Host::System::Rect& keyingRect,
                  bool plainColour, bool transformed, bool lighting);
void keyPass16(const KeyPassContext& context, const Mav::Host::System::ImageBuffer& input,
               const Mav::Host::System::ImageBuffer& warpedForeground,
               const Mav::Host::System::ImageBuffer* backdrop,
               Mav::Host::System::ImageBuffer& keyed, const Mav::Host::System::Rect& keyingRect,
               bool plainColour, bool transformed, bool lighting);
void keyPass8(const KeyPassContext& context, const Mav::Host::System::ImageBuffer& input,
              const Mav::Host::System::ImageBuffer& warpedForeground,
              const Mav::Host::System::ImageBuffer* backdrop,
              Mav::Host::System::ImageBuffer& keyed, const Mav::Host::System::Rect& keyingRect,
              bool plainColour, bool transformed, bool lighting);

// The plug-in's entries: the context from the plug-in (its adapter, lighting cache and the
// foreground matrix of `domain`, the output's domain) and the optional row step.
void keyPassFloat(VantreloPlugin& host, const Mav::Host::System::ImageBuffer& input,
                  const Mav::Host::System::ImageBuffer& warpedForeground,
                  const Mav::Host::System::ImageBuffer* backdrop,
                  Mav::Host::System::ImageBuffer& keyed, const Mav::Host::System::Rect& keyingRect,
                  const Mav::Host::System::Rect& domain, bool plainColour, bool transformed,
                  bool lighting, const KeyedRowStep* rowStep = nullptr);
void keyPass16(VantreloPlugin& host, const Mav::Host::System::ImageBuffer& input,
               const Mav::Host::System::ImageBuffer& warpedForeground,
               const Mav::Host::System::ImageBuffer* backdrop,
               Mav::Host::System::ImageBuffer& keyed, const Mav::Host::System::Rect& keyingRect,
               const Mav::Host::System::Rect& domain, bool plainColour, bool transformed,
               bool lighting, const KeyedRowStep* rowStep = nullptr);
void keyPass8(VantreloPlugin& host, const Mav::Host::System::ImageBuffer& input,
              const Mav::Host::System::ImageBuffer& warpedForeground,
              const Mav::Host::System::ImageBuffer* backdrop,
              Mav::Host::System::ImageBuffer& keyed, const Mav::Host::System::Rect& keyingRect,
              const Mav::Host::System::Rect& domain, bool plainColour, bool transformed,
              bool lighting, const KeyedRowStep* rowStep = nullptr);

// Band workers over a KeyRowsJob: band k of n takes the area's rows as bandRange says and reports
// progress after every row whose number is a multiple of 32 (done = row - band start).
void keyRowsFloat(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void keyRows16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void keyRows8(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

// Float colour fills: band workers over a BandJob whose source is four 16-bit values (R, G, B, A)
// and whose destination is a float image of at least four (fillColorRows4) or three channels;
// each value divided by 65535 in single precision.
void fillColorRows4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void fillColorRows3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

// d := s over d, in place, in unsigned 32-bit arithmetic with every quotient truncated (the largest
// intermediates, 255 x 255 x 65535 and 65535 x 65535, fit).
//
// The straight 8-bit layer pixel over 16 bits (the 16-bit straight layer warp's formula), a = s.A:
// d.c := (s.c a 65535 / 255 + d.c (255 - a)) / 255, the inner quotient (exactly s.c a 257) first;
// d.A := (d.A (255 - a) + a 65535) / 255.
inline void blendRgba8Over16(std::uint16_t* d, const std::uint8_t* s) {
    const std::uint32_t a = s[3];
    const std::uint32_t keep = 255u - a;
    for (int c = 0; c < 3; ++c)
        d[c] = static_cast<std::uint16_t>((std::uint32_t{s[c]} * a * 65535u / 255u + d[c] * keep) / 255u);
    d[3] = static_cast<std::uint16_t>((d[3] * keep + a * 65535u) / 255u);
}

// The 16-bit keyed pixel over 16 bits, a = s.A: each colour the sum of two separately truncated
// terms, d.c (65535 - a) / 65535 + s.c a / 65535, so a = 0 keeps d exactly; d.A := (d.A (65535 - a)
// + a 65535) / 65535, one quotient.
inline void blendRgba16Over16(std::uint16_t* d, const std::uint16_t* s) {
    const std::uint32_t a = s[3];
    const std::uint32_t keep = 65535u - a;
    for (int c = 0; c < 3; ++c)
        d[c] = static_cast<std::uint16_t>(d[c] * keep / 65535u + std::uint32_t{s[c]} * a / 65535u);
    d[3] = static_cast<std::uint16_t>((d[3] * keep + a * 65535u) / 65535u);
}

}  // namespace vantrelo
