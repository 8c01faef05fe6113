// Caps Lock holds the preview: while it is on, the viewer neither renders nor serves deferred
// renders.  The toolkit reports a lock key's toggle state (not whether the key is held), which on
// X11 comes from the keyboard indicators.

#include <wx/utils.h>

#include "host/param/viewer_panel.h"

namespace Mav::Host::Param {

namespace {

bool keyboardCapsLock() { return wxGetKeyState(WXK_CAPITAL); }

CapsLockProbe currentProbe = keyboardCapsLock;

}  // namespace

bool capsLockDown() { return currentProbe(); }

CapsLockProbe setCapsLockProbe(CapsLockProbe probe) {
    const CapsLockProbe previous = currentProbe;
    currentProbe = probe ? probe : keyboardCapsLock;
    return previous;
}

}  // namespace Mav::Host::Param
