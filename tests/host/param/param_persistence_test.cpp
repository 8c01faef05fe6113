#include "host/param/parameters.h"

#include "host/system/registry_store.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include <sys/stat.h>

#include "tests/comma_locale.h"
#include "tests/host/system/store_test_support.h"

namespace Mav::Host::Param {
namespace {
namespace fs = std::filesystem;
using System::RegistryStore;
using System::StoreValue;
using test_store::fileText;
using test_store::writeText;

const std::string kRoot = "Software\\Mavrendel\\Vantrelo\\";

enum Index : std::size_t {
    KeyData, SpillMode, BgColour, SoftenOn, Soften, Shrink, Grid, Position, Selection, Label,
    Odd, Hidden, Count
};

// A set with a record of every kind, shaped like the keyer's schema.
class Schema : public Parameters {
public:
    int notified = 0;

    Schema() {
        add(ParamRecord(ParamText, "key data", fourCharCode("pKey"), 0, 0));
        ParamRecord spill(ParamPopup, "spill mode", fourCharCode("pSpl"), fourCharCode("Spil"), 0);
        limits(spill, 0, 0, 2);
        add(spill);
        ParamRecord colour(ParamColour, "BG color", fourCharCode("pSpC"), 0, 0);
        for (int c = 0; c < 3; ++c) colour.slots[SlotDefault].setDouble(0.5, c);
        add(colour);
        ParamRecord on(ParamBool, "enable soften matte", fourCharCode("pBlE"), 0, 0);
        on.slots[SlotDefault].setBool(true);
        add(on);
        ParamRecord soften(ParamFloat, "Soften Matte", fourCharCode("pBlr"), 0,
                           ParamPercent | ParamScaledInRegistry);
        limits(soften, 0.0, 0.0, 100.0);
        add(soften);
        ParamRecord shrink(ParamFloat, "Shrink Matte", fourCharCode("pBlT"), 0, ParamPercent);
        limits(shrink, 40.0, 0.0, 100.0);
        add(shrink);
        ParamRecord grid(ParamInt, "adjust lighting grid", fourCharCode("pALg"), 0, 0);
        limits(grid, 12, 2, 100);
        add(grid);
        ParamRecord point(ParamPoint, "position", 0, 0, ParamUnscaledPoint);
        point.slots[SlotDefault].setDouble(-1, 0);
        add(point);
        ParamRecord selection(ParamIndex, "selection", 0, 0, 0);
        limits(selection, 0, -1, 9);
        add(selection);
        ParamRecord label(ParamString, "label", 0, 0, 0);
        label.slots[SlotDefault].text = "untitled";
        add(label);
        add(ParamRecord(9, "odd kind", 0, 0, 0));
        ParamRecord hidden(ParamFloat, "hidden", 0, 0, ParamNotInPreset);
        limits(hidden, 1.0, 0.0, 10.0);
        add(hidden);
        resetToDefaults();
        notified = 0;
    }
    void valueChanged(std::size_t) override { ++notified; }

    double cell(std::size_t index, int c) const { return record(index).value().getDouble(c); }
    void setColourTo(double r, double g, double b) {
        const double rgb[3] = {r, g, b};
        setColour(rgb, BgColour);
    }

private:
    void add(ParamRecord r) {
        r.slots[SlotValue] = r.slots[SlotDefault];
        records().push_back(std::move(r));
    }
    static void limits(ParamRecord& r, std::int32_t value, std::int32_t lo, std::int32_t hi) {
        r.slots[SlotDefault].setInt(value);
        r.slots[SlotMin].setInt(lo);
        r.slots[SlotMax].setInt(hi);
    }
    static void limits(ParamRecord& r, double value, double lo, double hi) {
        r.slots[SlotDefault].setDouble(value);
        r.slots[SlotMin].setDouble(lo);
        r.slots[SlotMax].setDouble(hi);
    }
};

// A key-data text as the keyer writes it: several kilobytes over many lines.
std::string keyDataText() {
    std::string text = "# 6.0 vantrelo data\n0.5 0.25 0.125\n";
    for (int i = 0; i < 66 * 3; ++i) text += std::to_string(1000.25 + i) + "\n";
    return text + "spill mode: 2\r\nlast \"quoted\" line with a \\ backslash";
}

// Runs each test once in the C locale and once in a locale whose decimal separator is a comma:
// an installed one, else one made for the tests.  XDG_CONFIG_HOME points at a fresh folder.
class Persistence : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) {
            if (!test_locale::selectCommaLocale())
                GTEST_SKIP() << "no locale with a decimal comma is installed or can be made";
            ASSERT_STREQ(std::localeconv()->decimal_point, ",");
        }
        ASSERT_FALSE(folder_.empty());
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }

    static StoreValue stored(const std::string& name) {
        RegistryStore store;
        store.load();
        const StoreValue* value = store.value(kRoot + name);
        return value ? *value : StoreValue::ofText("<none>");
    }
    // Stores raw values under the root, as an earlier run or another program may have left them.
    static void store(const std::vector<std::pair<std::string, StoreValue>>& values) {
        RegistryStore s;
        for (const auto& [name, value] : values) {
            if (value.type == StoreValue::Type::Integer)
                s.setInteger(kRoot + name, value.integer);
            else
                s.setText(kRoot + name, value.text);
        }
        ASSERT_TRUE(s.commit());
    }
    fs::path file(const char* name) const { return folder_ / name; }

    const test_store::ScratchFolder home_{"vantrelo-params", test_store::ScratchFolder::ConfigHome};
    const fs::path folder_ = home_.path();
};

INSTANTIATE_TEST_SUITE_P(Locales, Persistence, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CommaLocale" : "CLocale"; });

TEST_P(Persistence, EveryKindRoundTripsThroughTheStore) {
    Schema saved;
    saved.setString(keyDataText(), KeyData);
    saved.setInt(2, SpillMode);
    saved.setColourTo(0.25, 1.0, 0.1);
    saved.setBool(false, SoftenOn);
    saved.setDouble(12.5, Soften);
    saved.setDouble(33.333333, Shrink);
    saved.setInt(57, Grid);
    const double xy[2] = {-3.5, 1024.75};
    saved.setPoint(xy, Position);
    saved.setInt(-1, Selection);
    saved.setString("", Label);
    ASSERT_TRUE(saved.saveToRegistry(kRoot));

    // What the store holds, in the formats other readers of it expect.
    EXPECT_EQ(stored("key data"), StoreValue::ofText(keyDataText()));
    EXPECT_EQ(stored("spill mode"), StoreValue::ofInteger(2));
    EXPECT_EQ(stored("BG color"), StoreValue::ofText("0.250000 1.000000 0.100000"));
    EXPECT_EQ(stored("enable soften matte"), StoreValue::ofInteger(0));
    EXPECT_EQ(stored("Soften Matte"), StoreValue::ofText("0.125000"));  // 12.5 x 0.01
    EXPECT_EQ(stored("Shrink Matte"), StoreValue::ofText("33.333333"));
    EXPECT_EQ(stored("position"), StoreValue::ofText("-3.500000 1024.750000"));
    EXPECT_EQ(stored("selection"), StoreValue::ofInteger(-1));
    EXPECT_EQ(stored("label"), StoreValue::ofText(""));
    RegistryStore raw;
    raw.load();
    EXPECT_TRUE(raw.hasKey(kRoot + "odd kind"));
    EXPECT_EQ(raw.value(kRoot + "odd kind"), nullptr);

    Schema loaded;
    ASSERT_TRUE(loaded.loadFromRegistry(kRoot));
    EXPECT_EQ(loaded.getString(KeyData), keyDataText());
    EXPECT_EQ(loaded.getInt(SpillMode), 2);
    EXPECT_EQ(loaded.cell(BgColour, 0), 0.25);
    EXPECT_EQ(loaded.cell(BgColour, 1), 1.0);
    EXPECT_EQ(loaded.cell(BgColour, 2), double(0.1f));  // read back in single precision
    EXPECT_FALSE(loaded.getBool(SoftenOn));
    EXPECT_DOUBLE_EQ(loaded.getDouble(Soften), 12.5);
    EXPECT_EQ(loaded.getDouble(Shrink), 33.333333);
    EXPECT_EQ(loaded.cell(Position, 0), -3.5);
    EXPECT_EQ(loaded.cell(Position, 1), 1024.75);
    EXPECT_EQ(loaded.getInt(Selection), -1);
    EXPECT_EQ(loaded.getString(Label), "");
    EXPECT_EQ(loaded.notified, 0);
}

// Each row stores one raw value and names what the record holds after loading.
TEST_P(Persistence, StoredValuesAreCheckedAndClampedOnReading) {
    const std::string longNumber = "5" + std::string(253, ' ');  // 254 bytes: still read
    struct Case {
        const char* name;
        StoreValue value;
        Index index;
        double expected;  // cell 0 through its kind's view
    };
    const auto I = StoreValue::ofInteger;
    const auto T = [](std::string text) { return StoreValue::ofText(std::move(text)); };
    const Case cases[] = {
        {"adjust lighting grid", I(101), Grid, 100},
        {"adjust lighting grid", I(1), Grid, 2},
        {"adjust lighting grid", I(INT32_MIN), Grid, 2},
        {"adjust lighting grid", T("50"), Grid, 12},  // a text for an integer: ignored
        {"spill mode", I(7), SpillMode, 2},
        {"selection", I(-5), Selection, -1},
        {"Shrink Matte", T("55.5"), Shrink, 55.5},
        {"Shrink Matte", T("0.5"), Shrink, 0.5},       // never read as 0 or 5 by the locale
        {"Shrink Matte", T("0,5"), Shrink, 0},         // ... nor a comma as a decimal point
        {"Shrink Matte", T("250"), Shrink, 100},
        {"Shrink Matte", T("-1"), Shrink, 0},
        {"Shrink Matte", T("nan"), Shrink, 40},        // a NaN gives the default
        {"Shrink Matte", T("-nan"), Shrink, 40},
        {"Shrink Matte", T("inf"), Shrink, 100},
        {"Shrink Matte", T("-inf"), Shrink, 0},
        {"Shrink Matte", T("1e999"), Shrink, 100},
        {"Shrink Matte", T("words"), Shrink, 0},
        {"Shrink Matte", T(longNumber), Shrink, 5},
        {"Shrink Matte", T(longNumber + " "), Shrink, 40},  // 255 bytes: ignored
        {"Shrink Matte", I(50), Shrink, 40},
        {"Soften Matte", T("0.125000"), Soften, 12.5},
        {"Soften Matte", T("2"), Soften, 100},
        {"hidden", T("nan"), Hidden, 1},
        {"enable soften matte", I(5), SoftenOn, 1},
        {"enable soften matte", I(0), SoftenOn, 0},
        {"enable soften matte", T("0"), SoftenOn, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " <- " +
                     (c.value.type == StoreValue::Type::Integer ? std::to_string(c.value.integer)
                                                                : c.value.text.substr(0, 20)));
        store({{c.name, c.value}});
        Schema set;
        ASSERT_TRUE(set.loadFromRegistry(kRoot));
        const ParamRecord& r = set.record(c.index);
        if (r.kind == ParamFloat)
            EXPECT_DOUBLE_EQ(set.getDouble(c.index), c.expected);
        else if (r.kind == ParamBool)
            EXPECT_EQ(set.getBool(c.index), c.expected != 0);
        else
            EXPECT_EQ(set.getInt(c.index), std::int32_t(c.expected));
    }
}

TEST_P(Persistence, StoredColoursPointsAndTexts) {
    struct Case {
        const char* name;
        std::string text;
        Index index;
        double cells[3];
    };
    const Case cases[] = {
        {"BG color", "0.5 0.25", BgColour, {0.5, 0.5, 0.5}},  // two numbers: ignored
        {"BG color", "0.5 0.25 1", BgColour, {0.5, 0.25, 1}},
        {"BG color", "  0.5\t0.25\n1 trailing", BgColour, {0.5, 0.25, 1}},
        {"BG color", "nan 0.25 1", BgColour, {0.5, 0.25, 1}},  // the NaN cell takes its default
        {"BG color", "2 -1 inf", BgColour, {2, -1, HUGE_VAL}},  // colours have no limits
        {"position", "3 4", Position, {3, 4, 0}},
        {"position", "3", Position, {-1, 0, 0}},
        {"position", "nan 4", Position, {-1, 4, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        store({{c.name, StoreValue::ofText(c.text)}});
        Schema set;
        ASSERT_TRUE(set.loadFromRegistry(kRoot));
        for (int k = 0; k < (c.index == BgColour ? 3 : 2); ++k)
            EXPECT_EQ(set.cell(c.index, k), c.cells[k]) << k;
    }

    // Texts: everything up to a zero byte; an integer for a text is ignored.
    store({{"key data", StoreValue::ofText(std::string("before\0after", 12))},
           {"label", StoreValue::ofInteger(3)}});
    Schema set;
    ASSERT_TRUE(set.loadFromRegistry(kRoot));
    EXPECT_EQ(set.getString(KeyData), "before");
    EXPECT_EQ(set.getString(Label), "untitled");
}

TEST_P(Persistence, DamagedOrMissingStoreKeepsTheValues) {
    Schema set;
    set.setInt(50, Grid);
    EXPECT_TRUE(set.loadFromRegistry(kRoot));  // nothing stored yet
    EXPECT_EQ(set.getInt(Grid), 50);

    ASSERT_TRUE(set.saveToRegistry(kRoot));
    const fs::path storeFile = RegistryStore::defaultLocation();
    std::string bytes = fileText(storeFile);
    bytes.resize(bytes.size() / 2);
    writeText(storeFile, bytes);
    set.setInt(60, Grid);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(set.loadFromRegistry(kRoot));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("damaged"), std::string::npos);
    EXPECT_EQ(set.getInt(Grid), 60);
    EXPECT_FALSE(fs::exists(storeFile));
    ASSERT_TRUE(set.saveToRegistry(kRoot));  // a fresh store takes its place
    Schema again;
    EXPECT_TRUE(again.loadFromRegistry(kRoot));
    EXPECT_EQ(again.getInt(Grid), 60);
}

TEST_P(Persistence, PresetFileHasTheExactLineFormats) {
    Schema set;
    set.setString("a\"b\\c", KeyData);
    set.setInt(1, SpillMode);
    set.setColourTo(0.5, 1.0 / 3.0, 1e-7);
    set.setDouble(12.5, Soften);
    set.setDouble(1234567.0, Shrink);
    set.setInt(-1, Grid);
    const double xy[2] = {0.1, -2.0};
    set.setPoint(xy, Position);
    ASSERT_TRUE(set.savePreset(file("preset.txt"), "Vantrelo", "1.0"));
    EXPECT_EQ(fileText(file("preset.txt")),
              "Plugin Name: Vantrelo\r\n"
              "Version Number: 1.0\r\n"
              "key data: \"a\\\"b\\\\c\"\r\n"
              "spill mode: 1\r\n"
              "BG color: 0.5 0.333333 1e-07 \r\n"
              "enable soften matte: true\r\n"
              "Soften Matte: 12.5\r\n"
              "Shrink Matte: 1.23457e+06\r\n"
              "adjust lighting grid: -1\r\n"
              "position: 0.1 -2 \r\n"
              "selection: 0\r\n"
              "label: \"untitled\"\r\n");
}

TEST_P(Persistence, PresetValuesRoundTrip) {
    std::string longLine;
    for (int i = 0; longLine.size() < 255; ++i) longLine += char('!' + i % 90);
    ASSERT_EQ(longLine.size(), 255u);
    struct Case {
        double number;
        double readBack;  // six significant digits
    };
    const Case numbers[] = {{3.14159265, 3.14159}, {0.5, 0.5}, {-1e-7, -1e-7},
                            {123456789.0, 123457000.0}, {999999.7, 1e6}};
    for (const Case& c : numbers) {
        Schema saved;
        saved.setDouble(c.number, Shrink);
        saved.setString(longLine, Label);
        saved.setString(keyDataText(), KeyData);
        saved.setColourTo(c.number, 0.25, -c.number);
        saved.setBool(false, SoftenOn);
        saved.setInt(INT32_MIN, Grid);
        ASSERT_TRUE(saved.savePreset(file("round.txt"), "Vantrelo", "2"));

        Schema loaded;
        loaded.setInt(77, Selection);
        ASSERT_TRUE(loaded.loadPreset(file("round.txt")));
        EXPECT_EQ(loaded.getDouble(Shrink), c.readBack);
        EXPECT_EQ(loaded.cell(BgColour, 0), c.readBack);
        EXPECT_EQ(loaded.cell(BgColour, 2), -c.readBack);
        EXPECT_EQ(loaded.getString(Label), longLine);
        // A multi-line text survives and none of its lines is taken for an entry.
        EXPECT_EQ(loaded.getString(KeyData), keyDataText());
        EXPECT_EQ(loaded.getInt(SpillMode), 0);
        EXPECT_FALSE(loaded.getBool(SoftenOn));
        EXPECT_EQ(loaded.getInt(Grid), INT32_MIN);
        EXPECT_EQ(loaded.getInt(Selection), 0);  // reset before loading
        EXPECT_EQ(loaded.getDouble(Hidden), 1);  // not in the file: its default
        EXPECT_EQ(loaded.notified, int(Count));  // only the reset tells the owner
    }
}

// Preset files written by hand or by other programs.  Every row loads one file over a set whose
// values differ from the defaults; the reset comes first, so unnamed records end at defaults.
TEST_P(Persistence, PresetReadingRules) {
    struct Case {
        const char* body;  // after the plug-in line
        Index index;
        double expected;
    };
    const Case cases[] = {
        {"enable soften matte: True\n", SoftenOn, 0},
        {"enable soften matte:true   \r\n", SoftenOn, 1},
        {"enable soften matte : true\n", SoftenOn, 1},     // blanks before the colon are cut
        {" Shrink Matte: 7\n", Shrink, 40},                // ... but not before the name
        {"Shrink Matte: 7.25 trailing words\n", Shrink, 7.25},
        {"Shrink Matte: 250\n", Shrink, 250},              // no limits for presets
        {"Shrink Matte: nan\n", Shrink, 40},
        {"Shrink Matte: 0,5\n", Shrink, 0},
        {"Shrink Matte: not a number\n", Shrink, 0},
        {"adjust lighting grid: 99999999999\n", Grid, INT32_MAX},
        {"adjust lighting grid: -99999999999\n", Grid, INT32_MIN},
        {"adjust lighting grid: 42abc\n", Grid, 42},
        {"adjust lighting grid: 4.9\n", Grid, 4},
        {"hidden: 3\n", Hidden, 3},                         // read when named
        {"Version Number: 5\nno colon here\n\nspill mode: 2", SpillMode, 2},
        {"spill mode: 2\nspill mode: 1\n", SpillMode, 1},  // the last line wins
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        writeText(file("in.txt"), std::string("Plugin Name: x\r\n") + c.body);
        Schema set;
        set.setInt(9, Grid);
        set.setDouble(9, Shrink);
        set.setBool(false, SoftenOn);
        set.setInt(1, SpillMode);
        ASSERT_TRUE(set.loadPreset(file("in.txt")));
        const ParamRecord& r = set.record(c.index);
        if (r.kind == ParamFloat)
            EXPECT_EQ(set.getDouble(c.index), c.expected);
        else if (r.kind == ParamBool)
            EXPECT_EQ(set.getBool(c.index), c.expected != 0);
        else
            EXPECT_EQ(set.getInt(c.index), std::int32_t(c.expected));
    }

    // Colours and points: up to three (two) numbers, the rest keep their values; texts.
    writeText(file("in.txt"), "Plugin Name: x\n"
                              "BG color: 1 nan\n"
                              "position: 7 8 9\n"
                              "key data: \"unterminated \\\"text\\\n"
                              "label: no quote\n");
    Schema set;
    ASSERT_TRUE(set.loadPreset(file("in.txt")));
    EXPECT_EQ(set.cell(BgColour, 0), 1);
    EXPECT_EQ(set.cell(BgColour, 1), 0.5);  // the NaN took the default
    EXPECT_EQ(set.cell(BgColour, 2), 0.5);
    EXPECT_EQ(set.cell(Position, 0), 7);
    EXPECT_EQ(set.cell(Position, 1), 8);
    EXPECT_EQ(set.getString(KeyData), "unterminated \"text");
    EXPECT_EQ(set.getString(Label), "");

    // The first line is never an entry, and a file that cannot be read changes nothing.
    writeText(file("in.txt"), "spill mode: 2\n");
    ASSERT_TRUE(set.loadPreset(file("in.txt")));
    EXPECT_EQ(set.getInt(SpillMode), 0);
    set.setInt(2, SpillMode);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(set.loadPreset(file("missing.txt")));
    EXPECT_FALSE(set.loadPreset(folder_));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("not loaded"), std::string::npos);
    EXPECT_EQ(set.getInt(SpillMode), 2);
}

TEST_P(Persistence, PresetThatCannotBeWrittenIsReported) {
    Schema set;
    writeText(file("keep.txt"), "old");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(set.savePreset(folder_ / "no such folder" / "p.txt", "Vantrelo", "1"));
    EXPECT_FALSE(set.savePreset(folder_, "Vantrelo", "1"));
    ::chmod(file("keep.txt").c_str(), 0444);  // read-only: kept as it is
    EXPECT_FALSE(set.savePreset(file("keep.txt"), "Vantrelo", "1"));
    EXPECT_EQ(fileText(file("keep.txt")), "old");
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("not saved"), std::string::npos);
    EXPECT_EQ(fs::directory_iterator(folder_)->path().filename(), "keep.txt");
}

// A preset saved through a link writes the file the link names, even one not made yet, and the
// link stays a link.
TEST_P(Persistence, PresetSavedThroughALinkWritesItsTarget) {
    fs::create_directory(file("presets"));
    fs::create_symlink("presets/studio.txt", file("studio link.txt"));
    Schema set;
    set.setInt(2, SpillMode);
    ASSERT_TRUE(set.savePreset(file("studio link.txt"), "Vantrelo", "1"));
    EXPECT_TRUE(fs::is_symlink(file("studio link.txt")));
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(file("presets") / "studio.txt")));
    EXPECT_NE(fileText(file("presets") / "studio.txt").find("spill mode: 2\r\n"), std::string::npos);
    Schema loaded;
    ASSERT_TRUE(loaded.loadPreset(file("studio link.txt")));
    EXPECT_EQ(loaded.getInt(SpillMode), 2);
}

}  // namespace
}  // namespace Mav::Host::Param
