#include "host/system/system_host.h"

namespace Mav::Host::System {

Host::~Host() = default;

void Host::tickProgress(std::uint64_t) {}

void Host::reportProgress(std::uint64_t, std::uint64_t, std::uint64_t) {}

}  // namespace Mav::Host::System
