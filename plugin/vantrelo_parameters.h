#pragma once
// The keyer's parameter set: the host's parameter set kept in step with the engine adapter.
//
// The host asks the set for fresh values before it reads or records them (refreshValue: pull from
// the adapter) and tells it after it replaced values itself (valueChanged: push into the adapter):
// undo, redo, reset and input switches thereby reach the live engine state.  The mapping itself is
// in plugin/param_mapping.h.
//
// The set does not own the adapter: it belongs to the plug-in, which outlives every set.  A set
// without an adapter (null) only keeps values.

#include <cstddef>

#include "host/app/app_parameters.h"
#include "plugin/vantrelo_wrapper.h"

namespace vantrelo {

class VantreloParameters : public Mav::Host::App::Parameters {
public:
    // An empty set; the schema is appended afterwards (describeKeyerParameters).
    VantreloParameters(Mav::Host::App::Host* host, CVantreloBridge* bridge);
    // Records, undo history, host and adapter of the source, as the host's clone makes them.
    VantreloParameters(const VantreloParameters& source);
    ~VantreloParameters() override;

    // Every value to its default, pushed in index order; then both just-enabled triggers follow
    // their switches, so a reset with the auto-mask or scale-to-fit on runs it again.
    void resetToDefaults() override;
    void refreshValue(std::size_t index) override { syncFromEngine(index); }
    void valueChanged(std::size_t index) override { applyToEngine(index); }
    Mav::Host::Param::Parameters& assign(const Mav::Host::Param::Parameters& source) override {
        return copyFrom(source);
    }

    // Pulls record `index` from the adapter.
    void syncFromEngine(std::size_t index);
    // Pushes record `index` into the adapter.
    void applyToEngine(std::size_t index);
    // The base copy, then the four auto-mask records ("enable automask", "automask radius",
    // "automask ease bleach", "automask color correction") back at their defaults: the host makes
    // a newly visited image's set this way, and every image starts with its own auto-mask.  The
    // adapter pointer stays this set's own.
    Mav::Host::Param::Parameters& copyFrom(const Mav::Host::Param::Parameters& source);

    CVantreloBridge* bridge;
};

}  // namespace vantrelo
