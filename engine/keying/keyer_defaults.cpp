#include "engine/keying/keyer_defaults.h"

#include "engine/keying/key_state.h"
#include "engine/keying/keyer.h"

namespace vantrelo {

void applyAlternativeKeyerDefaults(KeyState* state) {
    if (!state) return;
    // The hexagon keyer first: both start from the state's own backdrop colour.
    if (VantreloBase* hexagon = engineHexagonKeyer()) hexagon->initFromState(state);
    if (VantreloBase* threshold = engineThresholdKeyer()) threshold->initFromState(state);
}

}  // namespace vantrelo
