#pragma once
// The three key states of the keyer and the matte settings that go with them.
//
// The key state keys pixels and is changed by every sampling tool.  The edge state follows the tools
// on the inner and middle polyhedra, the body state those on the outer and middle polyhedra; both
// key only in hybrid (two-key) mode.  A setting that concerns all three is written to all three in
// one step: after any setter the three flag words are equal.
//
// Keying only reads the set (see processPixels16), so band workers may key one compiled key state at
// once.  Everything else runs on one thread between renders; no lock guards the set.

#include <cstdint>

#include "engine/effects/crop_insets.h"
#include "engine/keying/key_state.h"
#include "engine/keying/sampling_tools.h"

namespace vantrelo {

struct KeyStateSet {
    static constexpr int kShapeListSize = 100;

    std::uint16_t pickColour[3] = {0, 0, 0};  // colour of the last fine-tune pick; written, never read
    int softenRadius = 0;                     // matte defocus radius in pixels; 0 = none
    float shrinkAmount = 0.0f;                // matte shrink, 0..1
    int blurInward = 0;                       // 1 = push the softened edge inward
    CropInsets keyingInset{0, 0, 0, 0};       // handed to every keying call; all 0 = whole run
    std::uint8_t hybrid = 0;                  // 1 = two-key keying with the edge and body states
    // Empty, null-terminated lists: nothing adds shape layers, they only keep the key state's list
    // pointers from being null.
    ShapeLayer* extShapeLayers[kShapeListSize] = {};
    ShapeLayer* obeyShapeLayers[kShapeListSize] = {};
    int extShapeCount = 0;
    int obeyShapeCount = 0;
    KeyState keyState{};
    KeyState edgeState{};
    KeyState bodyState{};

    // Zero-filled states; call reset() (the adapter's constructor does) before use.
    KeyStateSet() = default;
    // Copies repoint any state's shape-list pointers that referred to the source's lists at their
    // own lists, so a copy never refers into the object it was copied from.
    KeyStateSet(const KeyStateSet& other);
    KeyStateSet& operator=(const KeyStateSet& other);

    // Each state: the engine's defaults, spill complement, direct callbacks, replacement colour
    // 32767 (and 65535 as the fourth value), empty names.  Then hybrid off, soften, shrink, inward
    // and inset 0, empty shape lists with the key state pointing at them.
    void reset();

    // 0 sets spill complement (spill solid unchanged), 1 spill solid only, 2 clears both; any other
    // value changes no bit.  The key state's flag word is then copied to edge and body (always).
    void setSpillMode(int mode);
    // Key state's grain level := level; the grain filter flag set when level != 0, cleared when 0;
    // the flag word copied to edge and body (their grain levels are not changed).
    void setGrainType(int level);
    // Copies the key state's whole flag word into the edge and body states.
    void shareKeyFlags();

    // Keys width x rows packed 16-bit RGBA pixels (background and mask optional, same layout).
    // Without hybrid: the compiled key state.  With hybrid: the two-key merge of the edge and body
    // states with matte radius 20 and shrink 0.5; the merge compiles and reshapes private copies of
    // both states, so the set is never written, but it is a whole-image operation: call it once over
    // the whole area on one thread, not per band.  Throws std::bad_alloc when the engine ran out of
    // memory and Mav::Exception when it could not key; the destination must then not be used.
    void processPixels16(const std::uint16_t* source, std::uint16_t* destination,
                         const std::uint16_t* background, const std::uint16_t* mask, std::ptrdiff_t width,
                         std::ptrdiff_t rows) const;

    // ---- Sampling tools per mode (see VantreloWrapper::applySample) ----
    // Grid operations over row-major RGBA16 samples.  applyCleanBg and applyDetailTool take the
    // inclusive rectangle (x0, y0)..(x1, y1) of a grid that starts at `samples`.
    void applyCleanBg(const std::uint16_t* samples, int x0, int y0, int x1, int y1);      // mode 1
    void applyCleanFg(const std::uint16_t* samples, int columns, int rows);               // mode 2
    void applySpillSponge(const std::uint16_t* samples, int columns, int rows);           // mode 4
    void applyMatteSponge(const std::uint16_t* samples, int columns, int rows);           // mode 5
    void applyMakeTrans(const std::uint16_t* samples, int columns, int rows);             // mode 6
    void applyDetailTool(const std::uint16_t* samples, int x0, int y0, int x1, int y1);   // mode 7
    // Per-colour operations.
    void applyPointSpillMinus(Sample16 colour);     // mode 8
    void applyPointCleanFg(Sample16 colour);        // mode 9
    void applyPointMakeTrans(Sample16 colour);      // mode 10
    void applyPointMatteSponge(Sample16 colour);    // mode 11
    void applyPointCleanBg(Sample16 colour);        // mode 12
    void applyPointRestoreDetail(Sample16 colour);  // mode 13

    // Fine-tune slider bodies, position 0..1 (0.5 = the radii at the pick), always applied.
    void fineTuneOuterStates(float position);   // key, body
    void fineTuneMiddleStates(float position);  // key, edge, body
    void fineTuneInnerStates(float position);   // key, edge
};

// Releases the compiled data of the set's key state (releaseKey).
void releaseCompiledKey(KeyStateSet* set);

// Compiles the set's key state (or a state of its own) for the length of one use and releases it
// when the scope ends, also on the exceptional path.  release() releases early.
class CompiledKeyGuard {
public:
    explicit CompiledKeyGuard(KeyStateSet* set);
    explicit CompiledKeyGuard(KeyState* state);
    ~CompiledKeyGuard();
    CompiledKeyGuard(const CompiledKeyGuard&) = delete;
    CompiledKeyGuard& operator=(const CompiledKeyGuard&) = delete;
    void release();

private:
    KeyState* state_;
};

}  // namespace vantrelo
