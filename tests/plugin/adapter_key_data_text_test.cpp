// Key-data text: what a written state reads back as, the older forms, damaged texts, and the line
// functions.  Expected reals are worked out with the C library's own "%f" and strtof in the C locale,
// independently of the writer's and reader's code.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/keying/key_state.h"
#include "plugin/key_data_text.h"
#include "tests/comma_locale.h"
#include "tests/plugin/adapter_test_support.h"

namespace vantrelo {
namespace {

using adapter_test::sameBytes;

// A state with every text field different from its neighbours and from the defaults.
KeyState distinctState() {
    KeyState state{};
    resetKeyState(&state);
    adapter_test::shapeState(state, 5);
    state.backdrop[0] = 12345.0f;
    state.backdrop[1] = 65535.0f;
    state.backdrop[2] = 1.0f;
    state.flags = 0x80010012u;  // bit 31 travels as a negative "%d"
    state.auxValue1 = -7;
    state.auxValue2 = 123456;
    std::strcpy(state.label1, "NOT SET");
    std::strcpy(state.label2, "second name with  blanks");
    state.replacementColour[0] = 32767;
    state.replacementColour[1] = 65535;
    state.replacementColour[2] = 0;
    state.replacementColour[3] = 65535;
    for (int i = 0; i < 12; ++i) {
        state.correctionSet1[i] = 0.125f * static_cast<float>(i + 1);
        state.correctionSet2[i] = -0.5f + 0.0625f * static_cast<float>(i);
        state.auxInts[i] = (i % 2 ? -1 : 1) * (1000 * i + 17);
    }
    for (int i = 0; i < 3; ++i) state.thresholds[i] = 0.25f + static_cast<float>(i);
    for (int i = 0; i < 21; ++i) state.hexagonRadii[i] = 100.5f * static_cast<float>(i + 1);
    return state;
}

// A state whose text fields all differ from distinctState's, to read texts over.
KeyState otherState() {
    KeyState state{};
    resetKeyState(&state);
    adapter_test::shapeState(state, 99);
    state.flags = 0x2;
    state.auxValue1 = 55;
    std::strcpy(state.label1, "old one");
    std::strcpy(state.label2, "old two");
    state.replacementColour[0] = 111;
    state.replacementColour[1] = 222;
    state.replacementColour[2] = 333;
    state.replacementColour[3] = 4321;
    for (int i = 0; i < 12; ++i) state.auxInts[i] = 42 + i;
    for (int i = 0; i < 3; ++i) state.thresholds[i] = -3.0f - static_cast<float>(i);
    for (int i = 0; i < 21; ++i) state.hexagonRadii[i] = 7.0f + static_cast<float>(i);
    return state;
}

// float(float(v / 65535) printed "%f") x 65535, by the C library.
float throughText(float v) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%f", static_cast<double>(v / 65535.0f));
    return std::strtof(buffer, nullptr) * 65535.0f;
}

float realThroughText(float v) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%f", static_cast<double>(v));
    return std::strtof(buffer, nullptr);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

std::string joinLines(const std::vector<std::string>& parts, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count && i < parts.size(); ++i) text += parts[i] + "\n";
    return text;
}

void expectWrittenValues(const KeyState& read, const KeyState& written) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(read.backdrop[c], throughText(written.backdrop[c])) << c;
    EXPECT_EQ(read.flags, written.flags);
    EXPECT_EQ(read.auxValue1, written.auxValue1);
    EXPECT_EQ(read.auxValue2, written.auxValue2);
    EXPECT_STREQ(read.label1, written.label1);
    EXPECT_STREQ(read.label2, written.label2);
    for (int v = 0; v < kVertexCount; ++v) {
        EXPECT_EQ(read.innerRadii[v], throughText(written.innerRadii[v])) << v;
        EXPECT_EQ(read.middleRadii[v], throughText(written.middleRadii[v])) << v;
        EXPECT_EQ(read.outerRadii[v], throughText(written.outerRadii[v])) << v;
    }
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(read.correctionSet1[i], realThroughText(written.correctionSet1[i])) << i;
        EXPECT_EQ(read.correctionSet2[i], realThroughText(written.correctionSet2[i])) << i;
        EXPECT_EQ(read.auxInts[i], written.auxInts[i]) << i;
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(read.thresholds[i], realThroughText(written.thresholds[i])) << i;
    for (int i = 0; i < 21; ++i) EXPECT_EQ(read.hexagonRadii[i], realThroughText(written.hexagonRadii[i])) << i;
}

TEST(KeyDataText, WrittenTextHasTheVersionSixLayout) {
    const std::string text = writeKeyDataText(distinctState());
    const std::vector<std::string> parts = lines(text);
    ASSERT_EQ(parts.size(), 92u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(parts[0], "# 6.0 vantrelo data");
    EXPECT_EQ(parts[1], "0.188373 1.000000 0.000015");
    EXPECT_EQ(parts[2], "-2147418094");
    EXPECT_EQ(parts[3], "-7 123456");
    EXPECT_EQ(parts[4], "NOT SET");
    EXPECT_EQ(parts[72], "0.499992 1.000000 0.000000");
    EXPECT_EQ(parts[73], "0.125000 0.250000 0.375000");
    EXPECT_EQ(parts[81], "17 -1017 2017 -3017");
    EXPECT_EQ(parts[84], "0.250000 1.250000 2.250000");
    EXPECT_EQ(parts[91], "1909.500000 2010.000000 2110.500000");
}

TEST(KeyDataText, WriteThenReadKeepsIntegersAndNamesAndRoundsRealsThroughSixDecimals) {
    const KeyState written = distinctState();
    KeyState read = otherState();
    ASSERT_TRUE(readKeyDataText(writeKeyDataText(written), read));
    expectWrittenValues(read, written);
    // The values the format is known for.
    EXPECT_EQ(read.backdrop[1], 65535.0f);
    EXPECT_GT(read.backdrop[0], 12345.0f);
    EXPECT_LT(read.backdrop[2], 1.0f);
    EXPECT_EQ(read.replacementColour[0], 32766);  // 0.499992 x 65535, truncated
    EXPECT_EQ(read.replacementColour[1], 65535);
    EXPECT_EQ(read.replacementColour[2], 0);
    EXPECT_EQ(read.replacementColour[3], 4321) << "the fourth value is not in the text";
}

TEST(KeyDataText, NumbersFollowTheCLocaleWhateverTheProcessLocale) {
    const test_locale::CommaLocale& comma = test_locale::CommaLocale::instance();
    if (!comma.select()) GTEST_SKIP() << "no locale with a decimal comma could be made";
    const KeyState written = distinctState();
    const std::string text = writeKeyDataText(written);
    KeyState read = otherState();
    const bool ok = readKeyDataText(text, read);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(text, writeKeyDataText(written));
    ASSERT_TRUE(ok);
    expectWrittenValues(read, written);
}

TEST(KeyDataText, ShapeLayerFlagsAreNotRead) {
    KeyState written = distinctState();
    written.flags = KeyFlagSpillSolid | KeyFlagExtShapes | KeyFlagObeyShapes | KeyFlagGrainFilter;
    KeyState read = otherState();
    ASSERT_TRUE(readKeyDataText(writeKeyDataText(written), read));
    EXPECT_EQ(read.flags, std::uint32_t{KeyFlagSpillSolid | KeyFlagGrainFilter});
}

TEST(KeyDataText, VersionFiveHasNoKeyerLines) {
    std::vector<std::string> parts = lines(writeKeyDataText(distinctState()));
    parts[0] = "# 5.0 vantrelo data";
    KeyState read = otherState();
    const KeyState before = read;
    ASSERT_TRUE(readKeyDataText(joinLines(parts, 84), read));
    EXPECT_EQ(read.auxInts[11], distinctState().auxInts[11]);
    EXPECT_EQ(std::memcmp(read.thresholds, before.thresholds, sizeof read.thresholds), 0);
    EXPECT_EQ(std::memcmp(read.hexagonRadii, before.hexagonRadii, sizeof read.hexagonRadii), 0);
    // A version-5 header over a full text still stops before the keyer lines.
    KeyState full = otherState();
    ASSERT_TRUE(readKeyDataText(joinLines(parts, 92), full));
    EXPECT_EQ(std::memcmp(full.thresholds, before.thresholds, sizeof full.thresholds), 0);
}

TEST(KeyDataText, HeaderlessEightBitFormReadsInto16BitUnits) {
    std::string text = "128 128 255\n";
    for (int v = 0; v < kVertexCount; ++v)
        text += std::to_string(v) + " " + std::to_string(v + 100) + " " + std::to_string(v + 189) + "\n";
    text += "16\n";
    text += "255 128 0\n";
    text += "10 20 30 40 50 60 0.5 1.5 2.5\n";
    text += "255 0 51 102 153 204 1.25 1.0 0.75\n";
    KeyState read = otherState();
    const KeyState before = read;
    ASSERT_TRUE(readKeyDataText(text, read));
    EXPECT_EQ(read.backdrop[0], 32896.0f);
    EXPECT_EQ(read.backdrop[1], 32896.0f);
    EXPECT_EQ(read.backdrop[2], 65535.0f);
    for (int v = 0; v < kVertexCount; ++v) {
        EXPECT_EQ(read.innerRadii[v], static_cast<float>(v * 65535) / 255.0f) << v;
        EXPECT_EQ(read.middleRadii[v], static_cast<float>((v + 100) * 65535) / 255.0f) << v;
        EXPECT_EQ(read.outerRadii[v], static_cast<float>((v + 189) * 65535) / 255.0f) << v;
    }
    EXPECT_EQ(read.flags, 16u);
    EXPECT_EQ(read.replacementColour[0], 65535);
    EXPECT_EQ(read.replacementColour[1], 32896);
    EXPECT_EQ(read.replacementColour[2], 0);
    const float set1[12] = {0, 1, 1, 10 / 255.0f, 20 / 255.0f, 30 / 255.0f, 40 / 255.0f, 50 / 255.0f, 60 / 255.0f,
                            0.5f, 1.5f, 2.5f};
    const float set2[12] = {0, 1, 1, 1, 0, 51 / 255.0f, 102 / 255.0f, 153 / 255.0f, 204 / 255.0f, 1.25f, 1.0f, 0.75f};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(read.correctionSet1[i], set1[i]) << i;
        EXPECT_EQ(read.correctionSet2[i], set2[i]) << i;
    }
    // Not in the form: kept.
    EXPECT_EQ(read.auxValue1, before.auxValue1);
    EXPECT_STREQ(read.label1, before.label1);
    EXPECT_EQ(std::memcmp(read.auxInts, before.auxInts, sizeof read.auxInts), 0);
    EXPECT_EQ(std::memcmp(read.hexagonRadii, before.hexagonRadii, sizeof read.hexagonRadii), 0);

    // Without its replacement-colour line the text is short.
    const std::size_t cut = text.find("255 128 0\n");
    KeyState shortRead = otherState();
    EXPECT_FALSE(readKeyDataText(text.substr(0, cut), shortRead));
    EXPECT_EQ(shortRead.flags, 16u);
    EXPECT_EQ(shortRead.replacementColour[0], 111);
}

TEST(KeyDataText, EmptyTextChangesNothing) {
    KeyState state = otherState();
    const KeyState before = state;
    EXPECT_FALSE(readKeyDataText("", state));
    EXPECT_TRUE(sameBytes(state, before));
}

TEST(KeyDataText, ShortTextKeepsWhatWasReadAndReportsFalse) {
    const KeyState written = distinctState();
    const std::vector<std::string> parts = lines(writeKeyDataText(written));
    KeyState read = otherState();
    const KeyState before = read;
    EXPECT_FALSE(readKeyDataText(joinLines(parts, 72), read));  // ends after the vertex lines
    EXPECT_EQ(read.flags, written.flags);
    EXPECT_STREQ(read.label2, written.label2);
    EXPECT_EQ(read.outerRadii[65], throughText(written.outerRadii[65]));
    EXPECT_EQ(std::memcmp(read.replacementColour, before.replacementColour, sizeof read.replacementColour), 0);
    EXPECT_EQ(std::memcmp(read.correctionSet1, before.correctionSet1, sizeof read.correctionSet1), 0);

    // Missing name lines keep the names.
    KeyState names = otherState();
    EXPECT_FALSE(readKeyDataText(joinLines(parts, 4), names));
    EXPECT_STREQ(names.label1, "old one");
    EXPECT_EQ(names.auxValue1, -7);

    // Past the replacement colour, missing lines are no failure.
    KeyState tail = otherState();
    EXPECT_TRUE(readKeyDataText(joinLines(parts, 73), tail));
    EXPECT_EQ(tail.replacementColour[0], 32766);
    EXPECT_EQ(std::memcmp(tail.auxInts, before.auxInts, sizeof tail.auxInts), 0);
}

TEST(KeyDataText, AnOverlongNameLineShiftsTheRest) {
    std::vector<std::string> parts = lines(writeKeyDataText(distinctState()));
    parts[4] = std::string(255, 'a') + std::string(45, 'b');
    KeyState read = otherState();
    readKeyDataText(joinLines(parts, parts.size()), read);
    EXPECT_EQ(std::string(read.label1), std::string(255, 'a'));
    EXPECT_EQ(std::string(read.label2), std::string(45, 'b'));
}

TEST(KeyDataText, WrittenNamesAlwaysReadBackLineForLine) {
    struct Case {
        std::string stored;
        std::string readBack;
    };
    const Case cases[] = {
        {std::string(255, 'n'), std::string(254, 'n')},  // the longest name a line can carry
        {std::string(254, 'm'), std::string(254, 'm')},
        {"two\nlines", "two"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.size());
        KeyState written = distinctState();
        std::memset(written.label1, 0, sizeof written.label1);
        std::memcpy(written.label1, c.stored.data(), c.stored.size());
        const std::string text = writeKeyDataText(written);
        EXPECT_EQ(lines(text).size(), 92u);
        KeyState read = otherState();
        ASSERT_TRUE(readKeyDataText(text, read));
        EXPECT_EQ(std::string(read.label1), c.readBack);
        EXPECT_STREQ(read.label2, written.label2);
        EXPECT_EQ(read.hexagonRadii[20], realThroughText(written.hexagonRadii[20]));
    }
    // A name field without a terminating zero is written as its 254 first characters.
    KeyState unterminated = distinctState();
    std::memset(unterminated.label2, 'z', sizeof unterminated.label2);
    KeyState read = otherState();
    ASSERT_TRUE(readKeyDataText(writeKeyDataText(unterminated), read));
    EXPECT_EQ(std::string(read.label2), std::string(254, 'z'));
}

TEST(KeyDataText, UnreadableNumbersKeepTheirFields) {
    struct Case {
        const char* backdropLine;  // line 2
        bool stored[3];
    };
    const Case cases[] = {
        {"0.5 abc 0.25", {true, false, false}},
        {"nan 0.5 0.5", {false, true, true}},
        {"inf -inf 0.5", {false, false, true}},
        {"1e39 0.5 1e35", {false, true, false}},  // beyond float; beyond float once x 65535
        {"+0.5 0.5,0.5", {true, true, false}},
        {"", {false, false, false}},
        {"0.5", {true, false, false}},
    };
    const std::vector<std::string> parts = lines(writeKeyDataText(distinctState()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.backdropLine);
        std::vector<std::string> damaged = parts;
        damaged[1] = c.backdropLine;
        KeyState read = otherState();
        const KeyState before = read;
        ASSERT_TRUE(readKeyDataText(joinLines(damaged, damaged.size()), read));
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_EQ(read.backdrop[ch], c.stored[ch] ? 0.5f * 65535.0f : before.backdrop[ch]) << ch;
        EXPECT_EQ(read.flags, distinctState().flags) << "the next line is read as usual";
    }
}

TEST(KeyDataText, IntegersAndColoursOutsideTheirTypeKeepTheirFields) {
    std::vector<std::string> parts = lines(writeKeyDataText(distinctState()));
    parts[2] = "4294967295";           // beyond a 32-bit int
    parts[3] = "12 99999999999";
    parts[72] = "1.5 -0.5 0.25";        // 98302 and -32767 are no 16-bit colours
    parts[81] = "1 2147483648 -2147483648 4";
    KeyState read = otherState();
    const KeyState before = read;
    ASSERT_TRUE(readKeyDataText(joinLines(parts, parts.size()), read));
    EXPECT_EQ(read.flags, before.flags);
    EXPECT_EQ(read.auxValue1, 12);
    EXPECT_EQ(read.auxValue2, before.auxValue2);
    EXPECT_EQ(read.replacementColour[0], before.replacementColour[0]);
    EXPECT_EQ(read.replacementColour[1], before.replacementColour[1]);
    EXPECT_EQ(read.replacementColour[2], static_cast<std::uint16_t>(0.25f * 65535.0f));
    EXPECT_EQ(read.auxInts[0], 1);
    EXPECT_EQ(read.auxInts[1], before.auxInts[1]);
    EXPECT_EQ(read.auxInts[2], -2147483647 - 1);
    EXPECT_EQ(read.auxInts[3], 4);
}

TEST(KeyDataText, OnlyVersionFiveAndSixHeadersAreRecognised) {
    // The key data file's header is taken as a first line of the 8-bit form: not a colour.
    std::vector<std::string> parts = lines(writeKeyDataText(distinctState()));
    parts[0] = "# 7.0 vantrelo data";
    KeyState read = otherState();
    const KeyState before = read;
    readKeyDataText(joinLines(parts, parts.size()), read);
    EXPECT_EQ(std::memcmp(read.backdrop, before.backdrop, sizeof read.backdrop), 0);
    EXPECT_STREQ(read.label1, before.label1);
}

TEST(KeyDataText, ExtremeValuesStillGiveOneLinePerField) {
    KeyState written = distinctState();
    written.hexagonRadii[0] = -std::numeric_limits<float>::max();
    written.hexagonRadii[1] = std::numeric_limits<float>::max();
    written.hexagonRadii[2] = std::numeric_limits<float>::quiet_NaN();
    written.innerRadii[3] = std::numeric_limits<float>::infinity();
    written.auxInts[5] = std::numeric_limits<std::int32_t>::min();
    const std::string text = writeKeyDataText(written);
    const std::vector<std::string> parts = lines(text);
    ASSERT_EQ(parts.size(), 92u);
    for (const std::string& line : parts) EXPECT_LT(line.size(), 255u);
    KeyState read = otherState();
    const KeyState before = read;
    ASSERT_TRUE(readKeyDataText(text, read));
    EXPECT_EQ(read.hexagonRadii[0], -std::numeric_limits<float>::max());
    EXPECT_EQ(read.hexagonRadii[1], std::numeric_limits<float>::max());
    EXPECT_EQ(read.hexagonRadii[2], before.hexagonRadii[2]);  // NaN is not read
    EXPECT_EQ(read.innerRadii[3], before.innerRadii[3]);
    EXPECT_EQ(read.auxInts[5], std::numeric_limits<std::int32_t>::min());
}

// Reading damaged texts: never a crash, never a read outside the text, and no NaN or infinity in a
// field that had none.  Run under the sanitizers this is the reader's memory-safety check.
TEST(KeyDataText, DamagedTextsNeverBreakTheReader) {
    const std::string v6 = writeKeyDataText(distinctState());
    std::string eightBit = "0 177 64\n";
    for (int v = 0; v < kVertexCount; ++v) eightBit += "1 80 200\n";
    eightBit += "16\n255 0 0\n1 2 3 4 5 6 0.5 0.5 0.5\n1 2 3 4 5 6 0.5 0.5 0.5\n";
    const std::string seeds[] = {v6, eightBit, "# 5.0 vantrelo data\n" + v6.substr(v6.find('\n') + 1)};
    const char alphabet[] = "0123456789.-+eE \n\t\rnaif#x,";
    std::mt19937 random(20240611);
    for (int iteration = 0; iteration < 6000; ++iteration) {
        std::string text = seeds[iteration % 3];
        const int edits = 1 + static_cast<int>(random() % 24);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const std::size_t at = random() % text.size();
            switch (random() % 6) {
            case 0: text[at] = static_cast<char>(random() % 256); break;
            case 1: text[at] = alphabet[random() % (sizeof alphabet - 1)]; break;
            case 2: text.erase(at, 1 + random() % 40); break;
            case 3: text.insert(at, std::string(1 + random() % 400, alphabet[random() % (sizeof alphabet - 1)])); break;
            case 4: text.resize(at); break;
            case 5: text.insert(at, 1, '\0'); break;
            }
        }
        KeyState state = otherState();
        readKeyDataText(text, state);
        for (float v : state.backdrop) ASSERT_TRUE(std::isfinite(v)) << text;
        for (int i = 0; i < kVertexCount; ++i)
            ASSERT_TRUE(std::isfinite(state.innerRadii[i]) && std::isfinite(state.middleRadii[i]) &&
                        std::isfinite(state.outerRadii[i]));
        for (int i = 0; i < 12; ++i)
            ASSERT_TRUE(std::isfinite(state.correctionSet1[i]) && std::isfinite(state.correctionSet2[i]));
        for (float v : state.hexagonRadii) ASSERT_TRUE(std::isfinite(v));
        ASSERT_FALSE(state.flags & (KeyFlagExtShapes | KeyFlagObeyShapes));
        ASSERT_LE(std::strlen(state.label1), 255u);
        ASSERT_LE(std::strlen(state.label2), 255u);
        // Whatever was read, its written form is a whole text again.
        const std::string again = writeKeyDataText(state);
        ASSERT_EQ(lines(again).size(), 92u);
        KeyState reread = otherState();
        ASSERT_TRUE(readKeyDataText(again, reread));
        ASSERT_STREQ(reread.label2, std::string(state.label2).substr(0, 254).c_str());
    }
}

TEST(TextLines, ReadTextLineSplitsAtLineFeedsCapacityAndTheEnd) {
    const std::string text = "abc\ndefghij\n\nxy";
    std::size_t position = 0;
    char buffer[6];
    struct Step {
        bool drop;
        bool result;
        const char* line;
        std::size_t position;
    };
    const Step steps[] = {
        {false, true, "abc\n", 4},  {true, true, "defgh", 9},  // capacity 6: five characters
        {true, true, "ij", 12},     {true, true, "", 13},      // an empty line is still a line
        {false, true, "xy", 15},    {false, false, "", 15},    // the end
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.line);
        EXPECT_EQ(readTextLine(text, position, buffer, sizeof buffer, s.drop), s.result);
        EXPECT_STREQ(buffer, s.line);
        EXPECT_EQ(position, s.position);
    }
}

TEST(TextLines, AppendTextLineStopsAtTheFirstLineFeedInLineMode) {
    std::string out = "x";
    appendTextLine(out, "one\ntwo\n", true);
    appendTextLine(out, "three", true);
    appendTextLine(out, "four\nfive\n", false);
    EXPECT_EQ(out, "xone\nthreefour\nfive\n");
}

}  // namespace
}  // namespace vantrelo
