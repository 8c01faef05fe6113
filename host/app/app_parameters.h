#pragma once
// The parameter set of the application host.  Three questions a set cannot answer by itself go to
// the host that created it: whether parameters are linked, how linked parameters follow a change,
// and the pixel scale of the image being rendered (points are stored at full resolution and seen at
// the render scale).  The keyer plug-in derives its own set from this one.

#include <cstddef>

#include "host/param/parameters.h"

namespace Mav::Host::App {

class Host;

class Parameters : public Param::Parameters {
public:
    // Bound to `host` (not owned; null gives the framework's answers: no links, scale 1).
    explicit Parameters(Host* host);
    // Same records, undo history and host as the source.
    Parameters(const Parameters& source);
    ~Parameters() override;

    bool linksParameters() const override;
    void updateLinkedParameters(std::size_t index) override;
    // The host's pixel scale for both axes.
    void pixelScale(float& x, float& y) const override;

    Host* host;
};

}  // namespace Mav::Host::App
