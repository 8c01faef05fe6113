#include "plugin/parameter_schema.h"

#include <array>

namespace vantrelo {

namespace {

using namespace Mav::Host::Param;

constexpr std::uint32_t kWindowFlags = ParamNoUndo | ParamNoRender;

constexpr ChoiceSpec kSpillChoices[] = {{fourCharCode("Spl0"), "spill complement"},
                                        {fourCharCode("Spl1"), "spill solid"},
                                        {fourCharCode("Spl2"), "spill defocus background"}};
constexpr ChoiceSpec kBackgroundChoices[] = {{fourCharCode("BakA"), "background color"},
                                             {fourCharCode("BakB"), "background file"},
                                             {fourCharCode("BakC"), "background layer"}};
constexpr ChoiceSpec kMaskChoices[] = {{fourCharCode("MskA"), "mask foreground"},
                                       {fourCharCode("MskB"), "mask mask"},
                                       {fourCharCode("MskC"), "mask front"},
                                       {fourCharCode("MskD"), "mask back"}};
constexpr ChoiceSpec kGrainChoices[] = {{fourCharCode("Grn0"), "no grain"},
                                        {fourCharCode("Grn1"), "small grain"},
                                        {fourCharCode("Grn2"), "medium grain"},
                                        {fourCharCode("Grn3"), "large grain"}};
// "Clr " ends in a blank: the code is 0x436C7220.
constexpr ChoiceSpec kBlendChoices[] = {{fourCharCode("SftL"), "Soft Light"},
                                        {fourCharCode("Ovrl"), "Overlay"},
                                        {fourCharCode("Lddg"), "Add"},
                                        {fourCharCode("Mltp"), "Multiply"},
                                        {fourCharCode("Scrn"), "Screen"},
                                        {fourCharCode("Clr "), "Color"}};
constexpr ChoiceSpec kTransparencyChoices[] = {{fourCharCode("TspA"), "transparency opaque"},
                                               {fourCharCode("TspB"), "transparency transparent"},
                                               {fourCharCode("TspC"), "transparency split"}};

constexpr ParamSpec text(const char* name, std::uint32_t code, std::uint32_t flags = 0) {
    return {ParamText, name, code, 0, {0, 0, 0}, 0, 0, flags, 0, {}};
}
constexpr ParamSpec number(ParamKind kind, const char* name, std::uint32_t code, double value,
                           double minimum, double maximum, std::uint32_t flags = 0,
                           double explicitScale = 0) {
    return {kind, name, code, 0, {value, 0, 0}, minimum, maximum, flags, explicitScale, {}};
}
constexpr ParamSpec toggle(const char* name, std::uint32_t code, bool value) {
    return {ParamBool, name, code, 0, {value ? 1.0 : 0.0, 0, 0}, 0, 1, 0, 0, {}};
}
constexpr ParamSpec popup(const char* name, std::uint32_t code, std::uint32_t listCode,
                          std::span<const ChoiceSpec> choices) {
    return {ParamPopup, name, code, listCode, {0, 0, 0}, 0, double(choices.size()) - 1, 0, 0,
            choices};
}

constexpr std::array<ParamSpec, kKeyerParamCount> kSchema = {{
    text("key data", pKey),
    text("edge data", pEdg),
    text("body data", pBod),
    popup("spill mode", pSpl, fourCharCode("Spil"), kSpillChoices),
    {ParamColour, "BG color", pSpC, 0, {0.5, 0.5, 0.5}, 0, 0, 0, 0, {}},
    toggle("enable soften matte", pBlE, true),
    number(ParamFloat, "Soften Matte", pBlr, 0, 0, 100, ParamPercent | ParamScaledInRegistry, 0.5),
    number(ParamFloat, "Shrink Matte", pBlT, 0, 0, 100, ParamPercent),
    number(ParamInt, "background layer", pBak, 0, 0, 2147483647),
    popup("background mode", pBkM, fourCharCode("BakM"), kBackgroundChoices),
    popup("mask mode", pMsk, fourCharCode("MskM"), kMaskChoices),
    toggle("blur inward", pBlI, true),
    popup("grain type", pGrT, fourCharCode("Gran"), kGrainChoices),
    number(ParamFloat, "grain tolerance", pGrO, 0, 0, 100, ParamPercent),
    toggle("adjust lighting", pALi, false),
    number(ParamInt, "adjust lighting grid", pALg, 12, 2, 100),
    toggle("enable automask", pAuM, true),
    number(ParamFloat, "automask radius", pAuR, 40, 0, 100, ParamPercent),
    number(ParamFloat, "automask ease bleach", pAuS, 75, 0, 100),
    number(ParamFloat, "automask color correction", pAuC, 0, 0, 200),
    toggle("enable LightWrap", pLiW, false),
    number(ParamFloat, "lightwrap radius", pLwR, 20, 0, 100, ParamPercent | ParamScaledInRegistry,
           1.5),
    number(ParamFloat, "lightwrap brightness", pLwG, 50, 0, 100, ParamPercent),
    popup("lightwrap blend mode", pBln, fourCharCode("BlnM"), kBlendChoices),
    toggle("Render against BD", pRbG, false),
    popup("transparency mode", pTsp, fourCharCode("TspM"), kTransparencyChoices),
    number(ParamFloat, "backdrop blur", pBgB, 0, 0, 100),
    text("Backdrop transform", pBgX),
    text("Foreground transform", pFgX),
    text("Overlay transform", pOvX),
    toggle("Scale To Fit", pFit, true),
    text("Backdrop files", pBgF),
    text("Overlay files", pOvF),
    text("automask window", pWAM, kWindowFlags),
    text("finetune window", pWFT, kWindowFlags),
    text("lightWrap window", pWLW, kWindowFlags),
    text("remove grain window", pWRG, kWindowFlags),
    text("soften matte window", pWSM, kWindowFlags),
    text("last image path", pLIP, kWindowFlags),
}};

// The value slots each kind's view uses: value and default, then both minima, then both maxima.
void fillNumberSlots(ParamRecord& record, const ParamSpec& spec) {
    const double values[6] = {spec.defaultValue[0], spec.defaultValue[0], spec.minimum,
                              spec.maximum,         spec.minimum,         spec.maximum};
    for (int slot = 0; slot < 6; ++slot) {
        ParamValue& v = record.slots[slot];
        switch (spec.kind) {
            case ParamFloat: v.setDouble(values[slot]); break;
            case ParamBool: v.setBool(values[slot] != 0); break;
            default: v.setInt(static_cast<std::int32_t>(values[slot])); break;
        }
    }
}

}  // namespace

std::span<const ParamSpec, kKeyerParamCount> keyerSchema() {
    return kSchema;
}

void makeStringParam(ParamRecord& record, const std::string& name, std::uint32_t code,
                     const std::string& defaultText, std::uint32_t flags) {
    record = ParamRecord(ParamText, name, code, 0, flags);
    for (ParamValue& v : record.slots) v.text = defaultText;
}

void makeColorParam(ParamRecord& record, const std::string& name, std::uint32_t code, double red,
                    double green, double blue, std::uint32_t flags) {
    record = ParamRecord(ParamColour, name, code, 0, flags);
    for (ParamValue& v : record.slots) {
        v.setDouble(red, 0);
        v.setDouble(green, 1);
        v.setDouble(blue, 2);
    }
}

ParamRecord makeKeyerParam(const ParamSpec& spec) {
    ParamRecord record;
    switch (spec.kind) {
        case ParamText:
            makeStringParam(record, spec.name, spec.code, "", spec.flags);
            break;
        case ParamColour:
            makeColorParam(record, spec.name, spec.code, spec.defaultValue[0],
                           spec.defaultValue[1], spec.defaultValue[2], spec.flags);
            break;
        default:
            record = ParamRecord(spec.kind, spec.name, spec.code, spec.listCode, spec.flags);
            fillNumberSlots(record, spec);
            for (const ChoiceSpec& choice : spec.choices) {
                record.choiceLabels.emplace_back(choice.label);
                record.choiceCodes.push_back(choice.code);
            }
            break;
    }
    if (spec.explicitScale != 0) record.scale = spec.explicitScale;
    return record;
}

void describeKeyerParameters(Parameters& set) {
    for (const ParamSpec& spec : kSchema) set.records().push_back(makeKeyerParam(spec));
}

}  // namespace vantrelo
