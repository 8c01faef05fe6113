#pragma once
// Band workers of the keying bodies.  Each launcher splits the span into as many bands as the
// engine's worker count (at most 32, at least 1), runs one worker thread per band over disjoint
// parts of the arrays and returns when every band has ended.  A band whose thread cannot start runs
// on the calling thread.  The dispatching callers decide whether a job is large enough for workers
// (at least two workers, and 10 x 10 pixels for images or 100 pixels for spans).
//
// Launchers return false when a band body failed or the workers could not be created; the keying
// bodies themselves report nothing.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"
#include "engine/keying/vant_thread.h"

namespace vantrelo {

// The most bands a launcher splits a span into.
constexpr int kMostKeyingBands = 32;

// The worker count the launchers use: workerThreadCount() limited to 1..kMostKeyingBands.
int keyingBandCount();

// vantproc over 16-bit pixels.
class vantproc_VantThread final : public VantThread {
public:
    vantproc_VantThread(int index, int bandCount, const std::uint16_t* X, const std::uint16_t* Y,
                        const std::uint16_t* S, const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count,
                        const KeyState* state, std::uint32_t flags);
    unsigned run() override;

private:
    const std::uint16_t *X_, *Y_, *S_, *M_;
    std::uint16_t* O_;
    const KeyState* state_;
    std::uint32_t flags_;
};

// super_vantproc over float pixels.
class super_vantproc_VantThread final : public VantThread {
public:
    super_vantproc_VantThread(int index, int bandCount, const float* X, const float* Y, const float* S,
                              const float* M, float* O, std::ptrdiff_t count, const KeyState* state,
                              std::uint32_t flags);
    unsigned run() override;

private:
    const float *X_, *Y_, *S_, *M_;
    float* O_;
    const KeyState* state_;
    std::uint32_t flags_;
};

// vantproc_8 over 8-bit B, G, R pixels and their matte bytes.
class vantproc_8_VantThread final : public VantThread {
public:
    vantproc_8_VantThread(int index, int bandCount, const std::uint8_t* X, const std::uint8_t* Y,
                          const std::uint8_t* S, const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA,
                          std::ptrdiff_t count, const KeyState* state, std::uint32_t flags);
    unsigned run() override;

private:
    const std::uint8_t *X_, *Y_, *S_, *M_;
    std::uint8_t *O_, *OA_;
    const KeyState* state_;
    std::uint32_t flags_;
};

// vantcompositeLoop over 16-bit pixels.
class vantcompositeLoop_VantThread final : public VantThread {
public:
    vantcompositeLoop_VantThread(int index, int bandCount, std::uint16_t* F, const std::uint16_t* B,
                                 std::ptrdiff_t count);
    unsigned run() override;

private:
    std::uint16_t* F_;
    const std::uint16_t* B_;
};

bool runVantprocWorkers(const std::uint16_t* X, const std::uint16_t* Y, const std::uint16_t* S,
                        const std::uint16_t* M, std::uint16_t* O, std::ptrdiff_t count, const KeyState* state,
                        std::uint32_t flags);
bool runFloatKeyWorkers(const float* X, const float* Y, const float* S, const float* M, float* O,
                        std::ptrdiff_t count, const KeyState* state, std::uint32_t flags);
bool runVantproc8Workers(const std::uint8_t* X, const std::uint8_t* Y, const std::uint8_t* S,
                         const std::uint8_t* M, std::uint8_t* O, std::uint8_t* OA, std::ptrdiff_t count,
                         const KeyState* state, std::uint32_t flags);
bool runCompositeLoopWorkers(std::uint16_t* F, const std::uint16_t* B, std::ptrdiff_t count);

}  // namespace vantrelo
