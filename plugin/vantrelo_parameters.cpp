#include "plugin/vantrelo_parameters.h"

#include "plugin/param_mapping.h"
#include "plugin/parameter_schema.h"

namespace vantrelo {

VantreloParameters::VantreloParameters(Mav::Host::App::Host* host, CVantreloBridge* bridge)
    : Mav::Host::App::Parameters(host), bridge(bridge) {}

VantreloParameters::VantreloParameters(const VantreloParameters& source)
    : Mav::Host::App::Parameters(source), bridge(source.bridge) {}

VantreloParameters::~VantreloParameters() = default;

void VantreloParameters::resetToDefaults() {
    Mav::Host::App::Parameters::resetToDefaults();
    if (!bridge) return;
    bridge->autoMaskJustEnabled = bridge->autoMaskEnabled;
    bridge->fitJustEnabled = bridge->fitEnabled;
}

void VantreloParameters::syncFromEngine(std::size_t index) {
    if (bridge && index < count()) syncParamFromBridge(*bridge, record(index));
}

void VantreloParameters::applyToEngine(std::size_t index) {
    if (bridge && index < count()) applyParamToBridge(*bridge, *this, record(index));
}

Mav::Host::Param::Parameters& VantreloParameters::copyFrom(const Mav::Host::Param::Parameters& source) {
    Mav::Host::App::Parameters::assign(source);
    for (std::size_t i = kParamEnableAutoMask; i <= kParamAutoMaskColorCorrection && i < count(); ++i) {
        Mav::Host::Param::ParamRecord& r = record(i);
        r.value() = r.defaultValue();
    }
    return *this;
}

}  // namespace vantrelo
