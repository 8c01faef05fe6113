#include "engine/effects/dominant_colours.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace vantrelo {
namespace {

struct Rgb8 {
    int r, g, b;
};

struct Patch {
    int x0, y0, x1, y1;
    Rgb8 colour;
};

// 8-bit colours with a little noise, laid out as the callers need them.
std::vector<Rgb8> scene(int width, int height, Rgb8 backdrop, std::initializer_list<Patch> patches, int noise) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> jitter(-noise, noise);
    std::vector<Rgb8> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Rgb8 c = backdrop;
            for (const auto& p : patches)
                if (x >= p.x0 && x < p.x1 && y >= p.y0 && y < p.y1) c = p.colour;
            out.push_back({std::clamp(c.r + jitter(rng), 0, 255), std::clamp(c.g + jitter(rng), 0, 255),
                           std::clamp(c.b + jitter(rng), 0, 255)});
        }
    return out;
}

std::vector<std::uint16_t> rgba16(const std::vector<Rgb8>& colours, int scale) {
    std::vector<std::uint16_t> out;
    for (const auto& c : colours) {
        out.push_back(static_cast<std::uint16_t>(c.r * scale));
        out.push_back(static_cast<std::uint16_t>(c.g * scale));
        out.push_back(static_cast<std::uint16_t>(c.b * scale));
        out.push_back(65535);
    }
    return out;
}

std::vector<std::uint8_t> bgr8(const std::vector<Rgb8>& colours) {
    std::vector<std::uint8_t> out;
    for (const auto& c : colours) {
        out.push_back(static_cast<std::uint8_t>(c.b));
        out.push_back(static_cast<std::uint8_t>(c.g));
        out.push_back(static_cast<std::uint8_t>(c.r));
    }
    return out;
}

bool near(const std::uint16_t* c, Rgb8 expected, int scale, int tolerance) {
    return std::abs(c[0] - expected.r * scale) <= tolerance * scale &&
           std::abs(c[1] - expected.g * scale) <= tolerance * scale &&
           std::abs(c[2] - expected.b * scale) <= tolerance * scale;
}

TEST(DominantColourConversions, JfifValuesAndPlanarAgree) {
    std::uint8_t y, cb, cr;
    rgbToYCbCr8(255, 255, 255, &y, &cb, &cr);
    EXPECT_EQ((std::vector<int>{y, cb, cr}), (std::vector<int>{255, 128, 128}));
    rgbToYCbCr8(255, 0, 0, &y, &cb, &cr);
    EXPECT_EQ((std::vector<int>{y, cb, cr}), (std::vector<int>{76, 84, 255}));
    // JFIF: Y = 0.299 R + 0.587 G + 0.114 B, Cb = 128 - 0.3313 R - 0.6687 G + 0.5 B,
    // Cr = 128 + 0.5 R - 0.4187 G - 0.0813 B, rounded down.
    rgbToYCbCr8(0, 255, 0, &y, &cb, &cr);
    EXPECT_EQ((std::vector<int>{y, cb, cr}), (std::vector<int>{149, 43, 21}));
    rgbToYCbCr8(0, 0, 255, &y, &cb, &cr);
    EXPECT_EQ((std::vector<int>{y, cb, cr}), (std::vector<int>{29, 255, 107}));
    const std::uint8_t blueBgr[3] = {255, 0, 0};
    rgbToYCbCrPlanar8(blueBgr, &y, &cb, &cr, 3);
    EXPECT_EQ((std::vector<int>{y, cb, cr}), (std::vector<int>{29, 255, 107})) << "planar input is B, G, R";
    std::uint8_t r, g, b;
    yCbCrToRgb8(0, 90, 134, &r, &g, &b);
    EXPECT_EQ((std::vector<int>{r, g, b}), (std::vector<int>{8, 8, 0}));
    EXPECT_EQ(clampToByte(-227), 0);
    EXPECT_EQ(clampToByte(480), 255);

    std::mt19937 rng(5);
    std::vector<std::uint8_t> image(3 * 500);
    for (auto& v : image) v = static_cast<std::uint8_t>(rng());
    std::vector<std::uint8_t> py(500), pcb(500), pcr(500);
    rgbToYCbCrPlanar8(image.data(), py.data(), pcb.data(), pcr.data(), 1500);
    for (int k = 0; k < 500; ++k) {
        rgbToYCbCr8(image[k * 3 + 2], image[k * 3 + 1], image[k * 3], &y, &cb, &cr);
        ASSERT_EQ((std::vector<int>{py[k], pcb[k], pcr[k]}), (std::vector<int>{y, cb, cr})) << k;
        yCbCrToRgb8(y, cb, cr, &r, &g, &b);
        EXPECT_NEAR(r, image[k * 3 + 2], 3);
        EXPECT_NEAR(g, image[k * 3 + 1], 3);
        EXPECT_NEAR(b, image[k * 3], 3);
    }
}

TEST(DominantColourConversions, ComparatorsAreConsistent) {
    const std::uint8_t bytes[] = {7, 7, 9};
    EXPECT_EQ(compareBytesDescending(&bytes[0], &bytes[1]), 0);
    EXPECT_LT(compareBytesDescending(&bytes[2], &bytes[0]), 0);
    EXPECT_GT(compareBytesDescending(&bytes[0], &bytes[2]), 0);
    ColourCluster low{}, high{};
    low.population = INT_MIN;
    high.population = INT_MAX;
    low.sortKey = INT_MIN;
    high.sortKey = INT_MAX;
    // Differences would overflow here.
    EXPECT_GT(compareClustersByPopulation(&low, &high), 0);
    EXPECT_LT(compareClustersByPopulation(&high, &low), 0);
    EXPECT_EQ(compareClustersByPopulation(&high, &high), 0);
    EXPECT_LT(compareClustersByKey(&low, &high), 0);
    EXPECT_EQ(compareClustersByKey(&low, &low), 0);
}

TEST(DominantColours, FindsBackdropAndContrastColours) {
    const Rgb8 green{40, 170, 60}, red{200, 40, 40}, blue{30, 40, 190};
    const auto colours = scene(40, 30, green, {{10, 5, 25, 25, red}, {30, 20, 38, 28, blue}, {0, 0, 4, 4, {255, 255, 255}}}, 2);
    for (int scale : {257, 1}) {  // high bytes of 16-bit input, and input that never exceeds 255
        const auto pixels = rgba16(colours, scale);
        std::vector<std::uint16_t> out1(40, 7), out2(40, 7);
        std::int32_t filled1 = -1, filled2 = -1;
        ASSERT_EQ(findDominantColours16(pixels.data(), 40, 30, 10, 10, out1.data(), out2.data(), &filled1, &filled2), 0);
        const int shift = scale == 1 ? 1 : 256;
        ASSERT_GE(filled1, 1);
        EXPECT_TRUE(near(&out1[0], green, shift, 2)) << out1[0] << " " << out1[1] << " " << out1[2];
        EXPECT_EQ(out1[3], 0);
        bool sawRed = false, sawBlue = false;
        for (int i = 0; i < filled2; ++i) {
            sawRed = sawRed || near(&out2[i * 4], red, shift, 3);
            sawBlue = sawBlue || near(&out2[i * 4], blue, shift, 3);
        }
        EXPECT_TRUE(sawRed && sawBlue) << scale;
        // Nothing resembles the green: the other similar entries are skipped, not invented.
        EXPECT_EQ(filled1, 1);
        EXPECT_EQ(out1[4], 7);
    }
}

TEST(DominantColours, RefusesBadArgumentsAndSkipsUnfilledEntries) {
    const auto pixels = rgba16(scene(8, 8, {40, 170, 60}, {}, 0), 257);
    std::vector<std::uint16_t> out1(12, 7), out2(12, 7);
    // No similar list to hold the dominant colour: refused rather than written below index 0.
    EXPECT_EQ(findDominantColours16(pixels.data(), 8, 8, 0, 3, out1.data(), out2.data()), -1);
    EXPECT_EQ(findDominantColours16(pixels.data(), 0, 8, 3, 3, out1.data(), out2.data()), -1);
    EXPECT_EQ(findDominantColours16(pixels.data(), 8, 8, 3, 3, out1.data(), nullptr), -1);
    EXPECT_EQ(findDominantColours16(nullptr, 8, 8, 3, 3, out1.data(), out2.data()), -1);
    EXPECT_EQ(findDominantColours48(pixels.data(), nullptr, 8, 8, 3, 0, out1.data(), nullptr), -1);
    EXPECT_EQ(std::count(out1.begin(), out1.end(), 7), 12);

    // One colour: one similar entry, an empty contrast pool, nothing else written.
    std::int32_t filled1 = -1, filled2 = -1;
    ASSERT_EQ(findDominantColours16(pixels.data(), 8, 8, 3, 3, out1.data(), out2.data(), &filled1, &filled2), 0);
    EXPECT_EQ(filled1, 1);
    EXPECT_EQ(filled2, 0);
    EXPECT_EQ(std::count(out1.begin() + 4, out1.end(), 7), 8);
    EXPECT_EQ(std::count(out2.begin(), out2.end(), 7), 12);
    // k2 < 1 counts as 0 and needs no second list.
    EXPECT_EQ(findDominantColours16(pixels.data(), 8, 8, 2, -4, out1.data(), nullptr), 0);

    // The 6-byte form gives the same colours.
    std::vector<std::uint16_t> rgb48;
    for (std::size_t k = 0; k < pixels.size(); k += 4) rgb48.insert(rgb48.end(), {pixels[k], pixels[k + 1], pixels[k + 2]});
    std::vector<std::uint16_t> other(12, 7);
    const int extra = 0;
    ASSERT_EQ(findDominantColours48(rgb48.data(), &extra, 8, 8, 3, 3, other.data(), out2.data()), 0);
    EXPECT_TRUE(std::equal(other.begin(), other.begin() + 4, out1.begin()));
}

TEST(SegmentDominantColours, LevelsBlackWhiteAndTheDominantOnlyForm) {
    std::vector<DominantColour> similar(2), contrast(2);
    const auto image = bgr8(scene(6, 4, {0, 0, 0}, {{0, 0, 3, 4, {255, 255, 255}}}, 0));
    std::vector<std::int32_t> labels(24, -5);
    // levels 8 would divide by zero: refused, nothing written.
    EXPECT_EQ(segmentDominantColours(image.data(), 6, 4, nullptr, labels.data(), nullptr, similar.data(), contrast.data(),
                                     2, 2, 40, 8, 10),
              -1);
    EXPECT_EQ(labels[0], -5);
    EXPECT_EQ(segmentDominantColours(image.data(), 6, 4, nullptr, labels.data(), nullptr, similar.data(), contrast.data(),
                                     0, 2, 40, 3, 10),
              -1);
    // Other out-of-range levels become 1.
    for (int levels : {0, 3, 9, -2}) {
        ASSERT_EQ(segmentDominantColours(image.data(), 6, 4, nullptr, labels.data(), nullptr, similar.data(),
                                         contrast.data(), 2, 2, 40, levels, 10),
                  1);
        EXPECT_EQ(std::set<std::int32_t>(labels.begin(), labels.end()), (std::set<std::int32_t>{1, 2}));
    }

    // A bright chromatic colour (Y 246) is keyed at the wrapped luma level 0, so the dominant-only
    // form returns the dark colour of that cluster, and writes nothing but R, G, B.
    const auto bright = bgr8(scene(5, 5, {255, 255, 180}, {}, 0));
    similar[0] = DominantColour{1, 2, 3, 4, 555, 666};
    std::int32_t filled1 = -1;
    ASSERT_EQ(segmentDominantColours(bright.data(), 5, 5, nullptr, nullptr, nullptr, similar.data(), nullptr, 1, 0, 40,
                                     3, 10, &filled1),
              1);
    EXPECT_EQ((std::vector<int>{similar[0].r, similar[0].g, similar[0].b, similar[0].spare}),
              (std::vector<int>{8, 8, 0, 4}));
    EXPECT_EQ(similar[0].count, 555);
    EXPECT_EQ(similar[0].label, 666);
    EXPECT_EQ(filled1, 1);
}

TEST(SegmentDominantColours, GreyPixelsAndOutputImage) {
    // Cb and Cr within 2 of 127 make a grey pixel; 3 away make a chromatic one.
    const std::uint8_t greyish[3] = {120, 118, 121};   // B, G, R
    const std::uint8_t tinted[3] = {60, 60, 200};  // a clear red, far from the grey
    std::uint8_t y, cb, cr;
    rgbToYCbCr8(greyish[2], greyish[1], greyish[0], &y, &cb, &cr);
    ASSERT_LE(std::abs(cb - 127), 2);
    ASSERT_LE(std::abs(cr - 127), 2);
    rgbToYCbCr8(tinted[2], tinted[1], tinted[0], &y, &cb, &cr);
    ASSERT_GT(std::max(std::abs(cb - 127), std::abs(cr - 127)), 2);

    std::vector<std::uint8_t> image;
    for (int k = 0; k < 16; ++k) image.insert(image.end(), greyish, greyish + 3);
    for (int k = 0; k < 8; ++k) image.insert(image.end(), tinted, tinted + 3);
    std::vector<std::int32_t> labels(24);
    std::vector<std::uint8_t> output(72, 0);
    std::vector<DominantColour> similar(1), contrast(1);
    ASSERT_EQ(segmentDominantColours(image.data(), 6, 4, output.data(), labels.data(), greyish, similar.data(),
                                     contrast.data(), 1, 1, 40, 3, 10),
              1);
    EXPECT_GE(labels[0], 3);
    EXPECT_LT(labels[0], 259);
    EXPECT_GE(labels[23], 259);
    // The fixed grey is the dominant colour: its pixels keep their colour, the rest turn white.
    EXPECT_EQ(similar[0].count, 16);
    EXPECT_EQ(std::vector<std::uint8_t>(output.begin(), output.begin() + 3), std::vector<std::uint8_t>(greyish, greyish + 3));
    EXPECT_EQ(std::vector<std::uint8_t>(output.end() - 3, output.end()), std::vector<std::uint8_t>(3, 255));
    EXPECT_EQ(contrast[0].count, 8);
    EXPECT_EQ(contrast[0].r, 200);
}

ColourCluster cluster(int y, int cb, int cr, int population, int label, int chromatic = 1) {
    ColourCluster c{};
    c.y = static_cast<std::uint8_t>(y);
    c.cb = static_cast<std::uint8_t>(cb);
    c.cr = static_cast<std::uint8_t>(cr);
    c.population = population;
    c.label = label;
    c.chromatic = chromatic;
    return c;
}

TEST(DominantColourSteps, MergeNearbyClusters) {
    const ColourCluster in[] = {
        cluster(100, 127, 127, 500, 3, 0),  // grey, largest
        cluster(100, 60, 80, 300, 259),
        cluster(110, 70, 85, 100, 260),     // within 40 of the one above: merged into it
        cluster(30, 200, 200, 50, 261),
        cluster(200, 200, 30, 29, 262),     // population 29 ends the first pass
    };
    std::vector<ColourCluster> out(5);
    const std::int32_t n = mergeNearbyClusters(out.data(), in, 5, 40, 51);
    ASSERT_EQ(n, 3);
    // Sorted by population, then the first chromatic entry is copied over entry 0.
    EXPECT_EQ(out[0].label, 259);
    EXPECT_EQ(out[0].population, 400);
    EXPECT_EQ(out[0].y, (100 * 300 + 110 * 100 + 200) / 400);
    EXPECT_EQ(out[1].label, 259);
    EXPECT_EQ(out[2].label, 261);
}

TEST(DominantColourSteps, SimilarityAndMergeInto) {
    std::uint8_t r, g, b;
    yCbCrToRgb8(120, 60, 60, &r, &g, &b);  // a green
    EXPECT_TRUE(isSimilarCluster(cluster(150, 70, 75, 1, 300), 120, 60, 60, r, g, b));
    EXPECT_FALSE(isSimilarCluster(cluster(150, 70, 75, 1, 300, 0), 120, 60, 60, r, g, b));  // grey never
    EXPECT_TRUE(isSimilarCluster(cluster(90, 100, 40, 1, 300), 120, 60, 60, r, g, b));      // another green
    EXPECT_FALSE(isSimilarCluster(cluster(90, 200, 100, 1, 300), 120, 60, 60, r, g, b));    // a blue

    // Three similar candidates for one free slot: the two smaller join their nearest.
    std::vector<std::int32_t> labels = {300, 301, 302, 303, 400};
    const ColourCluster clusters[] = {cluster(120, 60, 60, 90, 300), cluster(120, 62, 61, 40, 301),
                                      cluster(125, 55, 58, 30, 302), cluster(121, 62, 61, 20, 303),
                                      cluster(90, 200, 100, 10, 400)};
    ColourCluster similar[2] = {clusters[0], {}};
    ColourCluster pool[5];
    std::int32_t poolSize = 0;
    EXPECT_EQ(mergeClusterInto(120, 60, 60, similar, clusters, 5, 2, labels.data(), pool, &poolSize, 5, 1), 2);
    EXPECT_EQ(poolSize, 1);
    EXPECT_EQ(pool[0].label, 400);
    EXPECT_EQ(similar[1].label, 301);
    EXPECT_EQ(similar[1].population, 90);
    EXPECT_EQ(labels, (std::vector<std::int32_t>{300, 301, 301, 301, 400}));

    // No candidate: the entries after the first stay unfilled.
    ColourCluster untouched[3] = {clusters[0], cluster(1, 2, 3, 4, 5), cluster(1, 2, 3, 4, 5)};
    poolSize = 0;
    EXPECT_EQ(mergeClusterInto(120, 60, 60, untouched, clusters + 4, 1, 3, nullptr, pool, &poolSize, 0, 0), 1);
    EXPECT_EQ(untouched[1].label, 5);
    EXPECT_EQ(untouched[2].label, 5);
}

TEST(DominantColourSteps, SelectDominantClusters) {
    ColourCluster out[4] = {};
    // An empty pool fills nothing (it would otherwise read entry -1).
    EXPECT_EQ(selectDominantClusters(nullptr, 0, out, nullptr, 2, nullptr, 0, 0, 10), 0);
    // Fewer pool entries than asked: the last one repeats.
    ColourCluster two[] = {cluster(50, 50, 50, 5, 260), cluster(60, 60, 60, 9, 261)};
    EXPECT_EQ(selectDominantClusters(two, 2, out, nullptr, 3, nullptr, 0, 0, 10), 3);
    EXPECT_EQ((std::vector<int>{out[0].label, out[1].label, out[2].label}), (std::vector<int>{261, 260, 260}));

    // Near entries merge (labels follow); the rest are ranked by position and colour.
    const int w = 8, h = 4;
    std::vector<std::int32_t> labels(w * h, 270);
    for (int x = 0; x < 2; ++x) labels[x] = 271;          // top-left corner
    labels[w * 2 + 4] = 272;                              // near the centre
    labels[w * 3 + 7] = 273;
    ColourCluster pool[] = {cluster(100, 100, 100, 26, 270), cluster(80, 40, 200, 2, 271), cluster(100, 104, 103, 1, 272),
                            cluster(30, 200, 60, 1, 273), cluster(200, 90, 90, 3, 274)};
    const std::int32_t filled = selectDominantClusters(pool, 5, out, nullptr, 2, labels.data(), w, h, 10);
    EXPECT_EQ(filled, 2);
    EXPECT_EQ(labels[w * 2 + 4], 270);  // 272 merged into 270
    // The small off-centre patch scores lowest; entries near the centre score about 1000000 x 0.8.
    EXPECT_EQ(out[0].label, 271);
    EXPECT_EQ(out[1].label, 270);

    // Entries far smaller (by more than 100) than the k2-th population get the key 1000000.
    ColourCluster big[] = {cluster(100, 100, 100, 200, 270), cluster(80, 40, 200, 2, 271),
                           cluster(30, 200, 60, 1, 273), cluster(200, 90, 90, 3, 274)};
    ASSERT_EQ(selectDominantClusters(big, 4, out, nullptr, 1, labels.data(), w, h, 10), 1);
    EXPECT_EQ(out[0].label, 270);
    for (const auto& c : big) {
        if (c.label != 270) {
            EXPECT_EQ(c.sortKey, 1000000) << c.label;
        }
    }
}

TEST(DominantColourFilters, MedianAndFill) {
    // A lone bright pixel disappears under a 3 x 3 median; edge pixels stay.
    std::vector<std::uint8_t> image(5 * 5 * 3, 10);
    image[(2 * 5 + 2) * 3 + 1] = 250;
    image[0] = 99;
    medianFilterBytes(image.data(), 5, 5, 3, 3);
    EXPECT_EQ(image[(2 * 5 + 2) * 3 + 1], 10);
    EXPECT_EQ(image[0], 99);

    // A hole inside an assigned area is filled; a wide unassigned area is left alone.
    const int w = 12, h = 7;
    std::vector<std::uint8_t> segmented(w * h * 3, 255), source(w * h * 3, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 4; ++x) segmented[(y * w + x) * 3] = 40;
    segmented[(3 * w + 2) * 3] = 255;  // the hole
    source[(1 * w + 4) * 3 + 1] = 200;  // a green source pixel beside the assigned area
    const DominantColour colours[] = {{30, 200, 40, 0, 50, 260}, {200, 30, 30, 0, 10, 261}};
    fillIsolatedPixels(source.data(), segmented.data(), w, h, 0, colours, 2);
    EXPECT_EQ(segmented[(3 * w + 2) * 3], 40);  // B of colour 0
    EXPECT_EQ(segmented[(3 * w + 2) * 3 + 1], 200);
    EXPECT_EQ(segmented[(3 * w + 9) * 3], 255);
    // The largest colour is green: the unassigned neighbour whose source is green joins it.
    EXPECT_EQ(segmented[(1 * w + 4) * 3 + 1], 200);
    EXPECT_EQ(segmented[(2 * w + 4) * 3], 255);
    // An index outside the list does nothing.
    std::vector<std::uint8_t> copy = segmented;
    fillIsolatedPixels(source.data(), segmented.data(), w, h, 2, colours, 2);
    fillIsolatedPixels(source.data(), segmented.data(), w, h, -1, colours, 2);
    EXPECT_EQ(copy, segmented);
    EXPECT_TRUE(hasAssignedNeighbour(segmented.data(), w, h, 4, 0));
    EXPECT_FALSE(hasAssignedNeighbour(segmented.data(), w, h, 9, 3));
}

}  // namespace
}  // namespace vantrelo
