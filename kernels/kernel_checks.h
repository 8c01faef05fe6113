#pragma once
// Entry-point checks shared by the kernels: each throws Mav::Exception with a text that names the
// operation and the image at fault, before any pixel is touched.

#include <cstdint>
#include <string>

#include "host/system/exceptions.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"

namespace vantrelo {

[[noreturn]] inline void kernelFailure(const char* where, const std::string& what) {
    throw Mav::Exception(std::string(where) + ": " + what);
}

// Non-empty bounds need pixels, aligned to their samples, and a row pitch that holds a row.
inline void requirePixels(const char* where, const char* name,
                          const Mav::Host::System::ImageBuffer& image) {
    if (image.bounds.empty()) return;
    if (!image.firstPixel) kernelFailure(where, std::string("the ") + name + " has no pixels.");
    const std::ptrdiff_t sample = image.bitsPerChannel > 8 ? image.bitsPerChannel / 8 : 1;
    if (image.rowBytes % sample != 0 ||
        reinterpret_cast<std::uintptr_t>(image.firstPixel) % sample != 0)
        kernelFailure(where,
                      std::string("the ") + name + "'s rows are not aligned to its samples.");
    const std::ptrdiff_t rowLength = image.bounds.width() * image.bytesPerPixel();
    if (image.bounds.height() > 1 && image.rowBytes < rowLength && -image.rowBytes < rowLength)
        kernelFailure(where, std::string("the ") + name + "'s rows overlap.");
}

inline void requireDepth(const char* where, const char* name,
                         const Mav::Host::System::ImageBuffer& image) {
    const int bits = image.bitsPerChannel;
    if (bits != 8 && bits != 16 && bits != 32)
        kernelFailure(where, std::string("the ") + name + " has an unsupported depth of " +
                                 std::to_string(bits) + " bits.");
}

inline void requireCovers(const char* where, const Mav::Host::System::ImageBuffer& source,
                          const Mav::Host::System::Rect& area) {
    if (!area.empty() && !Mav::Host::System::rectContains(source.bounds, area))
        kernelFailure(where, "the source does not cover the area to process.");
}

}  // namespace vantrelo
