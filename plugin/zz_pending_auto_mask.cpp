// A stand-in for the auto-mask's analysis, which is not in the library yet, so that the plug-in
// links meanwhile.  It is a weak definition that throws when called, so a render that reaches it
// fails loudly instead of skipping the analysis.  A weak definition can still be linked in place
// of the real one (the linker takes whichever archive member it meets first), so this file must be
// deleted in the commit that defines VantreloPlugin::updateAutoMask.

#include <cstdint>
#include <string>

#include "host/system/exceptions.h"
#include "plugin/vantrelo_plugin.h"

namespace vantrelo {

namespace {
[[noreturn]] void missing(const char* name) {
    throw Mav::Exception(std::string(name) + " is not built");
}
}  // namespace

using Mav::Host::System::Rect;

[[gnu::weak]] void VantreloPlugin::updateAutoMask(Parameters&, const Rect&) {
    missing("updateAutoMask");
}

}  // namespace vantrelo
