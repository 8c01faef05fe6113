#pragma once
// Fixtures of the kernel tests: a host that records progress and can abandon work, and images of
// any depth and channel count filled with values that differ per channel, so that swapped or
// dropped channels show.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "host/system/exceptions.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "host/system/system_host.h"

namespace kernel_test {

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

class TestHost : public Mav::Host::System::Host {
public:
    bool isPreviewMode() const override { return false; }

    void tickProgress(std::uint64_t key) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++ticks[key];
        ++totalTicks;
        if (interruptAfter >= 0 && totalTicks > interruptAfter) throw Mav::Interrupted();
    }
    void reportProgress(std::uint64_t key, std::uint64_t done, std::uint64_t total) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reports.push_back({key, done, total});
    }

    struct Report {
        std::uint64_t key, done, total;
    };
    std::map<std::uint64_t, int> ticks;
    int totalTicks = 0;
    std::vector<Report> reports;
    int interruptAfter = -1;  // throw Mav::Interrupted on the tick after this many; -1 never

private:
    std::mutex mutex_;
};

// An image over `bounds` with any channel count (ImageBuffer::allocate always gives 4), packed
// rows plus `padding` spare samples a row, so row bytes differ from the width.
inline std::unique_ptr<ImageBuffer> makeImage(Mav::Host::System::Host* host, Rect bounds, int bits,
                                              int channels, std::ptrdiff_t padding = 0) {
    auto image = std::make_unique<ImageBuffer>(host);
    image->bitsPerChannel = bits;
    image->channels = channels;
    image->bounds = image->domain = bounds;
    image->rowBytes = (bounds.width() * channels + padding) * (bits / 8);
    image->storage.resize(static_cast<std::uint64_t>(image->rowBytes * bounds.height()));
    image->firstPixel = image->storage.pointer();
    std::memset(image->firstPixel, 0, static_cast<std::size_t>(image->rowBytes * bounds.height()));
    return image;
}

template <class T>
T* at(const ImageBuffer& image, std::int32_t x, std::int32_t y) {
    return reinterpret_cast<T*>(image.pixelAddress(x, y));
}

// Random samples over the whole range of the depth (float: -0.25 .. 1.25).
inline void fillRandom(ImageBuffer& image, std::uint32_t seed) {
    std::mt19937 random(seed);
    const Rect b = image.bounds;
    for (std::int32_t y = b.y0; y < b.y1; ++y)
        for (std::int32_t x = b.x0; x < b.x1; ++x)
            for (int c = 0; c < image.channels; ++c) {
                const std::uint32_t r = random();
                if (image.bitsPerChannel == 8)
                    at<std::uint8_t>(image, x, y)[c] = static_cast<std::uint8_t>(r >> 24);
                else if (image.bitsPerChannel == 16)
                    at<std::uint16_t>(image, x, y)[c] = static_cast<std::uint16_t>(r >> 16);
                else
                    at<float>(image, x, y)[c] =
                        static_cast<float>(r >> 8) / 16777216.0f * 1.5f - 0.25f;
            }
}

// A smooth pattern, different in every channel: warps of it can be checked against bilinear
// interpolation without the noise of random values.
inline double smoothValue(double x, double y, int c) {
    return 0.5 + 0.45 * std::sin(0.071 * x * (c + 1) + 0.053 * y * (3 - c) + c);
}

inline void fillSmooth(ImageBuffer& image) {
    const Rect b = image.bounds;
    for (std::int32_t y = b.y0; y < b.y1; ++y)
        for (std::int32_t x = b.x0; x < b.x1; ++x)
            for (int c = 0; c < image.channels; ++c) {
                const double v = smoothValue(x, y, c);
                if (image.bitsPerChannel == 8)
                    at<std::uint8_t>(image, x, y)[c] = static_cast<std::uint8_t>(v * 255);
                else if (image.bitsPerChannel == 16)
                    at<std::uint16_t>(image, x, y)[c] = static_cast<std::uint16_t>(v * 65535);
                else
                    at<float>(image, x, y)[c] = static_cast<float>(v);
            }
}

// Channel c of pixel (x, y) as a double.
inline double sample(const ImageBuffer& image, std::int32_t x, std::int32_t y, int c) {
    if (image.bitsPerChannel == 8) return at<std::uint8_t>(image, x, y)[c];
    if (image.bitsPerChannel == 16) return at<std::uint16_t>(image, x, y)[c];
    return at<float>(image, x, y)[c];
}

inline bool samePixels(const ImageBuffer& a, const ImageBuffer& b) {
    if (a.bounds != b.bounds || a.bytesPerPixel() != b.bytesPerPixel()) return false;
    const auto row = static_cast<std::size_t>(a.bounds.width() * a.bytesPerPixel());
    for (std::int32_t y = a.bounds.y0; y < a.bounds.y1; ++y)
        if (std::memcmp(a.pixelAddress(a.bounds.x0, y), b.pixelAddress(b.bounds.x0, y), row) != 0)
            return false;
    return true;
}

}  // namespace kernel_test
