#pragma once
// The backdrop and overlay layers: images drawn behind and over the keyed subject, loaded from the
// file-list texts "Backdrop files" and "Overlay files" (host/param/file_list_text.h gives the text
// form).
//
// Layer images are read with the toolkit's image reader, never with the subject-image reader, and
// are held as 8-bit RGBA over {0, 0, width, height}.  An entry keeps the name it was last loaded
// from, also when that load failed: it is tried again only when the name at its position changes,
// so a preview paint never rereads a file (nor retries a missing one) while the list text stands
// still.  Entries are matched to names by position.
//
// Failures: a missing file, a path that is not a regular file, an unreadable file or a format no
// handler reads leave the entry without an image, silently; the render skips such entries.
// Exhausted memory throws std::bad_alloc.
//
// Threads: lists are loaded on the thread that prepares a frame and only read by the render.  An
// image may be shared by several entries (copies made while a list grows); the shared handle counts
// its users atomically and frees the image with the last one.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/system/image_buffer.h"
#include "host/system/system_host.h"

namespace vantrelo {

struct LayerEntry {
    // 8-bit RGBA, bounds = domain = {0, 0, width, height}; null when the entry has no image.
    std::shared_ptr<const Mav::Host::System::ImageBuffer> image;
    // True when no pixel has a colour component above its alpha, so the layer can be composited as
    // premultiplied; images without alpha are loaded opaque and count as premultiplied.
    bool premultiplied = true;
    // UTF-8 name the entry was last loaded (or tried) from.
    std::string fileName;

    // Releases the current image and takes `newImage` (null: no image).
    void setImage(std::shared_ptr<const Mav::Host::System::ImageBuffer> newImage);
    // Brings the entry in line with `name`: nothing when the name is unchanged; otherwise the old
    // image is released, the name kept and the file read (see the header comment).  The toolkit's
    // logging is silenced meanwhile.
    void load(Mav::Host::System::Host* host, const std::string& name);
};

using LayerList = std::vector<LayerEntry>;

// Splits the UTF-8 file-list text into names, resizes the list to their number (entries past the
// end released, new ones empty) and loads entry i from name i.
void loadLayerList(Mav::Host::System::Host* host, LayerList& list, std::string_view text);

}  // namespace vantrelo
