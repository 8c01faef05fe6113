#include "host/param/param_record.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>

namespace Mav::Host::Param {
namespace {

TEST(ParamRecord, ConstructorSetsScaleFromPercentFlagOnly) {
    struct Case {
        std::uint32_t flags;
        double scale;
    };
    const Case cases[] = {
        {0, 1.0}, {ParamUnscaledPoint, 1.0}, {0x1000001, 0.01}, {0x9000001, 0.01}};
    for (const Case& c : cases) {
        ParamRecord record(ParamFloat, "Soften Matte", fourCharCode("pBlr"), 0, c.flags);
        EXPECT_EQ(record.scale, c.scale) << std::hex << c.flags;
        EXPECT_EQ(record.flags, c.flags);
        EXPECT_EQ(record.reserved, -1);
        for (const ParamValue& slot : record.slots) EXPECT_EQ(slot, ParamValue{});
    }
    ParamRecord scaled(ParamFloat, "x", 0, 0, 0x9000001);
    EXPECT_TRUE(scaled.hasFlag(ParamScaledInRegistry));

    // The percent flag only matters at construction.
    ParamRecord later(ParamFloat, "x", 0, 0, 0);
    later.flags |= ParamPercent;
    EXPECT_EQ(later.scale, 1.0);
}

TEST(ParamRecord, DefaultStateIsAnEmptyChoice) {
    ParamRecord record(ParamText, "key data", fourCharCode("pKey"), 0, ParamNoUndo);
    record.choiceLabels.push_back("a");
    record.value().text = "text";
    record.scale = 3;
    record.initEmpty();
    for (const ParamRecord& r : {ParamRecord(), record}) {
        EXPECT_EQ(r.kind, ParamPopup);
        EXPECT_EQ(r.scale, 1.0);
        EXPECT_EQ(r.reserved, -1);
        EXPECT_EQ(r.flags, 0u);
        EXPECT_TRUE(r.name.empty());
        EXPECT_TRUE(r.choiceLabels.empty());
        EXPECT_TRUE(r.value().text.empty());
    }
    EXPECT_EQ(fourCharCode("pKey"), 0x704B6579u);
    EXPECT_EQ(fourCharCode("Clr "), 0x436C7220u);
}

// The views of a cell never convert: the integer and switch views write only their own bits, and
// a copy keeps all of them.
TEST(ParamRecord, CellViewsKeepRawBitsThroughCopies) {
    ParamRecord record(ParamInt, "grid", fourCharCode("pALg"), 0, 0);
    record.value().setDouble(-1.5);
    record.value().setInt(12);
    EXPECT_EQ(record.value().getInt(), 12);
    const std::uint64_t raw = (std::bit_cast<std::uint64_t>(-1.5) & 0xFFFFFFFF00000000u) | 12u;
    EXPECT_EQ(record.value().cells[0], raw);

    ParamRecord copy(record);
    EXPECT_EQ(copy.value().getInt(), 12);
    EXPECT_EQ(copy.value().getDouble(), std::bit_cast<double>(raw));
    EXPECT_NE(copy.value().getDouble(), 12.0);

    copy.value().setInt(-7);
    EXPECT_EQ(copy.value().getInt(), -7);
    copy.value().setBool(true);
    EXPECT_TRUE(copy.value().getBool());
    EXPECT_EQ(copy.value().cells[0] & 0xFF, 1u);
    EXPECT_EQ(copy.value().getInt(), std::int32_t(0xFFFFFF01u));  // only the low byte changed
    copy.value().setBool(false);
    EXPECT_FALSE(copy.value().getBool());
}

// Every field, compared one by one, so that a copy that drops one shows which.
void expectSameRecord(const ParamRecord& copy, const ParamRecord& source) {
    EXPECT_EQ(copy.kind, source.kind);
    EXPECT_EQ(copy.name, source.name);
    EXPECT_EQ(copy.code, source.code);
    EXPECT_EQ(copy.listCode, source.listCode);
    EXPECT_EQ(copy.choiceCodes, source.choiceCodes);
    EXPECT_EQ(copy.choiceLabels, source.choiceLabels);
    for (int slot = 0; slot < 6; ++slot) EXPECT_EQ(copy.slots[slot], source.slots[slot]) << "slot " << slot;
    EXPECT_EQ(copy.flags, source.flags);
    EXPECT_EQ(copy.scale, source.scale);
    EXPECT_EQ(copy.reserved, source.reserved);
}

// Assignment and a copy made with new (the form destroyParamRecord frees) take every field, and a
// copy is independent of its source.
TEST(ParamRecord, CopiesTakeEveryFieldAndAreIndependent) {
    ParamRecord source(ParamPopup, "spill mode", fourCharCode("pSpl"), fourCharCode("Spil"), ParamNoUndo);
    source.choiceCodes = {fourCharCode("Spl0"), fourCharCode("Spl1")};
    source.choiceLabels = {"spill complement", "spill solid"};
    for (int slot = 0; slot < 6; ++slot) {
        for (int cell = 0; cell < 3; ++cell) source.slots[slot].setDouble(slot * 10.0 + cell + 0.5, cell);
        source.slots[slot].text = "slot " + std::to_string(slot);
    }
    source.slots[SlotMax].setInt(1);
    source.scale = 0.25;
    source.reserved = 42;

    ParamRecord copy;
    copy.assign(source);
    expectSameRecord(copy, source);
    copy.value().text = "changed";
    copy.choiceLabels[0] = "changed";
    EXPECT_EQ(source.value().text, "slot 0");
    EXPECT_EQ(source.choiceLabels[0], "spill complement");

    ParamRecord* owned = new ParamRecord(source);
    expectSameRecord(*owned, source);
    owned->choiceCodes.push_back(7);
    owned->slots[SlotDefault].text = "changed";
    EXPECT_EQ(source.choiceCodes.size(), 2u);
    EXPECT_EQ(source.slots[SlotDefault].text, "slot 1");
    destroyParamRecord(owned);  // the sanitizer build's leak check sees that it is freed
    destroyParamRecord(nullptr);
}

}  // namespace
}  // namespace Mav::Host::Param
