// Anchors the library while it has no other translation unit of its own.
namespace Mav::Host::System {
int systemLibraryAnchor = 0;
}
