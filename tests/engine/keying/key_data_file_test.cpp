#include "engine/keying/key_data_file.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/effects/shape_layer.h"
#include "tests/comma_locale.h"
#include "tests/engine/keying/keying_fixtures.h"

// A save syncs its temporary file before it puts it in place; a test that needs something to
// happen in the middle of a save (the folder moved away) hooks that moment.  Every other sync of
// the program goes straight to the system.
namespace {
std::function<void()> beforeNextSync;
}  // namespace

extern "C" int fsync(int fd) {
    if (beforeNextSync) {
        const std::function<void()> hook = std::move(beforeNextSync);
        beforeNextSync = nullptr;
        hook();
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace vantrelo {
namespace {

namespace fs = std::filesystem;
using testing_keys::blankState;

// A state with a different, non-round value in every stored field.
KeyState sampleState(int seed) {
    KeyState s = blankState();
    std::mt19937 random(static_cast<unsigned>(seed));
    std::uniform_real_distribution<float> colour(0.0f, 65535.0f), unit(-2.0f, 3.0f);
    for (float& v : s.backdrop) v = colour(random);
    s.auxValue1 = -17 * seed;
    s.auxValue2 = 123456 + seed;
    std::strcpy(s.label1, "studio");
    std::strcpy(s.label2, "blue screen");
    for (int v = 0; v < kVertexCount; ++v) {
        s.innerRadii[v] = colour(random) / 4;
        s.middleRadii[v] = s.innerRadii[v] + colour(random) / 4;
        s.outerRadii[v] = s.middleRadii[v] + colour(random) / 4;
    }
    for (int c = 0; c < 3; ++c) s.replacementColour[c] = static_cast<std::uint16_t>(random() % 65536);
    for (int k = 0; k < 12; ++k) {
        s.correctionSet1[k] = unit(random);
        s.correctionSet2[k] = unit(random);
        s.auxInts[k] = static_cast<std::int32_t>(random() % 2000000) - 1000000;
    }
    for (float& v : s.thresholds) v = unit(random);
    for (float& v : s.hexagonRadii) v = unit(random);
    s.grainLevel = 2;
    s.grainAmount = 0.25f;
    return s;
}

// What the file gives back for a value written as "%f", by the C library's own route.
float viaPrintf(float v) {
    char text[128];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(v));
    return std::strtof(text, nullptr);
}
float storedColour(float v) { return viaPrintf(v * (1.0f / 65535.0f)) * 65535.0f; }
std::uint16_t storedReplacement(std::uint16_t v) {
    return static_cast<std::uint16_t>(storedColour(static_cast<float>(v)));
}

void expectReadBack(const KeyState& got, const KeyState& written, const char* what) {
    SCOPED_TRACE(what);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(got.backdrop[c], storedColour(written.backdrop[c]));
        EXPECT_EQ(got.replacementColour[c], storedReplacement(written.replacementColour[c]));
    }
    for (int v = 0; v < kVertexCount; ++v) {
        ASSERT_EQ(got.innerRadii[v], storedColour(written.innerRadii[v])) << v;
        ASSERT_EQ(got.middleRadii[v], storedColour(written.middleRadii[v])) << v;
        ASSERT_EQ(got.outerRadii[v], storedColour(written.outerRadii[v])) << v;
    }
    for (int k = 0; k < 12; ++k) {
        EXPECT_EQ(got.correctionSet1[k], viaPrintf(written.correctionSet1[k]));
        EXPECT_EQ(got.correctionSet2[k], viaPrintf(written.correctionSet2[k]));
        EXPECT_EQ(got.auxInts[k], written.auxInts[k]);
    }
    for (int k = 0; k < 3; ++k) EXPECT_EQ(got.thresholds[k], viaPrintf(written.thresholds[k]));
    for (int k = 0; k < 21; ++k) EXPECT_EQ(got.hexagonRadii[k], viaPrintf(written.hexagonRadii[k]));
    EXPECT_EQ(got.auxValue1, written.auxValue1);
    EXPECT_EQ(got.auxValue2, written.auxValue2);
    EXPECT_STREQ(got.label1, "NOT");
    EXPECT_STREQ(got.label2, "NOT");
}

ShapeLayer* squareLayer(float offset, int mode) {
    ShapeLayer* layer = newShapeLayer();
    setShapeLayerPoint(layer, -1, 0.1f + offset, 0.1f, true);
    setShapeLayerPoint(layer, -1, 0.6f + offset, 0.1234567f, false);
    setShapeLayerPoint(layer, -1, 0.6f, 0.7f, true);
    layer->opacity = 0.75f;
    layer->feather = 0.0333333f;
    layer->mode = mode;
    return layer;
}

class KeyDataFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vantrelo-keydata-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, ignored);
        fs::remove_all(dir_, ignored);
        for (ShapeLayer* layer : owned_) freeShapeLayer(layer);
    }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void write(const std::string& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    ShapeLayer* own(ShapeLayer* layer) {
        owned_.push_back(layer);
        return layer;
    }

    fs::path dir_;
    std::vector<ShapeLayer*> owned_;
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    return lines;
}

std::string join(const std::vector<std::string>& lines, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count && i < lines.size(); ++i) text += lines[i];
    return text;
}

// Three records: one with both kinds of shapes, one without shapes, and one whose flags ask for
// shapes it does not have.
TEST_F(KeyDataFile, SeveralRecordsWithShapesRoundTrip) {
    KeyState a = sampleState(1), b = sampleState(2), c = sampleState(3);
    ShapeLayer* extLayers[] = {own(squareLayer(0.0f, 2)), own(squareLayer(0.2f, 1)), nullptr};
    ShapeLayer* obeyLayers[] = {own(squareLayer(0.1f, 3)), nullptr};
    extLayers[1]->invert = true;
    a.flags = 0x80000000u | KeyFlagExtShapes | KeyFlagObeyShapes | KeyFlagSpillSolid | KeyFlagGrainFilter;
    a.extShapes = extLayers;
    a.obeyShapes = obeyLayers;
    b.flags = KeyFlagUseRTPlus | KeyFlagSpillComplement;
    c.flags = KeyFlagExtShapes | KeyFlagMiddleOnly;  // but no list to write
    const KeyState* states[] = {&a, &b, &c, nullptr};
    ASSERT_EQ(saveKeyLayers(path("keys.txt").c_str(), states), 1);

    std::int32_t count = -5;
    EXPECT_EQ(countKeyLayers(path("keys.txt").c_str(), &count), 1);
    EXPECT_EQ(count, 3);

    KeyState ra = blankState(), rb = blankState(), rc = blankState();
    for (KeyState* s : {&ra, &rb, &rc}) {
        s->simGridSize = 31;  // not stored: must stay
        s->grainLevel = 3;
    }
    KeyShapeLists la, lb, lc;
    KeyState* targets[] = {&ra, &rb, &rc, nullptr};
    KeyShapeLists* lists[] = {&la, &lb, &lc};
    ASSERT_EQ(loadKeyLayers(path("keys.txt").c_str(), targets, lists), 1);

    expectReadBack(ra, a, "a");
    expectReadBack(rb, b, "b");
    expectReadBack(rc, c, "c");
    EXPECT_EQ(ra.flags, a.flags);  // the flag word round-trips exactly
    EXPECT_EQ(rb.flags, b.flags);
    EXPECT_EQ(rc.flags, KeyFlagMiddleOnly);  // only the shape flag without layers is cleared
    EXPECT_EQ(ra.simGridSize, 31);
    EXPECT_EQ(ra.grainLevel, 3);

    ASSERT_EQ(la.extCount(), 2u);
    ASSERT_EQ(la.obeyCount(), 1u);
    EXPECT_EQ(ra.extShapes, la.ext());
    EXPECT_EQ(ra.obeyShapes, la.obey());
    EXPECT_EQ(ra.extShapes[2], nullptr);
    EXPECT_EQ(ra.obeyShapes[1], nullptr);
    const ShapeLayer& second = *ra.extShapes[1];
    EXPECT_TRUE(second.invert);
    EXPECT_EQ(second.mode, 1);
    EXPECT_EQ(second.opacity, 0.75f);
    EXPECT_EQ(second.feather, viaPrintf(0.0333333f));
    EXPECT_EQ(second.x[1], viaPrintf(0.8f));
    EXPECT_EQ(second.y[1], viaPrintf(0.1234567f));
    EXPECT_EQ(second.pointType[1], ShapePointSmooth);
    EXPECT_EQ(ra.obeyShapes[0]->mode, 3);
    EXPECT_EQ(rb.extShapes, nullptr);  // untouched: b has no shape flags
    EXPECT_EQ(lb.extCount(), 0u);
    EXPECT_EQ(lc.extCount(), 0u);

    // Two states from a file of three: both filled, result 1.
    KeyState only[2] = {blankState(), blankState()};
    KeyState* two[] = {&only[0], &only[1], nullptr};
    EXPECT_EQ(loadKeyLayers(path("keys.txt").c_str(), two), 1);
    expectReadBack(only[1], b, "second of two");
}

TEST_F(KeyDataFile, SingleRecordLayout) {
    KeyState s = sampleState(4);
    s.flags = KeyFlagSpillSolid;
    ASSERT_EQ(saveKeyFile(path("one.txt").c_str(), &s), 1);
    const std::vector<std::string> lines = linesOf(read(path("one.txt")));
    ASSERT_EQ(lines.size(), 92u);  // nothing after the hexagon keyer's lines
    EXPECT_EQ(lines[0], "# 7.0 vantrelo data\n");
    EXPECT_EQ(lines[2], "2\n");
    EXPECT_EQ(lines[4], "NOT SET\n");
    EXPECT_EQ(lines[5], "NOT SET\n");
    KeyState back = blankState();
    ASSERT_EQ(loadKeyFile(path("one.txt").c_str(), &back), 1);
    expectReadBack(back, s, "single");
    EXPECT_EQ(back.flags, s.flags);
    // A negative flag word is written as a signed decimal.
    s.flags = 0xFFFF0000u & ~static_cast<std::uint32_t>(KeyFlagExtShapes | KeyFlagObeyShapes);
    ASSERT_EQ(saveKeyFile(path("one.txt").c_str(), &s), 1);
    EXPECT_EQ(linesOf(read(path("one.txt")))[2], std::to_string(static_cast<std::int32_t>(s.flags)) + "\n");
    ASSERT_EQ(loadKeyFile(path("one.txt").c_str(), &back), 1);
    EXPECT_EQ(back.flags, s.flags);
}

TEST_F(KeyDataFile, OlderFormats) {
    KeyState s = sampleState(5);
    s.flags = KeyFlagExtShapes | KeyFlagSpillComplement;  // a shape flag an old file cannot back
    ShapeLayer* layers[] = {own(squareLayer(0.0f, 0)), nullptr};
    s.extShapes = layers;
    ASSERT_EQ(saveKeyFile(path("v7.txt").c_str(), &s), 1);
    std::vector<std::string> lines = linesOf(read(path("v7.txt")));

    ShapeLayer* before[] = {nullptr};
    {  // "# 6": lines 1 to 92; the shape lists stay as they were
        lines[0] = "# 6.0 vantrelo data\n";
        write(path("v6.txt"), join(lines, 92));
        KeyState back = blankState();
        back.extShapes = before;
        KeyShapeLists shapes;
        ASSERT_EQ(loadKeyFile(path("v6.txt").c_str(), &back, &shapes), 1);
        expectReadBack(back, s, "v6");
        EXPECT_EQ(back.extShapes, before);
        EXPECT_EQ(shapes.ext(), nullptr);
        EXPECT_EQ(back.flags, KeyFlagSpillComplement);
    }
    {  // "# 5": lines 1 to 84; thresholds and hexagon radii stay as they were
        lines[0] = "# 5.1\n";
        write(path("v5.txt"), join(lines, 84));
        KeyState back = blankState();
        for (float& v : back.thresholds) v = 9.0f;
        for (float& v : back.hexagonRadii) v = 8.0f;
        ASSERT_EQ(loadKeyFile(path("v5.txt").c_str(), &back), 1);
        for (int v = 0; v < kVertexCount; ++v) EXPECT_EQ(back.outerRadii[v], storedColour(s.outerRadii[v]));
        EXPECT_EQ(back.auxInts[11], s.auxInts[11]);
        EXPECT_EQ(back.thresholds[1], 9.0f);
        EXPECT_EQ(back.hexagonRadii[20], 8.0f);
        // A "# 5" record in a file of several: the next one still reads.
        write(path("v5two.txt"), join(lines, 84) + "ENDLAYER\n" + join(lines, 84));
        std::int32_t count = 0;
        EXPECT_EQ(countKeyLayers(path("v5two.txt").c_str(), &count), 1);
        EXPECT_EQ(count, 2);
    }
}

TEST_F(KeyDataFile, HeaderlessEightBitForm) {
    std::string text = "0 255 0\n";
    for (int v = 0; v < kVertexCount; ++v) text += std::to_string(v) + " " + std::to_string(v + 1) + " 255\n";
    text += "16386\n255 128 0\n";
    text += "0 10 20 255 250 245 1.000000 2.200000 0.500000\n";
    text += "1 2 3 4 5 6 0.9 1.1 1.2\n";
    write(path("old.txt"), text);
    KeyState back = blankState();
    ASSERT_EQ(loadKeyFile(path("old.txt").c_str(), &back), 1);
    EXPECT_EQ(back.backdrop[0], 0.0f);
    EXPECT_FLOAT_EQ(back.backdrop[1], 65535.0f);
    EXPECT_EQ(back.backdrop[2], 0.0f);
    const float scale = 0.003921569f;
    EXPECT_EQ(back.innerRadii[10], static_cast<float>(10 * 65535) * scale);
    EXPECT_EQ(back.middleRadii[10], static_cast<float>(11 * 65535) * scale);
    EXPECT_FLOAT_EQ(back.outerRadii[65], 65535.0f);
    EXPECT_EQ(back.flags, 16386u);
    EXPECT_EQ(back.replacementColour[0], 65535);
    EXPECT_EQ(back.replacementColour[1], 32896);
    EXPECT_EQ(back.replacementColour[2], 0);
    const float expected1[12] = {0, 1, 1, 0, 10 * scale, 20 * scale, 255 * scale, 250 * scale, 245 * scale, 1.0f, 2.2f, 0.5f};
    for (int k = 0; k < 12; ++k) EXPECT_EQ(back.correctionSet1[k], expected1[k]) << k;
    EXPECT_EQ(back.correctionSet2[3], 1 * scale);
    EXPECT_EQ(back.correctionSet2[11], 1.2f);
}

TEST_F(KeyDataFile, SeparatorBeforeARecordIsSkipped) {
    KeyState s = sampleState(6);
    ASSERT_EQ(saveKeyFile(path("one.txt").c_str(), &s), 1);
    write(path("sep.txt"), "ENDLAYER\n" + read(path("one.txt")));
    KeyState back = blankState();
    ASSERT_EQ(loadKeyFile(path("sep.txt").c_str(), &back), 1);
    expectReadBack(back, s, "after separator");
}

// A record cut anywhere, or with a line that does not scan, is refused and changes nothing.
TEST_F(KeyDataFile, TruncatedOrGarbledRecordsChangeNothing) {
    KeyState s = sampleState(7);
    ASSERT_EQ(saveKeyFile(path("one.txt").c_str(), &s), 1);
    const std::vector<std::string> lines = linesOf(read(path("one.txt")));
    const KeyState original = sampleState(8);
    std::vector<std::string> cases;
    for (std::size_t n = 0; n < 92; ++n) cases.push_back(join(lines, n));
    cases.push_back(join(lines, 40) + lines[40].substr(0, 5));  // cut inside a line, no newline
    for (std::size_t line : {1u, 2u, 3u, 4u, 10u, 72u, 75u, 82u, 84u, 90u}) {
        std::vector<std::string> garbled = lines;
        garbled[line] = line == 4 ? "\n" : "x 0.5\n";
        cases.push_back(join(garbled, garbled.size()));
    }
    cases.push_back("12 13\n");  // headerless, short first line
    for (const std::string& text : cases) {
        write(path("bad.txt"), text);
        KeyState back = original;
        KeyShapeLists shapes;
        EXPECT_EQ(loadKeyFile(path("bad.txt").c_str(), &back, &shapes), -2) << text.size();
        EXPECT_EQ(std::memcmp(&back, &original, sizeof back), 0) << text.size();
    }
}

// A number that is not finite, or that its field cannot hold (a fraction whose colour overflows
// single precision, a replacement colour outside 16 bits), makes the record damaged: the read
// fails and the state is as it was.
TEST_F(KeyDataFile, NumbersOutsideTheirFieldMakeTheRecordDamaged) {
    KeyState s = sampleState(23);
    ASSERT_EQ(saveKeyFile(path("one.txt").c_str(), &s), 1);
    const std::vector<std::string> lines = linesOf(read(path("one.txt")));
    struct Case {
        std::size_t line;  // 1 backdrop, 6.. radii, 72 replacement, 73.. corrections, 84 thresholds, 85.. hexagon
        const char* text;
    } cases[] = {
        {1, "nan 0.5 0.5"},     {1, "0.5 inf 0.5"},       {1, "0.5 0.5 1e35"},  {10, "0.1 -inf 0.3"},
        {71, "0.1 0.2 1e36"},   {72, "0.5 NaN 0.5"},      {72, "1.5 0.5 0.5"},  {72, "0.5 0.5 -0.1"},
        {73, "infinity 1 1"},   {80, "1 1 nan"},          {84, "0.1 nan 0.3"},  {91, "1 2 -infinity"},
    };
    const KeyState original = sampleState(24);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.line) + ": " + c.text);
        std::vector<std::string> damaged = lines;
        damaged[c.line] = std::string(c.text) + "\n";
        write(path("bad.txt"), join(damaged, damaged.size()));
        KeyState back = original;
        KeyShapeLists shapes;
        EXPECT_EQ(loadKeyFile(path("bad.txt").c_str(), &back, &shapes), -2);
        EXPECT_EQ(std::memcmp(&back, &original, sizeof back), 0);
    }
    // The largest replacement colour and the smallest fractions still read.
    std::vector<std::string> edge = lines;
    edge[72] = "1.000000 0.000000 -0.000001\n";
    write(path("edge.txt"), join(edge, edge.size()));
    KeyState back = original;
    ASSERT_EQ(loadKeyFile(path("edge.txt").c_str(), &back), 1);
    EXPECT_EQ(back.replacementColour[0], 65535);
    EXPECT_EQ(back.replacementColour[1], 0);
    EXPECT_EQ(back.replacementColour[2], 0);

    // The headerless form: gammas that are not finite and replacement colours past 8 bits.
    std::string headerless = "0 255 0\n";
    for (int v = 0; v < kVertexCount; ++v) headerless += "1 2 3\n";
    headerless += "0\n";
    for (const char* tail : {"255 128 0\n0 10 20 255 250 245 1 2.2 nan\n0 0 0 255 255 255 1 1 1\n",
                             "255 128 0\n0 10 20 255 250 245 1 2.2 0.5\n0 0 0 255 255 255 inf 1 1\n",
                             "256 128 0\n0 10 20 255 250 245 1 2.2 0.5\n0 0 0 255 255 255 1 1 1\n",
                             "255 -1 0\n0 10 20 255 250 245 1 2.2 0.5\n0 0 0 255 255 255 1 1 1\n"}) {
        SCOPED_TRACE(tail);
        write(path("bad.txt"), headerless + tail);
        KeyState back8 = original;
        EXPECT_EQ(loadKeyFile(path("bad.txt").c_str(), &back8), -2);
        EXPECT_EQ(std::memcmp(&back8, &original, sizeof back8), 0);
    }

    // A shape layer with such a number is not read; the record and its other layers are.
    KeyState shaped = sampleState(25);
    shaped.flags = KeyFlagExtShapes;
    ASSERT_EQ(saveKeyFile(path("shaped.txt").c_str(), &shaped), 1);
    write(path("shaped.txt"), read(path("shaped.txt")) +
                                  "EXTSHAPE\n0\nnan\n0.0\n0\n3\n0 0 3\n1 0 1\n1 1 1\n"
                                  "EXTSHAPE\n0\n1.0\n0.0\n0\n3\n0 0 3\ninf 0 1\n1 1 1\n"
                                  "EXTSHAPE\n0\n0.5\n0.25\n1\n3\n0 0 3\n1 0 1\n1 1 2\n");
    KeyState withShapes = blankState();
    KeyShapeLists shapes;
    ASSERT_EQ(loadKeyFile(path("shaped.txt").c_str(), &withShapes, &shapes), 1);
    ASSERT_EQ(shapes.extCount(), 1u);
    EXPECT_EQ(withShapes.extShapes[0]->opacity, 0.5f);
    EXPECT_EQ(withShapes.extShapes[0]->feather, 0.25f);
}

TEST_F(KeyDataFile, UnreadableLayerIsSkipped) {
    KeyState s = sampleState(9);
    s.flags = KeyFlagExtShapes;
    ASSERT_EQ(saveKeyFile(path("one.txt").c_str(), &s), 1);
    const std::string text = read(path("one.txt")) +
                             "EXTSHAPE\n0\n1.0\n0.0\n0\n0\n"                          // no points: skipped
                             "something else\n"                                       // ignored
                             "EXTSHAPE\n1\n0.5\n0.1\n2\n3\n0 0 3\n1 0 1\n1 1 2\n"     // kept
                             "OBEYSHAPE\n0\n1.0\n";                                    // cut short
    write(path("shapes.txt"), text);
    KeyState back = blankState();
    KeyShapeLists shapes;
    ASSERT_EQ(loadKeyFile(path("shapes.txt").c_str(), &back, &shapes), 1);
    ASSERT_EQ(shapes.extCount(), 1u);
    EXPECT_EQ(shapes.obeyCount(), 0u);
    EXPECT_EQ(back.extShapes[0]->pointType[2], ShapePointDoubled);
    EXPECT_EQ(back.extShapes[1], nullptr);
    EXPECT_EQ(back.flags, KeyFlagExtShapes);

    // Without lists the layers are read and freed, and the state claims no shapes.
    KeyState plain = blankState();
    ShapeLayer* theirs[] = {nullptr};
    plain.extShapes = theirs;
    ASSERT_EQ(loadKeyFile(path("shapes.txt").c_str(), &plain), 1);
    EXPECT_EQ(plain.extShapes, theirs);
    EXPECT_EQ(plain.flags, 0u);

    // Reading again into the same lists replaces their layers.
    ASSERT_EQ(loadKeyFile(path("shapes.txt").c_str(), &back, &shapes), 1);
    EXPECT_EQ(shapes.extCount(), 1u);
    EXPECT_EQ(back.extShapes, shapes.ext());
}

TEST_F(KeyDataFile, NumbersIgnoreTheProcessLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!test_locale::selectCommaLocale())
        GTEST_SKIP() << "no locale with a decimal comma is installed or can be made";
    KeyState s = sampleState(10);
    const int saveResult = saveKeyFile(path("one.txt").c_str(), &s);
    KeyState back = blankState();
    const int loadResult = loadKeyFile(path("one.txt").c_str(), &back);
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(saveResult, 1);
    ASSERT_EQ(loadResult, 1);
    expectReadBack(back, s, "locale");
}

TEST_F(KeyDataFile, FilesThatCannotBeOpened) {
    KeyState s = sampleState(11);
    EXPECT_EQ(saveKeyFile(path("missing/one.txt").c_str(), &s), -1);
    EXPECT_EQ(saveKeyFile(dir_.string().c_str(), &s), -1);  // a folder
    EXPECT_EQ(loadKeyFile(path("missing.txt").c_str(), &s), -1);
    std::int32_t count = 7;
    EXPECT_EQ(countKeyLayers(path("missing.txt").c_str(), &count), -1);
    EXPECT_EQ(count, 0);
    KeyState* none[] = {nullptr};
    EXPECT_EQ(loadKeyLayers(path("missing.txt").c_str(), none), -1);
    EXPECT_EQ(saveKeyFile(nullptr, &s), -1);
    EXPECT_EQ(saveKeyFile(path("one.txt").c_str(), nullptr), -1);

    if (::geteuid() != 0) {  // permissions do not stop root
        write(path("locked.txt"), "old\n");
        ::chmod(path("locked.txt").c_str(), 0444);
        EXPECT_EQ(saveKeyFile(path("locked.txt").c_str(), &s), -1);
        EXPECT_EQ(read(path("locked.txt")), "old\n");
    }
}

// A write that fails (here: the file size limit) loses nothing: the old file stays and no
// temporary file is left behind.
TEST_F(KeyDataFile, FailedWriteKeepsTheOldFile) {
    KeyState s = sampleState(12);
    write(path("keys.txt"), "previous contents\n");
    ::chmod(path("keys.txt").c_str(), 0640);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int single = saveKeyFile(path("keys.txt").c_str(), &s);
    const KeyState* states[] = {&s, &s, nullptr};
    const int several = saveKeyLayers(path("keys.txt").c_str(), states);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(single, -2);
    EXPECT_EQ(several, -2);
    EXPECT_EQ(read(path("keys.txt")), "previous contents\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // A successful save keeps the old file's permissions.
    ASSERT_EQ(saveKeyFile(path("keys.txt").c_str(), &s), 1);
    EXPECT_EQ(fs::status(path("keys.txt")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // Writing to a stream that refuses writes is reported.
    std::FILE* readOnly = std::fopen(path("keys.txt").c_str(), "r");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(writeKeyData(readOnly, &s), -2);
    std::fclose(readOnly);
}

// The replacement is a new file; it takes over the old one's owner and group, so a key file saved
// by root stays readable and writable by its user.
TEST_F(KeyDataFile, ReplacedFileKeepsItsOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
    KeyState s = sampleState(14);
    write(path("theirs.txt"), "old\n");
    ASSERT_EQ(::chown(path("theirs.txt").c_str(), 4242, 4343), 0);
    ASSERT_EQ(::chmod(path("theirs.txt").c_str(), 0600), 0);
    ASSERT_EQ(saveKeyFile(path("theirs.txt").c_str(), &s), 1);
    const KeyState* states[] = {&s, nullptr};
    ASSERT_EQ(saveKeyLayers(path("theirs.txt").c_str(), states), 1);
    struct stat after {};
    ASSERT_EQ(::stat(path("theirs.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, 4242u);
    EXPECT_EQ(after.st_gid, 4343u);
    EXPECT_EQ(after.st_mode & 07777, 0600u);
}

// A file whose owner took away the owner's write bit is refused (-1, nothing changed) even for
// root, whom the permissions alone would not stop; the group's and others' bits do not matter.
TEST_F(KeyDataFile, ReadOnlyFilesAreRefused) {
    KeyState s = sampleState(15);
    const KeyState* states[] = {&s, nullptr};
    for (const ::mode_t mode : {0444u, 0400u, 0466u, 0555u, 0000u}) {
        SCOPED_TRACE(mode);
        write(path("locked.txt"), "old\n");
        ASSERT_EQ(::chmod(path("locked.txt").c_str(), mode), 0);
        EXPECT_EQ(saveKeyFile(path("locked.txt").c_str(), &s), -1);
        EXPECT_EQ(saveKeyLayers(path("locked.txt").c_str(), states), -1);
        ASSERT_EQ(::chmod(path("locked.txt").c_str(), 0600), 0);
        EXPECT_EQ(read(path("locked.txt")), "old\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "no temporary left";
        fs::remove(path("locked.txt"));
    }
}

// The replacement takes the old file's permission bits whatever the umask; a new file gets
// 0666 less the umask.
TEST_F(KeyDataFile, SavedFilesKeepTheirMode) {
    KeyState s = sampleState(16);
    const ::mode_t savedMask = ::umask(027);
    for (const ::mode_t mode : {0600u, 0640u, 0644u, 0604u, 0666u, 0700u, 0755u}) {
        SCOPED_TRACE(mode);
        write(path("kept.txt"), "old\n");
        ASSERT_EQ(::chmod(path("kept.txt").c_str(), mode), 0);
        EXPECT_EQ(saveKeyFile(path("kept.txt").c_str(), &s), 1);
        struct stat after {};
        ASSERT_EQ(::stat(path("kept.txt").c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, mode);
        fs::remove(path("kept.txt"));
    }
    EXPECT_EQ(saveKeyFile(path("new.txt").c_str(), &s), 1);
    ::umask(savedMask);
    struct stat created {};
    ASSERT_EQ(::stat(path("new.txt").c_str(), &created), 0);
    EXPECT_EQ(created.st_mode & 07777, 0640u);
}

// When no temporary name is free the save is refused, and the names tried, which belong to
// someone else, are left alone.
TEST_F(KeyDataFile, TakenTemporaryNamesAreLeftAlone) {
    KeyState s = sampleState(17);
    write(path("keys.txt"), "old\n");
    // The names end in a count of the names tried in this process: a save watched through inotify
    // shows the one it used, and the next save tries the hundred after it.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, dir_.c_str(), IN_CREATE), 0);
    ASSERT_EQ(saveKeyFile(path("keys.txt").c_str(), &s), 1);
    std::string prefix;
    long used = -1;
    alignas(inotify_event) char events[4096];
    const ssize_t length = ::read(watch, events, sizeof events);
    ::close(watch);
    for (ssize_t at = 0; at < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        const std::string name = event->len ? event->name : "";
        if (name != "keys.txt" && name.find('-') != std::string::npos) {
            prefix = name.substr(0, name.rfind('-') + 1);
            used = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    ASSERT_GE(used, 0) << "the save's temporary file was seen";
    EXPECT_NE(prefix.find(std::to_string(::getpid())), std::string::npos) << prefix;

    write(path("keys.txt"), "old\n");
    for (long serial = used + 1; serial <= used + 100; ++serial)
        write(path((prefix + std::to_string(serial)).c_str()), "theirs\n");
    EXPECT_EQ(saveKeyFile(path("keys.txt").c_str(), &s), -1);
    EXPECT_EQ(read(path("keys.txt")), "old\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 101);
    EXPECT_EQ(read(path((prefix + std::to_string(used + 100)).c_str())), "theirs\n");
}

TEST_F(KeyDataFile, SavingThroughALinkReplacesItsTarget) {
    KeyState s = sampleState(13);
    write(path("target.txt"), "old\n");
    fs::create_symlink(path("target.txt"), path("link.txt"));
    ASSERT_EQ(saveKeyFile(path("link.txt").c_str(), &s), 1);
    EXPECT_TRUE(fs::is_symlink(path("link.txt")));
    EXPECT_EQ(linesOf(read(path("target.txt"))).size(), 92u);
}

// A link whose target is not there yet: the save makes the file the link names (a relative link
// is read from the link's own folder) and the link stays.
TEST_F(KeyDataFile, SavingThroughALinkToAMissingFileWritesTheFileItNames) {
    KeyState s = sampleState(18);
    fs::create_directory(dir_ / "keys");
    fs::create_symlink("keys/one.txt", dir_ / "one link");
    fs::create_symlink(dir_ / "keys" / "two.txt", dir_ / "two link");
    ASSERT_EQ(saveKeyFile(path("one link").c_str(), &s), 1);
    const KeyState* states[] = {&s, &s, nullptr};
    ASSERT_EQ(saveKeyLayers(path("two link").c_str(), states), 1);
    for (const char* link : {"one link", "two link"}) EXPECT_TRUE(fs::is_symlink(path(link))) << link;
    EXPECT_EQ(linesOf(read(path("keys/one.txt"))).size(), 92u);
    EXPECT_EQ(linesOf(read(path("keys/two.txt"))).size(), 2 * 93u);
    KeyState back = blankState();
    ASSERT_EQ(loadKeyFile(path("one link").c_str(), &back), 1);
    expectReadBack(back, s, "through the link");
}

// The folder is moved while the file is being saved: the new file goes where the old one now is,
// and nothing is left behind.  A folder removed meanwhile fails the save and leaves nothing.
TEST_F(KeyDataFile, AFolderMovedDuringTheSaveGetsTheFileWhereItNowIs) {
    KeyState s = sampleState(19);
    fs::create_directory(dir_ / "album");
    write(path("album/keys.txt"), "old\n");
    beforeNextSync = [this] {
        fs::rename(dir_ / "album", dir_ / "moved");
        fs::create_directory(dir_ / "album");  // another folder takes the old name
    };
    ASSERT_EQ(saveKeyFile(path("album/keys.txt").c_str(), &s), 1);
    EXPECT_EQ(linesOf(read(path("moved/keys.txt"))).size(), 92u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "moved"), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_empty(dir_ / "album"));

    const KeyState* states[] = {&s, nullptr};
    beforeNextSync = [this] { fs::remove_all(dir_ / "moved"); };
    EXPECT_EQ(saveKeyLayers(path("moved/keys.txt").c_str(), states), -2);
    EXPECT_FALSE(beforeNextSync);
    EXPECT_FALSE(fs::exists(dir_ / "moved"));
    EXPECT_TRUE(fs::is_empty(dir_ / "album"));
}

// The temporary name is short whatever the file's name, so the longest name the file system allows
// can be saved again; the user's own extended attributes (file-manager tags) are kept.
TEST_F(KeyDataFile, LongestNamesAndUserAttributesAreKept) {
    KeyState s = sampleState(22);
    const std::string longest = path(std::string(255, 'k').c_str());
    write(longest, "old\n");
    ASSERT_EQ(read(longest), "old\n");
    ASSERT_EQ(saveKeyFile(longest.c_str(), &s), 1);
    EXPECT_EQ(linesOf(read(longest)).size(), 92u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    if (::setxattr(longest.c_str(), "user.xdg.tags", "blue screen", 11, 0) != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    ASSERT_EQ(::setxattr(longest.c_str(), "user.empty", "", 0, 0), 0);
    const KeyState* states[] = {&s, nullptr};
    ASSERT_EQ(saveKeyLayers(longest.c_str(), states), 1);
    char value[32];
    const ssize_t size = ::getxattr(longest.c_str(), "user.xdg.tags", value, sizeof value);
    EXPECT_EQ(std::string(value, size > 0 ? std::size_t(size) : 0), "blue screen");
    EXPECT_EQ(::getxattr(longest.c_str(), "user.empty", value, sizeof value), 0);
}

TEST_F(KeyDataFile, EmptyStateLists) {
    const KeyState* none[] = {nullptr};
    ASSERT_EQ(saveKeyLayers(path("empty.txt").c_str(), none), 1);
    EXPECT_EQ(read(path("empty.txt")), "");
    std::int32_t count = 3;
    EXPECT_EQ(countKeyLayers(path("empty.txt").c_str(), &count), 1);
    EXPECT_EQ(count, 0);
    KeyState* targets[] = {nullptr};
    EXPECT_EQ(loadKeyLayers(path("empty.txt").c_str(), targets), 1);
    KeyState s = blankState();
    EXPECT_EQ(loadKeyFile(path("empty.txt").c_str(), &s), -2);
}

TEST(InterpolateKeyStates, BlendsEveryCarriedValue) {
    KeyState a = sampleState(20), b = sampleState(21);
    a.flags = KeyFlagSpillSolid;
    a.auxInts[0] = 10;
    b.auxInts[0] = 13;
    KeyState out = blankState();
    ShapeLayer* outLayers[] = {nullptr};
    out.extShapes = outLayers;
    out.simGridSize = 40;
    out.flags = KeyFlagGrainFilter;

    ASSERT_TRUE(interpolateKeyStates(&out, &a, &b, 0.0f));
    for (int v = 0; v < kVertexCount; ++v) ASSERT_EQ(out.middleRadii[v], a.middleRadii[v]);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(out.backdrop[c], a.backdrop[c]);
    EXPECT_EQ(out.replacementColour[1], a.replacementColour[1]);
    EXPECT_EQ(out.correctionSet2[7], a.correctionSet2[7]);
    EXPECT_EQ(out.thresholds[2], a.thresholds[2]);
    EXPECT_EQ(out.hexagonRadii[20], a.hexagonRadii[20]);
    EXPECT_EQ(out.flags, 0u);
    EXPECT_STREQ(out.label2, "blue screen");
    EXPECT_EQ(out.extShapes, outLayers);
    EXPECT_EQ(out.simGridSize, 40);

    ASSERT_TRUE(interpolateKeyStates(&out, &a, &b, 0.5f));
    for (int v = 0; v < kVertexCount; ++v)
        ASSERT_EQ(out.innerRadii[v], 0.5f * a.innerRadii[v] + 0.5f * b.innerRadii[v]);
    EXPECT_EQ(out.thresholds[0], 0.5f * a.thresholds[0] + 0.5f * b.thresholds[0]);
    EXPECT_EQ(out.hexagonRadii[5], 0.5f * a.hexagonRadii[5] + 0.5f * b.hexagonRadii[5]);
    EXPECT_EQ(out.auxInts[0], 11);  // 11.5 truncated
    EXPECT_EQ(out.grainAmount, 0.25f);
    EXPECT_EQ(out.grainLevel, a.grainLevel);
    EXPECT_EQ(out.auxValue1, a.auxValue1);

    // out may be one of the inputs.
    KeyState alias = a;
    ASSERT_TRUE(interpolateKeyStates(&alias, &alias, &b, 1.0f));
    EXPECT_EQ(alias.outerRadii[3], b.outerRadii[3]);
    EXPECT_EQ(alias.auxValue2, a.auxValue2);
}

// Mutated files of every kind go through the reader without a crash, an overrun or a leak (the
// sanitizer build runs this too): each record either reads or returns -2 and changes nothing.
TEST(KeyDataFuzz, MutatedFilesNeverBreakTheReader) {
    KeyState a = sampleState(30), b = sampleState(31);
    ShapeLayer* ext[] = {squareLayer(0.0f, 2), squareLayer(0.3f, 0), nullptr};
    ShapeLayer* obey[] = {squareLayer(0.1f, 1), nullptr};
    a.flags = KeyFlagExtShapes | KeyFlagObeyShapes | KeyFlagGrainFilter;
    a.extShapes = ext;
    a.obeyShapes = obey;
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    for (const KeyState* s : {&a, &b, &a}) {
        ASSERT_EQ(writeKeyData(out, s), 1);
        std::fputs("ENDLAYER\n", out);
    }
    std::rewind(out);
    std::string base;
    for (int c; (c = std::fgetc(out)) != EOF;) base += static_cast<char>(c);
    std::fclose(out);
    for (ShapeLayer* layer : ext) freeShapeLayer(layer);
    for (ShapeLayer* layer : obey) freeShapeLayer(layer);

    const std::vector<std::string> base_lines = linesOf(base);
    const char* nasty[] = {"99999999999999999999", "1e39", "nan", "-inf", "-2147483649", "0x7fffffff",
                           "2147483647", "-5", "", " ", "EXTSHAPE", "OBEYSHAPE", "ENDLAYER", "# 7", "# 6",
                           "# 5", "0.5 0.5", "\xff\xfe", "0 0 0 0 0 0 0 0 0 0 0 0 0"};
    const std::string longNumber(300, '9');  // read as two lines
    std::mt19937 random(20240611u);
    int reads = 0;
    for (int iteration = 0; iteration < 600; ++iteration) {
        std::vector<std::string> lines = base_lines;
        std::string text;
        switch (iteration % 6) {
            case 0: {  // cut anywhere
                text = base.substr(0, random() % base.size());
                break;
            }
            case 1: {  // bytes flipped
                text = base;
                const int flips = 1 + static_cast<int>(random() % 6);
                const char pool[] = "\n\0 -+.e0123456789x#ENDLAYER";
                for (int f = 0; f < flips; ++f)
                    text[random() % text.size()] = random() % 3 ? pool[random() % (sizeof pool - 1)]
                                                                : static_cast<char>(random() % 256);
                break;
            }
            case 2: {  // a line dropped or repeated
                const std::size_t at = random() % lines.size();
                if (random() % 2)
                    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
                else
                    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), lines[at]);
                text = join(lines, lines.size());
                break;
            }
            case 3: {  // two lines swapped
                std::swap(lines[random() % lines.size()], lines[random() % lines.size()]);
                text = join(lines, lines.size());
                break;
            }
            default: {  // a line replaced by something hostile
                const std::size_t pick = random() % (sizeof nasty / sizeof nasty[0] + 1);
                const std::string value = pick == sizeof nasty / sizeof nasty[0] ? longNumber : nasty[pick];
                lines[random() % lines.size()] = value + "\n";
                text = join(lines, lines.size());
                break;
            }
        }
        std::FILE* file = ::fmemopen(text.data(), text.size() ? text.size() : 1, "r");
        ASSERT_NE(file, nullptr);
        if (text.empty()) std::fgetc(file);  // an empty file
        KeyState states[4] = {sampleState(40), sampleState(41), sampleState(42), sampleState(43)};
        KeyShapeLists lists[4];
        for (int r = 0; r < 4; ++r) {
            KeyState before = states[r];
            const int result = readKeyData(file, &states[r], &lists[r]);
            ++reads;
            ASSERT_TRUE(result == 1 || result == -2) << iteration;
            if (result != 1) {
                ASSERT_EQ(std::memcmp(&before, &states[r], sizeof before), 0) << iteration;
                break;
            }
            // What reads is finite everywhere: NaN and infinity are damage, never values.
            const KeyState& got = states[r];
            bool finite = true;
            for (float v : got.backdrop) finite = finite && std::isfinite(v);
            for (int v = 0; v < kVertexCount; ++v)
                finite = finite && std::isfinite(got.innerRadii[v]) && std::isfinite(got.middleRadii[v]) &&
                         std::isfinite(got.outerRadii[v]);
            for (int k = 0; k < 12; ++k)
                finite = finite && std::isfinite(got.correctionSet1[k]) && std::isfinite(got.correctionSet2[k]);
            for (float v : got.thresholds) finite = finite && std::isfinite(v);
            for (float v : got.hexagonRadii) finite = finite && std::isfinite(v);
            const auto finiteLayers = [](ShapeLayer** layers, std::size_t count) {
                bool all = true;
                for (std::size_t k = 0; k < count; ++k) {
                    const ShapeLayer& layer = *layers[k];
                    all = all && std::isfinite(layer.opacity) && std::isfinite(layer.feather);
                    for (std::size_t i = 0; i < layer.x.size(); ++i)
                        all = all && std::isfinite(layer.x[i]) && std::isfinite(layer.y[i]);
                }
                return all;
            };
            finite = finite && finiteLayers(lists[r].ext(), lists[r].extCount()) &&
                     finiteLayers(lists[r].obey(), lists[r].obeyCount());
            ASSERT_TRUE(finite) << iteration;
            // A state that points at shapes points at its own lists, null-terminated.
            if (states[r].extShapes && states[r].extShapes != before.extShapes) {
                ASSERT_EQ(states[r].extShapes, lists[r].ext());
                ASSERT_EQ(states[r].extShapes[lists[r].extCount()], nullptr);
            }
            if (states[r].flags & KeyFlagExtShapes) {
                ASSERT_GT(lists[r].extCount(), 0u);
            }
            if (states[r].flags & KeyFlagObeyShapes) {
                ASSERT_GT(lists[r].obeyCount(), 0u);
            }
        }
        std::fclose(file);
    }
    EXPECT_GT(reads, 600);
}

}  // namespace
}  // namespace vantrelo
