#pragma once
// The auto-mask: a complete key built from the image itself.  The backdrop colour comes from seed
// fills at the two top corners; a first key's matte, eroded and dilated by min/max filters, shows
// where the image is surely backdrop and surely subject, and their colours grow the inner and
// shrink the outer polyhedron.  It runs as the plug-in's analysis step
// (VantreloPlugin::updateAutoMask) on the source proxy, only when it is switched on and one of its
// inputs changed: in the batch once per image, in the preview again while its sliders move.
//
// Colour measures, on R, G, B of a 16-bit pixel taken as floats: V is the largest of the three;
// the hue H lies in 0..1 (R tested first, then G, H = 0 for a grey), and the hue distance of two
// colours is the plain difference of their H, without wrap-around: a red of H 0.99 is far from a
// red of H 0.01.
//
// Failures: the detection works on a copy of the key state and writes it back only when the whole
// detection succeeded, so a refused allocation (std::bad_alloc, "bad allocation") or a keying the
// engine could not do (Mav::Exception) leaves the caller's key state exactly as it was.  Scratch
// memory comes from the engine allocator, so the hooks that limit the engine limit this too.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"
#include "kernels/minimax.h"

namespace vantrelo {

// The state of the seed fills: channel sums, the number of pixels that matched and the list they
// are appended to (RGBA16; the caller gives it room for every pixel of the filled rectangle once
// per fill).
struct AutoMaskAccumulator {
    double sum[4] = {0, 0, 0, 0};
    std::uint64_t count = 0;
    std::uint16_t* samples = nullptr;
};

// One scratch block of the detection, from the engine allocator; `pixels` is its first 16-byte
// aligned address.  allocateWorkBuffer throws std::bad_alloc ("bad allocation") when the allocator
// refuses; releaseWorkBuffer frees it (also run by the destructor, so no path out leaks it).
struct AutoMaskBuffer {
    AutoMaskBuffer() = default;
    ~AutoMaskBuffer();
    AutoMaskBuffer(const AutoMaskBuffer&) = delete;
    AutoMaskBuffer& operator=(const AutoMaskBuffer&) = delete;

    void* block = nullptr;
    std::uint16_t* pixels = nullptr;
};
void allocateWorkBuffer(AutoMaskBuffer& holder, std::size_t bytes);
void releaseWorkBuffer(AutoMaskBuffer& holder) noexcept;

// pixels: width x height packed RGBA16.  outColour receives the backdrop colour found (RGBA16, the
// average of both corner fills).  radius (0..1, "automask radius" / 100) sizes the wide window of
// the sure regions (sureRegionWindow).
//
// True when it built a key into *state.  False, with *state and outColour untouched, for an image
// under 16 x 16, missing pixels or state, or corners whose fills found nothing.
bool autoMask(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
              std::uint16_t outColour[4], KeyState* state, float radius);
// The detection proper, with the min/max filters' threading environment: autoMask passes the
// processor's features and runs the filters on every processor.  The result does not depend on
// the environment's band count nor on the engine's worker count.
bool analyseAutoMask(const Quelt_Environ& environment, const std::uint16_t* pixels,
                     std::ptrdiff_t width, std::ptrdiff_t height, std::uint16_t outColour[4],
                     KeyState* state, float radius);
// The steps of the detection, each over packed RGBA16 images of the same size; the sample lists
// keep every 16th qualifying pixel (the 1st, 17th, 33rd...) in scan order.
//
// The first key: the fresh key of the colour (the engine's grey start for a colour that counts as
// grey) with its inner polyhedron grown to the thinned fill samples.  The list is thinned in place.
// Throws std::bad_alloc when the engine could not start the key.
void startFirstKey(const std::uint16_t colour[4], std::uint16_t* fillSamples,
                   std::uint64_t count, KeyState* state);
// The subject candidates among `count` pixels, written to `samples`; returns their number.  A
// pixel is one when its hue lies more than 1/6 from the colour's, or when its matte alpha is above
// 16383 and its V more than 16383.75 from the colour's.
int subjectCandidates(const std::uint16_t* pixels, const std::uint16_t* matte,
                      std::uint64_t count, const std::uint16_t colour[4], std::uint16_t* samples);
// The window of the sure regions: r + 3 with r = trunc(min(width, height) x radius / 4 + 0.5) in
// single precision, at least 1 (and at most what the filters take).
int sureRegionWindow(std::ptrdiff_t width, std::ptrdiff_t height, float radius);
// The sure backdrop (subject false: alpha 0 after a 3 x 3 minimum and a window x window maximum of
// the matte) or the sure subject (subject true: alpha 65535 after a 3 x 3 maximum and a window x
// window minimum), through `morphology`; the pixels there are written to `samples`, which also
// serves as the filters' scratch image (2 x width x height RGBA16 entries).  Returns their number.
int sureRegionSamples(const Quelt_Environ& environment, bool subject,
                      const std::uint16_t* pixels, const std::uint16_t* matte,
                      std::uint16_t* morphology, std::uint16_t* samples, std::ptrdiff_t width,
                      std::ptrdiff_t height, int window);

// The engine's histogram refinement of the outer polyhedron (makeAutoKeyMask with the widenings,
// ease as its boundary scale and correction as its dominance), skipped when the colour counts as
// grey.  True unless the arguments are unusable (null pointers, an empty image); throws
// std::bad_alloc, with *state as it was, when the engine could not have its scratch memory.
bool refineAutoMask(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height,
                    const std::uint16_t colour[4], KeyState* state, float innerWidening,
                    float outerWidening, float ease, float correction);
// max - min < max / 20 over R, G, B in integers; black is not grey.
bool isNearGrey(const std::uint16_t colour[4]);

// Sets the mask bits of the region connected (four-way) to the seed whose colours match the
// seed's, and accumulates their colours; the seed pixel itself is the reference and is not
// accumulated.  The mask covers `rect`: the bit of pixel (x, y) is in row y - rect.y0, bit
// x - rect.x0 counted from the most significant bit of the row's first byte; its rows of
// (x1 - x0 + 7) / 8 bytes are cleared first.  Pixel (x, y) is at pixels + y x pixelRowBytes +
// x x 8 bytes.  A seed outside the rect fills nothing.
//
// The fill sweeps forward (top to bottom, left to right) and backward until a sweep pair sets no
// bit; a pixel is tested when the pixel before it in the sweep or the one on the row already swept
// is set, and a set pixel is never tested again, so each pixel enters the accumulator at most once
// per fill, in the order of the sweeps.
void seedFillMask(std::uint8_t* mask, std::ptrdiff_t maskRowBytes, const std::uint16_t* pixels,
                  std::ptrdiff_t pixelRowBytes, const SpanRect& rect, std::int64_t seedX,
                  std::int64_t seedY, AutoMaskAccumulator& accumulator);
// Hue distance below 1/36 and V within 6553.5 of the seed's.  On a match the pixel (all four
// channels) is appended to the list and added to the sums.
bool matchesSeedColour(AutoMaskAccumulator& accumulator, const std::uint16_t* seed,
                       const std::uint16_t* pixel);

}  // namespace vantrelo
