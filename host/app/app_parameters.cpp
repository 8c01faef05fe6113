#include "host/app/app_parameters.h"

#include "host/app/host.h"

namespace Mav::Host::App {

Parameters::Parameters(Host* host) : host(host) {}

Parameters::Parameters(const Parameters& source) : Param::Parameters(source), host(source.host) {}

Parameters::~Parameters() = default;

bool Parameters::linksParameters() const { return host && host->linksParameters(); }

void Parameters::updateLinkedParameters(std::size_t index) {
    if (host) host->updateLinkedParameters(*this, index);
}

void Parameters::pixelScale(float& x, float& y) const {
    const float scale = host ? host->pixelScale() : 1.0f;
    x = scale;
    y = scale;
}

}  // namespace Mav::Host::App
