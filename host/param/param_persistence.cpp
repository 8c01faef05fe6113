// Saving and loading a parameter set: the per-user store and the preset text file.
//
// Every number is written and read in the C locale whatever the user's locale: std::to_chars for
// writing, strtod_l/strtof_l with a "C" locale object for reading (they keep strtod's syntax:
// leading blanks, signs, exponents, "inf", "nan").  A NaN read anywhere gives the record's default
// (per cell for colours and points), since a NaN would otherwise pass every limit check.

#include "host/param/parameters.h"

#include "host/system/file_store.h"
#include "host/system/registry_store.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <string_view>
#include <utility>

namespace Mav::Host::Param {
namespace {

using System::RegistryStore;
using System::StoreValue;

locale_t cLocale() {
    static const locale_t locale = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
    return locale;
}

// "%f": fixed notation, six digits after the point.
std::string formatFixed(double value) {
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    return std::string(text, result.ptr);
}

// The stream's default format: six significant digits, fixed or exponent form ("%g").
std::string formatGeneral(double value) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return std::string(text, result.ptr);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trimEnd(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view trimStart(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    return text;
}

// atoi's reading (leading blanks, a sign, the digits that follow, 0 when there are none), held to
// the 32-bit range instead of overflowing.
std::int32_t parseInt(std::string_view text) {
    text = trimStart(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > std::int64_t(INT32_MAX) + 1) magnitude = std::int64_t(INT32_MAX) + 1;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return value > INT32_MAX ? INT32_MAX : std::int32_t(value);
}

double defaultCell(const ParamRecord& record, int cell) {
    return record.defaultValue().getDouble(cell);
}

// Reads up to `count` numbers into consecutive cells, blanks skipped before each, stopping at the
// first text that is not a number.  Returns how many were read.  Single precision reads as
// scanf's "%f" does; the cells take the widened values.
int readCells(ParamRecord& record, const char* text, int count, bool singlePrecision) {
    int read = 0;
    for (; read < count; ++read) {
        char* end = nullptr;
        const double value = singlePrecision ? double(::strtof_l(text, &end, cLocale()))
                                             : ::strtod_l(text, &end, cLocale());
        if (end == text) break;
        record.value().setDouble(std::isnan(value) ? defaultCell(record, read) : value, read);
        text = end;
    }
    return read;
}

// The text of a store value up to its first zero byte, as a C string reader would see it.
std::string storedText(const StoreValue& value) {
    return value.text.substr(0, value.text.find('\0'));
}

// Number texts in the store must be shorter than 255 bytes (256 with their terminating zero), as
// the store's readers have always required.
bool isNumberText(const StoreValue* value) {
    return value && value->type == StoreValue::Type::Text && value->text.size() + 1 <= 255;
}

std::string quoteText(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        // Line breaks are escaped so that a multi-line text stays on its own line of the file
        // instead of spilling its lines into the file as further entries.
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
    }
    return out + "\"";
}

std::string unquoteText(std::string_view value) {
    std::string text;
    if (value.empty() || value[0] != '"') return text;
    for (std::size_t i = 1; i < value.size(); ++i) {
        char c = value[i];
        if (c == '"') break;
        if (c == '\\') {
            if (++i == value.size()) break;
            c = value[i];
            c = c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
        text += c;
    }
    return text;
}

}  // namespace

bool Parameters::saveToRegistry(const std::string& root) const {
    RegistryStore store;
    for (const ParamRecord& r : records_) {
        const std::string key = root + r.name;
        const ParamValue& v = r.value();
        switch (r.kind) {
        case ParamInt:
        case ParamPopup:
        case ParamIndex:
            store.setInteger(key, v.getInt());
            break;
        case ParamFloat:
            store.setText(key, formatFixed(r.hasFlag(ParamScaledInRegistry)
                                               ? v.getDouble() * r.scale
                                               : v.getDouble()));
            break;
        case ParamBool:
            store.setInteger(key, v.getBool() ? 1 : 0);
            break;
        case ParamText:
        case ParamString:
            store.setText(key, v.text);
            break;
        case ParamColour:
            store.setText(key, formatFixed(v.getDouble(0)) + " " + formatFixed(v.getDouble(1)) +
                                   " " + formatFixed(v.getDouble(2)));
            break;
        case ParamPoint:
            store.setText(key, formatFixed(v.getDouble(0)) + " " + formatFixed(v.getDouble(1)));
            break;
        default:
            store.createKey(key);
            break;
        }
    }
    return store.commit();
}

bool Parameters::loadFromRegistry(const std::string& root) {
    RegistryStore store;
    if (!store.load()) return false;
    for (ParamRecord& r : records_) {
        const StoreValue* stored = store.value(root + r.name);
        if (!stored) continue;
        const bool integer = stored->type == StoreValue::Type::Integer;
        switch (r.kind) {
        case ParamInt:
        case ParamPopup:
        case ParamIndex:
            if (integer) {
                std::int32_t value = stored->integer;
                if (value < r.slots[SlotMin].getInt()) value = r.slots[SlotMin].getInt();
                if (value > r.slots[SlotMax].getInt()) value = r.slots[SlotMax].getInt();
                r.value().setInt(value);
            }
            break;
        case ParamFloat:
            if (isNumberText(stored)) {
                double value = ::strtod_l(storedText(*stored).c_str(), nullptr, cLocale());
                if (r.hasFlag(ParamScaledInRegistry)) value /= r.scale;
                if (std::isnan(value)) value = r.defaultValue().getDouble();
                if (value < r.slots[SlotMin].getDouble()) value = r.slots[SlotMin].getDouble();
                if (value > r.slots[SlotMax].getDouble()) value = r.slots[SlotMax].getDouble();
                r.value().setDouble(value);
            }
            break;
        case ParamBool:
            if (integer) r.value().setBool(stored->integer != 0);
            break;
        case ParamText:
        case ParamString:
            if (!integer) r.value().text = storedText(*stored);
            break;
        case ParamColour:
        case ParamPoint:
            // Only a complete colour or point replaces the value.
            if (isNumberText(stored)) {
                const int cells = r.kind == ParamColour ? 3 : 2;
                ParamRecord parsed = r;
                if (readCells(parsed, storedText(*stored).c_str(), cells, true) == cells)
                    r.value().cells = parsed.value().cells;
            }
            break;
        default:
            break;
        }
    }
    return true;
}

bool Parameters::savePreset(const std::filesystem::path& path, const std::string& pluginName,
                            const std::string& version) {
    std::string out = "Plugin Name: " + pluginName + "\r\n";
    out += "Version Number: " + version + "\r\n";
    for (const ParamRecord& r : records_) {
        if (r.hasFlag(ParamNotInPreset)) continue;
        const ParamValue& v = r.value();
        std::string value;
        switch (r.kind) {
        case ParamInt:
        case ParamPopup:
        case ParamIndex:
            value = std::to_string(v.getInt());
            break;
        case ParamFloat:
            value = formatGeneral(v.getDouble());
            break;
        case ParamBool:
            value = v.getBool() ? "true" : "false";
            break;
        case ParamText:
        case ParamString:
            value = quoteText(v.text);
            break;
        case ParamColour:
        case ParamPoint:
            for (int c = 0; c < (r.kind == ParamColour ? 3 : 2); ++c)
                value += formatGeneral(v.getDouble(c)) + " ";
            break;
        default:
            continue;
        }
        out += r.name + ": " + value + "\r\n";
    }
    std::string error;
    if (System::replaceFile(path, out, error)) return true;
    std::fprintf(stderr, "vantrelo: the preset was not saved: %s\n", error.c_str());
    return false;
}

bool Parameters::loadPreset(const std::filesystem::path& path) {
    std::string content, error;
    if (System::readFile(path, content, error) != System::ReadStatus::Read) {
        std::fprintf(stderr, "vantrelo: the preset was not loaded: %s\n", error.c_str());
        return false;
    }

    resetToDefaults();
    std::string_view rest(content);
    bool firstLine = true;  // plug-in name: compared with nothing
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (std::exchange(firstLine, false)) continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = trimEnd(line.substr(0, colon));
        const std::string_view value = trimStart(trimEnd(line.substr(colon + 1)));
        const std::string number(value);

        for (ParamRecord& r : records_) {
            if (r.name != name) continue;
            switch (r.kind) {
            case ParamFloat: {
                const double parsed = ::strtod_l(number.c_str(), nullptr, cLocale());
                r.value().setDouble(std::isnan(parsed) ? r.defaultValue().getDouble() : parsed);
                break;
            }
            case ParamBool:
                r.value().setBool(value == "true");
                break;
            case ParamText:
            case ParamString:
                r.value().text = unquoteText(value);
                break;
            case ParamColour:
                readCells(r, number.c_str(), 3, false);
                break;
            case ParamPoint:
                readCells(r, number.c_str(), 2, false);
                break;
            case ParamInt:
            case ParamPopup:
            case ParamIndex:
                r.value().setInt(parseInt(value));
                break;
            default:
                break;
            }
        }
    }
    return true;
}

}  // namespace Mav::Host::Param
