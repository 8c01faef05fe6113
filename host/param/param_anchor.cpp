// Anchors the host library while it has no other translation unit of its own.
namespace Mav::Host {
int hostLibraryAnchor = 0;
}
