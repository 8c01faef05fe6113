#include "engine/effects/histogram.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/keying/key_state.h"
#include "engine/keying/numeric.h"

namespace vantrelo {

Histogram::Histogram(std::int32_t binCount) {
    if (binCount < 1) return;
    bins_ = static_cast<std::int32_t*>(engineAllocate(static_cast<std::size_t>(binCount) * sizeof(std::int32_t)));
    if (!bins_) return;
    std::memset(bins_, 0, static_cast<std::size_t>(binCount) * sizeof(std::int32_t));
    count_ = capacity_ = binCount;
}

Histogram::~Histogram() { release(); }

Histogram::Histogram(Histogram&& other) noexcept
    : bins_(std::exchange(other.bins_, nullptr)),
      count_(std::exchange(other.count_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Histogram& Histogram::operator=(Histogram&& other) noexcept {
    if (this != &other) {
        release();
        bins_ = std::exchange(other.bins_, nullptr);
        count_ = std::exchange(other.count_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

void Histogram::release() {
    if (bins_) engineRelease(bins_);
    bins_ = nullptr;
    count_ = capacity_ = 0;
}

bool Histogram::add(std::int32_t bin) {
    if (bin < 0 || bin >= count_) return false;
    bins_[bin] = saturateToInt32(static_cast<std::int64_t>(bins_[bin]) + 1);
    return true;
}

void Histogram::smooth() {
    const std::int32_t n = count_;
    if (n < 2) return;  // a single bin is its own smoothed value
    std::int64_t previous = bins_[0];
    bins_[0] = saturateToInt32((3 * previous + bins_[1]) / 4);
    for (std::int32_t i = 1; i < n - 1; ++i) {
        const std::int64_t current = bins_[i];
        bins_[i] = saturateToInt32((previous + 2 * current + bins_[i + 1]) / 4);
        previous = current;
    }
    bins_[n - 1] = saturateToInt32((3 * static_cast<std::int64_t>(bins_[n - 1]) + previous) / 4);
}

void Histogram::differentiate() {
    if (count_ < 1) return;
    for (std::int32_t i = 0; i + 1 < count_; ++i)
        bins_[i] = saturateToInt32(static_cast<std::int64_t>(bins_[i + 1]) - bins_[i]);
    --count_;
}

void Histogram::normalise() {
    std::int64_t total = 0;
    for (std::int32_t i = 0; i < count_; ++i) total += bins_[i];
    if (total == 0) return;
    const float factor = 21600.0f / static_cast<float>(total);
    for (std::int32_t i = 0; i < count_; ++i) bins_[i] = truncToInt32(factor * static_cast<float>(bins_[i]));
}

std::int32_t Histogram::nextPeak(std::int32_t i) const {
    for (std::int64_t j = std::max<std::int64_t>(static_cast<std::int64_t>(i) + 1, 1); j <= count_ - 2; ++j) {
        const std::int32_t here = bins_[j] / 7;
        if (here > 0 && bins_[j - 1] / 7 < here && here >= bins_[j + 1] / 7) return static_cast<std::int32_t>(j);
    }
    return -1;
}

std::int32_t Histogram::previousValley(std::int32_t i) const {
    const std::int64_t from = std::min<std::int64_t>(static_cast<std::int64_t>(i) + 1, count_ - 2);
    for (std::int64_t j = from; j >= 1; --j) {
        const std::int32_t here = bins_[j] / 7;
        if (here < -40 && here < bins_[j + 1] / 7 && bins_[j - 1] / 7 >= here) return static_cast<std::int32_t>(j);
    }
    return -1;
}

std::int32_t Histogram::nextLocalMax(std::int32_t i) const {
    for (std::int32_t j = std::max<std::int32_t>(i, 1); j <= count_ - 2; ++j)
        if (bins_[j - 1] < bins_[j] && bins_[j] >= bins_[j + 1]) return j;
    return -1;
}

HistogramExtent Histogram::extent() const {
    HistogramExtent e{0, 0, count_ - 1, 0};
    for (std::int32_t i = 0; i < count_; ++i) {
        e.smallest = std::min(e.smallest, bins_[i]);
        e.largest = std::max(e.largest, bins_[i]);
        if (bins_[i] != 0) {
            e.first = std::min(e.first, i);
            e.last = std::max(e.last, i);
        }
    }
    return e;
}

bool Histogram::assign(const Histogram& other) {
    if (&other == this) return true;
    if (other.count_ > capacity_) return false;
    if (other.count_ > 0) std::memcpy(bins_, other.bins_, static_cast<std::size_t>(other.count_) * sizeof(std::int32_t));
    count_ = other.count_;
    return true;
}

void Histogram::reverse() {
    if (count_ > 0) std::reverse(bins_, bins_ + count_);
}

// Going down from the highest bin: the first bin above the threshold is the top.  Below the top
// band a gap opens at the first bin at or below the threshold, or at a bin still above it once
// the scan is more than 20 bins below the top.  The next bin above the threshold after an open
// gap starts the second band when the gap is wider than 7 bins or the bin is more than 20 below
// the top; otherwise the gap closes again.  Once the second band has started, every further bin
// above the threshold extends it downward.
bool Histogram::findPeakBand(std::int32_t& bandEnd, std::int32_t& bandStart, std::int32_t& top,
                             std::int32_t& gapStart, std::int32_t threshold) const {
    bool topSeen = false, gapOpen = false, secondStarted = false;
    for (std::int32_t bin = count_ - 1; bin >= 0; --bin) {
        if (bins_[bin] > threshold) {
            if (!topSeen) {
                top = bin;
                topSeen = true;
            }
            if (gapOpen) {
                if (!secondStarted) {
                    if (gapStart - bin > 7 || top - bin > 20) {
                        bandStart = bandEnd = bin;
                        secondStarted = true;
                    } else {
                        gapOpen = false;
                    }
                } else {
                    bandEnd = bin;
                }
            } else if (top - bin > 20) {
                gapOpen = true;
                gapStart = bin;
            }
        } else if (topSeen && !gapOpen) {
            gapOpen = true;
            gapStart = bin;
        }
    }
    return secondStarted;
}

}  // namespace vantrelo
