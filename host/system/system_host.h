#pragma once
// The toolkit-free face of the application host.  The application host (Mav::Host::App::Host)
// derives from it, so code below the toolkit layer (image buffers, image kernels) can be bound to a
// host without knowing the toolkit, the parameter sets or the plug-in.

#include "host/system/thread.h"

namespace Mav::Host::System {

class Host : public Thread {
public:
    virtual ~Host();

    // True while the system runs interactively.  Buffers allocated alike carry alpha in preview
    // mode.  The application host answers false by default; the plug-in answers its preview flag.
    virtual bool isPreviewMode() const = 0;

protected:
    Host() = default;
    Host(const Host&) = default;
    Host& operator=(const Host&) = default;
};

}  // namespace Mav::Host::System
