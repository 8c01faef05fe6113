#pragma once
// The arithmetic of the fine tune window's three sliders, apart from the window.
//
// The sliders are relative: each shows a percentage in -100..100 that starts at 0; on release its
// amount (percentage / 100) is added to a running base and the slider springs back to 0.  The
// engine receives, for each kind, base + the slider's current amount, so every release adds up
// until the next pick resets the bases.  VantreloWrapper::setFineTune refuses a total outside
// -1..1 and leaves that shell of the key as it was, while the base still accumulates: the slider
// acts again once the sum is back inside the range.
//
// The kinds, in the engine's order (plugin/vantrelo_wrapper.h FineTuneKind): 0 "Remove Spill"
// (outer shell), 1 "Transparency" (middle shell), 2 "Restore Details" (inner shell).

#include <array>

namespace vantrelo {
class VantreloWrapper;
}

using FineTuneAmounts = std::array<float, 3>;

// A slider's percentage as the amount the engine takes: percent / 100 in double precision, then the
// nearest float.  A percentage beyond -100..100 is held at the limit and NaN counts as 0, so no
// conversion is undefined.
float fineTuneAmount(double percent);

struct FineTuneOffsets {
    FineTuneAmounts base{0.0f, 0.0f, 0.0f};

    // base + amounts, kind by kind (float additions).
    FineTuneAmounts totals(const FineTuneAmounts& amounts) const;
    // Applies every kind's total to the engine, also the kinds whose slider did not move, so that
    // moving one slider re-applies the other two at their bases.
    void apply(vantrelo::VantreloWrapper& engine, const FineTuneAmounts& amounts) const;
    // A release: the amounts join the bases (not limited).
    void accumulate(const FineTuneAmounts& amounts);
    void reset() { base = {0.0f, 0.0f, 0.0f}; }
};
