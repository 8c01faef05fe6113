#pragma once
// The keyer's 39 parameters: one table of index, name, code, kind, default, limits, flags, scale
// and choices, from which every input's parameter set is described.
//
// The index of a parameter is its position in the set and never changes during a run: the prepare
// step, the render and the windows address parameters by index, the engine mapping by code, the
// store and the preset text by name.  So the table below is append-only in spirit: reordering it
// or renaming an entry changes what users' stored settings mean.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "host/param/param_record.h"
#include "host/param/parameters.h"

namespace vantrelo {

using Mav::Host::Param::fourCharCode;

// Parameter indices, in schema order.
enum KeyerParam : std::size_t {
    kParamKeyData,
    kParamEdgeData,
    kParamBodyData,
    kParamSpillMode,
    kParamBGColor,
    kParamEnableSoftenMatte,
    kParamSoftenMatte,
    kParamShrinkMatte,
    kParamBackgroundLayer,
    kParamBackgroundMode,
    kParamMaskMode,
    kParamBlurInward,
    kParamGrainType,
    kParamGrainTolerance,
    kParamAdjustLighting,
    kParamAdjustLightingGrid,
    kParamEnableAutoMask,
    kParamAutoMaskRadius,
    kParamAutoMaskEaseBleach,
    kParamAutoMaskColorCorrection,
    kParamEnableLightWrap,
    kParamLightWrapRadius,
    kParamLightWrapBrightness,
    kParamLightWrapBlendMode,
    kParamRenderAgainstBD,
    kParamTransparencyMode,
    kParamBackdropBlur,
    kParamBackdropTransform,
    kParamForegroundTransform,
    kParamOverlayTransform,
    kParamScaleToFit,
    kParamBackdropFiles,
    kParamOverlayFiles,
    kParamAutoMaskWindow,
    kParamFineTuneWindow,
    kParamLightWrapWindow,
    kParamRemoveGrainWindow,
    kParamSoftenMatteWindow,
    kParamLastImagePath,
    kKeyerParamCount
};
static_assert(kKeyerParamCount == 39);

// Parameter codes, in schema order.
inline constexpr std::uint32_t pKey = fourCharCode("pKey");
inline constexpr std::uint32_t pEdg = fourCharCode("pEdg");
inline constexpr std::uint32_t pBod = fourCharCode("pBod");
inline constexpr std::uint32_t pSpl = fourCharCode("pSpl");
inline constexpr std::uint32_t pSpC = fourCharCode("pSpC");
inline constexpr std::uint32_t pBlE = fourCharCode("pBlE");
inline constexpr std::uint32_t pBlr = fourCharCode("pBlr");
inline constexpr std::uint32_t pBlT = fourCharCode("pBlT");
inline constexpr std::uint32_t pBak = fourCharCode("pBak");
inline constexpr std::uint32_t pBkM = fourCharCode("pBkM");
inline constexpr std::uint32_t pMsk = fourCharCode("pMsk");
inline constexpr std::uint32_t pBlI = fourCharCode("pBlI");
inline constexpr std::uint32_t pGrT = fourCharCode("pGrT");
inline constexpr std::uint32_t pGrO = fourCharCode("pGrO");
inline constexpr std::uint32_t pALi = fourCharCode("pALi");
inline constexpr std::uint32_t pALg = fourCharCode("pALg");
inline constexpr std::uint32_t pAuM = fourCharCode("pAuM");
inline constexpr std::uint32_t pAuR = fourCharCode("pAuR");
inline constexpr std::uint32_t pAuS = fourCharCode("pAuS");
inline constexpr std::uint32_t pAuC = fourCharCode("pAuC");
inline constexpr std::uint32_t pLiW = fourCharCode("pLiW");
inline constexpr std::uint32_t pLwR = fourCharCode("pLwR");
inline constexpr std::uint32_t pLwG = fourCharCode("pLwG");
inline constexpr std::uint32_t pBln = fourCharCode("pBln");
inline constexpr std::uint32_t pRbG = fourCharCode("pRbG");
inline constexpr std::uint32_t pTsp = fourCharCode("pTsp");
inline constexpr std::uint32_t pBgB = fourCharCode("pBgB");
inline constexpr std::uint32_t pBgX = fourCharCode("pBgX");
inline constexpr std::uint32_t pFgX = fourCharCode("pFgX");
inline constexpr std::uint32_t pOvX = fourCharCode("pOvX");
inline constexpr std::uint32_t pFit = fourCharCode("pFit");
inline constexpr std::uint32_t pBgF = fourCharCode("pBgF");
inline constexpr std::uint32_t pOvF = fourCharCode("pOvF");
inline constexpr std::uint32_t pWAM = fourCharCode("pWAM");
inline constexpr std::uint32_t pWFT = fourCharCode("pWFT");
inline constexpr std::uint32_t pWLW = fourCharCode("pWLW");
inline constexpr std::uint32_t pWRG = fourCharCode("pWRG");
inline constexpr std::uint32_t pWSM = fourCharCode("pWSM");
inline constexpr std::uint32_t pLIP = fourCharCode("pLIP");

// Choice values of the popup parameters (choice n has the value n).
enum SpillMode : std::int32_t { kSpillComplement, kSpillSolid, kSpillDefocusBackground };
enum BackgroundMode : std::int32_t { kBackgroundColor, kBackgroundFile, kBackgroundLayer };
// "mask mode" is the render's view mode (render_pipeline.h): what the output shows.
enum MaskMode : std::int32_t {
    kMaskForeground,  // the keyed subject composited over the backdrop: the finished picture
    kMaskMask,        // the softened matte as grey
    kMaskFront,       // the input, untouched but for the foreground transform
    kMaskBack         // the backdrop alone, no keying
};
enum GrainType : std::int32_t { kNoGrain, kSmallGrain, kMediumGrain, kLargeGrain };
enum LightWrapBlend : std::int32_t {
    kBlendSoftLight,
    kBlendOverlay,
    kBlendAdd,
    kBlendMultiply,
    kBlendScreen,
    kBlendColor
};
enum TransparencyMode : std::int32_t {
    kTransparencyOpaque,
    kTransparencyTransparent,
    kTransparencySplit
};

struct ChoiceSpec {
    std::uint32_t code;
    const char* label;
};

// One parameter of the table.  Numbers of every kind are held as doubles here (exact for the
// int range); the described record stores them in the view its kind uses.  For ParamColour the
// default is the three components; the limits of colours and texts are their default, those of
// switches false and true, those of popups 0 and the last choice.
struct ParamSpec {
    Mav::Host::Param::ParamKind kind;
    const char* name;
    std::uint32_t code;
    std::uint32_t listCode;  // popups only
    double defaultValue[3];
    double minimum;
    double maximum;
    std::uint32_t flags;
    double explicitScale;  // 0: the scale the record constructor gives (1.0, or 0.01 for percent)
    std::span<const ChoiceSpec> choices;
};

// The table, index order; keyerSchema()[i] describes parameter i.
std::span<const ParamSpec, kKeyerParamCount> keyerSchema();

// Appends the 39 records to `set`, in index order, each with its value at its default.  The set is
// neither cleared nor inspected: the host hands over a fresh, empty one.
void describeKeyerParameters(Mav::Host::Param::Parameters& set);

// The record of one table entry.
Mav::Host::Param::ParamRecord makeKeyerParam(const ParamSpec& spec);

// A ParamText record with the default text in all six slots.
void makeStringParam(Mav::Host::Param::ParamRecord& record, const std::string& name,
                     std::uint32_t code, const std::string& defaultText, std::uint32_t flags);
// A ParamColour record with the colour (nominally 0..1) in all six slots.
void makeColorParam(Mav::Host::Param::ParamRecord& record, const std::string& name,
                    std::uint32_t code, double red, double green, double blue,
                    std::uint32_t flags);

}  // namespace vantrelo
