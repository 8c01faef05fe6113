#pragma once
// The toolkit-free face of the application host.  The application host (Mav::Host::App::Host)
// derives from it, so code below the toolkit layer (image buffers, image kernels) can be bound to a
// host without knowing the toolkit, the parameter sets or the plug-in.

#include <cstdint>

#include "host/system/thread.h"

namespace Mav::Host::System {

class Host : public Thread {
public:
    virtual ~Host();

    // True while the system runs interactively.  Buffers allocated alike carry alpha in preview
    // mode.  The application host answers false by default; the plug-in answers its preview flag.
    virtual bool isPreviewMode() const = 0;

    // Progress of long pixel work (the image kernels' bands), callable from any thread; a band
    // passes the key the fork-join runner gave it, and only key 0 moves a progress display.  Either
    // may throw Mav::Interrupted when the user has abandoned the work.  The application host
    // overrides both; this base reports nowhere and never interrupts.
    //
    // One more unit of work of unknown total.
    virtual void tickProgress(std::uint64_t key);
    // done of total units.
    virtual void reportProgress(std::uint64_t key, std::uint64_t done, std::uint64_t total);

protected:
    Host() = default;
    Host(const Host&) = default;
    Host& operator=(const Host&) = default;
};

}  // namespace Mav::Host::System
