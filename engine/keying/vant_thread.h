#pragma once
// Band workers of the engine.  A threaded engine operation creates one worker per band, starts a
// thread for each, joins them in index order and destroys them.  Each worker runs one band body
// over a disjoint part of the job, so workers only ever write their own output band.
//
// A worker whose thread cannot be started runs its band on the calling thread; every started
// thread is joined before a launcher returns.  A band body that throws does not cross the thread:
// the worker records the failure and the launcher reports it by its result.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "base/band_thread.h"

namespace vantrelo {

// Band i of n over `total` elements (pixels, rows or columns): size = total / n; the last band
// also takes the remainder, so bands may be empty when total < n.
struct Band {
    std::ptrdiff_t start;
    std::ptrdiff_t count;
};
Band bandOf(int index, int bandCount, std::ptrdiff_t total);

class VantThread {
public:
    // width is 1 for a span, the image width for a split by rows, the band's column count for a
    // split by columns; height is the band count for spans and row splits, the image height for
    // column splits.
    VantThread(std::ptrdiff_t bandStart, std::ptrdiff_t bandCount, std::ptrdiff_t width,
               std::ptrdiff_t height, bool twoDimensional, bool byRows);
    // Band `index` of `bandCount` over a span of `total` elements.
    VantThread(int index, int bandCount, std::ptrdiff_t total);
    // Band `index` of `bandCount` over the rows (byRows) or the columns of a width x height image.
    VantThread(int index, int bandCount, std::ptrdiff_t width, std::ptrdiff_t height, bool byRows);
    virtual ~VantThread();
    VantThread(const VantThread&) = delete;
    VantThread& operator=(const VantThread&) = delete;

    virtual unsigned run() = 0;

    // Starts the thread; when no thread can be started (refused, or no memory for its start
    // record) the band runs here, on the caller.  Throws nothing.
    void start() noexcept;
    void join();
    bool failed() const { return failed_; }

    // An array advanced to the band's first element, for elements of 8 (16-bit RGBA), 16 (float
    // RGBA), 3 (8-bit B, G, R) and 1 (8-bit matte) bytes; a split by rows advances by whole rows of
    // the image width.  An absent array stays absent.
    template <class T>
    T* bandOffset8(T* array) const { return advanced(array, 8); }
    template <class T>
    T* bandOffset16(T* array) const { return advanced(array, 16); }
    template <class T>
    T* bandOffset3(T* array) const { return advanced(array, 3); }
    template <class T>
    T* bandOffset1(T* array) const { return advanced(array, 1); }

    std::ptrdiff_t bandStart() const { return bandStart_; }
    std::ptrdiff_t bandCount() const { return bandCount_; }
    std::ptrdiff_t width() const { return width_; }
    std::ptrdiff_t height() const { return height_; }
    bool twoDimensional() const { return twoDimensional_; }
    bool byRows() const { return byRows_; }

private:
    // `across` is the extent the band does not divide: 1 for a span, the image width for a split by
    // rows, the image height for a split by columns.
    VantThread(Band band, std::ptrdiff_t across, bool twoDimensional, bool byRows);
    void runGuarded() noexcept;
    template <class T>
    T* advanced(T* array, std::ptrdiff_t elementBytes) const {
        if (!array) return nullptr;
        const std::ptrdiff_t elements = twoDimensional_ && byRows_ ? width_ * bandStart_ : bandStart_;
        using Byte = std::conditional_t<std::is_const_v<T>, const char, char>;
        return reinterpret_cast<T*>(reinterpret_cast<Byte*>(array) + elements * elementBytes);
    }

    base::BandThread thread_;
    std::ptrdiff_t bandStart_, bandCount_, width_, height_;
    bool twoDimensional_, byRows_;
    bool failed_ = false;
};

// Starts every worker, joins them in index order and destroys them.  Returns false when a worker
// could not be created or its band body failed.
bool runWorkers(std::vector<std::unique_ptr<VantThread>>& workers);

// Creates the workers make(i, bandCount) for i = 0 .. bandCount - 1 and runs them; false when they
// could not all be created (then none has run) or a band failed.
template <class Make>
bool launchWorkers(int bandCount, Make make) {
    std::vector<std::unique_ptr<VantThread>> workers;
    try {
        workers.reserve(static_cast<std::size_t>(bandCount));
        for (int i = 0; i < bandCount; ++i) workers.push_back(make(i, bandCount));
    } catch (...) {
        return false;
    }
    return runWorkers(workers);
}

// A worker that runs a callable over its band; the callable receives (bandStart, bandCount).
template <class Body>
class BandWorker final : public VantThread {
public:
    BandWorker(Band band, std::ptrdiff_t width, std::ptrdiff_t height, bool twoDimensional,
               bool byRows, Body body)
        : VantThread(band.start, band.count, width, height, twoDimensional, byRows), body_(body) {}
    unsigned run() override {
        body_(bandStart(), bandCount());
        return 0;
    }

private:
    Body body_;
};

// Splits `total` elements into `bandCount` bands and runs body(start, count) for each on its own
// worker.  Returns false when any band failed or no worker could be created.
template <class Body>
bool runSpanWorkers(int bandCount, std::ptrdiff_t total, Body body) {
    return launchWorkers(bandCount, [&](int i, int n) {
        const Band band = bandOf(i, n, total);
        return std::make_unique<BandWorker<Body>>(band, 1, band.count, false, false, body);
    });
}

}  // namespace vantrelo
