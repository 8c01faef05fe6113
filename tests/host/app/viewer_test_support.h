#pragma once
// A host and a window for the viewer's tests.
//
// The host's render writes a colour that names the image pixel: R = x, G = y (both modulo 256,
// in render-scale coordinates) and B = 150, with a chosen alpha, so a screenshot tells which
// image pixel was drawn at a client position.  It counts its calls and records their output
// rectangles, and can be told to throw.  The input is a PNG in a scratch folder.
//
// The window is a frame holding a ViewerPanel in a sizer; screenshots are blitted from the panel's
// client area with the toolkit (wxClientDC).  (A wxScreenDC blit of the root window kept showing
// the first frame under Xvfb.)

#include <wx/dcmemory.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/utils.h>
#include <wx/sizer.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/app/host.h"
#include "host/app/viewer.h"
#include "host/param/viewer_panel.h"
#include "tests/host/app/test_plugin.h"
#include "tests/support/gui_support.h"

namespace Mav::Host::System {
inline void PrintTo(const Rect& r, std::ostream* out) {
    *out << "{" << r.x0 << ", " << r.y0 << ", " << r.x1 << ", " << r.y1 << "}";
}
}  // namespace Mav::Host::System

namespace vantrelo_test {

using Mav::Host::Param::ViewerPanel;

inline std::uint8_t markRed(std::int32_t x) { return static_cast<std::uint8_t>(x & 255); }
inline std::uint8_t markGreen(std::int32_t y) { return static_cast<std::uint8_t>(y & 255); }
inline constexpr std::uint8_t kMarkBlue = 150;

class ViewerHost : public Mav::Host::App::Host {
public:
    enum class Throw { Nothing, StdException, Text, Other };

    std::uint8_t alpha = 255;
    // A constant colour in place of the position marks (the checkerboard tests).
    bool flatColour = false;
    std::uint8_t flat[3] = {200, 40, 120};
    Throw throwKind = Throw::Nothing;
    std::string queuedDuringRender;  // queued as a host message by every render

    int renderCalls = 0;
    int prepareCalls = 0;
    int analyseCalls = 0;
    std::vector<Rect> renderRects;
    bool inputCoveredOutput = true;

    void describeParameters(Parameters& set) override {
        Mav::Host::Param::ParamRecord gain(Mav::Host::Param::ParamFloat, "gain",
                                           Mav::Host::Param::fourCharCode("gain"), 0, 0);
        gain.slots[Mav::Host::Param::SlotValue].setDouble(1.0);
        gain.slots[Mav::Host::Param::SlotDefault].setDouble(1.0);
        gain.slots[Mav::Host::Param::SlotMax].setDouble(10.0);
        set.records().push_back(gain);
    }
    // As the keyer does: in preview mode results carry alpha.
    bool isPreviewMode() const override { return previewFlag(); }
    void prepare(Parameters&, const Rect&) override { ++prepareCalls; }
    void analyse(Parameters&, const Rect&) override { ++analyseCalls; }
    bool render(Parameters&, ImageBuffer& input, ImageBuffer& output, ImageBuffer&,
                Mav::Host::App::ImageList*) override {
        ++renderCalls;
        renderRects.push_back(output.bounds);
        if (!queuedDuringRender.empty()) queueMessage(queuedDuringRender);
        switch (throwKind) {
            case Throw::StdException:
                throw std::runtime_error("the keyer ran out of backdrop");
            case Throw::Text:
                throw std::string("the key data is damaged");
            case Throw::Other:
                throw 42;
            case Throw::Nothing:
                break;
        }
        if (!Mav::Host::System::rectContains(input.bounds, output.bounds))
            inputCoveredOutput = false;
        for (std::int32_t y = output.bounds.y0; y < output.bounds.y1; ++y) {
            std::uint8_t* pixel = output.pixelAddress(output.bounds.x0, y);
            for (std::int32_t x = output.bounds.x0; x < output.bounds.x1; ++x, pixel += 4) {
                pixel[0] = flatColour ? flat[0] : markRed(x);
                pixel[1] = flatColour ? flat[1] : markGreen(y);
                pixel[2] = flatColour ? flat[2] : kMarkBlue;
                pixel[3] = alpha;
            }
        }
        return true;
    }
    void forgetCalls() {
        renderCalls = prepareCalls = analyseCalls = 0;
        renderRects.clear();
    }
};

// A panel that counts the repaints it is asked for.
class CountingPanel : public ViewerPanel {
public:
    using ViewerPanel::ViewerPanel;
    void Refresh(bool eraseBackground = true, const wxRect* rect = nullptr) override {
        ++refreshes;
        ViewerPanel::Refresh(eraseBackground, rect);
    }
    int refreshes = 0;
};

struct Screenshot {
    wxImage image;
    // Colour at a client position of the panel.
    wxColour at(int x, int y) const {
        return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
    }
};

// Everything a window test needs: a scratch input, the host in preview mode, a frame with the
// panel and the viewer linked both ways.
class ViewerWindow {
public:
    // With inSizer false the panel keeps exactly clientSize inside a larger frame.
    ViewerWindow(int imageWidth, int imageHeight, wxSize clientSize = wxSize(420, 320),
                 bool inSizer = true)
        : folder("vantrelo-viewer", ScratchFolder::ConfigHome) {
        const std::filesystem::path input = folder.path() / "subject.png";
        writePng(input, patternPicture(imageWidth, imageHeight, 1));
        host.addInputFile(toolkitPath(input));
        host.initInputs();
        host.setPreviewFlag(true);
        frame = new wxFrame(nullptr, wxID_ANY, "viewer test", wxPoint(30, 30));
        panel = new CountingPanel(frame, wxID_ANY, wxDefaultPosition, clientSize);
        if (inSizer) {
            auto* sizer = new wxBoxSizer(wxVERTICAL);
            sizer->Add(panel, 1, wxEXPAND);
            frame->SetSizerAndFit(sizer);
        } else {
            // A second child, or the frame would stretch its only child over its client area.
            new wxWindow(frame, wxID_ANY, wxPoint(250, 250), wxSize(10, 10));
            frame->SetClientSize(300, 300);
            panel->SetSize(0, 0, clientSize.GetWidth(), clientSize.GetHeight());
        }
        viewer = std::make_unique<Mav::Host::App::Viewer>(host, *host.currentParameters(), panel);
        panel->viewer = viewer.get();
        frame->Show();
        settle();
    }
    ~ViewerWindow() {
        if (viewer) viewer->stop(false);
        frame->Destroy();
        pumpToolkit();
    }

    // Runs the display server's events (exposures and paints come from there), the toolkit's
    // queued events and its idle pass, a few rounds.
    static void runEvents(int rounds = 10) {
        for (int i = 0; i < rounds; ++i) {
            wxTheApp->Yield(true);
            pumpToolkit();
            wxMilliSleep(10);
        }
    }
    // Until the window is mapped and has painted.
    void settle() { runEvents(30); }
    // A repaint of the whole panel and everything it queued (the "Viewer Error" box comes after
    // the paint).
    void paintNow() {
        panel->Refresh(true);
        panel->Update();
        runEvents();
    }
    Screenshot screenshot() {
        const wxSize size = panel->GetClientSize();
        wxBitmap bitmap(size);
        {
            wxMemoryDC memory(bitmap);
            wxClientDC client(panel);
            memory.Blit(0, 0, size.GetWidth(), size.GetHeight(), &client, 0, 0);
        }
        return Screenshot{bitmap.ConvertToImage()};
    }

    ScratchFolder folder;
    ViewerHost host;
    wxFrame* frame = nullptr;
    CountingPanel* panel = nullptr;
    std::unique_ptr<Mav::Host::App::Viewer> viewer;
};

}  // namespace vantrelo_test
