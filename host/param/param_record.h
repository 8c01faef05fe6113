#pragma once
// One parameter of a parameter set: kind, names, codes, choice list, six value slots, flags, scale.
//
// A record is a plain value type, copied whole wherever a set is copied.  It holds no toolkit type:
// a colour is three doubles nominally 0..1, a point two doubles.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Mav::Host::Param {

// The kind of a record.  A plain signed integer on purpose: values other than the constants below
// are stored and copied but mean nothing.
using ParamKind = std::int32_t;
inline constexpr ParamKind ParamInt = 1;
inline constexpr ParamKind ParamFloat = 2;
inline constexpr ParamKind ParamBool = 3;
inline constexpr ParamKind ParamText = 4;    // data text: engine data, transforms, lists, positions
inline constexpr ParamKind ParamPopup = 5;   // index into the choice lists
inline constexpr ParamKind ParamString = 6;
inline constexpr ParamKind ParamColour = 7;  // red, green, blue in the three cells
inline constexpr ParamKind ParamPoint = 8;   // x, y in the first two cells
inline constexpr ParamKind ParamIndex = 11;  // integer bound to selection controls

// Record flags.  Bits not listed are stored and copied and have no effect here.
inline constexpr std::uint32_t ParamUnscaledPoint = 0x1;   // points bypass the pixel scale
inline constexpr std::uint32_t ParamNotInPreset = 0x10;    // left out of preset files
inline constexpr std::uint32_t ParamAffectsAll = 0x400;    // a change may alter linked records
inline constexpr std::uint32_t ParamNoUndo = 0x1000;       // never recorded in the undo history
inline constexpr std::uint32_t ParamNoRender = 0x2000;     // a finished change does not re-render
inline constexpr std::uint32_t ParamPercent = 0x1000000;   // the constructor sets the scale to 0.01
inline constexpr std::uint32_t ParamScaledInRegistry = 0x8000000;  // store holds value x scale

// A 32-bit four-character code, first character in the most significant byte: "pKey" is
// 0x704B6579.
constexpr std::uint32_t fourCharCode(const char (&text)[5]) {
    return (std::uint32_t(std::uint8_t(text[0])) << 24) |
           (std::uint32_t(std::uint8_t(text[1])) << 16) |
           (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

// One value slot: three 64-bit cells and a UTF-8 text.
//
// The cells are raw bits with several views: doubles (floats, colours, points), a signed 32-bit
// integer in the low 32 bits of cell 0 (integer kinds) and a 0/1 byte in the low byte of cell 0
// (switches).  Each accessor reads and writes only its own view and never converts between views,
// so copying a slot (undo, redo, set copies) keeps whatever any view put there, and reading an
// integer slot through the double view yields the raw cell, not the integer converted.
struct ParamValue {
    std::array<std::uint64_t, 3> cells{};
    std::string text;

    double getDouble(int cell = 0) const;
    void setDouble(double value, int cell = 0);
    std::int32_t getInt() const;
    void setInt(std::int32_t value);
    bool getBool() const;
    void setBool(bool value);

    bool operator==(const ParamValue&) const = default;
};

// Indices of the six slots of a record.
enum ParamSlot : int {
    SlotValue = 0,
    SlotDefault = 1,
    SlotSliderMin = 2,  // slider range: bounds what a slider can produce
    SlotSliderMax = 3,
    SlotMin = 4,        // hard limits: clamping setters, number entry, store loading
    SlotMax = 5,
};

struct ParamRecord {
    ParamKind kind = ParamPopup;
    std::string name;          // label in messages, store key suffix, preset key
    std::uint32_t code = 0;    // four-character code the plug-in dispatches on
    std::uint32_t listCode = 0;  // names the choice set of a ParamPopup; 0 otherwise
    std::vector<std::uint32_t> choiceCodes;
    std::vector<std::string> choiceLabels;  // parallel to choiceCodes
    std::array<ParamValue, 6> slots{};      // indexed by ParamSlot
    std::uint32_t flags = 0;
    double scale = 1.0;  // consumers multiply the value by it (a percentage becomes a fraction)
    std::int32_t reserved = -1;  // copied with the record, read by nothing

    // The default state: kind ParamPopup, everything empty or zero, scale 1.0, reserved -1.
    ParamRecord() = default;
    // Everything empty or zero except the five given fields; scale 0.01 when flags hold
    // ParamPercent, else 1.0.  The describer fills the slots afterwards.
    ParamRecord(ParamKind kind, std::string name, std::uint32_t code, std::uint32_t listCode,
                std::uint32_t flags);

    void initEmpty();
    ParamRecord& assign(const ParamRecord& source);

    ParamValue& value() { return slots[SlotValue]; }
    const ParamValue& value() const { return slots[SlotValue]; }
    ParamValue& defaultValue() { return slots[SlotDefault]; }
    const ParamValue& defaultValue() const { return slots[SlotDefault]; }
    bool hasFlag(std::uint32_t flag) const { return (flags & flag) != 0; }
};

// For callers that own a record through a pointer made with new.
void destroyParamRecord(ParamRecord* record);

}  // namespace Mav::Host::Param
