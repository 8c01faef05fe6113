#pragma once
// Integer histogram of the automatic key and the backdrop detection: bins of 32-bit counts with
// smoothing, a discrete derivative, normalisation to 21600 and peak and valley searches.
//
// Bin arithmetic keeps 32-bit integer results with division truncating toward zero; intermediate
// sums are wider so that no operation overflows (a result outside the int32 range saturates).
// The storage comes from the engine allocator and belongs to the histogram.  When it cannot be
// obtained the histogram has no bins (count() == 0) and every operation is a no-op.  Searches
// return -1 when nothing is found and never read outside the bins, whatever index they are given.

#include <cstdint>

namespace vantrelo {

struct HistogramExtent {
    std::int32_t smallest;  // smallest bin value, never above 0
    std::int32_t largest;   // largest bin value, never below 0
    std::int32_t first;     // first bin that is not 0 (count - 1 when all are 0)
    std::int32_t last;      // last bin that is not 0 (0 when all are 0)
};

class Histogram {
public:
    explicit Histogram(std::int32_t binCount);  // all bins 0
    ~Histogram();
    Histogram(Histogram&& other) noexcept;
    Histogram& operator=(Histogram&& other) noexcept;
    Histogram(const Histogram&) = delete;
    Histogram& operator=(const Histogram&) = delete;

    std::int32_t count() const { return count_; }
    std::int32_t capacity() const { return capacity_; }
    std::int32_t* bins() { return bins_; }
    const std::int32_t* bins() const { return bins_; }
    std::int32_t& operator[](std::int32_t i) { return bins_[i]; }
    std::int32_t operator[](std::int32_t i) const { return bins_[i]; }

    // Counts one value into bin `bin` when the bin exists; returns whether it did.
    bool add(std::int32_t bin);

    // new[0] = (3 h[0] + h[1]) / 4, new[i] = (h[i-1] + 2 h[i] + h[i+1]) / 4,
    // new[n-1] = (3 h[n-1] + h[n-2]) / 4, all from the old values.
    void smooth();
    // h[i] := h[i+1] - h[i]; one bin fewer.
    void differentiate();
    // Scales the bins so that they sum to about 21600 (single-precision factor, truncated).  An
    // all-zero histogram stays all zero.
    void normalise();

    // First j in i+1 .. n-2 with h[j]/7 > 0, h[j-1]/7 < h[j]/7 and h[j]/7 >= h[j+1]/7.  Values
    // are compared after the division, so differences below 7 count as equal.
    std::int32_t nextPeak(std::int32_t i) const;
    // First j going down from i+1 to 1 with h[j]/7 < -40, h[j]/7 < h[j+1]/7, h[j-1]/7 >= h[j]/7.
    std::int32_t previousValley(std::int32_t i) const;
    // First j from i (from 1 when i is 0) up to n-2 with h[j-1] < h[j] >= h[j+1].
    std::int32_t nextLocalMax(std::int32_t i) const;
    HistogramExtent extent() const;

    // Copies count and bins of `other` into this storage.  Refused (false, nothing changed) when
    // `other` holds more bins than this storage.
    bool assign(const Histogram& other);
    void reverse();

    // Scans from the highest bin down for a second band of bins above `threshold`, separated from
    // the top band by a gap: see the comment in the implementation.  Returns whether a second band
    // was found; bandStart is its highest and bandEnd its lowest bin.  The out values are written
    // only as the scan sets them.
    bool findPeakBand(std::int32_t& bandEnd, std::int32_t& bandStart, std::int32_t& top, std::int32_t& gapStart,
                      std::int32_t threshold) const;

private:
    void release();

    std::int32_t* bins_ = nullptr;
    std::int32_t count_ = 0;
    std::int32_t capacity_ = 0;
};

}  // namespace vantrelo
