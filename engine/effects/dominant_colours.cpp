#include "engine/effects/dominant_colours.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "engine/keying/key_state.h"
#include "engine/keying/numeric.h"

namespace vantrelo {
namespace {

// Scratch storage of the segmentation comes from the engine allocator; exhaustion surfaces as
// std::bad_alloc inside and is turned into a result at each public entry point.
template <class T>
struct EngineAllocator {
    using value_type = T;
    EngineAllocator() = default;
    template <class U>
    EngineAllocator(const EngineAllocator<U>&) {}
    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        void* block = engineAllocate(std::max<std::size_t>(n * sizeof(T), 1));
        if (!block) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t) { engineRelease(block); }
    template <class U>
    bool operator==(const EngineAllocator<U>&) const {
        return true;
    }
};

template <class T>
using Scratch = std::vector<T, EngineAllocator<T>>;

constexpr std::int32_t kFirstGreyLabel = 3;
constexpr std::int32_t kFirstChromaLabel = 259;

bool sizesUsable(std::ptrdiff_t width, std::ptrdiff_t height) {
    return width >= 1 && height >= 1 && width <= std::numeric_limits<std::ptrdiff_t>::max() / 16 / height;
}

const std::uint8_t* triple(const ColourCluster& c) { return &c.y; }

int distance(const ColourCluster& a, const ColourCluster& b) { return yCbCrDistance8(triple(a), triple(b)); }

// Population-weighted means, populations added.  A population of -1 (a cluster that absorbed
// itself) can push a mean outside 0..255; it is clamped to the byte it is stored in.  `from` may
// be `into` itself.
void mergeWeighted(ColourCluster& into, const ColourCluster& from) {
    const std::int64_t pa = into.population, pb = from.population, sum = pa + pb;
    if (sum != 0) {
        const std::uint8_t a[3] = {into.y, into.cb, into.cr};
        const std::uint8_t b[3] = {from.y, from.cb, from.cr};
        std::uint8_t mean[3];
        for (int c = 0; c < 3; ++c)
            mean[c] = static_cast<std::uint8_t>(std::clamp<std::int64_t>((a[c] * pa + b[c] * pb + sum / 2) / sum, 0, 255));
        into.y = mean[0];
        into.cb = mean[1];
        into.cr = mean[2];
    }
    into.population = saturateToInt32(sum);
}

bool byPopulation(const ColourCluster& a, const ColourCluster& b) { return a.population > b.population; }
bool byKey(const ColourCluster& a, const ColourCluster& b) { return a.sortKey < b.sortKey; }

// The caller's label array, relabelled by scanning every pixel.
class DirectLabels {
public:
    DirectLabels(std::int32_t* labels, std::ptrdiff_t count) : labels_(labels), count_(labels ? count : 0) {}
    std::int32_t at(std::ptrdiff_t k) const { return labels_[k]; }
    bool present() const { return count_ > 0; }
    void relabel(std::int32_t from, std::int32_t to) {
        if (from == to) return;
        for (std::ptrdiff_t k = 0; k < count_; ++k)
            if (labels_[k] == from) labels_[k] = to;
    }

private:
    std::int32_t* labels_;
    std::ptrdiff_t count_;
};

// Labels as first assigned, read through a map from first to current label, so a merge costs one
// pass over the labels in use instead of one over the pixels.
class MappedLabels {
public:
    MappedLabels(const std::int32_t* labels, std::int32_t labelCount) : labels_(labels), map_(labelCount) {
        for (std::int32_t i = 0; i < labelCount; ++i) map_[i] = i;
    }
    std::int32_t at(std::ptrdiff_t k) const { return map_[labels_[k]]; }
    bool present() const { return true; }
    void relabel(std::int32_t from, std::int32_t to) {
        if (from == to) return;
        for (auto& m : map_)
            if (m == from) m = to;
    }

private:
    const std::int32_t* labels_;
    Scratch<std::int32_t> map_;
};

// Finds the entry of a label among a set of distinct labels.
class LabelIndex {
public:
    void add(std::int32_t label, std::int32_t entry) { pairs_.push_back({label, entry}); }
    void build() {
        std::sort(pairs_.begin(), pairs_.end(), [](const Pair& a, const Pair& b) { return a.label < b.label; });
        if (!pairs_.empty() && pairs_.front().label >= 0 && pairs_.back().label < (1 << 22)) {
            dense_.assign(static_cast<std::size_t>(pairs_.back().label) + 1, -1);
            for (const auto& p : pairs_) dense_[static_cast<std::size_t>(p.label)] = p.entry;
        }
    }
    std::int32_t find(std::int32_t label) const {
        if (!dense_.empty()) return (label >= 0 && label < static_cast<std::int32_t>(dense_.size())) ? dense_[label] : -1;
        auto it = std::lower_bound(pairs_.begin(), pairs_.end(), label,
                                   [](const Pair& p, std::int32_t l) { return p.label < l; });
        return (it != pairs_.end() && it->label == label) ? it->entry : -1;
    }

private:
    struct Pair {
        std::int32_t label, entry;
    };
    Scratch<Pair> pairs_;
    Scratch<std::int32_t> dense_;
};

template <class Labels>
std::int32_t mergeClusterIntoImpl(std::uint8_t refY, std::uint8_t refCb, std::uint8_t refCr, ColourCluster* similar,
                                  const ColourCluster* clusters, std::int32_t count, std::int32_t k1, Labels& labels,
                                  ColourCluster* pool, std::int32_t* poolSize) {
    std::uint8_t refR, refG, refB;
    yCbCrToRgb8(refY, refCb, refCr, &refR, &refG, &refB);
    Scratch<ColourCluster> candidates;
    for (std::int32_t i = 0; i < count; ++i) {
        if (clusters[i].label == similar[0].label) continue;
        if (isSimilarCluster(clusters[i], refY, refCb, refCr, refR, refG, refB))
            candidates.push_back(clusters[i]);
        else
            pool[(*poolSize)++] = clusters[i];
    }
    if (k1 <= 1) return 1;
    std::stable_sort(candidates.begin(), candidates.end(), byPopulation);
    const std::int64_t keep = static_cast<std::int64_t>(k1) - 1;
    const std::int64_t c = static_cast<std::int64_t>(candidates.size());
    if (c > keep) {
        // The surplus, smallest first, joins its nearest kept or larger candidate of the same kind.
        for (std::int64_t qi = c - 1; qi >= keep; --qi) {
            const ColourCluster& q = candidates[static_cast<std::size_t>(qi)];
            const int u = distance(q, candidates[0]);
            std::int64_t target = 0;
            if (!(u < 3 && q.chromatic == candidates[0].chromatic)) {
                int best = u;
                for (std::int64_t idx = 1; idx < qi; ++idx) {
                    const ColourCluster& other = candidates[static_cast<std::size_t>(idx)];
                    if (other.chromatic != q.chromatic) continue;
                    const int d = distance(q, other);
                    if (d < best) {
                        best = d;
                        target = idx;
                        if (d < 3) break;
                    }
                }
            }
            ColourCluster& into = candidates[static_cast<std::size_t>(target)];
            mergeWeighted(into, q);
            labels.relabel(q.label, into.label);
        }
        for (std::int64_t i = 0; i < keep; ++i) similar[1 + i] = candidates[static_cast<std::size_t>(i)];
        return k1;
    }
    if (c == 0) return 1;  // entries 1.. stay unfilled
    for (std::int64_t i = 0; i < keep; ++i) similar[1 + i] = candidates[static_cast<std::size_t>(std::min(i, c - 1))];
    return k1;
}

struct EntryStats {
    std::int64_t count = 0;
    double centreSum = 0.0;
    std::ptrdiff_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    std::ptrdiff_t targetX = 0, targetY = 0;
    std::ptrdiff_t bestDistance = -1, cx = 0, cy = 0;
    double spreadSum = 0.0;
};

template <class Labels>
std::int32_t selectDominantClustersImpl(ColourCluster* pool, std::int32_t m, ColourCluster* out, std::int32_t k2,
                                        Labels& labels, std::ptrdiff_t width, std::ptrdiff_t height, std::int32_t s) {
    if (k2 <= 0) return 0;
    std::stable_sort(pool, pool + m, byPopulation);
    if (k2 >= m) {
        if (m <= 0) return 0;  // nothing to fill from
        for (std::int32_t i = 0; i < k2; ++i) out[i] = pool[std::min(i, m - 1)];
        return k2;
    }
    auto live = [&](std::int32_t i) { return pool[i].population > 0; };
    for (bool merged = true; merged;) {
        merged = false;
        for (std::int32_t i = 0; i < m; ++i) {
            std::int32_t j = i;
            while (j < m && !live(j)) ++j;
            if (j == m) break;
            for (std::int32_t e = 0; e < m; ++e) {
                if (e == j || !live(e) || distance(pool[e], pool[j]) >= s) continue;
                mergeWeighted(pool[j], pool[e]);
                labels.relabel(pool[e].label, pool[j].label);
                pool[e].population = 0;
                merged = true;
            }
        }
    }
    std::stable_sort(pool, pool + m, byPopulation);
    const std::int32_t p = pool[k2 - 1].population;
    std::int32_t liveCount = 0;
    while (liveCount < m && live(liveCount)) ++liveCount;

    // Position scores need each entry's pixels: one pass for the centre distance and bounding
    // box, one for the pixel nearest the box point, one for the spread around that pixel.
    Scratch<EntryStats> stats(static_cast<std::size_t>(liveCount));
    LabelIndex index;
    for (std::int32_t i = 0; i < liveCount; ++i)
        if (!(p - pool[i].population > 100)) index.add(pool[i].label, i);
    index.build();
    const std::ptrdiff_t halfW = width / 2, halfH = height / 2;
    if (labels.present()) {
        for (std::ptrdiff_t y = 0, k = 0; y < height; ++y)
            for (std::ptrdiff_t x = 0; x < width; ++x, ++k) {
                const std::int32_t e = index.find(labels.at(k));
                if (e < 0) continue;
                EntryStats& st = stats[static_cast<std::size_t>(e)];
                if (st.count == 0) {
                    st.x0 = st.x1 = x;
                    st.y0 = st.y1 = y;
                }
                ++st.count;
                st.centreSum += static_cast<double>(std::abs(x - halfW) + std::abs(y - halfH));
                st.x0 = std::min(st.x0, x);
                st.x1 = std::max(st.x1, x);
                st.y0 = std::min(st.y0, y);
                st.y1 = std::max(st.y1, y);
            }
        for (auto& st : stats) {
            // The point is the box's half extent, as the score has always used, not its centre.
            st.targetX = (st.x1 - st.x0) / 2;
            st.targetY = (st.y1 - st.y0) / 2;
            st.cx = halfW;
            st.cy = halfH;
        }
        for (std::ptrdiff_t y = 0, k = 0; y < height; ++y)
            for (std::ptrdiff_t x = 0; x < width; ++x, ++k) {
                const std::int32_t e = index.find(labels.at(k));
                if (e < 0) continue;
                EntryStats& st = stats[static_cast<std::size_t>(e)];
                const std::ptrdiff_t d = std::abs(x - st.targetX) + std::abs(y - st.targetY);
                if (st.bestDistance < 0 || d < st.bestDistance) {
                    st.bestDistance = d;
                    st.cx = x;
                    st.cy = y;
                }
            }
        for (std::ptrdiff_t y = 0, k = 0; y < height; ++y)
            for (std::ptrdiff_t x = 0; x < width; ++x, ++k) {
                const std::int32_t e = index.find(labels.at(k));
                if (e < 0) continue;
                EntryStats& st = stats[static_cast<std::size_t>(e)];
                st.spreadSum += static_cast<double>(std::abs(x - st.cx) + std::abs(y - st.cy));
            }
    }
    for (std::int32_t i = 0; i < liveCount; ++i) {
        ColourCluster& c = pool[i];
        const std::int32_t g = c.population;
        if (p - g > 100) {
            c.sortKey = 1000000;
            continue;
        }
        const EntryStats& st = stats[static_cast<std::size_t>(i)];
        const double t = st.count > 0 ? st.centreSum / static_cast<double>(st.count) : 0.0;
        const double u = t <= 5.0 ? 1000000.0 : t;
        const double f = st.count > 0 ? st.spreadSum / static_cast<double>(st.count) : 0.0;
        const std::int64_t colourfulness = std::abs(c.cr - c.cb) + std::abs(c.cb - 127) + std::abs(c.cr - 127);
        const std::int64_t quarter = width / 4;
        const double key = 0.8 * u + 0.5 * f - static_cast<double>((width / 200) * colourfulness) -
                           (quarter != 0 ? static_cast<double>(g / quarter) : 0.0);
        c.sortKey = static_cast<std::int32_t>(std::clamp(key, -2147483648.0, 2147483647.0));
    }
    std::stable_sort(pool, pool + liveCount, byKey);
    const std::int32_t filled = std::min(k2, liveCount);
    for (std::int32_t i = 0; i < filled; ++i) out[i] = pool[i];
    return filled;
}

DominantColour toDominantColour(const ColourCluster& c) {
    DominantColour d{};
    d.label = c.label;
    return d;
}

}  // namespace

// ----- conversions and distances -----

int clampToByte(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

namespace {

// The JFIF forward transform before it is clamped to a byte.
struct YCbCr {
    int y, cb, cr;
};
inline YCbCr yCbCrOf(int r, int g, int b) {
    return YCbCr{(19595 * r + 38470 * g + 7471 * b) >> 16, ((32768 * b - 11059 * r - 21709 * g) >> 16) + 128,
                 ((32768 * r - 27439 * g - 5329 * b) >> 16) + 128};
}

}  // namespace

void rgbToYCbCr8(int r, int g, int b, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr) {
    const YCbCr c = yCbCrOf(r, g, b);
    if (y) *y = static_cast<std::uint8_t>(clampToByte(c.y));
    if (cb) *cb = static_cast<std::uint8_t>(clampToByte(c.cb));
    if (cr) *cr = static_cast<std::uint8_t>(clampToByte(c.cr));
}

void yCbCrToRgb8(int y, int cb, int cr, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) {
    const int rr = (65536 * y + 91881 * cr - 11760768) >> 16;
    const int gg = (65536 * y - 22554 * cb - 46802 * cr + 8877568) >> 16;
    const int bb = (65536 * y + 116130 * cb - 14864640) >> 16;
    if (r) *r = static_cast<std::uint8_t>(clampToByte(rr));
    if (g) *g = static_cast<std::uint8_t>(clampToByte(gg));
    if (b) *b = static_cast<std::uint8_t>(clampToByte(bb));
}

void rgbToYCbCrPlanar8(const std::uint8_t* image, std::uint8_t* y, std::uint8_t* cb, std::uint8_t* cr,
                       std::ptrdiff_t byteLength) {
    if (!image || !y || !cb || !cr) return;
    for (std::ptrdiff_t k = 0; k < byteLength / 3; ++k) {
        // No result leaves 0..255 for byte inputs, so no clamp.
        const YCbCr c = yCbCrOf(image[k * 3 + 2], image[k * 3 + 1], image[k * 3]);
        y[k] = static_cast<std::uint8_t>(c.y);
        cb[k] = static_cast<std::uint8_t>(c.cb);
        cr[k] = static_cast<std::uint8_t>(c.cr);
    }
}

int chromaDistance8(const std::uint8_t* p, const std::uint8_t* q) {
    return std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]);
}

int yCbCrDistance8(const std::uint8_t* p, const std::uint8_t* q) {
    return std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]);
}

int compareClustersByPopulation(const void* a, const void* b) {
    const auto pa = static_cast<const ColourCluster*>(a)->population;
    const auto pb = static_cast<const ColourCluster*>(b)->population;
    return (pb > pa) - (pb < pa);
}

int compareClustersByKey(const void* a, const void* b) {
    const auto ka = static_cast<const ColourCluster*>(a)->sortKey;
    const auto kb = static_cast<const ColourCluster*>(b)->sortKey;
    return (ka > kb) - (ka < kb);
}

int compareBytesDescending(const void* a, const void* b) {
    const std::uint8_t x = *static_cast<const std::uint8_t*>(a), y = *static_cast<const std::uint8_t*>(b);
    return x > y ? -1 : x < y ? 1 : 0;
}

// ----- clustering steps -----

std::int32_t mergeNearbyClusters(ColourCluster* out, const ColourCluster* clusters, std::int32_t n,
                                 std::int32_t mergeDistance, std::int32_t lumaLimit) {
    if (!out || !clusters || n < 1) return 0;
    std::int32_t m = 1;
    out[0] = clusters[0];
    for (std::int32_t j = 1; j < n; ++j) {
        if (clusters[j].population <= 29) break;
        std::int32_t nearest = 0;
        int best = distance(out[0], clusters[j]);
        for (std::int32_t e = 1; e < m; ++e) {
            const int d = distance(out[e], clusters[j]);
            if (d < best) {
                best = d;
                nearest = e;
            }
        }
        if (best < mergeDistance)
            mergeWeighted(out[nearest], clusters[j]);
        else
            out[m++] = clusters[j];
    }
    try {
        Scratch<std::uint8_t> removed(static_cast<std::size_t>(m), 0);
        for (std::int32_t g = 0; g < m;) {
            bool any = false;
            for (std::int32_t e = 0; e < m; ++e) {
                if (e == g || removed[e]) continue;
                if (chromaDistance8(triple(out[g]), triple(out[e])) < mergeDistance &&
                    std::abs(out[g].y - out[e].y) < lumaLimit) {
                    mergeWeighted(out[g], out[e]);
                    removed[e] = 1;
                    any = true;
                }
            }
            if (!any) {
                ++g;
                continue;
            }
            std::int32_t kept = 0;
            for (std::int32_t e = 0; e < m; ++e)
                if (!removed[e]) out[kept++] = out[e];
            m = kept;
            std::fill(removed.begin(), removed.end(), 0);
            g = 0;
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    std::stable_sort(out, out + m, byPopulation);
    for (std::int32_t e = 0; e < m; ++e)
        if (out[e].chromatic) {
            out[0] = out[e];
            break;
        }
    return m;
}

bool isSimilarCluster(const ColourCluster& cluster, std::uint8_t refY, std::uint8_t refCb, std::uint8_t refCr,
                      std::uint8_t refR, std::uint8_t refG, std::uint8_t refB) {
    (void)refY;
    if (!cluster.chromatic) return false;
    if (std::abs(cluster.cb - refCb) < 20 && std::abs(cluster.cr - refCr) < 20) return true;
    std::uint8_t r, g, b;
    yCbCrToRgb8(cluster.y, cluster.cb, cluster.cr, &r, &g, &b);
    auto dominant = [](int cr, int cg, int cb) {
        if (cr > cg + 20 && cr > cb + 20) return 0;
        if (cg > cr + 20 && cg > cb + 20) return 1;
        if (cb > cr + 20 && cb > cg + 20) return 2;
        return -1;
    };
    const int mine = dominant(r, g, b);
    return mine >= 0 && mine == dominant(refR, refG, refB);
}

std::int32_t mergeClusterInto(std::uint8_t refY, std::uint8_t refCb, std::uint8_t refCr, ColourCluster* similar,
                              const ColourCluster* clusters, std::int32_t count, std::int32_t k1, std::int32_t* labels,
                              ColourCluster* pool, std::int32_t* poolSize, std::ptrdiff_t width,
                              std::ptrdiff_t height) {
    if (!similar || !pool || !poolSize || k1 < 1 || count < 0 || (count > 0 && !clusters)) return -1;
    try {
        DirectLabels direct(labels, sizesUsable(width, height) ? width * height : 0);
        return mergeClusterIntoImpl(refY, refCb, refCr, similar, clusters, count, k1, direct, pool, poolSize);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

std::int32_t selectDominantClusters(ColourCluster* pool, std::int32_t poolSize, ColourCluster* out,
                                    const ColourCluster* clusters, std::int32_t k2, std::int32_t* labels,
                                    std::ptrdiff_t width, std::ptrdiff_t height, std::int32_t selectionDistance) {
    (void)clusters;
    if (k2 <= 0) return 0;
    if (!out || poolSize < 0 || (poolSize > 0 && !pool)) return -1;
    try {
        const bool usable = sizesUsable(width, height);
        DirectLabels direct(labels, usable ? width * height : 0);
        return selectDominantClustersImpl(pool, poolSize, out, k2, direct, usable ? width : 0, usable ? height : 0,
                                          selectionDistance);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

// ----- the segmentation -----

int segmentDominantColours(const std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height,
                           std::uint8_t* outputImage, std::int32_t* labels, const std::uint8_t* fixedColour,
                           DominantColour* similar, DominantColour* contrast, std::int32_t k1, std::int32_t k2,
                           std::int32_t mergeDistance, std::int32_t levels, std::int32_t selectionDistance,
                           std::int32_t* filled1, std::int32_t* filled2) {
    if (k2 < 0) k2 = 0;
    if (!image || !similar || k1 < 1 || levels == 8 || (k2 > 0 && !contrast) || !sizesUsable(width, height))
        return -1;
    if (levels < 1 || levels > 8) levels = 1;
    const std::ptrdiff_t n = width * height;
    try {
        Scratch<std::uint8_t> planes(static_cast<std::size_t>(n) * 3);
        std::uint8_t* yPlane = planes.data();
        std::uint8_t* cbPlane = yPlane + n;
        std::uint8_t* crPlane = cbPlane + n;
        rgbToYCbCrPlanar8(image, yPlane, cbPlane, crPlane, n * 3);

        Scratch<std::int32_t> ownLabels;
        if (!labels) {
            ownLabels.resize(static_cast<std::size_t>(n));
            labels = ownLabels.data();
        }

        // Direct-indexed tables: {pixel count, label} per grey level and per quantised colour.
        struct Entry {
            std::int32_t count, label;
        };
        const int shift = 8 - levels;
        const int round = 1 << (7 - levels);
        Scratch<Entry> chroma(static_cast<std::size_t>((1 << levels) + 1) << 16, Entry{0, 0});
        Entry grey[256] = {};
        std::int32_t nextGrey = kFirstGreyLabel, nextChroma = kFirstChromaLabel;
        for (std::ptrdiff_t k = 0; k < n; ++k) {
            const int y = yPlane[k], cb = cbPlane[k], cr = crPlane[k];
            Entry* e;
            if (y >= 249) {
                e = &grey[255];
                e->label = 2;
            } else if (y <= 6) {
                e = &grey[0];
                e->label = 1;
            } else if (std::abs(cb - 127) <= 2 && std::abs(cr - 127) <= 2) {
                e = &grey[y];
                if (e->count == 0) e->label = nextGrey++;
            } else {
                const int yq = (y + round) >> shift;
                e = &chroma[(static_cast<std::size_t>(yq) << 16) | (static_cast<std::size_t>(cb) << 8) |
                            static_cast<std::size_t>(cr)];
                if (e->count == 0) e->label = nextChroma++;
            }
            ++e->count;
            labels[k] = e->label;
        }

        Scratch<ColourCluster> clusters;
        for (std::size_t key = 0; key < chroma.size(); ++key) {
            if (chroma[key].count == 0) continue;
            ColourCluster c{};
            // The top luma level wraps to 0 in the byte, as the clusters have always been keyed.
            c.y = static_cast<std::uint8_t>((key >> 16) << shift);
            c.cb = static_cast<std::uint8_t>((key >> 8) & 255);
            c.cr = static_cast<std::uint8_t>(key & 255);
            c.population = chroma[key].count;
            c.label = chroma[key].label;
            c.chromatic = 1;
            clusters.push_back(c);
        }
        for (int index = 0; index < 256; ++index) {
            if (grey[index].count == 0) continue;
            ColourCluster c{};
            c.y = static_cast<std::uint8_t>((index == 0 || index == 255) ? index : index - 3);
            c.cb = c.cr = 127;
            c.population = grey[index].count;
            c.label = grey[index].label;
            clusters.push_back(c);
        }
        std::stable_sort(clusters.begin(), clusters.end(), byPopulation);
        const auto count = static_cast<std::int32_t>(clusters.size());

        ColourCluster dominant{};
        if (fixedColour) {
            rgbToYCbCr8(fixedColour[0], fixedColour[1], fixedColour[2], &dominant.y, &dominant.cb, &dominant.cr);
        } else {
            Scratch<ColourCluster> merged(clusters.size());
            if (mergeNearbyClusters(merged.data(), clusters.data(), count, mergeDistance, 256 / (8 - levels)) < 1)
                throw std::bad_alloc();
            dominant = merged[0];
            if (k1 == 1 && k2 == 0) {
                yCbCrToRgb8(dominant.y, dominant.cb, dominant.cr, &similar[0].r, &similar[0].g, &similar[0].b);
                if (filled1) *filled1 = 1;
                if (filled2) *filled2 = 0;
                return 1;
            }
        }

        // The reference is the first cluster nearer to the dominant colour than the largest one.
        std::int32_t reference = 0;
        const int toLargest = distance(clusters[0], dominant);
        for (std::int32_t i = 1; i < count; ++i)
            if (distance(clusters[i], dominant) < toLargest) {
                reference = i;
                break;
            }

        MappedLabels mapped(labels, nextChroma);
        std::int32_t absorbed = 0;
        ColourCluster& ref = clusters[static_cast<std::size_t>(reference)];
        for (std::int32_t j = 0; j < count; ++j) {
            ColourCluster& other = clusters[static_cast<std::size_t>(j)];
            if (distance(other, ref) >= mergeDistance) continue;
            // Meeting itself the reference takes population -1; clusters absorbed later add to it.
            mergeWeighted(ref, other);
            other.population = -1;
            mapped.relabel(other.label, ref.label);
            ++absorbed;
        }
        Scratch<ColourCluster> similarList(static_cast<std::size_t>(k1));
        Scratch<ColourCluster> contrastList(static_cast<std::size_t>(k2));
        similarList[0] = ref;

        std::stable_sort(clusters.begin(), clusters.end(), byPopulation);
        const std::int32_t live = count - absorbed;
        Scratch<ColourCluster> pool(static_cast<std::size_t>(std::max(live, 1)));
        std::int32_t poolSize = 0;
        const std::int32_t similarFilled = mergeClusterIntoImpl(dominant.y, dominant.cb, dominant.cr, similarList.data(),
                                                                clusters.data(), live, k1, mapped, pool.data(), &poolSize);
        std::stable_sort(similarList.begin(), similarList.begin() + similarFilled, byPopulation);
        std::int32_t contrastFilled = 0;
        if (k2 > 0)
            contrastFilled = selectDominantClustersImpl(pool.data(), poolSize, contrastList.data(), k2, mapped, width,
                                                        height, selectionDistance);

        // Colours and counts come from the pixels that finally carry each entry's label.
        struct Tally {
            std::int64_t count = 0;
            std::uint64_t sum[3] = {0, 0, 0};
        };
        Scratch<Tally> tallies(static_cast<std::size_t>(nextChroma));
        for (std::ptrdiff_t k = 0; k < n; ++k) {
            Tally& t = tallies[static_cast<std::size_t>(mapped.at(k))];
            ++t.count;
            t.sum[0] += image[k * 3 + 2];
            t.sum[1] += image[k * 3 + 1];
            t.sum[2] += image[k * 3];
        }
        auto output = [&](const ColourCluster& c) {
            DominantColour d = toDominantColour(c);
            const Tally& t = tallies[static_cast<std::size_t>(c.label)];
            if (t.count > 0) {
                d.r = static_cast<std::uint8_t>(t.sum[0] / static_cast<std::uint64_t>(t.count));
                d.g = static_cast<std::uint8_t>(t.sum[1] / static_cast<std::uint64_t>(t.count));
                d.b = static_cast<std::uint8_t>(t.sum[2] / static_cast<std::uint64_t>(t.count));
            }
            d.count = saturateToInt32(t.count);
            return d;
        };
        for (std::int32_t i = 0; i < similarFilled; ++i) similar[i] = output(similarList[static_cast<std::size_t>(i)]);
        for (std::int32_t i = 0; i < contrastFilled; ++i)
            contrast[i] = output(contrastList[static_cast<std::size_t>(i)]);

        if (outputImage) {
            const std::int32_t keepLabel = similarList[0].label;
            for (std::ptrdiff_t k = 0; k < n; ++k) {
                const bool keep = mapped.at(k) == keepLabel;
                for (int c = 0; c < 3; ++c) outputImage[k * 3 + c] = keep ? image[k * 3 + c] : 255;
            }
        }
        for (std::ptrdiff_t k = 0; k < n; ++k) labels[k] = mapped.at(k);
        if (filled1) *filled1 = similarFilled;
        if (filled2) *filled2 = contrastFilled;
        return 1;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

namespace {

// Shared by the 16-bit entry points: channels read through `channel(pixel, c)` for c = R, G, B.
template <class Channel>
int findDominantColoursFrom(std::ptrdiff_t width, std::ptrdiff_t height, std::int32_t k1, std::int32_t k2,
                            std::uint16_t* out1, std::uint16_t* out2, std::int32_t* filled1, std::int32_t* filled2,
                            Channel channel) {
    const std::ptrdiff_t n = width * height;
    try {
        bool high = false;
        for (std::ptrdiff_t k = 0; k < n && !high; ++k)
            high = channel(k, 0) > 255 || channel(k, 1) > 255 || channel(k, 2) > 255;
        const int shift = high ? 8 : 0;
        Scratch<std::uint8_t> bytes(static_cast<std::size_t>(n) * 3);
        for (std::ptrdiff_t k = 0; k < n; ++k) {
            bytes[k * 3] = static_cast<std::uint8_t>(channel(k, 2) >> shift);
            bytes[k * 3 + 1] = static_cast<std::uint8_t>(channel(k, 1) >> shift);
            bytes[k * 3 + 2] = static_cast<std::uint8_t>(channel(k, 0) >> shift);
        }
        Scratch<DominantColour> similar(static_cast<std::size_t>(k1)), contrast(static_cast<std::size_t>(k2));
        std::int32_t f1 = 0, f2 = 0;
        if (segmentDominantColours(bytes.data(), width, height, nullptr, nullptr, nullptr, similar.data(),
                                   contrast.data(), k1, k2, 40, 3, 10, &f1, &f2) != 1)
            return -1;
        auto write = [shift](std::uint16_t* out, const DominantColour& c) {
            out[0] = static_cast<std::uint16_t>(c.r << shift);
            out[1] = static_cast<std::uint16_t>(c.g << shift);
            out[2] = static_cast<std::uint16_t>(c.b << shift);
            out[3] = 0;
        };
        for (std::int32_t i = 0; i < f1; ++i) write(out1 + i * 4, similar[static_cast<std::size_t>(i)]);
        for (std::int32_t i = 0; i < f2; ++i) write(out2 + i * 4, contrast[static_cast<std::size_t>(i)]);
        if (filled1) *filled1 = f1;
        if (filled2) *filled2 = f2;
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

}  // namespace

int findDominantColours16(const std::uint16_t* pixels, std::ptrdiff_t width, std::ptrdiff_t height, std::int32_t k1,
                          std::int32_t k2, std::uint16_t* out1, std::uint16_t* out2, std::int32_t* filled1,
                          std::int32_t* filled2) {
    if (k2 < 1) k2 = 0;
    // k1 < 1 is refused even with contrast colours asked for: the first similar entry is always
    // written.
    if (k1 < 1 || !pixels || !out1 || (k2 > 0 && !out2) || !sizesUsable(width, height)) return -1;
    return findDominantColoursFrom(width, height, k1, k2, out1, out2, filled1, filled2,
                                   [pixels](std::ptrdiff_t k, int c) { return static_cast<int>(pixels[k * 4 + c]); });
}

int findDominantColours48(const std::uint16_t* pixels, const void* extra, std::ptrdiff_t width,
                          std::ptrdiff_t height, std::int32_t k1, std::int32_t k2, std::uint16_t* out1,
                          std::uint16_t* out2, std::int32_t* filled1, std::int32_t* filled2) {
    if (k2 < 1) k2 = 0;
    if (k1 < 1 || !extra || !pixels || !out1 || (k2 > 0 && !out2) || !sizesUsable(width, height)) return -1;
    return findDominantColoursFrom(width, height, k1, k2, out1, out2, filled1, filled2,
                                   [pixels](std::ptrdiff_t k, int c) { return static_cast<int>(pixels[k * 3 + c]); });
}

// ----- clean-up filters -----

bool hasAssignedNeighbour(const std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height, std::ptrdiff_t x,
                          std::ptrdiff_t y) {
    if (!image) return false;
    for (std::ptrdiff_t dy = -1; dy <= 1; ++dy)
        for (std::ptrdiff_t dx = -1; dx <= 1; ++dx) {
            if (dx == 0 && dy == 0) continue;
            const std::ptrdiff_t nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
            if (image[(ny * width + nx) * 3] != 255) return true;
        }
    return false;
}

void fillIsolatedPixels(const std::uint8_t* source, std::uint8_t* segmented, std::ptrdiff_t width,
                        std::ptrdiff_t height, std::int32_t n, const DominantColour* colours, std::int32_t listSize) {
    if (!source || !segmented || !colours || n < 0 || n >= listSize || !sizesUsable(width, height)) return;
    if (width < 3 || height < 3) return;
    const DominantColour colour = colours[n];
    auto unassigned = [&](std::ptrdiff_t x, std::ptrdiff_t y) { return segmented[(y * width + x) * 3] == 255; };
    auto paint = [&](std::ptrdiff_t k) {
        segmented[k * 3] = colour.b;
        segmented[k * 3 + 1] = colour.g;
        segmented[k * 3 + 2] = colour.r;
    };
    try {
        // Per pixel: bit 0 flagged as inside a large unassigned area, bit 1 to be painted.  Each
        // step decides from the image as it was when the step began, so no fill leaks along the
        // scan direction.
        Scratch<std::uint8_t> marks(static_cast<std::size_t>(width * height), 0);
        auto fillDense = [&] {
            for (std::ptrdiff_t y = 1; y < height - 1; ++y)
                for (std::ptrdiff_t x = 1; x < width - 1; ++x) {
                    if (!unassigned(x, y)) continue;
                    int assigned = 0;
                    for (std::ptrdiff_t dy = -1; dy <= 1; ++dy)
                        for (std::ptrdiff_t dx = -1; dx <= 1; ++dx)
                            if ((dx || dy) && !unassigned(x + dx, y + dy)) ++assigned;
                    if (assigned >= 7) marks[y * width + x] |= 2;
                }
            for (std::ptrdiff_t k = 0; k < width * height; ++k)
                if (marks[k] & 2) {
                    paint(k);
                    marks[k] &= ~2;
                }
        };
        auto windowUnassigned = [&](std::ptrdiff_t x, std::ptrdiff_t y, int reach) {
            for (std::ptrdiff_t dy = -reach; dy <= reach; ++dy)
                for (std::ptrdiff_t dx = -reach; dx <= reach; ++dx)
                    if (!unassigned(x + dx, y + dy)) return false;
            return true;
        };

        fillDense();
        for (std::ptrdiff_t y = 2; y < height - 2; ++y)
            for (std::ptrdiff_t x = 2; x < width - 2; ++x)
                if (windowUnassigned(x, y, 2)) marks[y * width + x] |= 1;
        for (std::ptrdiff_t y = 1; y < height - 1; ++y)
            for (std::ptrdiff_t x = 1; x < width - 1; ++x) {
                if ((marks[y * width + x] & 1) || !windowUnassigned(x, y, 1)) continue;
                int flagged = 0;
                for (std::ptrdiff_t dy = -1; dy <= 1; ++dy)
                    for (std::ptrdiff_t dx = -1; dx <= 1; ++dx)
                        if ((dx || dy) && (marks[(y + dy) * width + x + dx] & 1)) ++flagged;
                if (flagged > 3) marks[y * width + x] |= 1;
            }

        std::int32_t largest = 0;
        for (std::int32_t i = 1; i < listSize; ++i)
            if (colours[i].count > colours[largest].count) largest = i;
        if (n == largest) {
            const int cr = colour.r, cg = colour.g, cb = colour.b;
            const bool blue = cg + cr < cb + 50;
            const bool red = !blue && cg < cr && cb < cr;
            const bool green = !blue && !red && cb < cg && cr < cg;
            for (std::ptrdiff_t y = 0; y < height; ++y)
                for (std::ptrdiff_t x = 0; x < width; ++x) {
                    const std::ptrdiff_t k = y * width + x;
                    if (!unassigned(x, y) || (marks[k] & 1) || !hasAssignedNeighbour(segmented, width, height, x, y))
                        continue;
                    const int b = source[k * 3], g = source[k * 3 + 1], r = source[k * 3 + 2];
                    bool passes = false;
                    if (blue)
                        passes = r + g < b + 50 && std::abs(r - cr) + std::abs(g - cg) + std::abs(b - cb) < 120;
                    else if (red)
                        passes = r > g && r > b;
                    else if (green)
                        passes = g > b && g > r;
                    if (passes) marks[k] |= 2;
                }
            for (std::ptrdiff_t k = 0; k < width * height; ++k)
                if (marks[k] & 2) {
                    paint(k);
                    marks[k] &= ~2;
                }
        }
        fillDense();
    } catch (const std::bad_alloc&) {
        // Nothing painted beyond the steps that completed; the image stays a valid segmentation.
    }
}

void medianFilterBytes(std::uint8_t* image, std::ptrdiff_t width, std::ptrdiff_t height, std::int32_t windowWidth,
                       std::int32_t windowHeight) {
    if (!image || windowWidth < 1 || windowHeight < 1 || !sizesUsable(width, height)) return;
    const std::ptrdiff_t rx = windowWidth / 2, ry = windowHeight / 2;
    try {
        Scratch<std::uint8_t> window(static_cast<std::size_t>((2 * rx + 1) * (2 * ry + 1)));
        const std::size_t middle = window.size() / 2;
        for (std::ptrdiff_t y = ry; y < height - ry; ++y)
            for (std::ptrdiff_t x = rx; x < width - rx; ++x)
                for (int c = 0; c < 3; ++c) {
                    std::size_t i = 0;
                    for (std::ptrdiff_t dy = -ry; dy <= ry; ++dy)
                        for (std::ptrdiff_t dx = -rx; dx <= rx; ++dx)
                            window[i++] = image[((y + dy) * width + x + dx) * 3 + c];
                    // The middle element of the descending order; any order gives the same value.
                    std::nth_element(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(middle), window.end(),
                                     [](std::uint8_t a, std::uint8_t b) { return a > b; });
                    image[(y * width + x) * 3 + c] = window[middle];
                }
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace vantrelo
