#include "plugin/composite_rows.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "kernels/band_job.h"
#include "plugin/blend16_rows.h"
#include "plugin/keying_pass.h"

namespace vantrelo {

namespace {

// One band of a BandJob's area: rowOp(output row, source row, width) for each of its rows, the
// source row being the keyed image's row (sourceStep 4) or the fill colour (sourceStep 0).
template <class Out, class Source, std::ptrdiff_t sourceStep, class RowOp>
void bandRowsBy(void* jobPointer, std::uint64_t index, std::uint64_t count, RowOp rowOp) {
    const BandJob& job = *static_cast<const BandJob*>(jobPointer);
    const Rect& area = *job.area;
    const BandRange rows = bandRange(area.y0, area.y1, index, count);
    const std::ptrdiff_t width = area.width();
    if (rows.empty() || width == 0) return;
    ImageBuffer& output = *job.destination;
    for (std::ptrdiff_t y = rows.begin; y < rows.end; ++y) {
        Out* o = reinterpret_cast<Out*>(output.pixelAddress(area.x0, static_cast<std::int32_t>(y)));
        const Source* s;
        if constexpr (sourceStep == 0) {
            s = static_cast<const Source*>(job.source);
        } else {
            const ImageBuffer& keyed = *static_cast<const ImageBuffer*>(job.source);
            s = reinterpret_cast<const Source*>(keyed.pixelAddress(area.x0, static_cast<std::int32_t>(y)));
        }
        rowOp(o, s, width);
    }
}

// The same with op(output pixel, source pixel) for every pixel, the output stepping by its own
// channel count and the source by `sourceStep` elements.  The pixel format is fixed by the
// template, so the loop carries no format test.
template <class Out, class Source, std::ptrdiff_t sourceStep, class Op>
void bandRows(void* jobPointer, std::uint64_t index, std::uint64_t count, Op op) {
    const std::ptrdiff_t outStep = static_cast<const BandJob*>(jobPointer)->destination->channels;
    bandRowsBy<Out, Source, sourceStep>(jobPointer, index, count,
                                        [&](Out* o, const Source* s, std::ptrdiff_t width) {
                                            for (std::ptrdiff_t x = 0; x < width; ++x, o += outStep, s += sourceStep)
                                                op(o, s);
                                        });
}

// The fill followed by the over blend in one pass: the source is a KeyedOverColour.
template <class Out, class Fill, class Over>
void keyedOverColourRows(void* jobPointer, std::uint64_t index, std::uint64_t count, Fill fill, Over over) {
    const BandJob& job = *static_cast<const BandJob*>(jobPointer);
    const KeyedOverColour& parts = *static_cast<const KeyedOverColour*>(job.source);
    using Keyed = std::conditional_t<sizeof(Out) == 4, float, std::uint16_t>;
    const std::uint16_t* colour = parts.colour;
    BandJob keyedJob = job;
    keyedJob.source = parts.keyed;
    bandRows<Out, Keyed, 4>(&keyedJob, index, count, [&](Out* o, const Keyed* s) {
        fill(o, colour);
        over(o, s);
    });
}

// The backdrop image's pixel followed by the over blend in one pass: the source is a
// KeyedOverImage whose backdrop has the output's format and covers the area.  rowOp(output row,
// keyed row, backdrop row, width).
template <class Out, class RowOp>
void keyedOverImageRows(void* jobPointer, std::uint64_t index, std::uint64_t count, RowOp rowOp) {
    const BandJob& job = *static_cast<const BandJob*>(jobPointer);
    const KeyedOverImage& parts = *static_cast<const KeyedOverImage*>(job.source);
    using Keyed = std::conditional_t<sizeof(Out) == 4, float, std::uint16_t>;
    const Rect& area = *job.area;
    const BandRange rows = bandRange(area.y0, area.y1, index, count);
    const std::ptrdiff_t width = area.width();
    if (rows.empty() || width == 0) return;
    for (std::ptrdiff_t y = rows.begin; y < rows.end; ++y) {
        const auto row = static_cast<std::int32_t>(y);
        rowOp(reinterpret_cast<Out*>(job.destination->pixelAddress(area.x0, row)),
              reinterpret_cast<const Keyed*>(parts.keyed->pixelAddress(area.x0, row)),
              reinterpret_cast<const Out*>(parts.backdrop->pixelAddress(area.x0, row)), width);
    }
}

// The same per pixel: the whole backdrop pixel copied (every channel the output has), then over.
template <class Out, class Over>
void keyedOverImagePixels(void* jobPointer, std::uint64_t index, std::uint64_t count, Over over) {
    const std::ptrdiff_t step = static_cast<const BandJob*>(jobPointer)->destination->channels;
    using Keyed = std::conditional_t<sizeof(Out) == 4, float, std::uint16_t>;
    keyedOverImageRows<Out>(jobPointer, index, count,
                            [&](Out* o, const Keyed* s, const Out* b, std::ptrdiff_t width) {
                                for (std::ptrdiff_t x = 0; x < width; ++x, o += step, b += step, s += 4) {
                                    for (std::ptrdiff_t c = 0; c < step; ++c) o[c] = b[c];
                                    over(o, s);
                                }
                            });
}

template <class Out, class Op>
void keyedRows(void* job, std::uint64_t index, std::uint64_t count, Op op) {
    if constexpr (sizeof(Out) == 4)
        bandRows<Out, float, 4>(job, index, count, op);
    else
        bandRows<Out, std::uint16_t, 4>(job, index, count, op);
}

template <class Out, class Op>
void colourRows(void* job, std::uint64_t index, std::uint64_t count, Op op) {
    bandRows<Out, std::uint16_t, 0>(job, index, count, op);
}

constexpr float kUnit16 = 65535.0f;

// Opaque over in the 8-bit output: the keyed value stays in 16 bits until the one division, so an
// opaque 65535 lands on 255 and 32896 on 128 (its high byte), not one below.
inline std::uint8_t over8(std::uint32_t s, std::uint32_t a, std::uint32_t o) {
    return static_cast<std::uint8_t>((s * a / 256u + o * (65535u - a)) / 65535u);
}

// The per-pixel fills and over blends, named so that the fused fill-and-over members are made of
// the very same operations as the separate ones.  Lambdas, not functions: a function passed as a
// template argument went in as a pointer and was called for every pixel (24 instructions a pixel
// for the 16-bit fill instead of a few).
template <int N>
constexpr auto fillFloat = [](float* o, const std::uint16_t* c) {
    for (int i = 0; i < N; ++i) o[i] = static_cast<float>(c[i]) / kUnit16;
};
template <int N>
constexpr auto fill16 = [](std::uint16_t* o, const std::uint16_t* c) {
    for (int i = 0; i < N; ++i) o[i] = c[i];
};
template <int N>
constexpr auto fill8 = [](std::uint8_t* o, const std::uint16_t* c) {
    for (int i = 0; i < N; ++i) o[i] = static_cast<std::uint8_t>(c[i] >> 8);
};

constexpr auto overFloat4 = [](float* o, const float* s) {
    const float a = s[3];
    for (int i = 0; i < 3; ++i) o[i] = a * s[i] + (1.0f - a) * o[i];
    o[3] = (1.0f - a) * o[3] + a;
};
constexpr auto overFloat3 = [](float* o, const float* s) {
    const float a = s[3];
    for (int i = 0; i < 3; ++i) o[i] = a * s[i] + (1.0f - a) * o[i];
};
constexpr auto over16x3 = [](std::uint16_t* o, const std::uint16_t* s) {
    const std::uint32_t a = s[3];
    for (int i = 0; i < 3; ++i)
        o[i] = static_cast<std::uint16_t>(std::uint32_t{s[i]} * a / 65535u + std::uint32_t{o[i]} * (65535u - a) / 65535u);
};
constexpr auto over8x4 = [](std::uint8_t* o, const std::uint16_t* s) {
    const std::uint32_t a = s[3];
    for (int i = 0; i < 3; ++i) o[i] = over8(s[i], a, o[i]);
    o[3] = static_cast<std::uint8_t>((std::uint32_t{o[3]} * (65535u - a) + a * 255u) / 65535u);
};
constexpr auto over8x3 = [](std::uint8_t* o, const std::uint16_t* s) {
    const std::uint32_t a = s[3];
    for (int i = 0; i < 3; ++i) o[i] = over8(s[i], a, o[i]);
};

// The 16-bit four-channel fill, two pixels a store: it lays every backdrop scratch image.
void fillRow16x4(std::uint16_t* o, const std::uint16_t* colour, std::ptrdiff_t width) {
    std::uint64_t packed;
    std::memcpy(&packed, colour, sizeof packed);
    const __m128i pair = _mm_set1_epi64x(static_cast<long long>(packed));
    std::ptrdiff_t x = 0;
    for (; x + 2 <= width; x += 2) _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 4 * x), pair);
    if (x < width) std::memcpy(o + 4 * x, colour, sizeof packed);
}

// fill8<4> then over8x4 along a row, two pixels a vector.  Each lane is
// floor((floor(s a / 256) + o (65535 - a)) / 65535) in 32 bits, o the colour's high byte; the
// alpha lane takes 65280 for s, which makes its first term a x 255 as over8x4 has it.  The sum
// stays below 2^25, and below 2^26 floor(x / 65535) = (x + (x >> 16) + 1) >> 16 (checked for
// every x).  The scalar over, with its divisions, took a sixth of the processor time of a batch
// of JPEGs.
void overColourRow8x4(std::uint8_t* o, const std::uint16_t* s, const std::uint16_t colour[4],
                      std::ptrdiff_t width) {
    const auto high = [colour](int c) { return static_cast<short>(colour[c] >> 8); };
    const __m128i laid = _mm_set_epi16(high(3), high(2), high(1), high(0), high(3), high(2),
                                       high(1), high(0));
    const __m128i alphaTop = _mm_and_si128(blend16::alphaMask(), _mm_set1_epi16(-256));
    const __m128i one = _mm_set1_epi32(1);
    const auto quotient = [one](__m128i x) {
        return _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(x, _mm_srli_epi32(x, 16)), one), 16);
    };
    std::ptrdiff_t x = 0;
    for (; x + 2 <= width; x += 2) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
        const __m128i a = blend16::alphaLanes(pixels);
        const __m128i top = _mm_or_si128(_mm_andnot_si128(blend16::alphaMask(), pixels), alphaTop);
        const __m128i keep = _mm_xor_si128(a, _mm_set1_epi16(-1));
        const __m128i keyedLow = _mm_mullo_epi16(top, a), keyedHigh = _mm_mulhi_epu16(top, a);
        const __m128i laidLow = _mm_mullo_epi16(laid, keep), laidHigh = _mm_mulhi_epu16(laid, keep);
        const __m128i first =
            _mm_add_epi32(_mm_srli_epi32(_mm_unpacklo_epi16(keyedLow, keyedHigh), 8),
                          _mm_unpacklo_epi16(laidLow, laidHigh));
        const __m128i second =
            _mm_add_epi32(_mm_srli_epi32(_mm_unpackhi_epi16(keyedLow, keyedHigh), 8),
                          _mm_unpackhi_epi16(laidLow, laidHigh));
        const __m128i words = _mm_packs_epi32(quotient(first), quotient(second));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 4 * x), _mm_packus_epi16(words, words));
    }
    if (x < width) {
        fill8<4>(o + 4 * x, colour);
        over8x4(o + 4 * x, s + 4 * x);
    }
}

}  // namespace

// ---- Float ----

void fillColorRows4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    colourRows<float>(job, index, count, fillFloat<4>);
}

void fillColorRows3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    colourRows<float>(job, index, count, fillFloat<3>);
}

void copyKeyedRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<float>(job, index, count, [](float* o, const float* s) {
        for (int i = 0; i < 4; ++i) o[i] = s[i];
    });
}

void copyKeyedRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<float>(job, index, count, [](float* o, const float* s) {
        for (int i = 0; i < 3; ++i) o[i] = s[i];
    });
}

void matteGreyRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<float>(job, index, count, [](float* o, const float* s) {
        o[0] = o[1] = o[2] = s[3];
        o[3] = 1.0f;
    });
}

void matteGreyRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<float>(job, index, count, [](float* o, const float* s) { o[0] = o[1] = o[2] = s[3]; });
}

void compositeOverRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<float>(job, index, count, overFloat4);
}

void compositeOverRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<float>(job, index, count, overFloat3);
}

void compositeOverColourRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedOverColourRows<float>(job, index, count, fillFloat<4>, overFloat4);
}

void compositeOverColourRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedOverColourRows<float>(job, index, count, fillFloat<3>, overFloat3);
}

void compositeOverImageRowsFloat4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedOverImagePixels<float>(job, index, count, overFloat4);
}

void compositeOverImageRowsFloat3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedOverImagePixels<float>(job, index, count, overFloat3);
}

// ---- 16-bit ----

void fillColorRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    if (static_cast<const BandJob*>(job)->destination->channels == 4)
        bandRowsBy<std::uint16_t, std::uint16_t, 0>(job, index, count, fillRow16x4);
    else
        colourRows<std::uint16_t>(job, index, count, fill16<4>);
}

void fillColorRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    colourRows<std::uint16_t>(job, index, count, fill16<3>);
}

void copyKeyedRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint16_t>(job, index, count, [](std::uint16_t* o, const std::uint16_t* s) {
        for (int i = 0; i < 4; ++i) o[i] = s[i];
    });
}

void copyKeyedRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint16_t>(job, index, count, [](std::uint16_t* o, const std::uint16_t* s) {
        for (int i = 0; i < 3; ++i) o[i] = s[i];
    });
}

void matteGreyRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint16_t>(job, index, count, [](std::uint16_t* o, const std::uint16_t* s) {
        o[0] = o[1] = o[2] = s[3];
        o[3] = 65535;
    });
}

void matteGreyRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint16_t>(job, index, count,
                             [](std::uint16_t* o, const std::uint16_t* s) { o[0] = o[1] = o[2] = s[3]; });
}

void compositeOverRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    bandRowsBy<std::uint16_t, std::uint16_t, 4>(job, index, count, blend16::overRow);
}

void compositeOverRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint16_t>(job, index, count, over16x3);
}

void compositeOverColourRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    const BandJob& whole = *static_cast<const BandJob*>(job);
    const KeyedOverColour& parts = *static_cast<const KeyedOverColour*>(whole.source);
    BandJob keyedJob = whole;
    keyedJob.source = parts.keyed;
    bandRowsBy<std::uint16_t, std::uint16_t, 4>(
        &keyedJob, index, count, [&](std::uint16_t* o, const std::uint16_t* s, std::ptrdiff_t width) {
            blend16::overColourRow(o, s, parts.colour, width);
        });
}

void compositeOverColourRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedOverColourRows<std::uint16_t>(job, index, count, fill16<3>, over16x3);
}

void compositeOverImageRows16x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    if (static_cast<const BandJob*>(job)->destination->channels == 4)
        keyedOverImageRows<std::uint16_t>(job, index, count, blend16::overImageRow);
    else
        keyedOverImagePixels<std::uint16_t>(
            job, index, count, [](std::uint16_t* o, const std::uint16_t* s) { blendRgba16Over16(o, s); });
}

void compositeOverImageRows16x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedOverImagePixels<std::uint16_t>(job, index, count, over16x3);
}

// ---- 8-bit ----

void fillColorRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    colourRows<std::uint8_t>(job, index, count, fill8<4>);
}

void fillColorRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    colourRows<std::uint8_t>(job, index, count, fill8<3>);
}

void copyKeyedRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint8_t>(job, index, count, [](std::uint8_t* o, const std::uint16_t* s) {
        for (int i = 0; i < 4; ++i) o[i] = static_cast<std::uint8_t>(s[i] >> 8);
    });
}

void copyKeyedRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint8_t>(job, index, count, [](std::uint8_t* o, const std::uint16_t* s) {
        for (int i = 0; i < 3; ++i) o[i] = static_cast<std::uint8_t>(s[i] >> 8);
    });
}

void matteGreyRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint8_t>(job, index, count, [](std::uint8_t* o, const std::uint16_t* s) {
        o[0] = o[1] = o[2] = static_cast<std::uint8_t>(s[3] >> 8);
        o[3] = 255;
    });
}

void matteGreyRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint8_t>(job, index, count, [](std::uint8_t* o, const std::uint16_t* s) {
        o[0] = o[1] = o[2] = static_cast<std::uint8_t>(s[3] >> 8);
    });
}

void compositeOverRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint8_t>(job, index, count, over8x4);
}

void compositeOverRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedRows<std::uint8_t>(job, index, count, over8x3);
}

void compositeOverColourRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    const BandJob& whole = *static_cast<const BandJob*>(job);
    if (whole.destination->channels != 4) {
        keyedOverColourRows<std::uint8_t>(job, index, count, fill8<4>, over8x4);
        return;
    }
    const KeyedOverColour& parts = *static_cast<const KeyedOverColour*>(whole.source);
    BandJob keyedJob = whole;
    keyedJob.source = parts.keyed;
    bandRowsBy<std::uint8_t, std::uint16_t, 4>(
        &keyedJob, index, count,
        [&](std::uint8_t* o, const std::uint16_t* s, std::ptrdiff_t width) {
            overColourRow8x4(o, s, parts.colour, width);
        });
}

void compositeOverColourRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedOverColourRows<std::uint8_t>(job, index, count, fill8<3>, over8x3);
}

void compositeOverImageRows8x4(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedOverImagePixels<std::uint8_t>(job, index, count, over8x4);
}

void compositeOverImageRows8x3(void* job, std::uint64_t index, std::uint64_t count, std::uint64_t) {
    keyedOverImagePixels<std::uint8_t>(job, index, count, over8x3);
}

}  // namespace vantrelo
