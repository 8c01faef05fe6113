#include "host/param/parameters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace Mav::Host::Param {
namespace {

// An owner that logs its hooks and halves the pixel scale, as a preview at half size would.
class OwnerSet : public Parameters {
public:
    std::vector<std::size_t> changed;
    float scale = 1.0f;
    void valueChanged(std::size_t index) override {
        // The value must already be the default when the owner hears of it.
        EXPECT_EQ(record(index).value(), record(index).defaultValue());
        changed.push_back(index);
    }
    void pixelScale(float& x, float& y) const override { x = y = scale; }
};

// A record whose value and default are `value`, with hard limits lo and hi, each written through
// the view its kind reads: doubles for ParamFloat, the integer view for the integer kinds.
ParamRecord limitedRecord(ParamKind kind, const char* name, double value, double lo, double hi) {
    ParamRecord r(kind, name, 0, 0, 0);
    const auto put = [&](ParamSlot slot, double x) {
        if (kind == ParamFloat)
            r.slots[slot].setDouble(x);
        else
            r.slots[slot].setInt(static_cast<std::int32_t>(x));
    };
    put(SlotValue, value);
    put(SlotDefault, value);
    put(SlotMin, lo);
    put(SlotMax, hi);
    return r;
}

TEST(Parameters, ClampingSetters) {
    Parameters set;
    set.records().push_back(limitedRecord(ParamFloat, "f", 7, 0, 100));
    set.records().push_back(limitedRecord(ParamInt, "i", 12, 2, 100));
    const double inf = std::numeric_limits<double>::infinity();
    struct DoubleCase {
        double in, stored;
    };
    for (DoubleCase c : {DoubleCase{-5, 0}, {250, 100}, {42.5, 42.5}, {inf, 100}, {-inf, 0},
                         {std::nan(""), 7}}) {
        set.setDoubleClamped(c.in, 0);
        EXPECT_EQ(set.getDouble(0), c.stored) << c.in;
    }
    set.setDouble(-5, 0);
    EXPECT_EQ(set.getDouble(0), -5);

    struct IntCase {
        std::int32_t in, stored;
    };
    for (IntCase c : {IntCase{1, 2}, {101, 100}, {50, 50}, {INT32_MIN, 2}, {INT32_MAX, 100}}) {
        set.setIntClamped(c.in, 1);
        EXPECT_EQ(set.getInt(1), c.stored) << c.in;
    }
    set.setInt(-9, 1);
    EXPECT_EQ(set.getInt(1), -9);
}

TEST(Parameters, PointsFollowThePixelScaleUnlessUnscaled) {
    OwnerSet set;
    set.scale = 0.5f;
    set.records().push_back(ParamRecord(ParamPoint, "scaled", 0, 0, 0));
    set.records().push_back(ParamRecord(ParamPoint, "unscaled", 0, 0, ParamUnscaledPoint));
    const double in[2] = {10, 20};
    double out[2];
    set.setPoint(in, 0);
    EXPECT_EQ(set.record(0).value().getDouble(0), 20);
    EXPECT_EQ(set.record(0).value().getDouble(1), 40);
    set.getPoint(out, 0);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[1], 20);
    set.setPoint(in, 1);
    EXPECT_EQ(set.record(1).value().getDouble(0), 10);
    EXPECT_EQ(set.record(1).value().getDouble(1), 20);
    set.getPoint(out, 1);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[1], 20);
}

TEST(Parameters, TypedAccessorsUseTheirOwnViews) {
    Parameters set;
    set.records().push_back(ParamRecord(ParamBool, "b", 0, 0, 0));
    set.records().push_back(ParamRecord(ParamColour, "c", 0, 0, 0));
    set.records().push_back(ParamRecord(ParamText, "t", 0, 0, 0));
    set.setBool(true, 0);
    EXPECT_TRUE(set.getBool(0));
    const double rgb[3] = {0.25, 0.5, 1.0};
    double back[3];
    set.setColour(rgb, 1);
    set.getColour(back, 1);
    EXPECT_EQ(back[0], 0.25);
    EXPECT_EQ(back[2], 1.0);
    set.setString("line 1\nline 2", 2);
    EXPECT_EQ(set.getString(2), "line 1\nline 2");
}

TEST(Parameters, ResetCopiesDefaultsAndNotifiesInIndexOrder) {
    OwnerSet set;
    set.records().push_back(limitedRecord(ParamFloat, "f", 3, 0, 10));
    set.records().push_back(ParamRecord(ParamText, "t", 0, 0, 0));
    set.records().push_back(ParamRecord(ParamColour, "c", 0, 0, 0));
    set.record(1).defaultValue().text = "default";
    set.setDouble(9, 0);
    set.setString("edited", 1);
    const double rgb[3] = {1, 1, 1};
    set.setColour(rgb, 2);
    set.resetToDefaults();
    EXPECT_EQ(set.changed, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(set.getDouble(0), 3);
    EXPECT_EQ(set.getString(1), "default");
    double back[3];
    set.getColour(back, 2);
    EXPECT_EQ(back[1], 0);
}

TEST(Parameters, CopiesAreIndependent) {
    Parameters source;
    source.records().push_back(limitedRecord(ParamFloat, "f", 3, 0, 10));
    Parameters copy(source);
    copy.setDouble(5, 0);
    EXPECT_EQ(source.getDouble(0), 3);
    Parameters assigned;
    assigned.assign(copy);
    EXPECT_EQ(assigned.getDouble(0), 5);
    assigned.assign(assigned);
    EXPECT_EQ(assigned.count(), 1u);
}

// Counts live sets so that the holder's deletions can be seen.
class CountedSet : public Parameters {
public:
    static inline int alive = 0;
    CountedSet() { ++alive; }
    ~CountedSet() override { --alive; }
};

TEST(ParamSetHolder, DeletesOnlyOwnedSets) {
    CountedSet borrowed;
    {
        ParamSetHolder holder(new CountedSet, true);
        EXPECT_EQ(CountedSet::alive, 2);
        holder.reset(&borrowed, false);  // the owned set goes
        EXPECT_EQ(CountedSet::alive, 1);
        holder.reset(new CountedSet, true);  // the borrowed one stays
        EXPECT_EQ(CountedSet::alive, 2);
        Parameters* same = holder.get();
        holder.reset(same, true);  // holding the same set again keeps it alive
        EXPECT_EQ(CountedSet::alive, 2);
        ParamSetHolder moved(std::move(holder));
        EXPECT_EQ(holder.get(), nullptr);
        EXPECT_EQ(CountedSet::alive, 2);
    }
    EXPECT_EQ(CountedSet::alive, 1);
}

}  // namespace
}  // namespace Mav::Host::Param
