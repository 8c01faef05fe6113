#include "app/tool_images.h"

#include <wx/image.h>

namespace {

#include "resources/tool_images/picture_00.xpm"

}  // namespace

// Defined by the source generated from resources/tool_images (tool_images_embed.cmake).
extern const ToolPicture kToolPictures[kToolPictureCount];

const ToolPicture* toolPicture(int index) {
    if (index < 1 || index >= kToolPictureCount) return nullptr;
    return &kToolPictures[index];
}

wxBitmap makeToolBitmap(int index) {
    if (index == 0) return wxBitmap(picture_00_xpm);
    const ToolPicture* picture = toolPicture(index);
    if (!picture) return wxNullBitmap;
    // The image borrows the constant arrays (static data: never freed, never copied) and lives
    // only until the bitmap has taken its pixels; nothing writes through it, so the casts never
    // let the read-only data be changed.
    wxImage image(picture->width, picture->height, const_cast<unsigned char*>(picture->colour),
                  const_cast<unsigned char*>(picture->alpha), true);
    return wxBitmap(image, wxBITMAP_SCREEN_DEPTH);
}
