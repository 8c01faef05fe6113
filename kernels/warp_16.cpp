// The warp variants that draw into 16-bit destinations.
#include "kernels/warp_variants.h"

namespace vantrelo {

using namespace warp_detail;

void warpLayerPremultiplied16Band(void* job, std::uint64_t index, std::uint64_t count,
                                  std::uint64_t key) {
    warpBand<LayerOver<std::uint16_t, true>>(job, index, count, key);
}
void warpLayerPremultiplied16(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                              const Matrix3& matrix) {
    launchWarp<LayerOver<std::uint16_t, true>>("warpLayerPremultiplied16", host, destination,
                                               source, matrix, 16, 8);
}

void warpLayerStraight16Band(void* job, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key) {
    warpBand<LayerOver<std::uint16_t, false>>(job, index, count, key);
}
void warpLayerStraight16(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                         const Matrix3& matrix) {
    launchWarp<LayerOver<std::uint16_t, false>>("warpLayerStraight16", host, destination, source,
                                                matrix, 16, 8);
}

void warpForegroundRgba16Band(void* job, std::uint64_t index, std::uint64_t count,
                              std::uint64_t key) {
    warpBand<ForegroundWrite<std::uint16_t, 4>>(job, index, count, key);
}
void warpForegroundRgba16(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                          const Matrix3& matrix) {
    launchWarp<ForegroundWrite<std::uint16_t, 4>>("warpForegroundRgba16", host, destination, source,
                                                  matrix, 16, 16);
}

void warpForegroundRgb16Band(void* job, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key) {
    warpBand<ForegroundWrite<std::uint16_t, 3>>(job, index, count, key);
}
void warpForegroundRgb16(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                         const Matrix3& matrix) {
    launchWarp<ForegroundWrite<std::uint16_t, 3>>("warpForegroundRgb16", host, destination, source,
                                                  matrix, 16, 16);
}

}  // namespace vantrelo
