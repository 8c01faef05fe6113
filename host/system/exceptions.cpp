#include "host/system/exceptions.h"

namespace Mav {

Exception::~Exception() = default;

namespace Host::System {

const char* BadAllocation::what() const noexcept { return "bad allocation"; }

void throwBadAllocation() { throw BadAllocation(); }

}  // namespace Host::System
}  // namespace Mav
