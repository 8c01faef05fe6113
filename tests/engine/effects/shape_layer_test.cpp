#include "engine/effects/shape_layer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/comma_locale.h"

namespace vantrelo {
namespace {

struct LayerDeleter {
    void operator()(ShapeLayer* layer) const { freeShapeLayer(layer); }
};
using LayerPtr = std::unique_ptr<ShapeLayer, LayerDeleter>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A temporary file holding `text`, positioned at its start.
FilePtr fileWith(const std::string& text) {
    FilePtr file(std::tmpfile());
    std::fputs(text.c_str(), file.get());
    std::rewind(file.get());
    return file;
}

std::string contentsOf(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    return text;
}

std::string nextLine(std::FILE* file) {
    char buffer[256] = {};
    return std::fgets(buffer, sizeof buffer, file) ? buffer : "<eof>";
}

LayerPtr threePointLayer() {
    LayerPtr layer(newShapeLayer());
    setShapeLayerPoint(layer.get(), -1, 0.1f, 0.1f, true);
    setShapeLayerPoint(layer.get(), -1, 0.9f, 0.1f, false);
    setShapeLayerPoint(layer.get(), -1, 0.5f, 0.9f, false);
    setShapeLayerOpacity(layer.get(), 1.0f);
    setShapeLayerFeather(layer.get(), 0.0f);
    setShapeLayerMode(layer.get(), 0);
    setShapeLayerInvert(layer.get(), false);
    return layer;
}

// The stored form is what other programs' files hold, so it is pinned to the character.
TEST(ShapeLayerText, WritesOneLinePerFieldAndPointWithSixDecimals) {
    LayerPtr layer = threePointLayer();
    FilePtr file(std::tmpfile());
    ASSERT_TRUE(writeShapeLayer(layer.get(), file.get()));
    EXPECT_EQ(contentsOf(file.get()),
              "0\n1.000000\n0.000000\n0\n3\n"
              "0.100000 0.100000 3\n0.900000 0.100000 1\n0.500000 0.900000 1\n");
}

TEST(ShapeLayerText, RoundTripKeepsFieldsToSixDecimalsAndClearsFlags) {
    LayerPtr layer(newShapeLayer());
    layer->invert = true;
    layer->opacity = 0.3333333f;
    layer->feather = 0.0123456f;
    layer->mode = 3;
    const float xs[] = {0.25f, -0.5f, 1.1234567f, 0.75f};
    const float ys[] = {0.125f, 0.5f, 2.0f, -0.0000004f};
    const int types[] = {1, 2, 3, 7};
    for (int i = 0; i < 4; ++i) {
        setShapeLayerPoint(layer.get(), i, xs[i], ys[i], false);
        layer->pointType[i] = types[i];
        layer->pointFlag[i] = true;
    }
    FilePtr file(std::tmpfile());
    ASSERT_TRUE(writeShapeLayer(layer.get(), file.get()));
    std::fputs("next\n", file.get());
    std::rewind(file.get());
    LayerPtr back(readShapeLayer(file.get()));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(nextLine(file.get()), "next\n");  // exactly 5 + n lines consumed
    EXPECT_TRUE(back->invert);
    EXPECT_EQ(back->opacity, 0.333333f);
    EXPECT_EQ(back->feather, 0.012346f);
    EXPECT_EQ(back->mode, 3);
    ASSERT_EQ(getShapeLayerPointCount(back.get()), 4);
    const float roundedX[] = {0.25f, -0.5f, 1.123457f, 0.75f};
    const float roundedY[] = {0.125f, 0.5f, 2.0f, -0.0f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(back->x[i], roundedX[i]) << i;
        EXPECT_EQ(back->y[i], roundedY[i]) << i;
        EXPECT_EQ(back->pointType[i], types[i]) << i;
        EXPECT_FALSE(back->pointFlag[i]) << i;
    }
}

// A decimal comma in the user's locale must not leak into the stored numbers.
TEST(ShapeLayerText, IgnoresTheProcessLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!test_locale::selectCommaLocale())
        GTEST_SKIP() << "no locale with a decimal comma is installed or can be made";
    LayerPtr layer = threePointLayer();
    FilePtr file(std::tmpfile());
    ASSERT_TRUE(writeShapeLayer(layer.get(), file.get()));
    const std::string text = contentsOf(file.get());
    std::rewind(file.get());
    LayerPtr back(readShapeLayer(file.get()));
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text.find(','), std::string::npos);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->x[1], 0.9f);
}

TEST(ShapeLayerText, ReadingDamagedOrDegenerateBlocks) {
    struct Case {
        const char* name;
        const char* text;
        bool layer;           // a layer results
        std::int64_t points;  // its point count
        const char* after;    // the next line left in the file
    };
    const Case cases[] = {
        {"zero points: null, header consumed", "0\n1.0\n0.0\n0\n0\nnext\n", false, 0, "next\n"},
        {"negative count: a layer without points", "1\n0.5\n0.0\n2\n-3\nnext\n", true, 0, "next\n"},
        {"%i reads hex and octal", "0x1\n1.0\n0.0\n010\n0x3\n0 0 1\n1 0 1\n1 1 1\nnext\n", true, 3, "next\n"},
        {"header line missing", "0\n1.0\n0.0\n", false, 0, "<eof>"},
        {"point line missing", "0\n1.0\n0.0\n0\n3\n0.1 0.1 1\n", false, 0, "<eof>"},
        {"garbled header is not a layer", "0\nopaque\n0.0\n0\n3\nnext\n", false, 0, "next\n"},
        {"garbled point stops the layer", "0\n1.0\n0.0\n0\n3\n0.1 0.1 1\nEXTSHAPE\nnext\n", false, 0, "next\n"},
        {"count out of range", "0\n1.0\n0.0\n0\n99999999999\nnext\n", false, 0, "next\n"},
        // Numbers a float cannot hold, or not a number at all, make the block damaged.
        {"opacity not a number", "0\nnan\n0.0\n0\n3\nnext\n", false, 0, "next\n"},
        {"feather infinite", "0\n1.0\n-inf\n0\n1\nnext\n", false, 0, "next\n"},
        {"opacity past single precision", "0\n1e39\n0.0\n0\n1\nnext\n", false, 0, "next\n"},
        {"infinite x stops the layer", "0\n1.0\n0.0\n0\n3\n0.1 0.1 1\ninfinity 0.5 1\nnext\n", false, 0, "next\n"},
        {"y not a number stops the layer", "0\n1.0\n0.0\n0\n1\n0.1 NAN(1) 1\nnext\n", false, 0, "next\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FilePtr file = fileWith(c.text);
        LayerPtr layer(readShapeLayer(file.get()));
        EXPECT_EQ(layer != nullptr, c.layer);
        if (layer) {
            EXPECT_EQ(getShapeLayerPointCount(layer.get()), c.points);
        }
        EXPECT_EQ(nextLine(file.get()), c.after);
    }
}

// Lines are read 255 characters at a time; a longer line counts as several.
TEST(ShapeLayerText, LongLinesCountAsSeveral) {
    const std::string longOpacity = "0.5" + std::string(300, ' ') + "\n";
    // The opacity line is split in two: the second piece (blanks only) is taken as the feather and
    // does not scan, so the block is no layer.
    FilePtr file = fileWith("0\n" + longOpacity + "0.0\n0\n3\n");
    EXPECT_EQ(readShapeLayer(file.get()), nullptr);
}

TEST(ShapeLayer, PointEditing) {
    LayerPtr layer(newShapeLayer());
    EXPECT_TRUE(setShapeLayerPoint(layer.get(), 0, 0.1f, 0.2f, true));  // index == count appends
    EXPECT_TRUE(setShapeLayerPoint(layer.get(), 5, 0.3f, 0.4f, false));
    EXPECT_TRUE(setShapeLayerPoint(layer.get(), -2, 0.5f, 0.6f, true));
    ASSERT_EQ(getShapeLayerPointCount(layer.get()), 3);
    layer->pointFlag[1] = true;
    EXPECT_TRUE(setShapeLayerPoint(layer.get(), 1, 0.7f, 0.8f, true));  // replaces, keeps the flag
    float x = 0, y = 0;
    bool corner = false;
    ASSERT_TRUE(getShapeLayerPoint(layer.get(), 1, &x, &y, &corner));
    EXPECT_EQ(x, 0.7f);
    EXPECT_EQ(y, 0.8f);
    EXPECT_TRUE(corner);
    EXPECT_EQ(layer->pointType[1], ShapePointCorner);
    EXPECT_TRUE(layer->pointFlag[1]);
    EXPECT_FALSE(layer->pointFlag[0]);
    layer->pointType[2] = ShapePointDoubled;
    ASSERT_TRUE(getShapeLayerPoint(layer.get(), 2, &x, &y, &corner));
    EXPECT_TRUE(corner);  // anything but smooth reads as a corner
    EXPECT_FALSE(getShapeLayerPoint(layer.get(), 3, &x, &y, &corner));

    ASSERT_TRUE(resizeShapeLayer(layer.get(), 5));
    EXPECT_EQ(layer->x.size(), 5u);
    EXPECT_EQ(layer->pointFlag.size(), 5u);
    EXPECT_EQ(layer->x[4], 0.0f);
    EXPECT_EQ(layer->pointType[4], 0);
    ASSERT_TRUE(resizeShapeLayer(layer.get(), 1));
    EXPECT_EQ(layer->y.size(), 1u);
    EXPECT_EQ(layer->pointType.size(), 1u);
}

TEST(ShapeLayer, NullLayersAndListsAreIgnored) {
    EXPECT_EQ(getShapeLayerPointCount(nullptr), 0);
    EXPECT_FALSE(getShapeLayerInvert(nullptr));
    EXPECT_EQ(getShapeLayerOpacity(nullptr), 0.0f);
    EXPECT_EQ(getShapeLayerFeather(nullptr), 0.0f);
    EXPECT_EQ(getShapeLayerMode(nullptr), 0);
    EXPECT_FALSE(setShapeLayerPoint(nullptr, 0, 1, 1, true));
    EXPECT_FALSE(resizeShapeLayer(nullptr, 3));
    EXPECT_EQ(copyShapeLayer(nullptr, nullptr), nullptr);
    setShapeLayerInvert(nullptr, true);
    setShapeLayerOpacity(nullptr, 1);
    freeShapeLayer(nullptr);
    freeShapeLayerList(nullptr);
    EXPECT_EQ(readShapeLayer(nullptr), nullptr);
    FilePtr file(std::tmpfile());
    EXPECT_TRUE(writeShapeLayer(nullptr, file.get()));
    EXPECT_EQ(contentsOf(file.get()), "");
    ShapeBounds box{1, 2, 3, 4};
    getShapeLayerListBounds(nullptr, &box);
    EXPECT_EQ(box.x1, 3);
}

TEST(ShapeLayer, CopyAndInterpolate) {
    LayerPtr a = threePointLayer();
    a->opacity = 1.0f;
    a->feather = 0.2f;
    a->mode = 2;
    a->invert = true;
    a->pointFlag[0] = true;
    LayerPtr b = threePointLayer();
    b->opacity = 0.0f;
    for (float& v : b->x) v = 0.0f;

    LayerPtr copy(newShapeLayer());
    EXPECT_EQ(copyShapeLayer(a.get(), copy.get()), copy.get());
    EXPECT_EQ(copy->x, a->x);
    EXPECT_EQ(copy->pointFlag, a->pointFlag);
    EXPECT_EQ(copy->mode, 2);

    ShapeLayer* out = copy.get();
    ASSERT_TRUE(interpolateShapeLayers(a.get(), b.get(), 0.25f, out));
    EXPECT_FLOAT_EQ(out->opacity, 0.25f);  // (1 - t) b + t a
    EXPECT_FLOAT_EQ(out->x[1], 0.25f * 0.9f);  // t a + (1 - t) b
    EXPECT_FLOAT_EQ(out->y[2], 0.9f);
    EXPECT_TRUE(out->invert);
    EXPECT_EQ(out->feather, 0.2f);
    EXPECT_TRUE(out->pointFlag[0]);

    // Different point counts: only the opacity blends; the points are a's.
    setShapeLayerPoint(b.get(), -1, 0.0f, 0.0f, false);
    ASSERT_TRUE(interpolateShapeLayers(a.get(), b.get(), 0.5f, out));
    EXPECT_FLOAT_EQ(out->opacity, 0.5f);
    EXPECT_EQ(out->x, a->x);
    EXPECT_EQ(out->x.size(), 3u);
}

TEST(ShapeLayerList, HoldsPointersOnlyAndStartsEmpty) {
    ShapeLayerList* list = newShapeLayerList(640.0, 480.0);
    ASSERT_NE(list, nullptr);
    ShapeBounds box{};
    getShapeLayerListBounds(list, &box);
    EXPECT_EQ(box.x0, 0);
    EXPECT_EQ(box.y0, 0);
    EXPECT_EQ(box.x1, -1);
    EXPECT_EQ(box.y1, -1);
    LayerPtr layer = threePointLayer();
    EXPECT_TRUE(addShapeLayerToList(list, layer.get()));
    EXPECT_FALSE(addShapeLayerToList(list, nullptr));
    EXPECT_EQ(list->layers.size(), 1u);
    EXPECT_EQ(list->width, 640.0);
    freeShapeLayerList(list);  // the layer stays alive
    EXPECT_EQ(getShapeLayerPointCount(layer.get()), 3);
}

}  // namespace
}  // namespace vantrelo
