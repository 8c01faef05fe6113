// Stand-ins for render stages that are not in the library yet, so that the plug-in links while they
// are being written.  Each is a weak definition that throws when called: a real definition replaces
// it without a clash, and a render that reaches a missing stage fails loudly instead of producing a
// picture.  This file goes as soon as every stage below has its own source.

#include <cstdint>
#include <string>

#include "host/system/exceptions.h"
#include "plugin/composite_rows.h"
#include "plugin/keying_pass.h"
#include "plugin/light_wrap.h"
#include "plugin/vantrelo_plugin.h"

namespace vantrelo {

namespace {
[[noreturn]] void missing(const char* name) {
    throw Mav::Exception(std::string(name) + " is not built");
}
}  // namespace

using Mav::Host::System::ImageBuffer;
using Mav::Host::System::Rect;

[[gnu::weak]] void fillColorRows4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("fillColorRows4");
}
[[gnu::weak]] void fillColorRows3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("fillColorRows3");
}
[[gnu::weak]] void copyKeyedRowsFloat4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("copyKeyedRowsFloat4");
}
[[gnu::weak]] void copyKeyedRowsFloat3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("copyKeyedRowsFloat3");
}
[[gnu::weak]] void matteGreyRowsFloat4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("matteGreyRowsFloat4");
}
[[gnu::weak]] void matteGreyRowsFloat3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("matteGreyRowsFloat3");
}
[[gnu::weak]] void compositeOverRowsFloat4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("compositeOverRowsFloat4");
}
[[gnu::weak]] void compositeOverRowsFloat3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("compositeOverRowsFloat3");
}
[[gnu::weak]] void fillColorRows16x4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("fillColorRows16x4");
}
[[gnu::weak]] void fillColorRows16x3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("fillColorRows16x3");
}
[[gnu::weak]] void copyKeyedRows16x4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("copyKeyedRows16x4");
}
[[gnu::weak]] void copyKeyedRows16x3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("copyKeyedRows16x3");
}
[[gnu::weak]] void matteGreyRows16x4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("matteGreyRows16x4");
}
[[gnu::weak]] void matteGreyRows16x3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("matteGreyRows16x3");
}
[[gnu::weak]] void compositeOverRows16x4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("compositeOverRows16x4");
}
[[gnu::weak]] void compositeOverRows16x3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("compositeOverRows16x3");
}
[[gnu::weak]] void fillColorRows8x4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("fillColorRows8x4");
}
[[gnu::weak]] void fillColorRows8x3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("fillColorRows8x3");
}
[[gnu::weak]] void copyKeyedRows8x4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("copyKeyedRows8x4");
}
[[gnu::weak]] void copyKeyedRows8x3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("copyKeyedRows8x3");
}
[[gnu::weak]] void matteGreyRows8x4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("matteGreyRows8x4");
}
[[gnu::weak]] void matteGreyRows8x3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("matteGreyRows8x3");
}
[[gnu::weak]] void compositeOverRows8x4(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("compositeOverRows8x4");
}
[[gnu::weak]] void compositeOverRows8x3(void*, std::uint64_t, std::uint64_t, std::uint64_t) {
    missing("compositeOverRows8x3");
}
[[gnu::weak]] void keyPassFloat(VantreloPlugin&, const ImageBuffer&, const ImageBuffer&,
                                const ImageBuffer*, ImageBuffer&, const Rect&, const Rect&, bool,
                                bool, bool) {
    missing("keyPassFloat");
}
[[gnu::weak]] void keyPass16(VantreloPlugin&, const ImageBuffer&, const ImageBuffer&,
                             const ImageBuffer*, ImageBuffer&, const Rect&, const Rect&, bool, bool,
                             bool) {
    missing("keyPass16");
}
[[gnu::weak]] void keyPass8(VantreloPlugin&, const ImageBuffer&, const ImageBuffer&,
                            const ImageBuffer*, ImageBuffer&, const Rect&, const Rect&, bool, bool,
                            bool) {
    missing("keyPass8");
}
[[gnu::weak]] void lightWrapStepFloat(Mav::Host::System::Host&, ImageBuffer&, const ImageBuffer*,
                                      const std::uint16_t*, float, float, int) {
    missing("lightWrapStepFloat");
}
[[gnu::weak]] void lightWrapStep16(Mav::Host::System::Host&, ImageBuffer&, const ImageBuffer*,
                                   const std::uint16_t*, float, float, int) {
    missing("lightWrapStep16");
}
[[gnu::weak]] void lightWrapStep8(Mav::Host::System::Host&, ImageBuffer&, const ImageBuffer*,
                                  const std::uint16_t*, float, float, int) {
    missing("lightWrapStep8");
}
[[gnu::weak]] void VantreloPlugin::updateAutoMask(Parameters&, const Rect&) {
    missing("updateAutoMask");
}

}  // namespace vantrelo
