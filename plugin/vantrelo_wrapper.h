#pragma once
// The engine adapter: the one place where the keyer keeps live keying state.
//
// VantreloWrapper holds the three key states with their matte settings (KeyStateSet), the sampling
// state of the interactive tools, the auto-mask and scale-to-fit triggers and the light-wrap
// settings; CVantreloBridge adds the three layer transforms and the pending-stroke flag.  The plug-in
// owns one CVantreloBridge for its whole life; the parameter mapping writes its fields and calls the
// set's setters, the render reads them and keys through it, and the preview drives its sampling.
//
// Threads: keyPixels16, keyPixelsFloat and the two matte defocus calls only read the adapter, so
// band workers may call them at once on disjoint runs with the key state compiled once before (see
// CompiledKeyGuard).  Everything else runs on one thread between renders.
//
// Failures are exceptions, as everywhere in the plug-in: std::bad_alloc when memory ran out,
// Mav::Exception when the engine could not key or soften.  Output written before such a failure
// must not be used.

#include <cstddef>
#include <cstdint>

#include "engine/keying/key_state.h"
#include "engine/keying/sampling_tools.h"
#include "kernels/matrix3.h"
#include "plugin/key_state_set.h"

namespace vantrelo {

// The keying tools, the value of VantreloWrapper::sampleMode.  No tool of the preview sets the
// per-colour forms 9 to 13.
enum SampleMode : int {
    SampleSelect = 0,          // "select": a new key from the samples' average colour
    SampleCleanBg = 1,         // "cleanBG": grow inner (key, edge)
    SampleCleanFg = 2,         // "cleanFG": shrink outer (key, body)
    SampleFineTunePick = 3,    // fine-tune pick
    SampleSpillSponge = 4,     // "spillSponge": grow outer (key, body)
    SampleMatteSponge = 5,     // "matteSponge": shrink middle (all three)
    SampleMakeTrans = 6,       // "makeTrans": grow middle (all three)
    SampleRestoreDetail = 7,   // "restoreDetail": shrink inner (key, edge)
    SampleSpillMinus = 8,      // "spillMinus": grow outer per colour (key, body)
    SamplePointCleanFg = 9,
    SamplePointMakeTrans = 10,
    SamplePointMatteSponge = 11,
    SamplePointCleanBg = 12,
    SamplePointRestoreDetail = 13,
};

// Fine-tune sliders of VantreloWrapper::setFineTune.
enum FineTuneKind : int {
    FineTuneRemoveSpill = 0,     // outer radii of key and body
    FineTuneTransparency = 1,    // middle radii of all three
    FineTuneRestoreDetails = 2,  // inner radii of key and edge
};

// The adapter's allocation pair, used for the preview's sample blocks.  allocWithHook returns null
// for a negative size or a refused allocation; freeWithHook accepts null.
void* allocWithHook(int size);
void freeWithHook(void* block);

class VantreloWrapper {
public:
    static constexpr int kSampleCapacity = 1000;  // samples a stroke keeps; later ones are dropped

    // Builds the engine's tables, resets the set and the settings (see resetSettings).
    VantreloWrapper();
    virtual ~VantreloWrapper();
    VantreloWrapper(const VantreloWrapper&) = delete;
    VantreloWrapper& operator=(const VantreloWrapper&) = delete;

    virtual bool isAvailable() const { return true; }
    virtual void* allocate(int size) = 0;
    virtual void release(void** block) = 0;
    virtual void* passThrough(void* pointer) = 0;

    // Keys width x rows packed RGBA16 pixels with the compiled key state (or the hybrid merge, see
    // KeyStateSet::processPixels16); background optional.  The matte is then multiplied by the
    // source alpha (truncating 16-bit product); colour stays straight.
    void keyPixels16(const std::uint16_t* source, const std::uint16_t* background, std::uint16_t* destination,
                     std::ptrdiff_t width, std::ptrdiff_t rows) const;
    // The same for float RGBA on 0..floatMaximum.  Source and background are scaled in place to the
    // engine's 16-bit scale when floatMaximum is not 65535 (so they must not be keyed twice).  The
    // result's alpha is source alpha x keyed alpha / 65535, and negative channels become 0.
    void keyPixelsFloat(float* source, float* background, float* destination, std::ptrdiff_t width,
                        std::ptrdiff_t rows) const;

    // KeyStateSet::reset, then floatMaximum 1, triggers and enables off, autoMaskRadius the default
    // of "automask radius" (40), lightWrapRadius 0, lightWrapBrightness 1; lightWrapOn is kept.
    void resetSettings();

    // Applies the active sample list by sampleMode (nothing for an empty list).  Mode 0 throws
    // std::bad_alloc, with the states as they were, when the engine could not build the new key.
    void applySample();
    // Fine-tune pick: averageColour and pickColour := the average of the active list; the engine
    // remembers the face it hits for the sliders.  An empty list changes nothing.
    void pickFineTuneColour();
    // Moves the picked face by one slider; value -1..1 (0 = the radii at the pick).  False, with
    // nothing changed, for a value outside -1..1 (or NaN) or an unknown kind.
    bool setFineTune(int kind, float value);

    std::uint16_t sampleBuffer[kSampleCapacity][4] = {};
    const std::uint16_t* samples = nullptr;  // sampleBuffer, or a caller's block during applySampleBlock
    int sampleMode = SampleSelect;
    int sampleColumns = 0;
    int sampleRows = 0;
    std::uint16_t averageColour[3] = {0, 0, 0};  // the last fine-tune pick's average; black before any
    KeyStateSet keyStates;
    float floatMaximum = 1.0f;
    std::uint8_t autoMaskEnabled = 0;
    std::uint8_t autoMaskJustEnabled = 0;
    std::uint8_t fitEnabled = 0;
    std::uint8_t fitJustEnabled = 0;
    float autoMaskRadius = 40.0f;      // "automask radius", 0..100 as the parameter holds it
    std::uint8_t lightWrapOn = 0;
    float lightWrapRadius = 0.0f;      // pixels
    float lightWrapBrightness = 1.0f;  // 0..100

protected:
    // The average colour of the active list (R, G, B); false for an empty list.
    bool averageSampleColour(std::uint16_t* average) const;
};

class CVantreloBridge : public VantreloWrapper {
public:
    // The wrapper, then the simulated-foreground flag cleared in all three states.
    CVantreloBridge();
    ~CVantreloBridge() override;

    void* allocate(int size) override;
    void release(void** block) override;
    void* passThrough(void* pointer) override;

    // Softens the matte of a packed RGBA image in place with radius trunc(softenRadius x scale +
    // 0.5), blurInward and shrinkAmount; a radius of 0 leaves the image as it is.
    void defocusMatte16(std::uint16_t* image, std::ptrdiff_t width, std::ptrdiff_t height, float scale) const;
    void defocusMatteFloat(float* image, std::ptrdiff_t width, std::ptrdiff_t height, float scale) const;

    // Stroke sampling.  clearSamples forgets the stroke.  collectSample: phase 0 starts a stroke
    // with the colour, 1 adds it (at most kSampleCapacity a stroke), 2 applies what is pending
    // (pick in mode 3, else applySample) and adds nothing; other phases do nothing.
    void clearSamples();
    void collectSample(int phase, Sample16 colour);
    // Applies a caller's block of columns x rows RGBA16 colours by the current mode at once; the
    // block is only read, and only during the call.  Afterwards the active list is the stroke buffer,
    // empty (samplePending is kept).
    void applySampleBlock(const std::uint16_t* block, int columns, int rows);
    // averageColour keyed with the current key state, premultiplied (R, G, B, A).
    Sample16 probePixel();

    Matrix3 backdropTransform;    // identity until the parameters are pushed
    Matrix3 foregroundTransform;
    Matrix3 overlayTransform;
    std::uint8_t samplePending = 0;
};

}  // namespace vantrelo
