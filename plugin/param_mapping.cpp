#include "plugin/param_mapping.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "engine/keying/numeric.h"
#include "plugin/key_data_text.h"
#include "plugin/matrix_text.h"
#include "plugin/parameter_schema.h"

namespace vantrelo {

namespace {

using namespace Mav::Host::Param;

// The record's number within its hard limits; a NaN stands for the default.
double limitedDouble(const ParamRecord& r) {
    const double value = r.value().getDouble();
    if (std::isnan(value)) return r.defaultValue().getDouble();
    const double lo = r.slots[SlotMin].getDouble();
    const double hi = r.slots[SlotMax].getDouble();
    return value < lo ? lo : (value > hi ? hi : value);
}

std::int32_t limitedInt(const ParamRecord& r) {
    const std::int32_t value = r.value().getInt();
    const std::int32_t lo = r.slots[SlotMin].getInt();
    const std::int32_t hi = r.slots[SlotMax].getInt();
    return value < lo ? lo : (value > hi ? hi : value);
}

// Pulled values are divided by the record's scale; a scale of 0 would make them infinite.
double unscaled(double value, const ParamRecord& r) {
    return r.scale != 0 ? value / r.scale : value;
}

// 0..1 to 16-bit: truncated after clamping, NaN gives 0.
std::uint16_t colourChannel16(double c) {
    return truncToUint16(c * 65535.0);
}

std::array<std::uint16_t, 3> replacementColourOf(const ParamValue& v) {
    return {colourChannel16(v.getDouble(0)), colourChannel16(v.getDouble(1)),
            colourChannel16(v.getDouble(2))};
}

void forAllStates(KeyStateSet& set, auto&& change) {
    change(set.keyState);
    change(set.edgeState);
    change(set.bodyState);
}

// The set's "key data" text, for an empty "edge data" or "body data".
std::string keyDataText(const Parameters& set) {
    return set.count() > kParamKeyData ? set.record(kParamKeyData).value().text : std::string();
}

// Parses into a copy and stores the copy whatever the reader says: fields it reached take the new
// values, the others keep theirs.
void readStateText(KeyState& state, const std::string& text) {
    KeyState parsed = state;
    readKeyDataText(text, parsed);
    state = parsed;
}

// The engine's values of number records: times the record's scale, as float.
float scaledFloat(const ParamRecord& r) {
    return static_cast<float>(limitedDouble(r) * r.scale);
}

float plainFloat(const ParamRecord& r) {
    return static_cast<float>(limitedDouble(r));
}

// Whole pixels, halves rounded up.
std::int32_t softenRadiusOf(const ParamRecord& soften) {
    return truncToInt32(limitedDouble(soften) * soften.scale + 0.5);
}

// softenRadius and shrinkAmount from records 5 to 7, in one step.
void applySoftenMatte(KeyStateSet& states, const Parameters& set) {
    if (set.count() <= kParamShrinkMatte) return;
    const bool enabled = set.record(kParamEnableSoftenMatte).value().getBool();
    const ParamRecord& soften = set.record(kParamSoftenMatte);
    const ParamRecord& shrink = set.record(kParamShrinkMatte);
    if (enabled) {
        states.softenRadius = softenRadiusOf(soften);
        states.shrinkAmount = scaledFloat(shrink);
    } else {
        states.softenRadius = 0;
        states.shrinkAmount = 0.0f;
    }
}

// The engine keeps whole pixels and floats, coarser than the records: dividing its value back
// would show the user's 5 as 6, or 7 as 7.0000001.  So a record within its limits whose own value
// pushes to what the engine holds keeps that value; otherwise the engine's value is pulled.
void pullNumber(ParamRecord& r, double pushed, double engine, double pulled) {
    const double value = r.value().getDouble();
    if (value != limitedDouble(r) || pushed != engine) r.value().setDouble(pulled);
}

// The same for the two matte records, whose engine values are 0 while the softening is switched
// off: that 0 says nothing about the sliders, which keep their values for when it is switched on.
void pullMatteNumber(ParamRecord& r, double pushed, double engine, double pulled) {
    pullNumber(r, engine == 0 ? 0 : pushed, engine, pulled);
}

std::string pullStateText(const KeyState& state, const KeyState& key) {
    std::string text = writeKeyDataText(state);
    if (text == writeKeyDataText(key)) text.clear();
    return text;
}

}  // namespace

void applyEnableTrigger(std::uint8_t& enabled, std::uint8_t& justEnabled, bool value) {
    if (!value)
        justEnabled = 0;
    else if (!enabled)
        justEnabled = 1;
    enabled = value ? 1 : 0;
}

void applyParamToBridge(CVantreloBridge& bridge, const Parameters& set, const ParamRecord& record) {
    KeyStateSet& states = bridge.keyStates;
    const ParamValue& v = record.value();
    switch (record.code) {
        case pKey:
            readStateText(states.keyState, v.text);
            break;
        case pEdg:
            readStateText(states.edgeState, v.text.empty() ? keyDataText(set) : v.text);
            break;
        case pBod:
            readStateText(states.bodyState, v.text.empty() ? keyDataText(set) : v.text);
            break;
        case pSpl:
            states.setSpillMode(limitedInt(record));
            break;
        case pSpC: {
            const std::array<std::uint16_t, 3> rgb = replacementColourOf(v);
            forAllStates(states, [&](KeyState& s) {
                for (int c = 0; c < 3; ++c) s.replacementColour[c] = rgb[c];
                s.replacementColour[3] = 65535;
            });
            break;
        }
        case pBlE:
        case pBlr:
        case pBlT:
            applySoftenMatte(states, set);
            break;
        case pBlI:
            states.blurInward = v.getBool() ? 1 : 0;
            break;
        case pGrT:
            states.setGrainType(limitedInt(record));
            break;
        case pGrO: {
            const float amount = scaledFloat(record);
            forAllStates(states, [&](KeyState& s) { s.grainAmount = amount; });
            break;
        }
        case pALi:
            states.keyState.flags &= ~std::uint32_t(KeyFlagSimulatedForeground);
            states.shareKeyFlags();
            break;
        case pALg:
            states.keyState.simGridSize = limitedInt(record);
            break;
        case pAuM:
            applyEnableTrigger(bridge.autoMaskEnabled, bridge.autoMaskJustEnabled, v.getBool());
            break;
        case pAuR:
            bridge.autoMaskRadius = plainFloat(record);
            break;
        case pLiW:
            bridge.lightWrapOn = v.getBool() ? 1 : 0;
            break;
        case pLwR:
            bridge.lightWrapRadius = scaledFloat(record);
            break;
        case pLwG:
            bridge.lightWrapBrightness = plainFloat(record);
            break;
        case pBgX:
            parseMatrixText(bridge.backdropTransform, v.text);
            break;
        case pFgX:
            parseMatrixText(bridge.foregroundTransform, v.text);
            break;
        case pOvX:
            parseMatrixText(bridge.overlayTransform, v.text);
            break;
        case pFit:
            applyEnableTrigger(bridge.fitEnabled, bridge.fitJustEnabled, v.getBool());
            break;
        default:
            break;
    }
}

void applyAllParamsToBridge(CVantreloBridge& bridge, const Parameters& set) {
    for (std::size_t i = 0; i < set.count(); ++i) applyParamToBridge(bridge, set, set.record(i));
}

void syncParamFromBridge(const CVantreloBridge& bridge, ParamRecord& record) {
    const KeyStateSet& states = bridge.keyStates;
    const KeyState& key = states.keyState;
    ParamValue& v = record.value();
    switch (record.code) {
        case pKey:
            v.text = writeKeyDataText(key);
            break;
        case pEdg:
            v.text = pullStateText(states.edgeState, key);
            break;
        case pBod:
            v.text = pullStateText(states.bodyState, key);
            break;
        case pSpl:
            v.setInt((key.flags & KeyFlagSpillComplement) ? kSpillComplement
                     : (key.flags & KeyFlagSpillSolid)    ? kSpillSolid
                                                          : kSpillDefocusBackground);
            break;
        case pSpC: {
            // As pullNumber: 0.5 would come back as 0.49999237.
            bool keep = std::equal(key.replacementColour, key.replacementColour + 3,
                                   replacementColourOf(v).begin());
            for (int c = 0; c < 3; ++c) keep = keep && v.getDouble(c) >= 0 && v.getDouble(c) <= 1;
            if (!keep)
                for (int c = 0; c < 3; ++c) v.setDouble(key.replacementColour[c] / 65535.0, c);
            break;
        }
        case pBlr:
            pullMatteNumber(record, softenRadiusOf(record), states.softenRadius,
                            unscaled(states.softenRadius, record));
            break;
        case pBlT:
            pullMatteNumber(record, scaledFloat(record), states.shrinkAmount,
                            unscaled(states.shrinkAmount, record));
            break;
        case pBlI:
            v.setBool(states.blurInward != 0);
            break;
        case pGrT:
            v.setInt(key.grainLevel);
            break;
        case pGrO:
            pullNumber(record, scaledFloat(record), key.grainAmount,
                       unscaled(key.grainAmount, record));
            break;
        case pAuM:
            v.setBool(bridge.autoMaskEnabled != 0);
            break;
        case pAuR:
            pullNumber(record, plainFloat(record), bridge.autoMaskRadius, bridge.autoMaskRadius);
            break;
        case pLiW:
            v.setBool(bridge.lightWrapOn != 0);
            break;
        case pLwR:
            pullNumber(record, scaledFloat(record), bridge.lightWrapRadius,
                       unscaled(bridge.lightWrapRadius, record));
            break;
        case pLwG:
            pullNumber(record, plainFloat(record), bridge.lightWrapBrightness,
                       bridge.lightWrapBrightness);
            break;
        case pBgX:
            v.text = formatMatrixText(bridge.backdropTransform);
            break;
        case pFgX:
            v.text = formatMatrixText(bridge.foregroundTransform);
            break;
        case pOvX:
            v.text = formatMatrixText(bridge.overlayTransform);
            break;
        case pFit:
            v.setBool(bridge.fitEnabled != 0);
            break;
        default:
            break;
    }
}

void syncAllParamsFromBridge(const CVantreloBridge& bridge, Parameters& set) {
    for (std::size_t i = 0; i < set.count(); ++i) syncParamFromBridge(bridge, set.record(i));
}

}  // namespace vantrelo
