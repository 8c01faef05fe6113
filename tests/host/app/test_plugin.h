#pragma once
// A small plug-in for the application host's tests.
//
// Its parameter set imitates the keyer's: the plug-in keeps a live "engine" value that the set
// pulls in (refreshValue) and pushes out (valueChanged), so tests can tell whether the host saved
// and restored an input's values at the right moments.
//
// Its render writes, for every output pixel (x, y), a value that depends on the input pixel at the
// same image coordinates and on x and y themselves; a tile placed anywhere else than where it
// belongs shows up in the result.

#include <wx/string.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/app/host.h"
#include "host/param/param_record.h"
#include "tests/host/system/store_test_support.h"

namespace vantrelo_test {

using Mav::Host::App::ImageBuffer;
using Mav::Host::App::ImageList;
using Mav::Host::App::Parameters;
using Mav::Host::App::Rect;

class TestPlugin;

// Record 0 is the float "gain", mirrored by the plug-in's live engine value.
class TestParameters : public Parameters {
public:
    TestParameters(Mav::Host::App::Host* host, TestPlugin* plugin)
        : Parameters(host), plugin(plugin) {}
    TestParameters(const TestParameters& other) = default;

    void refreshValue(std::size_t index) override;
    void valueChanged(std::size_t index) override;

    TestPlugin* plugin;
};

// 8-bit pixel function of the render: RGB from the input and the position, opaque.
inline void renderedPixel(const std::uint8_t* in, std::int64_t x, std::int64_t y,
                          std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(255 - in[0]);
    out[1] = static_cast<std::uint8_t>((in[1] + x) & 255);
    out[2] = static_cast<std::uint8_t>((in[2] + 3 * y) & 255);
    out[3] = 255;
}

class TestPlugin : public Mav::Host::App::Host {
public:
    bool perInput = true;
    bool multipleInputs = true;
    std::int32_t tile = 16;       // tile width; 0: keep the host's default
    std::int32_t tileHeight = 0;  // 0: as high as wide
    bool tiles = true;       // false: render the whole rectangle at once

    // The live state the parameter set mirrors.
    double engineGain = 0.0;
    int refreshAllCount = 0;  // value pulls of record 0
    int applyCount = 0;       // value pushes of record 0
    int invalidateCount = 0;

    // What the renders saw (the batch renders on its own thread, one tile at a time).
    struct RenderCall {
        std::uint64_t input;
        Rect tile;
        std::uint64_t done;
        std::uint64_t total;
    };
    std::mutex callsMutex;
    std::vector<RenderCall> renders;
    std::vector<std::pair<std::uint64_t, Rect>> prepares;
    std::atomic<int> linkedUpdates{0};

    // Called at the start of every tile render (on the batch thread); may throw.
    std::function<void(std::uint64_t input, const Rect& tile)> beforeTile;

    std::unique_ptr<Parameters> createParameters() override {
        return std::make_unique<TestParameters>(this, this);
    }
    std::unique_ptr<Parameters> cloneParameters(const Parameters& set) override {
        return std::make_unique<TestParameters>(static_cast<const TestParameters&>(set));
    }
    void describeParameters(Parameters& set) override {
        Mav::Host::Param::ParamRecord gain(Mav::Host::Param::ParamFloat, "gain",
                                           Mav::Host::Param::fourCharCode("gain"), 0, 0);
        gain.slots[Mav::Host::Param::SlotValue].setDouble(1.0);
        gain.slots[Mav::Host::Param::SlotDefault].setDouble(1.0);
        gain.slots[Mav::Host::Param::SlotMin].setDouble(0.0);
        gain.slots[Mav::Host::Param::SlotMax].setDouble(10.0);
        set.records().push_back(gain);
        Mav::Host::Param::ParamRecord spot(Mav::Host::Param::ParamPoint, "spot",
                                           Mav::Host::Param::fourCharCode("spot"), 0, 0);
        set.records().push_back(spot);
    }
    void invalidateCaches() override { ++invalidateCount; }
    void prepare(Parameters&, const Rect& output) override {
        std::lock_guard<std::mutex> lock(callsMutex);
        prepares.emplace_back(currentInput(), output);
    }
    bool render(Parameters&, ImageBuffer& input, ImageBuffer& output, ImageBuffer&,
                ImageList*) override {
        if (beforeTile) beforeTile(currentInput(), output.bounds);
        for (std::int32_t y = output.bounds.y0; y < output.bounds.y1; ++y)
            for (std::int32_t x = output.bounds.x0; x < output.bounds.x1; ++x)
                renderedPixel(input.pixelAddress(x, y), x, y, output.pixelAddress(x, y));
        std::uint64_t done = 0, total = 0;
        progressCounters(done, total);
        std::lock_guard<std::mutex> lock(callsMutex);
        renders.push_back({currentInput(), output.bounds, done, total});
        return true;
    }
    bool supportsMultipleInputs() const override { return multipleInputs; }
    bool perInputParameters() const override { return perInput; }
    bool wantsTiles(const Rect&, std::int32_t& width, std::int32_t& height) override {
        if (tile > 0) {
            width = tile;
            height = tileHeight > 0 ? tileHeight : tile;
        }
        return tiles;
    }
    bool linksParameters() const override { return true; }
    void updateLinkedParameters(Parameters&, std::size_t) override { ++linkedUpdates; }
};

inline void TestParameters::refreshValue(std::size_t index) {
    if (index != 0) return;
    ++plugin->refreshAllCount;
    record(0).value().setDouble(plugin->engineGain);
}

inline void TestParameters::valueChanged(std::size_t index) {
    if (index != 0) return;
    ++plugin->applyCount;
    plugin->engineGain = getDouble(0);
}

// An opaque 8-bit RGB picture, rows top-down, 3 bytes a pixel.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    bool operator==(const Picture&) const = default;
};

// A picture with a different value almost everywhere, so misplaced pixels show.
Picture patternPicture(int width, int height, int seed);
// What the test plug-in's render makes of a whole picture.
Picture renderedPicture(const Picture& input);
// Written and read through the toolkit's PNG handler; an empty picture when it cannot be read.
void writePng(const std::filesystem::path& path, const Picture& picture);
Picture readPng(const std::filesystem::path& path);
wxString toolkitPath(const std::filesystem::path& path);

// Scratch folders (also as the per-user store's home) and whole-file reads.
using test_store::fileText;
using test_store::ScratchFolder;

}  // namespace vantrelo_test
