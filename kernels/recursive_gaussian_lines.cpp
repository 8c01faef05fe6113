#include "kernels/recursive_gaussian_lines.h"

#include "host/system/system_info.h"

namespace vantrelo::gaussian_detail {

namespace {

template <class T, bool Four>
void lineBase(const T* source, T* destination, double* scratch, std::ptrdiff_t length,
              std::ptrdiff_t count, std::ptrdiff_t sourceStride, std::ptrdiff_t destinationStride,
              std::ptrdiff_t first, const RecursiveGaussianFilter& f) {
    filterLine<T, Four>(source, destination, scratch, length, count, sourceStride,
                        destinationStride, first, f);
}

template <class T, bool Four>
__attribute__((target("avx"))) void lineAvx(const T* source, T* destination, double* scratch,
                                            std::ptrdiff_t length, std::ptrdiff_t count,
                                            std::ptrdiff_t sourceStride,
                                            std::ptrdiff_t destinationStride, std::ptrdiff_t first,
                                            const RecursiveGaussianFilter& f) {
    filterLine<T, Four>(source, destination, scratch, length, count, sourceStride,
                        destinationStride, first, f);
}

template <class T, bool TiesEven>
void stripBase(const T* source, T* destination, double* work, std::ptrdiff_t lanes,
               std::ptrdiff_t length, std::ptrdiff_t count, std::ptrdiff_t sourceStride,
               std::ptrdiff_t destinationStride, std::ptrdiff_t first,
               const RecursiveGaussianFilter& f) {
    filterStrip<T, TiesEven>(source, destination, work, lanes, length, count, sourceStride,
                             destinationStride, first, f);
}

template <class T, bool TiesEven>
__attribute__((target("avx"))) void stripAvx(const T* source, T* destination, double* work,
                                             std::ptrdiff_t lanes, std::ptrdiff_t length,
                                             std::ptrdiff_t count, std::ptrdiff_t sourceStride,
                                             std::ptrdiff_t destinationStride, std::ptrdiff_t first,
                                             const RecursiveGaussianFilter& f) {
    filterStrip<T, TiesEven>(source, destination, work, lanes, length, count, sourceStride,
                             destinationStride, first, f);
}

}  // namespace

bool processorHasAvx() {
    static const bool avx = (Mav::Host::System::cpuFeatures() & Mav::Host::System::kCpuAvx) != 0;
    return avx;
}

template <class T, bool Four>
LineKernel<T, Four> lineKernel(bool avx) {
    return avx ? lineAvx<T, Four> : lineBase<T, Four>;
}

template <class T, bool TiesEven>
StripKernel<T, TiesEven> stripKernel(bool avx) {
    return avx ? stripAvx<T, TiesEven> : stripBase<T, TiesEven>;
}

template LineKernel<std::uint8_t, false> lineKernel<std::uint8_t, false>(bool);
template LineKernel<std::uint8_t, true> lineKernel<std::uint8_t, true>(bool);
template LineKernel<std::uint16_t, false> lineKernel<std::uint16_t, false>(bool);
template LineKernel<std::uint16_t, true> lineKernel<std::uint16_t, true>(bool);
template LineKernel<float, false> lineKernel<float, false>(bool);
template LineKernel<float, true> lineKernel<float, true>(bool);
template StripKernel<std::uint8_t, false> stripKernel<std::uint8_t, false>(bool);
template StripKernel<std::uint8_t, true> stripKernel<std::uint8_t, true>(bool);
template StripKernel<std::uint16_t, false> stripKernel<std::uint16_t, false>(bool);
template StripKernel<std::uint16_t, true> stripKernel<std::uint16_t, true>(bool);
template StripKernel<float, false> stripKernel<float, false>(bool);
template StripKernel<float, true> stripKernel<float, true>(bool);

}  // namespace vantrelo::gaussian_detail
