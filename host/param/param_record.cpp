#include "host/param/param_record.h"

#include <bit>
#include <utility>

namespace Mav::Host::Param {

double ParamValue::getDouble(int cell) const {
    return std::bit_cast<double>(cells[cell]);
}

void ParamValue::setDouble(double value, int cell) {
    cells[cell] = std::bit_cast<std::uint64_t>(value);
}

std::int32_t ParamValue::getInt() const {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(cells[0]));
}

void ParamValue::setInt(std::int32_t value) {
    cells[0] = (cells[0] & 0xFFFFFFFF00000000u) | static_cast<std::uint32_t>(value);
}

bool ParamValue::getBool() const {
    return (cells[0] & 0xFFu) != 0;
}

void ParamValue::setBool(bool value) {
    cells[0] = (cells[0] & ~std::uint64_t(0xFF)) | (value ? 1u : 0u);
}

ParamRecord::ParamRecord(ParamKind kind, std::string name, std::uint32_t code,
                         std::uint32_t listCode, std::uint32_t flags)
    : kind(kind),
      name(std::move(name)),
      code(code),
      listCode(listCode),
      flags(flags),
      scale((flags & ParamPercent) != 0 ? 0.01 : 1.0) {}

void ParamRecord::initEmpty() {
    *this = ParamRecord();
}

ParamRecord& ParamRecord::assign(const ParamRecord& source) {
    *this = source;
    return *this;
}

void destroyParamRecord(ParamRecord* record) {
    delete record;
}

}  // namespace Mav::Host::Param
