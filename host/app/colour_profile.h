#pragma once
// The working colour space of the host: CMYK subject images are converted into it when they are
// read, results converted into it carry it when they are written, and the viewer converts from
// it to the display.  It is an sRGB version 4 ICC profile made by Little CMS once per run and
// held in the program's data; its bytes are what written files embed.

#include <lcms2.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace Mav::Host::App {

struct ProfileCloser {
    void operator()(void* profile) const noexcept {
        if (profile) cmsCloseProfile(profile);
    }
};
// An open Little CMS profile, closed when the holder goes.
using ProfileHandle = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* transform) const noexcept {
        if (transform) cmsDeleteTransform(transform);
    }
};
using TransformHandle = std::unique_ptr<void, TransformDeleter>;

// The working profile's ICC bytes; made on the first call (thread-safe) and kept for the run.
const std::vector<std::uint8_t>& workingProfileBytes();

// A fresh handle on the working profile, opened from its bytes; null only when Little CMS
// cannot allocate one.
ProfileHandle openWorkingProfile();

// Opens ICC bytes; null for a null pointer, a zero size or bytes Little CMS does not accept.
ProfileHandle openProfile(const void* data, std::size_t size);

}  // namespace Mav::Host::App
