#pragma once
// The key record of the engine and the few engine-wide settings.
//
// A KeyState is a flat, caller-owned record: the caller zero-fills it, fills it with initKeyState or
// resetKeyState, shapes it with the sampling tools, compiles it with compileKey before keying and
// releases it with releaseKey afterwards.  Callers copy it whole by assignment and compare records
// byte for byte, so the layout has no hidden padding (see the static_asserts at the end) and no
// owning C++ members: the compiled references below are plain pointers whose ownership is documented
// at each field.

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vantrelo {

struct KeyState;
struct ShapeLayer;
class VantreloBase;

// Flag word bits.  Bits not listed are not used.
enum : std::uint32_t {
    KeyFlagSpillSolid = 0x2,
    KeyFlagGarbageMask = 0x4,
    KeyFlagSpillComplement = 0x10,
    KeyFlagMiddleOnly = 0x80,
    KeyFlagOuterFromMiddle = 0x100,
    KeyFlagUseRT = 0x800,
    KeyFlagUseRTPlus = 0x1000,
    KeyFlagPrefilterSamples = 0x2000,
    KeyFlagGrainFilter = 0x4000,
    KeyFlagGeneratedPolyhedron = 0x8000,
    KeyFlagDirectCallbacks = 0x10000,
    KeyFlagExtShapes = 0x20000,
    KeyFlagObeyShapes = 0x40000,
    KeyFlagSimulatedForeground = 0x80000,
    KeyFlagSimulatedForegroundOutput = 0x100000,
};

constexpr int kVertexCount = 66;
constexpr int kFaceCount = 128;
constexpr int kFaceTableStride = 20;  // floats per face record of the compiled face table

// Span keyers installed by compileKey.  They only read the state: many threads key one compiled
// state at once.  `flags` is the effective flag word of the call (the record's own word, possibly
// with KeyFlagGarbageMask cleared by the caller), so that no keying call has to write the record.
using KeySpan16Fn = void (*)(const std::uint16_t* colour, const std::uint16_t* key,
                             const std::uint16_t* spill, const std::uint16_t* mask, std::uint16_t* out,
                             std::ptrdiff_t count, const KeyState* state, std::uint32_t flags);
using KeySpan8Fn = void (*)(const std::uint8_t* colour, const std::uint8_t* key,
                            const std::uint8_t* spill, const std::uint8_t* mask, std::uint8_t* out,
                            std::uint8_t* outAlpha, std::ptrdiff_t count, const KeyState* state,
                            std::uint32_t flags);

struct KeyState {
    float backdrop[3];                  // R, G, B in 16-bit units
    std::uint32_t flags;
    std::int32_t auxValue1;             // carried through copies, interpolation and the key data file
    std::int32_t auxValue2;
    char label1[256];
    char label2[256];
    std::uint16_t replacementColour[4];  // R, G, B of the solid spill colour; the fourth is carried
    float innerRadii[kVertexCount];
    float middleRadii[kVertexCount];
    float outerRadii[kVertexCount];

    // Compiled part: written by compileKey, read by keying.
    float innerReach[kFaceCount];
    float middleReach[kFaceCount];
    float outerReach[kFaceCount];
    float innerBackdropDot[kFaceCount];
    float middleBackdropDot[kFaceCount];
    float outerBackdropDot[kFaceCount];
    float innerEquations[kFaceCount][4];
    float middleEquations[kFaceCount][4];
    float outerEquations[kFaceCount][4];
    float compiledBackdrop[3];
    float backdropTolerance16;
    std::int32_t backdropTolerance16Int;
    float backdropTolerance8;
    std::int32_t backdropTolerance8Int;
    std::int32_t reserved0;             // keeps the pointers below 8-byte aligned without padding
    KeySpan16Fn keySpan16Callback;
    KeySpan8Fn keySpan8Callback;
    VantreloBase* keyer;                // owned from compileKey to releaseKey
    float* faceTable;                   // 16-byte aligned, kFaceCount x kFaceTableStride; owned likewise

    float correctionSet1[12];  // hue, value, saturation, black R G B, white R G B, gamma R G B
    float correctionSet2[12];
    std::int32_t auxInts[12];
    float thresholds[3];       // threshold keyer: inner, middle, outer
    float hexagonRadii[21];    // hexagon keyer: seven triples inner, middle, outer
    std::int32_t grainLevel;
    float grainAmount;
    ShapeLayer** extShapes;    // null-terminated; storage and layers belong to the state's owner
    ShapeLayer** obeyShapes;
    std::int32_t simGridSize;
    std::int32_t simInnerRadius;
};

// Engine-wide pair through which every large engine buffer is obtained.
struct AllocatorHooks {
    void* (*allocate)(std::size_t size);
    void (*release)(void* block);
};

void initKeyState(KeyState* state);
void resetKeyState(KeyState* state);
void resetAuxInts(KeyState* state);
void resetCorrectionSet1(KeyState* state);
void resetCorrectionSet2(KeyState* state);
void fillRadii(std::int32_t value, std::int32_t which, KeyState* state);
void copyKeyState(KeyState* destination, const KeyState* source);

// Copies both members; a pair with either member missing installs the runtime's malloc and free
// together, so that no block is ever freed by a function that did not allocate it.
void setAllocatorHooks(const AllocatorHooks* hooks);
const AllocatorHooks& allocatorHooks();
void* engineAllocate(std::size_t size);
void engineRelease(void* block);

void setWorkerThreadCount(std::int32_t count);
std::int32_t workerThreadCount();

void clearWords9(std::uint32_t* words);
void copyWords9(std::uint32_t* destination, const std::uint32_t* source);

// Process-wide single-precision 1/sqrt(2), read by the simulated foreground.
extern const float kInvSqrt2;

}  // namespace vantrelo

namespace vantrelo {
// The layout is pinned: whole-record copies and byte comparisons must see every byte as a field.
static_assert(std::is_trivially_copyable_v<KeyState> && std::is_standard_layout_v<KeyState>,
              "callers copy the record by assignment or memcpy and compare it byte for byte");
static_assert(offsetof(KeyState, replacementColour) == 536);
static_assert(offsetof(KeyState, innerReach) == 1336);
static_assert(offsetof(KeyState, compiledBackdrop) == 10552);
static_assert(offsetof(KeyState, keySpan16Callback) == 10584);
static_assert(offsetof(KeyState, correctionSet1) == 10616);
static_assert(offsetof(KeyState, extShapes) == 10864);
static_assert(sizeof(KeyState) == 10888);
}  // namespace vantrelo
