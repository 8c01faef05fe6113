#pragma once
// Fixtures of the render-stage tests (keying pass, lighting correction, light wrap, composite
// rows): a host that records progress and can abandon work, images over any rectangle whose every
// channel differs, and a key for a green backdrop.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/keying/initial_key.h"
#include "host/system/exceptions.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "host/system/system_host.h"
#include "plugin/vantrelo_wrapper.h"

namespace vantrelo::stage_test {

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

class TestHost : public Mav::Host::System::Host {
public:
    bool isPreviewMode() const override { return false; }
    void tickProgress(std::uint64_t) override {}
    void reportProgress(std::uint64_t key, std::uint64_t done, std::uint64_t total) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reports.push_back({key, done, total});
        if (interruptAfter >= 0 && static_cast<int>(reports.size()) > interruptAfter) throw Mav::Interrupted();
    }

    struct Report {
        std::uint64_t key, done, total;
        bool operator==(const Report&) const = default;
    };
    std::vector<Report> reports;
    int interruptAfter = -1;  // throw Mav::Interrupted on the report after this many; -1 never

private:
    std::mutex mutex_;
};

// An image over `bounds` of `channels` channels (3 or 4) and `bits` per channel, rows padded by
// `padding` bytes so that row bytes differ from the width (a whole number of samples, or float and
// 16-bit rows start misaligned); zero-filled.
inline std::unique_ptr<ImageBuffer> makeImage(Mav::Host::System::Host* host, Rect bounds, int bits, int channels,
                                              std::ptrdiff_t padding = 0) {
    auto image = std::make_unique<ImageBuffer>(host);
    image->bitsPerChannel = bits;
    image->channels = channels;
    image->bounds = image->domain = bounds;
    image->rowBytes = bounds.width() * (bits / 8) * channels + padding;
    image->storage.resize(static_cast<std::uint64_t>(image->rowBytes * bounds.height()));
    image->firstPixel = image->storage.pointer();
    std::memset(image->firstPixel, 0, static_cast<std::size_t>(image->rowBytes * bounds.height()));
    return image;
}

// A packed four-channel image over `bounds`, allocated as the render allocates its scratch.
inline std::unique_ptr<ImageBuffer> makePacked(Mav::Host::System::Host* host, Rect bounds, int bits) {
    auto image = std::make_unique<ImageBuffer>(host);
    image->rowAligned = false;
    image->allocate(bounds, bits);
    if (image->firstPixel)
        std::memset(image->firstPixel, 0, static_cast<std::size_t>(image->rowBytes * bounds.height()));
    return image;
}

template <class T>
T* at(const ImageBuffer& image, std::int32_t x, std::int32_t y) {
    return reinterpret_cast<T*>(image.pixelAddress(x, y));
}

inline bool samePixels(const ImageBuffer& a, const ImageBuffer& b) {
    if (a.bounds != b.bounds || a.bytesPerPixel() != b.bytesPerPixel()) return false;
    const auto row = static_cast<std::size_t>(a.bounds.width() * a.bytesPerPixel());
    for (std::int32_t y = a.bounds.y0; y < a.bounds.y1; ++y)
        if (std::memcmp(a.pixelAddress(a.bounds.x0, y), b.pixelAddress(b.bounds.x0, y), row) != 0) return false;
    return true;
}

// The green of the key tests and colours at known places around it: the backdrop itself keys
// transparent, a saturated red opaque, their mixes in between.
inline constexpr std::uint16_t kGreen[4] = {9000, 41000, 12000, 65535};

inline void keyGreen(CVantreloBridge& bridge) {
    for (KeyState* state : {&bridge.keyStates.keyState, &bridge.keyStates.edgeState, &bridge.keyStates.bodyState})
        ASSERT_TRUE(setBackdropColour(kGreen, state));
}

// A subject colour from backdrop (t = 0) to red (t = 1), different in every channel.
inline void subjectColour(double t, std::uint16_t* rgba) {
    const double red[3] = {52000, 7000, 3000};
    for (int c = 0; c < 3; ++c) rgba[c] = static_cast<std::uint16_t>(kGreen[c] + (red[c] - kGreen[c]) * t);
}

// Fills `image` (any depth, 3 or 4 channels) with a subject that crosses from backdrop to red along
// x and varies along y, alpha different per pixel; values in 16-bit units scaled to the depth.
inline void fillSubject(ImageBuffer& image) {
    const Rect b = image.bounds;
    for (std::int32_t y = b.y0; y < b.y1; ++y)
        for (std::int32_t x = b.x0; x < b.x1; ++x) {
            std::uint16_t v[4];
            const double t = static_cast<double>(((x - b.x0) * 7 + (y - b.y0) * 3) % 23) / 22.0;
            subjectColour(t, v);
            v[3] = static_cast<std::uint16_t>(65535 - ((x * 131 + y * 71) % 9) * 257);
            for (int c = 0; c < image.channels && c < 4; ++c) {
                if (image.bitsPerChannel == 8)
                    at<std::uint8_t>(image, x, y)[c] = static_cast<std::uint8_t>(v[c] >> 8);
                else if (image.bitsPerChannel == 16)
                    at<std::uint16_t>(image, x, y)[c] = v[c];
                else
                    at<float>(image, x, y)[c] = static_cast<float>(v[c]) / 65535.0f;
            }
        }
}

}  // namespace vantrelo::stage_test
