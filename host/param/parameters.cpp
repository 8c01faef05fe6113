#include "host/param/parameters.h"

#include <cmath>
#include <utility>

namespace Mav::Host::Param {

Parameters::Parameters(const Parameters& source)
    : records_(source.records_),
      undoList_(source.undoList_),
      redoList_(source.redoList_),
      undoCheckpoint_(source.undoCheckpoint_),
      changeDepth_(source.changeDepth_) {}

Parameters::~Parameters() = default;

void Parameters::resetToDefaults() {
    for (std::size_t i = 0; i < records_.size(); ++i) {
        ParamRecord& r = records_[i];
        r.slots[SlotValue] = r.slots[SlotDefault];
        valueChanged(i);
    }
}

void Parameters::refreshValue(std::size_t) {}

void Parameters::valueChanged(std::size_t) {}

void Parameters::refreshAll() {
    for (std::size_t i = 0; i < records_.size(); ++i) refreshValue(i);
}

void Parameters::applyAll() {
    for (std::size_t i = 0; i < records_.size(); ++i) valueChanged(i);
}

Parameters& Parameters::assign(const Parameters& source) {
    if (&source != this) {
        records_ = source.records_;
        undoList_ = source.undoList_;
        redoList_ = source.redoList_;
        undoCheckpoint_ = source.undoCheckpoint_;
        changeDepth_ = source.changeDepth_;
    }
    return *this;
}

double Parameters::getDouble(std::size_t index) const {
    return records_[index].value().getDouble();
}

std::int32_t Parameters::getInt(std::size_t index) const {
    return records_[index].value().getInt();
}

bool Parameters::getBool(std::size_t index) const {
    return records_[index].value().getBool();
}

void Parameters::getColour(double rgb[3], std::size_t index) const {
    const ParamValue& v = records_[index].value();
    for (int c = 0; c < 3; ++c) rgb[c] = v.getDouble(c);
}

void Parameters::getPoint(double xy[2], std::size_t index) const {
    const ParamRecord& r = records_[index];
    xy[0] = r.value().getDouble(0);
    xy[1] = r.value().getDouble(1);
    if (!r.hasFlag(ParamUnscaledPoint)) {
        float sx = 1.0f, sy = 1.0f;
        pixelScale(sx, sy);
        xy[0] *= sx;
        xy[1] *= sy;
    }
}

std::string Parameters::getString(std::size_t index) const {
    return records_[index].value().text;
}

std::int32_t Parameters::reservedValue(std::size_t) const {
    return 0;
}

void Parameters::setDouble(double value, std::size_t index) {
    records_[index].value().setDouble(value);
}

void Parameters::setDoubleClamped(double value, std::size_t index) {
    ParamRecord& r = records_[index];
    // A NaN would pass both comparisons and end up stored; it means "no usable number".
    if (std::isnan(value))
        value = r.defaultValue().getDouble();
    else if (value < r.slots[SlotMin].getDouble())
        value = r.slots[SlotMin].getDouble();
    else if (value > r.slots[SlotMax].getDouble())
        value = r.slots[SlotMax].getDouble();
    r.value().setDouble(value);
}

void Parameters::setInt(std::int32_t value, std::size_t index) {
    records_[index].value().setInt(value);
}

void Parameters::setIntClamped(std::int32_t value, std::size_t index) {
    ParamRecord& r = records_[index];
    const std::int32_t lo = r.slots[SlotMin].getInt();
    const std::int32_t hi = r.slots[SlotMax].getInt();
    r.value().setInt(value < lo ? lo : (value < hi ? value : hi));
}

void Parameters::setBool(bool value, std::size_t index) {
    records_[index].value().setBool(value);
}

void Parameters::setColour(const double rgb[3], std::size_t index) {
    ParamValue& v = records_[index].value();
    for (int c = 0; c < 3; ++c) v.setDouble(rgb[c], c);
}

void Parameters::setPoint(const double xy[2], std::size_t index) {
    ParamRecord& r = records_[index];
    double x = xy[0], y = xy[1];
    if (!r.hasFlag(ParamUnscaledPoint)) {
        float sx = 1.0f, sy = 1.0f;
        pixelScale(sx, sy);
        x /= sx;
        y /= sy;
    }
    r.value().setDouble(x, 0);
    r.value().setDouble(y, 1);
}

void Parameters::setString(const std::string& text, std::size_t index) {
    records_[index].value().text = text;
}

void Parameters::reservedStore(std::int32_t, std::size_t) {}

void Parameters::reservedNotify(std::size_t) {}

bool Parameters::linksParameters() const {
    return false;
}

void Parameters::updateLinkedParameters(std::size_t) {}

void Parameters::pixelScale(float& x, float& y) const {
    x = 1.0f;
    y = 1.0f;
}

double Parameters::identityValue(double value) const {
    return value;
}

ParamSetHolder::ParamSetHolder(ParamSetHolder&& other) noexcept
    : set_(std::exchange(other.set_, nullptr)), owns_(std::exchange(other.owns_, false)) {}

ParamSetHolder& ParamSetHolder::operator=(ParamSetHolder&& other) noexcept {
    if (&other != this) {
        reset(nullptr, true);
        set_ = std::exchange(other.set_, nullptr);
        owns_ = std::exchange(other.owns_, false);
    }
    return *this;
}

void ParamSetHolder::reset(Parameters* set, bool owns) {
    if (owns_ && set_ != set) delete set_;
    set_ = set;
    owns_ = owns;
}

}  // namespace Mav::Host::Param
