#include "host/system/system_host.h"

namespace Mav::Host::System {

Host::~Host() = default;

}  // namespace Mav::Host::System
