// The keyer's schema as stored settings and the windows rely on it: index, name, code, kind,
// default, limits, flags, scale and choices of every record.  The expected table is written out
// here independently of the schema's own table, so a slip in either shows.

#include "plugin/parameter_schema.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/param/parameters.h"

namespace {

using namespace Mav::Host::Param;
using vantrelo::describeKeyerParameters;

// Big-endian code of a four-character text, written without the code's helper.
std::uint32_t code(const char* c) {
    return std::uint32_t(std::uint8_t(c[0])) * 16777216u + std::uint32_t(std::uint8_t(c[1])) * 65536u +
           std::uint32_t(std::uint8_t(c[2])) * 256u + std::uint32_t(std::uint8_t(c[3]));
}

struct Expected {
    const char* name;
    const char* code;
    ParamKind kind;
    double value, minimum, maximum;  // numbers, switches and popups
    std::uint32_t flags;
    double scale;
};

constexpr std::uint32_t P = ParamPercent, R = ParamScaledInRegistry, W = ParamNoUndo | ParamNoRender;

const Expected kTable[] = {
    {"key data", "pKey", ParamText, 0, 0, 0, 0, 1.0},
    {"edge data", "pEdg", ParamText, 0, 0, 0, 0, 1.0},
    {"body data", "pBod", ParamText, 0, 0, 0, 0, 1.0},
    {"spill mode", "pSpl", ParamPopup, 0, 0, 2, 0, 1.0},
    {"BG color", "pSpC", ParamColour, 0, 0, 0, 0, 1.0},
    {"enable soften matte", "pBlE", ParamBool, 1, 0, 1, 0, 1.0},
    {"Soften Matte", "pBlr", ParamFloat, 0, 0, 100, P | R, 0.5},
    {"Shrink Matte", "pBlT", ParamFloat, 0, 0, 100, P, 0.01},
    {"background layer", "pBak", ParamInt, 0, 0, 2147483647, 0, 1.0},
    {"background mode", "pBkM", ParamPopup, 0, 0, 2, 0, 1.0},
    {"mask mode", "pMsk", ParamPopup, 0, 0, 3, 0, 1.0},
    {"blur inward", "pBlI", ParamBool, 1, 0, 1, 0, 1.0},
    {"grain type", "pGrT", ParamPopup, 0, 0, 3, 0, 1.0},
    {"grain tolerance", "pGrO", ParamFloat, 0, 0, 100, P, 0.01},
    {"adjust lighting", "pALi", ParamBool, 0, 0, 1, 0, 1.0},
    {"adjust lighting grid", "pALg", ParamInt, 12, 2, 100, 0, 1.0},
    {"enable automask", "pAuM", ParamBool, 1, 0, 1, 0, 1.0},
    {"automask radius", "pAuR", ParamFloat, 40, 0, 100, P, 0.01},
    {"automask ease bleach", "pAuS", ParamFloat, 75, 0, 100, 0, 1.0},
    {"automask color correction", "pAuC", ParamFloat, 0, 0, 200, 0, 1.0},
    {"enable LightWrap", "pLiW", ParamBool, 0, 0, 1, 0, 1.0},
    {"lightwrap radius", "pLwR", ParamFloat, 20, 0, 100, P | R, 1.5},
    {"lightwrap brightness", "pLwG", ParamFloat, 50, 0, 100, P, 0.01},
    {"lightwrap blend mode", "pBln", ParamPopup, 0, 0, 5, 0, 1.0},
    {"Render against BD", "pRbG", ParamBool, 0, 0, 1, 0, 1.0},
    {"transparency mode", "pTsp", ParamPopup, 0, 0, 2, 0, 1.0},
    {"backdrop blur", "pBgB", ParamFloat, 0, 0, 100, 0, 1.0},
    {"Backdrop transform", "pBgX", ParamText, 0, 0, 0, 0, 1.0},
    {"Foreground transform", "pFgX", ParamText, 0, 0, 0, 0, 1.0},
    {"Overlay transform", "pOvX", ParamText, 0, 0, 0, 0, 1.0},
    {"Scale To Fit", "pFit", ParamBool, 1, 0, 1, 0, 1.0},
    {"Backdrop files", "pBgF", ParamText, 0, 0, 0, 0, 1.0},
    {"Overlay files", "pOvF", ParamText, 0, 0, 0, 0, 1.0},
    {"automask window", "pWAM", ParamText, 0, 0, 0, W, 1.0},
    {"finetune window", "pWFT", ParamText, 0, 0, 0, W, 1.0},
    {"lightWrap window", "pWLW", ParamText, 0, 0, 0, W, 1.0},
    {"remove grain window", "pWRG", ParamText, 0, 0, 0, W, 1.0},
    {"soften matte window", "pWSM", ParamText, 0, 0, 0, W, 1.0},
    {"last image path", "pLIP", ParamText, 0, 0, 0, W, 1.0},
};

struct Choices {
    std::size_t index;
    const char* listCode;
    std::vector<std::pair<const char*, const char*>> items;  // code, label
};

const Choices kChoices[] = {
    {3, "Spil", {{"Spl0", "spill complement"}, {"Spl1", "spill solid"}, {"Spl2", "spill defocus background"}}},
    {9, "BakM", {{"BakA", "background color"}, {"BakB", "background file"}, {"BakC", "background layer"}}},
    {10, "MskM", {{"MskA", "mask foreground"}, {"MskB", "mask mask"}, {"MskC", "mask front"}, {"MskD", "mask back"}}},
    {12, "Gran", {{"Grn0", "no grain"}, {"Grn1", "small grain"}, {"Grn2", "medium grain"}, {"Grn3", "large grain"}}},
    {23, "BlnM", {{"SftL", "Soft Light"}, {"Ovrl", "Overlay"}, {"Lddg", "Add"}, {"Mltp", "Multiply"},
                  {"Scrn", "Screen"}, {"Clr ", "Color"}}},
    {25, "TspM", {{"TspA", "transparency opaque"}, {"TspB", "transparency transparent"}, {"TspC", "transparency split"}}},
};

class KeyerSchema : public ::testing::Test {
protected:
    void SetUp() override { describeKeyerParameters(set); }
    Parameters set;
};

TEST_F(KeyerSchema, RecordsMatchTheTableInIndexOrder) {
    ASSERT_EQ(set.count(), 39u);
    ASSERT_EQ(std::size(kTable), 39u);
    EXPECT_EQ(set.record(0).code, 0x704B6579u);
    for (std::size_t i = 0; i < 39; ++i) {
        SCOPED_TRACE(kTable[i].name);
        const Expected& e = kTable[i];
        const ParamRecord& r = set.record(i);
        EXPECT_EQ(r.name, e.name);
        EXPECT_EQ(r.code, code(e.code));
        EXPECT_EQ(r.kind, e.kind);
        EXPECT_EQ(r.flags, e.flags);
        EXPECT_DOUBLE_EQ(r.scale, e.scale);
        EXPECT_EQ(r.reserved, -1);
        if (r.kind != ParamPopup) {
            EXPECT_EQ(r.listCode, 0u);
            EXPECT_TRUE(r.choiceCodes.empty());
            EXPECT_TRUE(r.choiceLabels.empty());
        }
        // Value and default equal; both minimum slots and both maximum slots equal.
        EXPECT_EQ(r.slots[SlotValue], r.slots[SlotDefault]);
        EXPECT_EQ(r.slots[SlotSliderMin], r.slots[SlotMin]);
        EXPECT_EQ(r.slots[SlotSliderMax], r.slots[SlotMax]);
        switch (r.kind) {
            case ParamFloat:
                EXPECT_EQ(r.value().getDouble(), e.value);
                EXPECT_EQ(r.slots[SlotMin].getDouble(), e.minimum);
                EXPECT_EQ(r.slots[SlotMax].getDouble(), e.maximum);
                break;
            case ParamInt:
            case ParamPopup:
                EXPECT_EQ(r.value().getInt(), std::int32_t(e.value));
                EXPECT_EQ(r.slots[SlotMin].getInt(), std::int32_t(e.minimum));
                EXPECT_EQ(r.slots[SlotMax].getInt(), std::int32_t(e.maximum));
                break;
            case ParamBool:
                EXPECT_EQ(r.value().getBool(), e.value != 0);
                EXPECT_FALSE(r.slots[SlotMin].getBool());
                EXPECT_TRUE(r.slots[SlotMax].getBool());
                break;
            case ParamText:
                for (const ParamValue& v : r.slots) EXPECT_EQ(v.text, "");
                break;
            case ParamColour:
                for (const ParamValue& v : r.slots)
                    for (int c = 0; c < 3; ++c) EXPECT_EQ(v.getDouble(c), 0.5);
                break;
        }
    }
}

TEST_F(KeyerSchema, PopupsCarryTheirChoiceListsInValueOrder) {
    EXPECT_EQ(code("Clr "), 0x436C7220u);
    for (const Choices& c : kChoices) {
        const ParamRecord& r = set.record(c.index);
        SCOPED_TRACE(r.name);
        ASSERT_EQ(r.kind, ParamPopup);
        EXPECT_EQ(r.listCode, code(c.listCode));
        ASSERT_EQ(r.choiceCodes.size(), c.items.size());
        ASSERT_EQ(r.choiceLabels.size(), c.items.size());
        for (std::size_t k = 0; k < c.items.size(); ++k) {
            EXPECT_EQ(r.choiceCodes[k], code(c.items[k].first));
            EXPECT_EQ(r.choiceLabels[k], c.items[k].second);
        }
        EXPECT_EQ(r.slots[SlotMax].getInt(), std::int32_t(c.items.size()) - 1);
    }
}

TEST_F(KeyerSchema, IndexConstantsNameTheirRecords) {
    EXPECT_EQ(set.record(vantrelo::kParamSoftenMatte).name, "Soften Matte");
    EXPECT_EQ(set.record(vantrelo::kParamLightWrapBlendMode).name, "lightwrap blend mode");
    EXPECT_EQ(set.record(vantrelo::kParamScaleToFit).name, "Scale To Fit");
    EXPECT_EQ(set.record(vantrelo::kParamLastImagePath).name, "last image path");
    for (std::size_t i = 0; i < 39; ++i) EXPECT_EQ(vantrelo::keyerSchema()[i].code, set.record(i).code);
}

// The describer appends: the host hands it an empty set, and a set that already holds records keeps
// them in front.
TEST(KeyerSchemaDescribe, AppendsWithoutClearing) {
    Parameters set;
    set.records().emplace_back(ParamInt, "existing", code("xxxx"), 0, 0);
    describeKeyerParameters(set);
    ASSERT_EQ(set.count(), 40u);
    EXPECT_EQ(set.record(0).name, "existing");
    EXPECT_EQ(set.record(1).name, "key data");
}

}  // namespace
