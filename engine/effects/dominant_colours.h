#pragma once
// Dominant-colour segmentation: the dominant colour of an image (in practice its backdrop), a list
// of colours similar to it and a list of colours unlike it, found by clustering the pixels in a
// quantised JFIF YCbCr space, merging near clusters and scoring the rest.
//
// Byte images are three bytes per pixel in the order B, G, R.  Labels are one int per pixel:
// 1 black, 2 white, 3 and up a grey level, 259 and up a chromatic cluster; label 0 is never used.
// Every distance is a sum of absolute differences.
//
// List entries are filled from the front.  An entry the segmentation cannot fill (for instance
// the similar entries 1.. when no cluster resembles the dominant colour, or contrast entries
// beyond the clusters left after merging) is skipped: it is not written, and the optional
// filled1 / filled2 results say how many entries of each list hold colours.

#include <cstddef>
#include <cstdint>

namespace vantrelo {

struct ColourCluster {
    std::uint8_t y, cb, cr;
    std::int32_t population;  // -1 absorbed into another cluster, 0 merged away in contrast scoring
    std::int32_t label;
    std::int32_t sortKey;
    std::int32_t chromatic;   // 1 from the chroma table, 0 black, white and grey
};

struct DominantColour {
    std::uint8_t r, g, b, spare;
    std::int32_t count;  // pixels carrying the label
    std::int32_t label;
};
static_assert(sizeof(DominantColour) == 12);

// 16-bit RGBA pixels.  Returns 0, or -1 for bad arguments (k1 < 1, an empty image, missing pixels
// or lists, k2 > 0 without out2) or exhausted memory.  k2 < 1 counts as 0.  The colours come back
// as 16-bit RGBA with A = 0, shifted up by 8 bits when the input used more than 8 bits.
int findDominantColours16(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::int32_t k1,
                          std::int32_t k2, std::uint16_t* out1, std::uint16_t* out2, std::int32_t* filled1 = nullptr,
                          std::int32_t* filled2 = nullptr);
// The same for 16-bit RGB pixels (6 bytes); `extra` must not be null and is not otherwise read.
int findDominantColours48(const std::uint16_t* pixels, const void* extra, std::ptrdiff_t width,
                          std::ptrdiff_t height, std::int32_t k1, std::int32_t k2, std::uint16_t* out1,
                          std::uint16_t* out2, std::int32_t* filled1 = nullptr, std::int32_t* filled2 = nullptr);

// Returns 1, or -1 when refused: levels 8 (its luma limit divides by zero), k1 < 1, missing image
// or similar list, k2 > 0 without a contrast list, an empty image, or exhausted memory.  Other
// levels outside 1..7 become 1; k2 < 0 counts as 0.  labels and outputImage may be null.
int segmentDominantColours(const std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                           std::uint8_t* outputImage, std::int32_t* labels, const std::uint8_t* fixedColour,
                           DominantColour* similar, DominantColour* contrast, std::int32_t k1, std::int32_t k2,
                           std::int32_t mergeDistance, std::int32_t levels, std::int32_t selectionDistance,
                           std::int32_t* filled1 = nullptr, std::int32_t* filled2 = nullptr);

// Merges clusters (sorted by population) into `out`, which needs room for n entries; returns the
// number of merged clusters (0 for no input or exhausted memory).
std::int32_t mergeNearbyClusters(ColourCluster* out, const ColourCluster* clusters, std::int32_t n,
                                 std::int32_t mergeDistance, std::int32_t lumaLimit);
bool isSimilarCluster(const ColourCluster& cluster, std::uint8_t refY, std::uint8_t refCb, std::uint8_t refCr,
                      std::uint8_t refR, std::uint8_t refG, std::uint8_t refB);
// Fills similar[1 .. k1-1] from the clusters resembling (refY, refCb, refCr) and appends the
// others to the pool (room for `count` more entries).  Returns the number of filled entries of
// `similar` (entry 0 included), or -1 on exhausted memory.  labels (width x height, may be null)
// are relabelled for every merge.
std::int32_t mergeClusterInto(std::uint8_t refY, std::uint8_t refCb, std::uint8_t refCr, ColourCluster* similar,
                              const ColourCluster* clusters, std::int32_t count, std::int32_t k1, std::int32_t* labels,
                              ColourCluster* pool, std::int32_t* poolSize, std::ptrdiff_t width,
                              std::ptrdiff_t height);
// Chooses k2 contrast colours from the pool; returns the number of filled entries of `out`, or
// -1 on exhausted memory.  `clusters` is not read.
std::int32_t selectDominantClusters(ColourCluster* pool, std::int32_t poolSize, ColourCluster* out,
                                    const ColourCluster* clusters, std::int32_t k2, std::int32_t* labels,
                                    std::ptrdiff_t width, std::ptrdiff_t height, std::int32_t selectionDistance);

// JFIF (ITU-T T.871) conversions in 16.16 fixed point.
void rgbToYCbCr8(int r, int g, int b, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr);
void yCbCrToRgb8(int y, int cb, int cr, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b);
// Byte image (B, G, R) to three planes; byteLength is three times the pixel count.
void rgbToYCbCrPlanar8(const std::uint8_t* image, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr,
                       std::ptrdiff_t byteLength);
int clampToByte(int v);
int chromaDistance8(const std::uint8_t* p, const std::uint8_t* q);  // Cb and Cr of two Y, Cb, Cr triples
int yCbCrDistance8(const std::uint8_t* p, const std::uint8_t* q);

// qsort comparators (negative: a first).  Each is consistent: equal elements compare 0.
int compareClustersByPopulation(const void* a, const void* b);  // larger population first
int compareClustersByKey(const void* a, const void* b);         // smaller sort key first
int compareBytesDescending(const void* a, const void* b);

// Clean-up filters for 3-byte images in which a first byte of 255 marks an unassigned pixel.
bool hasAssignedNeighbour(const std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height, std::ptrdiff_t x,
                          std::ptrdiff_t y);
// Fills unassigned pixels with colour n of the list (written B, G, R); nothing happens when n is
// not an index of the list.
void fillIsolatedPixels(const std::uint8_t* source, std::uint8_t* segmented, std::ptrdiff_t width,
                        std::ptrdiff_t height, std::int32_t n, const DominantColour* colours, std::int32_t listSize);
// In-place median over a window of (2 (wh/2) + 1) x (2 (ww/2) + 1), reading pixels already
// filtered; pixels nearer the edge than the window reach stay.
void medianFilterBytes(std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height, std::int32_t windowWidth,
                       std::int32_t windowHeight);

}  // namespace vantrelo
