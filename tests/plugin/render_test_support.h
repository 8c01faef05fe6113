#pragma once
// A keyed scene for the render tests: a green backdrop with a little texture and a reddish disc
// with a soft edge (every channel different), a key made from one backdrop sample as a user's
// first click makes it, and the plug-in in preview mode over an input file of the scene's size.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "plugin/keying_pass.h"
#include "plugin/vantrelo_wrapper.h"
#include "tests/plugin/plugin_test_support.h"

namespace vantrelo::plugin_test {

inline constexpr double kBackdropColour[3] = {0.14, 0.63, 0.18};

// The scene over a width x height domain; `plain` leaves the backdrop untextured.
inline PixelFunction scene(int width, int height, bool plain = false) {
    return [=](int x, int y, double v[4]) {
        const double cx = width * 0.45, cy = height * 0.55;
        const double radius = std::min(width, height) * 0.3;
        const double d = std::hypot(x - cx, y - cy);
        const double cover = std::clamp((radius - d) / 3.0, 0.0, 1.0);
        const double texture = plain ? 0.0 : 0.02 * std::sin(x * 0.7 + y * 0.3);
        const double subject[3] = {0.8 + 0.1 * std::sin(x * 0.2), 0.35 + 0.05 * std::cos(y * 0.3),
                                   0.25 + 0.04 * std::sin((x + y) * 0.1)};
        for (int c = 0; c < 3; ++c) {
            const double backdrop = kBackdropColour[c] + texture * (c + 1) / 3.0;
            v[c] = backdrop + (subject[c] - backdrop) * cover;
        }
        v[3] = 1.0;
    };
}

// The plug-in over the scene's file, keyed from one backdrop sample.
class KeyedScene {
public:
    KeyedScene(int width, int height, bool preview = true)
        : folder("vantrelo-render"), domain{0, 0, width, height},
          harness(writeInput(width, height), preview) {
        CVantreloBridge& bridge = harness.plugin.bridge;
        const std::uint16_t sample[4] = {static_cast<std::uint16_t>(kBackdropColour[0] * 65535),
                                         static_cast<std::uint16_t>(kBackdropColour[1] * 65535),
                                         static_cast<std::uint16_t>(kBackdropColour[2] * 65535),
                                         65535};
        bridge.sampleMode = SampleSelect;
        bridge.applySampleBlock(sample, 1, 1);
        const double grey[3] = {0.3, 0.45, 0.6};
        harness.set().setColour(grey, kParamBGColor);
        harness.set().applyToEngine(kParamBGColor);
    }

    std::vector<std::filesystem::path> writeInput(int width, int height) {
        const auto path = folder.path() / "scene.png";
        writePng(path, width, height, scene(width, height), false);
        return {path};
    }

    // The scene at the given depth over the whole domain (the batch hands every tile the whole
    // input).
    std::unique_ptr<ImageBuffer> input(int bits, const PixelFunction& pixel) {
        auto image = std::make_unique<ImageBuffer>(&harness.plugin);
        fillBuffer(*image, domain, domain, bits, pixel);
        return image;
    }
    std::unique_ptr<ImageBuffer> input(int bits) {
        return input(bits, scene(domain.width(), domain.height()));
    }

    // Renders `region` (the domain when empty) of `in` into a new output.
    std::unique_ptr<ImageBuffer> render(const ImageBuffer& in, Rect region = {}, int channels = 4,
                                        bool hasAlpha = true) {
        if (region.empty()) region = domain;
        auto output = std::make_unique<ImageBuffer>(&harness.plugin);
        output->allocate(region, in.bitsPerChannel);
        output->domain = domain;
        output->channels = channels;
        output->hasAlpha = hasAlpha;
        ImageBuffer scratch(&harness.plugin);
        harness.plugin.render(harness.set(), const_cast<ImageBuffer&>(in), *output, scratch,
                              nullptr);
        return output;
    }

    // The adapter's keying of every pixel of a 16-bit (or 8-bit, widened) input against the
    // solid replacement colour: what the keying pass must produce without softening.
    std::vector<std::uint16_t> keyed16(const ImageBuffer& in) {
        const std::size_t n = static_cast<std::size_t>(domain.width() * domain.height());
        std::vector<std::uint16_t> source(4 * n), background(4 * n), result(4 * n);
        const std::uint16_t* colour = harness.plugin.bridge.keyStates.keyState.replacementColour;
        std::size_t i = 0;
        for (int y = domain.y0; y < domain.y1; ++y)
            for (int x = domain.x0; x < domain.x1; ++x, ++i)
                for (int c = 0; c < 4; ++c) {
                    const double v = channel(in, x, y, c);
                    source[4 * i + c] = static_cast<std::uint16_t>(in.bitsPerChannel == 8 ? v * 257 : v);
                    background[4 * i + c] = c == 3 ? 65535 : colour[c];
                }
        CompiledKeyGuard compiled(&harness.plugin.bridge.keyStates);
        harness.plugin.bridge.keyPixels16(source.data(), background.data(), result.data(),
                                          domain.width(), domain.height());
        return result;
    }
    const std::uint16_t* at(const std::vector<std::uint16_t>& keyed, int x, int y) const {
        return keyed.data() + 4 * (static_cast<std::size_t>(y - domain.y0) * domain.width() +
                                   static_cast<std::size_t>(x - domain.x0));
    }
    std::array<std::uint16_t, 4> fill() const {
        const std::uint16_t* c = harness.plugin.bridge.keyStates.keyState.replacementColour;
        return {c[0], c[1], c[2], 65535};
    }

    test_store::ScratchFolder folder;
    Rect domain;
    PluginHarness harness;
};

}  // namespace vantrelo::plugin_test
