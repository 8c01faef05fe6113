#pragma once
// The keying pass: the subject pixels of one render turned into the keyed image (straight colour,
// spill corrected, the matte times the subject's alpha as alpha) over the keying rectangle,
// against the backdrop image, the solid replacement colour or transparent black.  One instance per
// render depth; the 8-bit render keys its 8-bit input into a 16-bit keyed image.
//
// The pass builds a work image (the input, lighting-corrected when "adjust lighting" is on, drawn
// through the foreground transform when that is needed), compiles the adapter's key state once,
// keys the rows in bands on every processor and releases the key, also on failure.
//
// Also here: the float colour fills of the float render and the two 16-bit "over" blends.

#include <cstdint>

#include "host/system/image_buffer.h"
#include "host/system/rect.h"

namespace vantrelo {

class VantreloPlugin;
class CVantreloBridge;

// The job of the keying rows, on the pass's stack for one run.
struct KeyRowsJob {
    VantreloPlugin* host = nullptr;       // receives the progress reports
    void* workPixels = nullptr;           // first pixel of the packed work image (the area)
    const CVantreloBridge* adapter = nullptr;
    const Mav::Host::System::ImageBuffer* input = nullptr;
    const Mav::Host::System::ImageBuffer* warpedForeground = nullptr;  // may hold no pixels
    const Mav::Host::System::ImageBuffer* backdrop = nullptr;          // null: a colour backdrop
    Mav::Host::System::ImageBuffer* keyed = nullptr;                   // destination, packed rows
    Mav::Host::System::Rect area;                                      // the keying rectangle
    std::uint8_t plainColour = 0;  // 1: the colour backdrop is the solid replacement colour
    std::uint8_t transformed = 0;  // 1: the foreground transform is not the identity
    std::uint8_t lighting = 0;     // 1: "adjust lighting" is on
};

// keyed: four channels over `keyingRect`, packed rows, float (float pass) or 16-bit; domain: the
// output's domain (the whole image at the render scale).  warpedForeground holds no pixels when
// the render did not draw it.
void keyPassFloat(VantreloPlugin& host, const Mav::Host::System::ImageBuffer& input,
                  const Mav::Host::System::ImageBuffer& warpedForeground,
                  const Mav::Host::System::ImageBuffer* backdrop,
                  Mav::Host::System::ImageBuffer& keyed, const Mav::Host::System::Rect& keyingRect,
                  const Mav::Host::System::Rect& domain, bool plainColour, bool transformed,
                  bool lighting);
void keyPass16(VantreloPlugin& host, const Mav::Host::System::ImageBuffer& input,
               const Mav::Host::System::ImageBuffer& warpedForeground,
               const Mav::Host::System::ImageBuffer* backdrop,
               Mav::Host::System::ImageBuffer& keyed, const Mav::Host::System::Rect& keyingRect,
               const Mav::Host::System::Rect& domain, bool plainColour, bool transformed,
               bool lighting);
void keyPass8(VantreloPlugin& host, const Mav::Host::System::ImageBuffer& input,
              const Mav::Host::System::ImageBuffer& warpedForeground,
              const Mav::Host::System::ImageBuffer* backdrop,
              Mav::Host::System::ImageBuffer& keyed, const Mav::Host::System::Rect& keyingRect,
              const Mav::Host::System::Rect& domain, bool plainColour, bool transformed,
              bool lighting);

// Band workers over a KeyRowsJob.
void keyRowsFloat(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void keyRows16(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void keyRows8(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

// Float colour fills: band workers over a BandJob whose source is four 16-bit values (R, G, B, A)
// and whose destination is a float image of at least four (fillColorRows4) or three channels;
// each value divided by 65535 in single precision.
void fillColorRows4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);
void fillColorRows3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t key);

// d := s over d, in place; the straight 8-bit layer pixel over 16 bits, and the 16-bit keyed
// pixel over 16 bits (truncating unsigned 32-bit arithmetic).
void blendRgba8Over16(std::uint16_t* d, const std::uint8_t* s);
void blendRgba16Over16(std::uint16_t* d, const std::uint16_t* s);

}  // namespace vantrelo
