#pragma once
// Keying of whole images with a compiled KeyState: the preparation steps the key's flags ask for
// (simulated foreground, mask shapes, blurred background as spill source, grain filter), then the
// keying itself, on the engine's band workers, on the calling thread, or restricted to the crop
// rectangle, and finally the transparent pixels filled from the spill source.
//
// Images are packed rows: pixel (x, y) is element y x width + x.  16-bit pixels are R, G, B, A;
// float pixels R, G, B, A on a caller-given full scale; 8-bit pixels three bytes B, G, R with the
// matte in a separate byte array.  Background and mask are optional images of the same size; the
// output must not overlap any input.
//
// The caller compiles the state before the call and releases it afterwards.  These operations only
// read the record, never write it: the garbage-mask bit is dropped from the flag word they key
// with when no mask is given, and processImageMasked keys without the EXTSHAPE bit, both by
// passing that word down, so any number of threads may key one compiled state at once.
//
// Every operation reports whether the output holds the keyed image.  On any other result the
// output may be partly written and must not be used (never written over a user's file): a working
// buffer could not be had, a band worker failed, or an effect step could not run.

#include <cstddef>
#include <cstdint>

#include "engine/effects/crop_insets.h"
#include "engine/keying/key_state.h"

namespace vantrelo {

enum class ProcessStatus : int {
    Done = 0,          // the output holds the result
    BadArguments = 1,  // unusable sizes, pointers or full scale; nothing was read or written
    OutOfMemory = 2,   // a working buffer could not be had from the engine allocator
    Failed = 3,        // a band worker or an effect step failed, or the key selects the threshold
                       // or hexagon keyer but has no keyer object (its compilation failed or never ran)
};

// 16-bit RGBA.  The mask is read, through its G channel, only when the state has
// KeyFlagGarbageMask; with KeyFlagExtShapes the state's EXTSHAPE layers are drawn over a copy of
// it first.  Insets that are not all 0 key only their rectangle (on the calling thread) and give
// the rest of the output the background, or zeros without one; the grain filter gets the same
// insets.  A state with KeyFlagSimulatedForegroundOutput writes the (lighting-corrected) image
// itself, opaque, and keys nothing.
ProcessStatus processImage(const std::uint16_t* image, std::uint16_t* output, const std::uint16_t* background,
                           const std::uint16_t* mask, std::ptrdiff_t width, std::ptrdiff_t height,
                           const KeyState* state, const CropInsets* insets);

// Float RGBA whose full intensity is fullScale (a positive finite number).  The keying works on
// the 16-bit scale: when fullScale is not 65535, the R, G, B of image and background and all four
// channels of the mask are multiplied in place by 65535 / fullScale first, and stay so after the
// call.  The output's colour comes back on fullScale, its matte on 0..65535.
ProcessStatus processImageFloat(float fullScale, float* image, float* output, float* background, float* mask,
                                std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                                const CropInsets* insets);

// processImageFloat for inputs that are already on the 16-bit scale: nothing is scaled on the way
// in; the output's colour is still brought to fullScale at the end.  For pipelines that key the
// same scaled image more than once.
ProcessStatus processImageFloatPrescaled(float fullScale, const float* image, float* output,
                                         const float* background, const float* mask, std::ptrdiff_t width,
                                         std::ptrdiff_t height, const KeyState* state, const CropInsets* insets);

// 8-bit B, G, R pixels; the mask is an image of three-byte pixels whose middle byte is the mask
// value.  There is no simulated foreground and no mask-shape step.  With insets, the output matte
// outside the rectangle is left as the caller had it.  The matte is softened at the end by the
// matte defocus with the given radius, push flag and shrink.
ProcessStatus processImage8(const std::uint8_t* image, const std::uint8_t* background, const std::uint8_t* mask,
                            std::ptrdiff_t width, std::ptrdiff_t height, const KeyState* state,
                            const CropInsets* insets, int matteRadius, int mattePush, float matteShrink,
                            std::uint8_t* outColour, std::uint8_t* outMatte);

// 16-bit RGBA keyed only inside the state's EXTSHAPE layers (whatever its flag word says about
// them): the layers are rendered into a mask, the crop rectangle is tightened to their bounds, the
// image is keyed there without a mask and mixed into the output by the mask; elsewhere the output
// keeps its pixels.  Without layers it is processImage with no mask.  `unused` is not read.
ProcessStatus processImageMasked(const std::uint16_t* image, std::uint16_t* output,
                                 const std::uint16_t* background, const void* unused, std::ptrdiff_t width,
                                 std::ptrdiff_t height, const KeyState* state, const CropInsets* insets);

// Foreground := foreground over background by its own alpha (vantcompositeLoop), on the band
// workers for spans of at least 100 pixels when there are two or more.
ProcessStatus compositeOver16(std::uint16_t* foreground, const std::uint16_t* background, std::ptrdiff_t count);

// The number of layers before the terminating null of a layer list (0 for no list).
std::ptrdiff_t countShapeLayers(ShapeLayer* const* layers);

}  // namespace vantrelo
