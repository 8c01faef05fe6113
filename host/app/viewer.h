#pragma once
// The preview viewer over the application host.
//
// Mav::Host::Param::Viewer implements the viewer base (host/param/viewer_base.h) on the host: it
// loads the current input at the render scale min(zoom, 1), asks the host which input region a
// render needs, runs the host's prepare, analyse and render, caches the result so that a pan
// renders only the newly exposed strips, magnifies for zoom above 1, and has the picture drawn
// colour-managed over a checkerboard (host/app/viewer_display.h).  Mav::Host::App::Viewer is the
// class the main window embeds; it adds the two render entry points.
//
// Everything runs on the user-interface thread, inside the panel's paint (drawRect) or a deferred
// render from the panel's idle pass (renderRect).  A render that throws marks the viewer `failed`
// (the panel shows "Render Failed" until the next change) and queues its text for a "Viewer Error"
// box, which the panel shows after its paint; host messages queued during a render go to the same
// box.
//
// Positions.  The picture's top-left corner lies at (originX + panX, originY + panY) in client
// pixels, (originX, originY) being the corner of the last drawing rectangle (2, 2).  pixelAt and
// viewToImage take positions counted from that corner and map them against the pan offset; the
// interactive preview takes (originX, originY) off window positions before it asks them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/app/host.h"
#include "host/app/viewer_worker.h"
#include "host/param/viewer_base.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"

class wxDC;
class wxGraphicsContext;

namespace Mav::Host::Param {

using System::ImageBuffer;
using System::Rect;

// The render inputs: the current input at the render scale, the render's scratch image and the
// images of extra inputs (none with the application's host).
struct ImageSet {
    explicit ImageSet(App::Host* host) : source(host), aux(host) {}
    // Resets both images and frees the layer images.
    void clear();
    void clearLayers();

    ImageBuffer source;
    ImageBuffer aux;
    App::ImageList layerImages;
    std::vector<std::uint64_t> layerKeys;  // the source each layer image was loaded from
};

class Viewer : public ViewerBase {
public:
    Viewer(App::Host& host, App::Parameters& set, ViewerPanel* panel);
    ~Viewer() override;

    // Stops a background worker, frees the cached results and, unless keepPanelLink, clears the
    // panel's pointer to this viewer (its handlers then do nothing).  Returns the panel.  The
    // application calls it with false before its main window goes.
    ViewerPanel* stop(bool keepPanelLink);

    // The render path: renders what the client rectangle R shows and, with `draw`, draws it
    // through gc (then R becomes the rectangle the picture covers).  `status` is one of kDraw*.
    void renderAndDraw(Rect& r, double scale, wxGraphicsContext* gc, bool draw, int& status);
    // With a running worker: refreshes the display copies used while the viewer is busy.
    void updateDisplayCopies(bool busy);

    std::int64_t imageWidth() override;
    std::int64_t imageHeight() override;
    bool pixelAt(float out[4], int x, int y) override;
    void viewToImage(int x, int y, int& outX, int& outY, bool toView) override;
    // Shows messages the host queued outside a render in a box captioned "Error".
    void flushHostMessages() override;
    bool isThreaded() override;
    bool hasPendingRequests() override;
    void postRenderRequest() override;
    void waitIdle() override;
    bool pollProgress() override;
    void setPanOffset(int x, int y) override;
    // The name the application's preview uses for setPanOffset.
    void setOffset(int x, int y) { setPanOffset(x, y); }

    App::Host& host;
    ImageBuffer originalImage;   // the original when originalSource > 0
    ImageBuffer scaledResult;    // the magnified picture for zoom above 1
    std::vector<std::unique_ptr<ImageBuffer>> results;  // each view's result at the render scale
    ImageBuffer proxyResult;     // display copy of the result while busy
    ImageSet fullSet;
    ImageSet proxySet;
    std::int32_t lastOriginalSource = 0;
    RenderWorker worker;

    // The parts of `target` outside `old`, top, left, right and bottom, each inside `target`
    // and none empty: what an incremental render renders after a pan.
    static std::vector<Rect> exposedStrips(const Rect& target, const Rect& old);

private:
    // The source the coordinate queries read: the display copy while busy.
    const ImageBuffer& querySource();
    App::Parameters& viewParameters();
    void reportLoadError(const std::string& error);
    void renderFailed(Rect& r, int& status, const std::string& text);

    std::string loadErrorShown_;  // the last load failure reported; cleared by a good load
};

}  // namespace Mav::Host::Param

namespace Mav::Host::App {

class Viewer : public Param::Viewer {
public:
    Viewer(Host& host, Parameters& set, Param::ViewerPanel* panel = nullptr);

    void beforeUpdate() override {}
    void reservedHook() override {}
    // renderAndDraw without drawing; the rectangle is (x, y, width, height).
    void renderRect(wxRect& rect) override;
    // renderAndDraw through a graphics context made for `dc`.
    void drawRect(wxRect& rect, wxDC& dc, int& status) override;
};

// The viewer's destruction as a free operation.
void destroyViewer(Viewer* viewer);

}  // namespace Mav::Host::App
