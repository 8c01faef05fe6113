// What the list commands, the floating windows and the fine tune window decide without a window:
// the list edits with their selections, path parts, saved window positions and the fine tune
// sliders' arithmetic.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/fine_tune_offsets.h"
#include "app/floating_position.h"
#include "app/layer_list_edit.h"

namespace {

using Paths = std::vector<std::string>;
using Selection = std::vector<std::size_t>;

const Paths kFour = {"/a/first.png", "/b/second.jpg", "/c/third.tif", "/d/fourth.bmp"};

TEST(LayerListEdit, MoveToFrontPutsTheSelectedFirstInReverseOrderAndSelectsThem) {
    struct Case {
        Selection selection;
        Paths expected;
        Selection selected;
    } cases[] = {
        // The second and fourth: fourth, second, first, third.
        {{1, 3}, {kFour[3], kFour[1], kFour[0], kFour[2]}, {0, 1}},
        {{3}, {kFour[3], kFour[0], kFour[1], kFour[2]}, {0}},
        {{0, 1, 2, 3}, {kFour[3], kFour[2], kFour[1], kFour[0]}, {0, 1, 2, 3}},
        // Already first: the list stays, so the text and the undo history do too.
        {{0}, kFour, {0}},
        // Out of order, repeated and out-of-range indices count once, in ascending order.
        {{3, 1, 3, 9}, {kFour[3], kFour[1], kFour[0], kFour[2]}, {0, 1}},
        {{}, kFour, {}},
    };
    for (const Case& c : cases) {
        const LayerListEdit edit = moveLayersToFront(kFour, c.selection);
        EXPECT_EQ(edit.paths, c.expected);
        EXPECT_EQ(edit.selection, c.selected);
    }
}

TEST(LayerListEdit, AddDeleteAndReplaceKeepTheOtherEntriesInPlace) {
    // Add goes to the front and the selection moves down with its entries.
    LayerListEdit added = addLayerAtFront(kFour, {0, 2}, "/e/new.png");
    EXPECT_EQ(added.paths, (Paths{"/e/new.png", kFour[0], kFour[1], kFour[2], kFour[3]}));
    EXPECT_EQ(added.selection, (Selection{1, 3}));
    EXPECT_EQ(addLayerAtFront({}, {}, "/x.png").paths, (Paths{"/x.png"}));

    // Delete removes every selected entry and selects nothing.
    LayerListEdit deleted = deleteLayers(kFour, {3, 1});
    EXPECT_EQ(deleted.paths, (Paths{kFour[0], kFour[2]}));
    EXPECT_TRUE(deleted.selection.empty());
    EXPECT_TRUE(deleteLayers(kFour, {0, 1, 2, 3}).paths.empty());
    EXPECT_EQ(deleteLayers(kFour, {}).paths, kFour);

    // Replace changes the first selected entry only, in its place.
    LayerListEdit replaced = replaceLayer(kFour, {2, 1}, "/z/other.png");
    EXPECT_EQ(replaced.paths, (Paths{kFour[0], "/z/other.png", kFour[2], kFour[3]}));
    EXPECT_EQ(replaced.selection, (Selection{1, 2}));
    EXPECT_EQ(replaceLayer(kFour, {}, "/z/other.png").paths, kFour);
}

TEST(LayerListEdit, EverySelectedMeansAllOfANonEmptyList) {
    EXPECT_TRUE(selectsEveryEntry(4, {0, 1, 2, 3}));
    EXPECT_TRUE(selectsEveryEntry(1, {0}));
    EXPECT_FALSE(selectsEveryEntry(4, {0, 1, 3}));
    EXPECT_FALSE(selectsEveryEntry(4, {0, 1, 3, 3, 7}));
    EXPECT_FALSE(selectsEveryEntry(0, {}));
    EXPECT_EQ(validSelection({5, -1, 2, 2, 0, 4}, 5), (Selection{0, 2, 4}));
}

TEST(LayerListEdit, FolderAndFileNameSplitAtTheLastSeparatorOfEitherKind) {
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
    } cases[] = {
        {"/home/user/Pictures/sky.png", "/home/user/Pictures", "sky.png"},
        {"C:\\Users\\me\\sky.jpg", "C:\\Users\\me", "sky.jpg"},
        {"/mixed\\dir/name.tif", "/mixed\\dir", "name.tif"},
        {"bare.png", "", "bare.png"},
        {"/root.png", "", "root.png"},
        {"/folder/", "/folder", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(folderOfPath(c.path), c.folder) << c.path;
        EXPECT_EQ(fileNameOfPath(c.path), c.name) << c.path;
    }
}

TEST(FloatingPosition, ReadsTwoNumbersLikeTheStoredPatternAndRefusesWhatCannotBePlaced) {
    struct Case {
        const char* text;
        std::optional<WindowPosition> expected;
    } cases[] = {
        {"123 145", WindowPosition{123, 145}},
        {"123 145 and more", WindowPosition{123, 145}},
        {"  -40\t+17", WindowPosition{-40, 17}},
        {"5\n6", WindowPosition{5, 6}},
        {"12x", std::nullopt},
        {"12,34", std::nullopt},
        {"12", std::nullopt},
        {"- 5 6", std::nullopt},
        {"", std::nullopt},
        {"x 1 2", std::nullopt},
        // Off every screen but placeable: used as it stands.
        {"-32768 32767", WindowPosition{-32768, 32767}},
        // Beyond what the window system carries, and beyond int: refused, not wrapped.
        {"32768 0", std::nullopt},
        {"0 -32769", std::nullopt},
        {"99999999999999999999 5", std::nullopt},
        {"5 -99999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parseWindowPosition(c.text), c.expected) << c.text;
    EXPECT_EQ(formatWindowPosition({-12, 345}), "-12 345");
    EXPECT_EQ(parseWindowPosition(formatWindowPosition({-32768, 77})), (WindowPosition{-32768, 77}));
}

TEST(FineTuneOffsets, ReleasesAccumulateAndTheEngineGetsBasePlusTheSlider) {
    EXPECT_EQ(fineTuneAmount(50.0), 0.5f);
    EXPECT_EQ(fineTuneAmount(-100.0), -1.0f);
    EXPECT_EQ(fineTuneAmount(12.34), static_cast<float>(0.1234));
    // Nothing beyond the slider's range reaches the engine, and NaN is no amount.
    EXPECT_EQ(fineTuneAmount(1e300), 1.0f);
    EXPECT_EQ(fineTuneAmount(-1e300), -1.0f);
    EXPECT_EQ(fineTuneAmount(std::numeric_limits<double>::quiet_NaN()), 0.0f);

    FineTuneOffsets offsets;
    offsets.accumulate({0.0f, 0.5f, 0.0f});
    offsets.accumulate({0.0f, 0.3f, -0.25f});
    EXPECT_EQ(offsets.base, (FineTuneAmounts{0.0f, 0.5f + 0.3f, -0.25f}));
    // Kinds whose slider rests get their base; bases are not limited.
    EXPECT_EQ(offsets.totals({0.1f, 0.3f, 0.0f}), (FineTuneAmounts{0.1f, 0.8f + 0.3f, -0.25f}));
    offsets.accumulate({0.0f, 0.3f, 0.0f});
    EXPECT_FLOAT_EQ(offsets.base[1], 1.1f);
    offsets.reset();
    EXPECT_EQ(offsets.base, (FineTuneAmounts{0.0f, 0.0f, 0.0f}));
}

}  // namespace
