// Caps Lock holds the preview: while the key is held down, the viewer neither renders nor serves
// deferred renders.  What counts is the key, not the lock: the toolkit reports the lock's toggle
// state, which would stop every render for a user who merely types with Caps Lock on.  The X
// server's keymap says which keys are down, wherever the keyboard focus is.  Other display servers
// offer no such query; there the preview is never held.

#include <wx/utils.h>

#if defined(__WXGTK__)
#include <X11/Xlib.h>
#include <X11/keysym.h>
#endif

#include "host/param/viewer_panel.h"

namespace Mav::Host::Param {

namespace {

bool capsLockKeyHeld() {
#if defined(__WXGTK__)
    const wxDisplayInfo info = wxGetDisplayInfo();
    if (info.type != wxDisplayX11 || !info.dpy) return false;
    auto* display = static_cast<Display*>(info.dpy);
    const KeyCode code = XKeysymToKeycode(display, XK_Caps_Lock);
    if (code == 0) return false;
    char keys[32] = {};
    XQueryKeymap(display, keys);
    return (static_cast<unsigned char>(keys[code / 8]) >> (code % 8)) & 1u;
#else
    return false;
#endif
}

CapsLockProbe currentProbe = capsLockKeyHeld;

}  // namespace

bool capsLockDown() { return currentProbe(); }

CapsLockProbe setCapsLockProbe(CapsLockProbe probe) {
    const CapsLockProbe previous = currentProbe;
    currentProbe = probe ? probe : capsLockKeyHeld;
    return previous;
}

}  // namespace Mav::Host::Param
