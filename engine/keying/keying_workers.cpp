#include "engine/keying/keying_workers.h"

#include <algorithm>
#include <memory>

#include "engine/keying/key_float8.h"
#include "engine/keying/key_pixel16.h"

namespace vantrelo {

int keyingBandCount() { return std::clamp<int>(workerThreadCount(), 1, kMostKeyingBands); }

vantproc_VantThread::vantproc_VantThread(int index, int bandCount, const std::uint16_t* X, const std::uint16_t* Y,
                                         const std::uint16_t* S, const std::uint16_t* M, std::uint16_t* O,
                                         std::ptrdiff_t count, const KeyState* state, std::uint32_t flags)
    : VantThread(index, bandCount, count),
      X_(bandOffset8(X)), Y_(bandOffset8(Y)), S_(bandOffset8(S)), M_(bandOffset8(M)), O_(bandOffset8(O)),
      state_(state), flags_(flags) {}

unsigned vantproc_VantThread::run() {
    vantproc(X_, Y_, S_, M_, O_, bandCount(), state_, flags_);
    return 0;
}

super_vantproc_VantThread::super_vantproc_VantThread(int index, int bandCount, const float* X, const float* Y,
                                                     const float* S, const float* M, float* O, std::ptrdiff_t count,
                                                     const KeyState* state, std::uint32_t flags)
    : VantThread(index, bandCount, count),
      X_(bandOffset16(X)), Y_(bandOffset16(Y)), S_(bandOffset16(S)), M_(bandOffset16(M)), O_(bandOffset16(O)),
      state_(state), flags_(flags) {}

unsigned super_vantproc_VantThread::run() {
    super_vantproc(X_, Y_, S_, M_, O_, bandCount(), state_, flags_);
    return 0;
}

vantproc_8_VantThread::vantproc_8_VantThread(int index, int bandCount, const std::uint8_t* X, const std::uint8_t* Y,
                                             const std::uint8_t* S, const std::uint8_t* M, std::uint8_t* O,
                                             std::uint8_t* OA, std::ptrdiff_t count, const KeyState* state,
                                             std::uint32_t flags)
    : VantThread(index, bandCount, count),
      X_(bandOffset3(X)), Y_(bandOffset3(Y)), S_(bandOffset3(S)), M_(bandOffset3(M)), O_(bandOffset3(O)),
      OA_(bandOffset1(OA)), state_(state), flags_(flags) {}

unsigned vantproc_8_VantThread::run() {
    vantproc_8(X_, Y_, S_, M_, O_, OA_, bandCount(), state_, flags_);
    return 0;
}

vantcompositeLoop_VantThread::vantcompositeLoop_VantThread(int index, int bandCount, std::uint16_t* F,
                                                           const std::uint16_t* B, std::ptrdiff_t count)
    : VantThread(index, bandCount, count),
      F_(bandOffset8(F)), B_(bandOffset8(B)) {}

unsigned vantcompositeLoop_VantThread::run() {
    vantcompositeLoop(F_, B_, bandCount());
    return 0;
}

bool runVantprocWorkers(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                        const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                        std::uint32_t flags) {
    return launchWorkers(keyingBandCount(), [&](int i, int n) {
        return std::make_unique<vantproc_VantThread>(i, n, X, Y, S, M, O, count, state, flags);
    });
}

bool runFloatKeyWorkers(const float* X, const float* Y, const float* S, const float* M, float* O,
                        std::ptrdiff_t count, const KeyState* state, std::uint32_t flags) {
    return launchWorkers(keyingBandCount(), [&](int i, int n) {
        return std::make_unique<super_vantproc_VantThread>(i, n, X, Y, S, M, O, count, state, flags);
    });
}

bool runVantproc8Workers(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                         const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                         const KeyState* state, std::uint32_t flags) {
    return launchWorkers(keyingBandCount(), [&](int i, int n) {
        return std::make_unique<vantproc_8_VantThread>(i, n, X, Y, S, M, O, OA, count, state, flags);
    });
}

bool runCompositeLoopWorkers(std::uint16_t* F, const std::uint16_t* B, std::ptrdiff_t count) {
    return launchWorkers(keyingBandCount(),
                         [&](int i, int n) { return std::make_unique<vantcompositeLoop_VantThread>(i, n, F, B, count); });
}

}  // namespace vantrelo
