#include "engine/keying/keyer_defaults.h"

#include "engine/keying/key_state.h"

namespace vantrelo {

// Placeholder until the alternative keyers exist.
void applyAlternativeKeyerDefaults(KeyState*) {}

}  // namespace vantrelo
