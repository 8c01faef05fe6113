// The warp variants that draw into float destinations.
#include "kernels/warp_variants.h"

namespace vantrelo {

using namespace warp_detail;

void warpLayerPremultipliedFloatBand(void* job, std::uint64_t index, std::uint64_t count,
                                     std::uint64_t key) {
    warpBand<LayerOver<float, true>>(job, index, count, key);
}
void warpLayerPremultipliedFloat(SystemHost& host, ImageBuffer& destination,
                                 const ImageBuffer& source, const Matrix3& matrix) {
    launchWarp<LayerOver<float, true>>("warpLayerPremultipliedFloat", host, destination, source,
                                       matrix, 32, 8);
}

void warpLayerStraightFloatBand(void* job, std::uint64_t index, std::uint64_t count,
                                std::uint64_t key) {
    warpBand<LayerOver<float, false>>(job, index, count, key);
}
void warpLayerStraightFloat(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                            const Matrix3& matrix) {
    launchWarp<LayerOver<float, false>>("warpLayerStraightFloat", host, destination, source, matrix,
                                        32, 8);
}

void warpForegroundRgbaFloatBand(void* job, std::uint64_t index, std::uint64_t count,
                                 std::uint64_t key) {
    warpBand<ForegroundWrite<float, 4>>(job, index, count, key);
}
void warpForegroundRgbaFloat(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                             const Matrix3& matrix) {
    launchWarp<ForegroundWrite<float, 4>>("warpForegroundRgbaFloat", host, destination, source,
                                          matrix, 32, 32);
}

void warpForegroundRgbFloatBand(void* job, std::uint64_t index, std::uint64_t count,
                                std::uint64_t key) {
    warpBand<ForegroundWrite<float, 3>>(job, index, count, key);
}
void warpForegroundRgbFloat(SystemHost& host, ImageBuffer& destination, const ImageBuffer& source,
                            const Matrix3& matrix) {
    launchWarp<ForegroundWrite<float, 3>>("warpForegroundRgbFloat", host, destination, source,
                                          matrix, 32, 32);
}

}  // namespace vantrelo
