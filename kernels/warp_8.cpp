// The warp variants that draw into 8-bit destinations.
#include "kernels/warp_variants.h"

namespace vantrelo {

using namespace warp_detail;

void warpLayerPremultiplied8Band(void* job, std::uint64_t index, std::uint64_t count,
                                 std::uint64_t key) {
    warpBand<LayerOver<std::uint8_t, true>>(job, index, count, key);
}
void warpLayerPremultiplied8(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                             const Matrix3& matrix) {
    launchWarp<LayerOver<std::uint8_t, true>>("warpLayerPremultiplied8", host, destination, source,
                                              matrix, 8, 8);
}

void warpLayerStraight8Band(void* job, std::uint64_t index, std::uint64_t count,
                            std::uint64_t key) {
    warpBand<LayerOver<std::uint8_t, false>>(job, index, count, key);
}
void warpLayerStraight8(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                        const Matrix3& matrix) {
    launchWarp<LayerOver<std::uint8_t, false>>("warpLayerStraight8", host, destination, source,
                                               matrix, 8, 8);
}

void warpForegroundRgba8Band(void* job, std::uint64_t index, std::uint64_t count,
                             std::uint64_t key) {
    warpBand<ForegroundWrite<std::uint8_t, 4>>(job, index, count, key);
}
void warpForegroundRgba8(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                         const Matrix3& matrix) {
    launchWarp<ForegroundWrite<std::uint8_t, 4>>("warpForegroundRgba8", host, destination, source,
                                                 matrix, 8, 8);
}

void warpForegroundRgb8Band(void* job, std::uint64_t index, std::uint64_t count,
                            std::uint64_t key) {
    warpBand<ForegroundWrite<std::uint8_t, 3>>(job, index, count, key);
}
void warpForegroundRgb8(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                        const Matrix3& matrix) {
    launchWarp<ForegroundWrite<std::uint8_t, 3>>("warpForegroundRgb8", host, destination, source,
                                                 matrix, 8, 8);
}

}  // namespace vantrelo
