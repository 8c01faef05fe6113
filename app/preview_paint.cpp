// The preview's paint: the rendered picture, then the current stroke or box drawn inverted over it.

#include <wx/dc.h>
#include <wx/graphics.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "app/vant_image_preview.h"

namespace {

// Inverting keeps the overlay visible over any picture.  GDI-style XOR with a white pen inverts;
// under GTK 3 the device context draws through cairo, where XOR is the Porter-Duff operator and
// blanks the pixels, while the invert function maps to the difference operator, which a white
// pen turns into an inversion.  Antialiasing would invert partly covered pixels by halves.
void setInvertMode(wxDC& dc) {
#ifdef __WXGTK3__
    dc.SetLogicalFunction(wxINVERT);
    if (wxGraphicsContext* gc = dc.GetGraphicsContext()) gc->SetAntialiasMode(wxANTIALIAS_NONE);
#else
    dc.SetLogicalFunction(wxXOR);
#endif
}

}  // namespace

void VantImagePreview::paint(wxDC& dc) {
    ViewerPanel::paint(dc);
    if (!viewer || !isSamplingTool()) return;

    const Point o = imageOrigin();
    const std::int32_t shown = selection();
    if (shown == kSelectPoint) {
        if (strokePoints.empty()) return;
        setInvertMode(dc);
        if (strokePoints.size() == 1) {
            // One pixel: a 1 x 1 fill is exact on every port, where a point may be drawn as a
            // short line.
            dc.SetPen(*wxTRANSPARENT_PEN);
            dc.SetBrush(wxBrush(*wxWHITE, wxBRUSHSTYLE_SOLID));
            dc.DrawRectangle(o.x + strokePoints[0].x, o.y + strokePoints[0].y, 1, 1);
        } else {
            dc.SetPen(wxPen(*wxWHITE, 1, wxPENSTYLE_SOLID));
            dc.SetBrush(wxBrush(*wxWHITE, wxBRUSHSTYLE_SOLID));
            std::vector<wxPoint> points;
            points.reserve(strokePoints.size());
            for (const Point& p : strokePoints) points.emplace_back(p.x, p.y);
            dc.DrawLines(static_cast<int>(points.size()), points.data(), o.x, o.y);
        }
        dc.SetLogicalFunction(wxCOPY);
    } else if (shown == kSelectBox) {
        const Point a = boxCorners[0];
        const Point b = boxCorners[1];
        if (a == b) return;
        setInvertMode(dc);
        // The fill alone covers the box: an outline over it would invert its edge a second time
        // where the port draws the outline over the fill.
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(*wxWHITE, wxBRUSHSTYLE_SOLID));
        dc.DrawRectangle(o.x + std::min(a.x, b.x), o.y + std::min(a.y, b.y), std::abs(b.x - a.x),
                         std::abs(b.y - a.y));
        dc.SetLogicalFunction(wxCOPY);
    }
}
