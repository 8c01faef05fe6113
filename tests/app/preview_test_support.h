#pragma once
// A real window with the interactive preview over a small host, for the preview's tests.
//
// The subject is a 180 x 120 PNG whose channels all differ and name the pixel: R = x, G = y + 40,
// B = (3x + 7y + 5) mod 256, so a sample tells which pixel it was read from.  The host's render
// paints a flat colour, so a screenshot shows the overlay against a known background.  The frame
// around the preview records every sample and parameter event that reaches it, as the main window
// would receive them, with the change-group depth of the set at that moment.
//
// Pointer input is either real (wxUIActionSimulator moves the X pointer over the panel) or
// synthetic (mouse and key events handed to the panel's handler), where modifiers and exact
// positions matter more than the pointer's path.

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/sizer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/vant_image_preview.h"
#include "host/app/host.h"
#include "host/app/viewer.h"
#include "host/param/param_events.h"
#include "plugin/vantrelo_wrapper.h"
#include "tests/host/system/store_test_support.h"
#include "tests/support/gui_support.h"

namespace preview_test {

inline constexpr int kImageWidth = 180;
inline constexpr int kImageHeight = 120;

struct Rgb16 {
    std::uint16_t c[4];
    bool operator==(const Rgb16&) const = default;
};

inline std::uint8_t fixtureRed(int x, int) { return static_cast<std::uint8_t>(x); }
inline std::uint8_t fixtureGreen(int, int y) { return static_cast<std::uint8_t>(y + 40); }
inline std::uint8_t fixtureBlue(int x, int y) {
    return static_cast<std::uint8_t>(3 * x + 7 * y + 5);
}

// The sample of fixture pixel (x, y): 8-bit values widen by 257, the picture is opaque.
inline Rgb16 fixtureSample(int x, int y) {
    return {{static_cast<std::uint16_t>(fixtureRed(x, y) * 257),
             static_cast<std::uint16_t>(fixtureGreen(x, y) * 257),
             static_cast<std::uint16_t>(fixtureBlue(x, y) * 257), 65535}};
}

inline void PrintTo(const Rgb16& s, std::ostream* out) {
    *out << "(" << s.c[0] << ", " << s.c[1] << ", " << s.c[2] << ", " << s.c[3] << ")";
}

class PreviewHost : public Mav::Host::App::Host {
public:
    // Thirty records, so the layer parameters 27 to 29 lie inside the set as in the program.
    void describeParameters(Mav::Host::App::Parameters& set) override {
        for (int i = 0; i < 30; ++i) {
            Mav::Host::Param::ParamRecord r(Mav::Host::Param::ParamFloat, "p" + std::to_string(i),
                                            0, 0, 0);
            r.slots[Mav::Host::Param::SlotMax].setDouble(1.0);
            set.records().push_back(r);
        }
    }
    bool isPreviewMode() const override { return previewFlag(); }
    bool render(Mav::Host::App::Parameters&, Mav::Host::System::ImageBuffer&,
                Mav::Host::System::ImageBuffer& output, Mav::Host::System::ImageBuffer&,
                Mav::Host::App::ImageList*) override {
        for (std::int32_t y = output.bounds.y0; y < output.bounds.y1; ++y) {
            std::uint8_t* pixel = output.pixelAddress(output.bounds.x0, y);
            for (std::int32_t x = output.bounds.x0; x < output.bounds.x1; ++x, pixel += 4) {
                pixel[0] = 200;
                pixel[1] = 40;
                pixel[2] = 120;
                pixel[3] = 255;
            }
        }
        return true;
    }
};

struct SampleRecord {
    std::int32_t phase = 0;
    bool valid = false;
    Rgb16 colour{};
    std::int64_t blockWidth = 0;
    std::int64_t blockHeight = 0;
    std::vector<Rgb16> block;
    bool hasBlock = false;
    std::vector<VantImagePreview::Point> strokeAtSend;  // the panel's stroke points meanwhile
};

struct ParamEventRecord {
    wxEventType type;
    std::uint64_t index;
    std::int32_t depth;  // change-group depth of the set while the event was handled
};

class PreviewWindow {
public:
    explicit PreviewWindow(wxSize clientSize = wxSize(420, 320))
        : folder_("vantrelo-preview", test_store::ScratchFolder::ConfigHome) {
        if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
        wxImage picture(kImageWidth, kImageHeight, false);
        for (int y = 0; y < kImageHeight; ++y)
            for (int x = 0; x < kImageWidth; ++x)
                picture.SetRGB(x, y, fixtureRed(x, y), fixtureGreen(x, y), fixtureBlue(x, y));
        const std::filesystem::path input = folder_.path() / "subject.png";
        picture.SaveFile(wxString::FromUTF8(input.string()), wxBITMAP_TYPE_PNG);
        host.addInputFile(wxString::FromUTF8(input.string()));
        host.initInputs();
        host.setPreviewFlag(true);

        frame = new wxFrame(nullptr, wxID_ANY, "preview test", wxPoint(30, 30));
        preview = new VantImagePreview(frame, 10032, wxDefaultPosition, clientSize);
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(preview, 1, wxEXPAND);
        frame->SetSizerAndFit(sizer);
        viewer = std::make_unique<Mav::Host::App::Viewer>(host, *host.currentParameters(), preview);
        preview->viewer = viewer.get();
        preview->bridge = &bridge;

        frame->Bind(EVT_PREVIEW_SAMPLE, [this](wxCommandEvent& event) {
            const auto* s = static_cast<const PreviewSample*>(event.GetClientData());
            SampleRecord r;
            r.phase = s->phase;
            r.valid = s->valid;
            for (int c = 0; c < 4; ++c) r.colour.c[c] = s->colour[c];
            r.hasBlock = s->block != nullptr;
            r.blockWidth = s->blockWidth;
            r.blockHeight = s->blockHeight;
            if (s->block)
                for (std::int64_t k = 0; k < s->blockWidth * s->blockHeight; ++k)
                    r.block.push_back({{s->block[4 * k], s->block[4 * k + 1], s->block[4 * k + 2],
                                        s->block[4 * k + 3]}});
            r.strokeAtSend = preview->strokePoints;
            samples.push_back(r);
        });
        auto recordParam = [this](wxCommandEvent& event) {
            params.push_back({event.GetEventType(), Mav::Host::Param::paramEventIndex(event),
                              host.currentParameters()->changeDepth()});
        };
        frame->Bind(Mav::Host::Param::EVT_PARAM_CHANGING, recordParam);
        frame->Bind(Mav::Host::Param::EVT_PARAM_CHANGED_LIVE, recordParam);
        frame->Bind(Mav::Host::Param::EVT_PARAM_CHANGED, recordParam);
        frame->Show();
        settle();
        viewer->setZoom(1.0f);
        settle();
    }
    ~PreviewWindow() {
        if (preview->HasCapture()) preview->ReleaseMouse();
        viewer->stop(false);
        frame->Destroy();
        vantrelo_test::pumpToolkit();
    }
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    static void runEvents(int rounds = 10) {
        for (int i = 0; i < rounds; ++i) {
            wxTheApp->Yield(true);
            vantrelo_test::pumpToolkit();
            wxMilliSleep(10);
        }
    }
    void settle() { runEvents(30); }

    void setTool(std::int32_t tool) { preview->currentControl.value().setInt(tool); }
    void setSelection(std::int32_t selection) {
        preview->selectionControl.value().setInt(selection);
    }
    void setTargets(bool backdrop, bool subject, bool overlay) {
        preview->transformBackdrop.value().setBool(backdrop);
        preview->transformSubject.value().setBool(subject);
        preview->transformOverlay.value().setBool(overlay);
    }

    // Window position where fixture pixel (x, y) is drawn at zoom 1.
    wxPoint windowOf(int x, int y) const {
        const VantImagePreview::Point o = preview->imageOrigin();
        return {x + o.x, y + o.y};
    }

    // ---- Real pointer input.
    void realMove(wxPoint client) {
        sim_.MouseMove(preview->ClientToScreen(client));
        runEvents(3);
    }
    void realPress(wxPoint client) {
        realMove(client);
        sim_.MouseDown();
        runEvents(3);
    }
    void realRelease() {
        sim_.MouseUp();
        runEvents(3);
    }

    // ---- Synthetic input.
    void mouse(wxEventType type, wxPoint client, bool leftDown, int modifiers = 0) {
        wxMouseEvent event(type);
        event.SetEventObject(preview);
        event.SetPosition(client);
        event.SetLeftDown(leftDown);
        event.SetShiftDown((modifiers & wxMOD_SHIFT) != 0);
        event.SetControlDown((modifiers & wxMOD_CONTROL) != 0);
        event.SetAltDown((modifiers & wxMOD_ALT) != 0);
        preview->GetEventHandler()->ProcessEvent(event);
    }
    void press(wxPoint p, int modifiers = 0) { mouse(wxEVT_LEFT_DOWN, p, true, modifiers); }
    void drag(wxPoint p, int modifiers = 0) { mouse(wxEVT_MOTION, p, true, modifiers); }
    void release(wxPoint p, int modifiers = 0) { mouse(wxEVT_LEFT_UP, p, false, modifiers); }
    void key(wxEventType type, int code) {
        wxKeyEvent event(type);
        event.SetEventObject(preview);
        event.m_keyCode = code;
        preview->GetEventHandler()->ProcessEvent(event);
    }
    void spaceDown() { key(wxEVT_KEY_DOWN, WXK_SPACE); }
    void spaceUp() { key(wxEVT_KEY_UP, WXK_SPACE); }

    // The panel's client area as the screen shows it.
    wxImage screenshot() {
        const wxSize size = preview->GetClientSize();
        wxBitmap bitmap(size);
        {
            wxMemoryDC memory(bitmap);
            wxClientDC client(preview);
            memory.Blit(0, 0, size.GetWidth(), size.GetHeight(), &client, 0, 0);
        }
        return bitmap.ConvertToImage();
    }
    void paintNow() {
        preview->Refresh(true);
        preview->Update();
        runEvents();
    }

    void forget() {
        samples.clear();
        params.clear();
    }

    test_store::ScratchFolder folder_;
    PreviewHost host;
    vantrelo::CVantreloBridge bridge;
    wxFrame* frame = nullptr;
    VantImagePreview* preview = nullptr;
    std::unique_ptr<Mav::Host::App::Viewer> viewer;
    std::vector<SampleRecord> samples;
    std::vector<ParamEventRecord> params;

private:
    wxUIActionSimulator sim_;
};

}  // namespace preview_test
