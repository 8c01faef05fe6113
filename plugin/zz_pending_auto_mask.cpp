// Stand-ins for render stages that are not in the library yet, so that the plug-in links while they
// are being written.  Each is a weak definition that throws when called: a real definition replaces
// it without a clash, and a render that reaches a missing stage fails loudly instead of producing a
// picture.  One file per stage, so that linking one stand-in never drags in another that a real
// definition exists for.  This file goes as soon as its stage has its own source.

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

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

[[gnu::weak]] void VantreloPlugin::updateAutoMask(Parameters&, const Rect&) {
    missing("updateAutoMask");
}

}  // namespace vantrelo
