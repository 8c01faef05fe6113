#pragma once
// The pictures of the tool buttons, held in the program's read-only data: no image file is read
// for them.  The pixels come from resources/tool_images and are turned into arrays at build time.

#include <wx/bitmap.h>

// One picture as two arrays, rows from the top: width x height x (R, G, B) bytes, then width x
// height alpha bytes (0 transparent, 255 opaque).  Pictures drawn as black glyphs have an all-zero
// colour array and carry their shape in the alpha array.
struct ToolPicture {
    int width;
    int height;
    const unsigned char* colour;
    const unsigned char* alpha;
};

// Pictures 0 to 39.  Picture 0 is a two-colour XPM text (a white 40 x 40 square with a black bar),
// the others are the arrays above.
inline constexpr int kToolPictureCount = 40;

// The arrays of picture `index`; null for picture 0 and for any index outside 1..39.
const ToolPicture* toolPicture(int index);

// The bitmap of picture `index` at the screen's depth, with the picture's alpha; the toolkit's
// null bitmap for an index outside 0..39.  Each call makes a new bitmap; the control it is given to
// keeps its own copy.
wxBitmap makeToolBitmap(int index);
