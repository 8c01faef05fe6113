#include "app/fine_tune_offsets.h"

#include <cmath>

#include "plugin/vantrelo_wrapper.h"

float fineTuneAmount(double percent) {
    if (std::isnan(percent)) return 0.0f;
    if (percent < -100.0) percent = -100.0;
    if (percent > 100.0) percent = 100.0;
    return static_cast<float>(percent / 100.0);
}

FineTuneAmounts FineTuneOffsets::totals(const FineTuneAmounts& amounts) const {
    FineTuneAmounts sum{};
    for (std::size_t k = 0; k < sum.size(); ++k) sum[k] = base[k] + amounts[k];
    return sum;
}

void FineTuneOffsets::apply(vantrelo::VantreloWrapper& engine,
                            const FineTuneAmounts& amounts) const {
    const FineTuneAmounts sum = totals(amounts);
    for (std::size_t k = 0; k < sum.size(); ++k) engine.setFineTune(static_cast<int>(k), sum[k]);
}

void FineTuneOffsets::accumulate(const FineTuneAmounts& amounts) { base = totals(amounts); }
