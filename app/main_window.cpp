#include "app/main_window.h"

#include <wx/accel.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/icon.h>
#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/floating_position.h"
#include "app/main_layout.h"
#include "app/vant_image_preview.h"
#include "host/app/message_box.h"
#include "host/app/startup_services.h"
#include "host/param/color_button.h"
#include "host/param/list_box_validator.h"
#include "host/param/param_binding.h"
#include "host/param/param_events.h"
#include "host/param/radio_validator.h"
#include "host/param/undo.h"
#include "plugin/param_mapping.h"
#include "plugin/parameter_schema.h"
#include "plugin/vantrelo_plugin.h"

#include "resources/vantrelo_icon.xpm"

using Mav::Host::Param::EVT_PARAM_CHANGED;
using Mav::Host::Param::EVT_PARAM_CHANGED_LIVE;
using Mav::Host::Param::EVT_PARAM_CHANGING;
using Mav::Host::Param::ParamFrame;
using Mav::Host::Param::ParamRecord;
using Mav::Host::Param::Parameters;
using Mav::Host::Param::paramEventIndex;
using Mav::Host::Param::sendParamEvent;

namespace {

template <class Control>
Control* child(wxWindow* window, int id) {
    return dynamic_cast<Control*>(window->FindWindow(id));
}

// An exception that escapes a handler would end the program: it is shown instead, and the handler's
// change group has been closed by its guard.
template <class Work>
void reportFailures(wxWindow* owner, Work work) {
    std::string text;
    try {
        work();
        return;
    } catch (const std::bad_alloc&) {
        text = wxGetTranslation("Out of memory").utf8_string();
    } catch (const std::exception& e) {
        text = e.what();
    }
    Mav::Host::App::showMessageBox(owner, text, wxGetTranslation("Error").utf8_string(),
                                   Mav::Host::App::kMessageOk | Mav::Host::App::kMessageError);
}

}  // namespace

// ---- VantreloUIBase.

wxBEGIN_EVENT_TABLE(VantreloUIBase, ParamFrame)
    EVT_COMMAND(wxID_ANY, EVT_PARAM_CHANGING, VantreloUIBase::onParamChanging)
    EVT_COMMAND(wxID_ANY, EVT_PARAM_CHANGED_LIVE, VantreloUIBase::onParamChangedLive)
    EVT_COMMAND(wxID_ANY, EVT_PARAM_CHANGED, VantreloUIBase::onParamChanged)
    EVT_LISTBOX_DCLICK(kBackdropListId, VantreloUIBase::onReplaceLayer)
    EVT_LISTBOX_DCLICK(kOverlayListId, VantreloUIBase::onReplaceLayer)
    EVT_BUTTON(kResetTransformsId, VantreloUIBase::onResetTransforms)
    EVT_BUTTON(kBackdropToFrontId, VantreloUIBase::onMoveLayersToFront)
    EVT_BUTTON(kOverlayToFrontId, VantreloUIBase::onMoveLayersToFront)
    EVT_BUTTON(kBackdropAddId, VantreloUIBase::onAddLayer)
    EVT_BUTTON(kOverlayAddId, VantreloUIBase::onAddLayer)
    EVT_BUTTON(kBackdropDeleteId, VantreloUIBase::onDeleteLayers)
    EVT_BUTTON(kOverlayDeleteId, VantreloUIBase::onDeleteLayers)
    EVT_BUTTON(kAutoMaskButtonId, VantreloUIBase::onAutoKeyButton)
    EVT_TOGGLEBUTTON(kAutoMaskToggleId, VantreloUIBase::onAutoMaskToggle)
    EVT_TOGGLEBUTTON(kLightWrapToggleId, VantreloUIBase::onLightWrapToggle)
    EVT_TOGGLEBUTTON(kRemoveNoiseToggleId, VantreloUIBase::onRemoveNoiseToggle)
    EVT_TOGGLEBUTTON(kMatteSettingsToggleId, VantreloUIBase::onSoftenMatteToggle)
    EVT_TOGGLEBUTTON(kFineTuneToolId, VantreloUIBase::onFineTuneTool)
    EVT_COMMAND(wxID_ANY, EVT_PREVIEW_SAMPLE, VantreloUIBase::onPreviewSample)
    EVT_MENU(kMenuBackdropToFrontId, VantreloUIBase::onMoveLayersToFront)
    EVT_MENU(kMenuOverlayToFrontId, VantreloUIBase::onMoveLayersToFront)
    EVT_MENU(kMenuScaleToFitId, VantreloUIBase::onScaleToFit)
wxEND_EVENT_TABLE()

VantreloUIBase::VantreloUIBase(Parameters* set, wxWindow* parent, wxWindowID id,
                               const wxString& title, const wxPoint& pos, const wxSize& size,
                               long style)
    : ParamFrame(set, parent, id, title, pos, size, style) {
    buildMainLayout(this, true, true);
    SetDefaultItem(nullptr);

    // The viewer's Ctrl shortcuts work wherever the focus is in the window.
    if (VantImagePreview* preview = previewPanel()) {
        wxAcceleratorEntry entries[64];
        const int count = preview->acceleratorEntries(entries);
        SetAcceleratorTable(wxAcceleratorTable(count, entries));
    }

    bindControls();

    if (set && set->count() > vantrelo::kParamLastImagePath &&
        set->getString(vantrelo::kParamLastImagePath).empty()) {
        const wxString pictures = wxStandardPaths::Get().GetUserDir(wxStandardPaths::Dir_Pictures);
        if (!pictures.empty()) setLastImagePath(pictures + wxFILE_SEP_PATH);
    }
}

VantreloUIBase::~VantreloUIBase() = default;

void VantreloUIBase::bindControls() {
    using namespace Mav::Host::Param;
    using namespace vantrelo;
    Parameters* set = parameters();
    VantImagePreview* preview = previewPanel();
    if (!set || !preview || set->count() < kKeyerParamCount) return;
    auto record = [set](std::size_t index) { return &set->record(index); };
    auto window = [this](int id) { return FindWindow(id); };

    bindParameter(record(kParamScaleToFit), kParamScaleToFit, window(kScaleToFitId));
    bindParameter(record(kParamAdjustLighting), kParamAdjustLighting, window(kFixLightingId));
    lightingGridText = child<wxTextCtrl>(this, kLightingGridTextId);
    lightingGridSlider = child<wxSlider>(this, kLightingGridSliderId);
    bindParameter(record(kParamAdjustLightingGrid), kParamAdjustLightingGrid, lightingGridText,
                  lightingGridSlider);
    bindParameter(record(kParamEnableLightWrap), kParamEnableLightWrap, window(kLightWrapId));
    bindParameter(record(kParamBackdropBlur), kParamBackdropBlur, window(kBackdropBlurTextId),
                  child<wxSlider>(this, kBackdropBlurSliderId));
    bindParameter(record(kParamSpillMode), kParamSpillMode, window(kSpillModeId));
    backdropColourButton = child<ColorButton>(this, kBackdropColourId);
    bindParameter(record(kParamBGColor), kParamBGColor, backdropColourButton);
    bindParameter(record(kParamRenderAgainstBD), kParamRenderAgainstBD,
                  window(kRenderAgainstBackdropId));
    bindParameter(record(kParamEnableSoftenMatte), kParamEnableSoftenMatte,
                  window(kSoftenMatteId));
    layerChoice = child<wxChoice>(this, kLayerChoiceId);

    bindRadioGroup(record(kParamMaskMode), kParamMaskMode,
                   {window(kViewForegroundId), window(kViewMaskId), window(kViewFrontId),
                    window(kViewBackId)});
    bindRadioGroup(record(kParamBackgroundMode), kParamBackgroundMode,
                   {window(kBackdropColourModeId), nullptr, window(kBackdropLayerModeId)});
    bindRadioGroup(record(kParamTransparencyMode), kParamTransparencyMode,
                   {nullptr, window(kTransparentId), window(kSplitId)});
    // Releasing the pressed transparency button makes the picture opaque again.
    if (auto* transparent = dynamic_cast<RadioValidator*>(window(kTransparentId)->GetValidator()))
        transparent->setPosition(kTransparencyOpaque, true);

    const std::size_t n = set->count();
    selectToolButton = child<wxBitmapToggleButton>(this, kSelectToolId);
    fineTuneToolButton = child<wxBitmapToggleButton>(this, kFineTuneToolId);
    bindRadioGroup(&preview->currentControl, n,
                   {selectToolButton, window(kCleanBackgroundToolId),
                    window(kCleanForegroundToolId), window(kSpillMinusToolId),
                    window(kSpillSpongeToolId), window(kRestoreDetailToolId),
                    window(kMakeTransparentToolId), window(kMatteSpongeToolId),
                    window(kMoveToolId), window(kRotateToolId), window(kScaleToolId),
                    window(kPanToolId), window(kZoomToolId), fineTuneToolButton});
    bindRadioGroup(&preview->selectionControl, n + 1,
                   {window(kPointSelectionId), window(kBoxSelectionId)});
    bindParameter(&preview->transformBackdrop, n + 2, window(kTransformBackdropId));
    bindParameter(&preview->transformSubject, n + 3, window(kTransformSubjectId));
    bindParameter(&preview->transformOverlay, n + 4, window(kTransformOverlayId));

    backdropList = child<wxListBox>(this, kBackdropListId);
    overlayList = child<wxListBox>(this, kOverlayListId);
    const struct {
        wxListBox* list;
        std::size_t index;
    } lists[] = {{backdropList, kParamBackdropFiles}, {overlayList, kParamOverlayFiles}};
    for (const auto& entry : lists) {
        if (!entry.list) continue;
        entry.list->SetValidator(ListBoxParamValidator(record(entry.index), entry.index));
        // The list keeps the width it was laid out with, however long the file names it shows.
        entry.list->SetMinSize(wxSize(entry.list->GetSize().x, -1));
        entry.list->Bind(wxEVT_RIGHT_DOWN, &VantreloUIBase::onLayerListRightClick, this);
    }
}

VantImagePreview* VantreloUIBase::previewPanel() const {
    return dynamic_cast<VantImagePreview*>(FindWindow(kPreviewId));
}

bool VantreloUIBase::Destroy() {
    saveSubFramePositions(true);
    destroyFloatingWindows();
    return ParamFrame::Destroy();
}

void VantreloUIBase::updateEnables() {
    using namespace vantrelo;
    Parameters* set = parameters();
    if (set && set->count() >= kKeyerParamCount) {
        const bool lighting = set->getBool(kParamAdjustLighting);
        if (lightingGridText) lightingGridText->Enable(lighting);
        if (lightingGridSlider) lightingGridSlider->Enable(lighting);
        const std::int32_t mode = set->getInt(kParamBackgroundMode);
        if (backdropColourButton) backdropColourButton->Enable(mode == kBackgroundColor);
        if (layerChoice)
            layerChoice->Enable(mode == kBackgroundLayer && layerChoice->GetCount() > 0);
    }
    for (Mav::Host::Param::ParamSubFrame* frame :
         {autoMaskFrame, fineTuneFrame, lightWrapFrame, removeNoiseFrame, softenMatteFrame}) {
        if (frame) frame->updateEnables();
    }
}

void VantreloUIBase::onParamChanging(wxCommandEvent& event) {
    // Moving the backdrop switches "Scale To Fit" off; one undo brings both back.
    if (paramEventIndex(event) == vantrelo::kParamBackdropTransform)
        sendParamEvent(this, EVT_PARAM_CHANGING, vantrelo::kParamScaleToFit, nullptr, 0);
    if (Parameters* set = parameters(); set && autoMaskSettingRedetects(paramEventIndex(event))) {
        // The detection the change brings replaces the key: one undo brings back both.
        Mav::Host::Param::beginChange(*set);
        Mav::Host::Param::endChangeGuard group(*set);
        ParamFrame::onParamChanging(event);
        announceKeyData(EVT_PARAM_CHANGING);
        return;
    }
    ParamFrame::onParamChanging(event);
}

void VantreloUIBase::onParamChangedLive(wxCommandEvent& event) {
    using namespace vantrelo;
    Parameters* set = parameters();
    switch (paramEventIndex(event)) {
    case kParamBackdropTransform:
        if (set && set->getBool(kParamScaleToFit)) {
            set->setBool(false, kParamScaleToFit);
            set->valueChanged(kParamScaleToFit);
        }
        sendParamEvent(this, EVT_PARAM_CHANGED_LIVE, kParamScaleToFit, nullptr, 0);
        [[fallthrough]];
    case kParamForegroundTransform:
    case kParamOverlayTransform:
        // The preview wrote the dragged matrix into the adapter already: a layer drag renders on
        // every motion.
        ParamFrame::onParamChanged(event);
        break;
    default:
        // A slider being dragged renders once, when it is let go.
        break;
    }
}

void VantreloUIBase::onParamChanged(wxCommandEvent& event) {
    using namespace vantrelo;
    Parameters* set = parameters();
    VantImagePreview* preview = previewPanel();
    const std::uint64_t index = paramEventIndex(event);
    const std::uint64_t n = set ? set->count() : 0;
    if (autoMaskSettingRedetects(index)) bridge->autoMaskJustEnabled = 1;
    if (index < n) {
        switch (index) {
        case kParamKeyData:
            if (fineTuneFrame) refreshFineTuneSwatch();
            break;
        case kParamEdgeData:
        case kParamBodyData:
        case kParamForegroundTransform:
        case kParamOverlayTransform:
            // Live in the adapter already; the texts are pulled from it when needed.
            break;
        case kParamBackdropTransform:
            sendParamEvent(this, EVT_PARAM_CHANGED, kParamScaleToFit, nullptr, 0);
            TransferDataToWindow();
            break;
        default:
            if (bridge) applyParamToBridge(*bridge, *set, set->record(index));
            break;
        }
    } else if (index == n) {
        if (preview && preview->tool() != kToolFineTunePick &&
            fineTuneFrame) {
            saveSubFramePositions(false);
            wxWindow* window = fineTuneFrame;
            fineTuneFrame = nullptr;
            window->Destroy();
        }
        if (preview) preview->updateCursor();
    } else if (index > n + 1 && preview) {
        preview->updateCursor();
    }
    ParamFrame::onParamChanged(event);
}

void VantreloUIBase::announceKeyData(wxEventType type) {
    for (std::size_t index : {vantrelo::kParamKeyData, vantrelo::kParamEdgeData,
                              vantrelo::kParamBodyData})
        sendParamEvent(this, type, index, nullptr, 0);
}

void VantreloUIBase::switchAutoMaskOff() {
    using vantrelo::kParamEnableAutoMask;
    Parameters* set = parameters();
    if (!set || !set->getBool(kParamEnableAutoMask)) return;
    sendParamEvent(this, EVT_PARAM_CHANGING, kParamEnableAutoMask, nullptr, 0);
    set->setBool(false, kParamEnableAutoMask);
    set->valueChanged(kParamEnableAutoMask);
    sendParamEvent(this, EVT_PARAM_CHANGED, kParamEnableAutoMask, nullptr, 0);
    if (autoMaskFrame) autoMaskFrame->TransferDataToWindow();
}

void VantreloUIBase::onPreviewSample(wxCommandEvent& event) {
    const auto* sample = static_cast<const PreviewSample*>(event.GetClientData());
    Parameters* set = parameters();
    if (!sample || !bridge || !set) return;
    reportFailures(this, [&] {
        Mav::Host::Param::beginChange(*set);
        Mav::Host::Param::endChangeGuard group(*set);
        const int mode = bridge->sampleMode;
        const bool announced = mode != vantrelo::SampleFineTunePick;
        const bool ends = !sample->block && sample->phase != 0 && sample->phase != 1;
        if (sample->phase == 0 && !sample->block) strokeApplied_ = false;

        // Nothing changes until samples are applied: only then does the auto-mask go off and the
        // key's texts go into the undo step, so that a stroke that samples nothing (off the
        // picture) leaves no empty undo step and keeps automatic masking.
        auto beforeApplying = [&] {
            if (strokeApplied_) return;
            strokeApplied_ = true;
            switchAutoMaskOff();
            followAutoMaskSettings(false);
            if (announced) announceKeyData(EVT_PARAM_CHANGING);
        };

        vantrelo::Sample16 colour{};
        for (int c = 0; c < 4; ++c) colour.rgba[c] = sample->colour[c];
        if (sample->block) {
            if (sample->valid && sample->blockWidth > 0 && sample->blockHeight > 0) {
                beforeApplying();
                bridge->applySampleBlock(sample->block, static_cast<int>(sample->blockWidth),
                                         static_cast<int>(sample->blockHeight));
            }
        } else if (sample->phase == 0) {
            if (sample->valid)
                bridge->collectSample(0, colour);
            else
                bridge->clearSamples();
        } else if (sample->phase == 1) {
            if (sample->valid) bridge->collectSample(1, colour);
        } else {
            if (bridge->samplePending) beforeApplying();
            bridge->collectSample(2, colour);
        }

        const bool applied = strokeApplied_;
        if (ends) strokeApplied_ = false;
        if (!applied) return;
        if (ends && bridge->sampleMode == vantrelo::SampleFineTunePick && fineTuneFrame)
            resetFineTuneOffsets();
        if (announced) announceKeyData(ends ? EVT_PARAM_CHANGED : EVT_PARAM_CHANGED_LIVE);
    });
}

void VantreloUIBase::onAutoKeyButton(wxCommandEvent&) {
    Parameters* set = parameters();
    if (!set || !bridge) return;
    reportFailures(this, [&] {
        Mav::Host::Param::beginChange(*set);
        Mav::Host::Param::endChangeGuard group(*set);
        announceKeyData(EVT_PARAM_CHANGING);
        // One detection at the next render, written into the key.  "enable automask" and the
        // adapter's switch stay as they are, so the batch keys with the key the preview showed
        // instead of detecting again over the user's later refinements.
        bridge->autoMaskJustEnabled = 1;
        followAutoMaskSettings(true);
        announceKeyData(EVT_PARAM_CHANGED);
    });
}

wxString VantreloUIBase::lastImagePath() const {
    const Parameters* set = parameters();
    if (!set || set->count() <= vantrelo::kParamLastImagePath) return {};
    return wxString::FromUTF8(set->getString(vantrelo::kParamLastImagePath));
}

void VantreloUIBase::setLastImagePath(const wxString& folder) {
    Parameters* set = parameters();
    if (!set || set->count() <= vantrelo::kParamLastImagePath) return;
    set->record(vantrelo::kParamLastImagePath).value().text = folder.utf8_string();
}

void VantreloUIBase::placeSubFrame(wxWindow* window, const wxString& text) {
    if (!window) return;
    if (const std::optional<WindowPosition> position = parseWindowPosition(text.utf8_string()))
        window->Move(position->x, position->y);
    else
        window->CentreOnParent(wxBOTH);
}

void VantreloUIBase::saveSubFramePosition(wxWindow* window, std::size_t index, bool clearClosed) {
    Parameters* set = parameters();
    if (!set || index >= set->count()) return;
    std::string& text = set->record(index).value().text;
    if (window && window->IsShown()) {
        const wxPoint position = window->GetScreenPosition();
        text = formatWindowPosition({position.x, position.y});
    } else if (clearClosed) {
        text.clear();
    }
}

void VantreloUIBase::saveSubFramePositions(bool clearClosed) {
    using namespace vantrelo;
    saveSubFramePosition(autoMaskFrame, kParamAutoMaskWindow, clearClosed);
    saveSubFramePosition(fineTuneFrame, kParamFineTuneWindow, clearClosed);
    saveSubFramePosition(lightWrapFrame, kParamLightWrapWindow, clearClosed);
    saveSubFramePosition(removeNoiseFrame, kParamRemoveGrainWindow, clearClosed);
    saveSubFramePosition(softenMatteFrame, kParamSoftenMatteWindow, clearClosed);
}

// ---- VantreloUI.

VantreloUI::VantreloUI(Mav::Host::App::Parameters* set, vantrelo::VantreloPluginApp* host,
                       wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                       const wxSize& size, long style)
    : VantreloUIBase(set, parent, id, title, pos, size, style), host(host), viewer_(*host, *set) {
    bridge = &host->bridge;
    if (VantImagePreview* preview = previewPanel()) {
        preview->bridge = bridge;
        preview->viewer = &viewer_;
        viewer_.panel = preview;
    }
    Mav::Host::Param::bindSlider(viewer_, child<wxTextCtrl>(this, kZoomFieldId), nullptr);
    viewer_.busyCursor = true;
}

VantreloUI::~VantreloUI() {
    // The controls and floating windows go while the viewer and this window's fields they point
    // at still exist: the preview and the zoom field refer to the viewer, and a floating window's
    // destructor clears its pointer here.
    viewer_.stop(false);
    DestroyChildren();
}

// ---- VantreloUIApp.

wxBEGIN_EVENT_TABLE(VantreloUIApp, VantreloUIBase)
    EVT_BUTTON(Mav::Host::App::kPreviousInputButtonId, VantreloUIApp::onPreviousImage)
    EVT_BUTTON(Mav::Host::App::kNextInputButtonId, VantreloUIApp::onNextImage)
    EVT_BUTTON(wxID_OK, VantreloUIApp::onOk)
    EVT_BUTTON(wxID_CANCEL, VantreloUIApp::onCancel)
    EVT_CLOSE(VantreloUIApp::onClose)
    EVT_MENU(kMenuOpenId, VantreloUIApp::onOpen)
    EVT_MENU(kMenuExitId, VantreloUIApp::onExit)
    EVT_MENU(kMenuAboutId, VantreloUIApp::onAbout)
    EVT_CHAR_HOOK(VantreloUIApp::onCharHook)
wxEND_EVENT_TABLE()

VantreloUIApp::VantreloUIApp(Mav::Host::App::Parameters* set, vantrelo::VantreloPluginApp* host,
                             wxWindow* parent, wxWindowID id, const wxString& title,
                             const wxPoint& pos, const wxSize& size, long style)
    : VantreloUI(set, host, parent, id, title, pos, size, style) {
    navigationBox_ = navigationSizer(GetSizer());
    Mav::Host::App::addNavigationButtons(*host, this, navigationBox_);

    SetIcon(wxIcon(Vantrelo_xpm));

    auto* file = new wxMenu;
    file->Append(kMenuOpenId, _("&Open\tCtrl-O"), _("Open images"));
    file->Append(kMenuExitId, _("E&xit\tCtrl-X"), _("Quit this program"));
    auto* help = new wxMenu;
    help->Append(kMenuAboutId, _("&About"), _("Show about dialog"));
    auto* bar = new wxMenuBar;
    bar->Append(file, _("&File"));
    bar->Append(new wxMenu, _("&Edit"));
    bar->Append(help, _("&Help"));
    SetMenuBar(bar);
}

void VantreloUIApp::stepTo(std::uint64_t index) {
    Parameters* set = parameters();
    if (!set || !bridge) return;
    vantrelo::syncAllParamsFromBridge(*bridge, *set);
    host->stepInput(&embeddedViewer(), index, FindWindow(Mav::Host::App::kPreviousInputButtonId),
                    FindWindow(Mav::Host::App::kNextInputButtonId));
    // The window is bound to the same set object, which now holds the other input's values: every
    // control, and every open floating window, shows them (and the lists' paths are that input's).
    TransferDataToWindow();
    updateEnables();
}

void VantreloUIApp::onPreviousImage(wxCommandEvent&) {
    if (host->currentInput() == 0) return;
    stepTo(host->currentInput() - 1);
}

void VantreloUIApp::onNextImage(wxCommandEvent&) {
    if (host->currentInput() + 1 >= host->inputCount()) return;
    stepTo(host->currentInput() + 1);
}

void VantreloUIApp::onOk(wxCommandEvent&) {
    if (Parameters* set = parameters(); set && bridge)
        vantrelo::syncAllParamsFromBridge(*bridge, *set);
    embeddedViewer().stop(false);
    host->commit();
}

void VantreloUIApp::cancel() {
    embeddedViewer().stop(false);
    host->closeUi();
}

void VantreloUIApp::onCancel(wxCommandEvent&) { cancel(); }

void VantreloUIApp::onClose(wxCloseEvent&) {
    // Never vetoed; nothing is saved.
    cancel();
}

void VantreloUIApp::onOpen(wxCommandEvent&) {
    wxArrayString paths;
    Mav::Host::App::chooseImageFiles(paths, this, _("Open images"), wxEmptyString, wxEmptyString);
    if (paths.empty()) return;
    const std::uint64_t previous = host->inputCount();
    host->addInputFiles(paths);
    updateImageNavigation(previous);
    Mav::Host::App::reportUnwritableInputs(*host, previous);
}

void VantreloUIApp::updateImageNavigation(std::uint64_t previousCount) {
    const std::uint64_t count = host->inputCount();
    bool created = false;
    if (count >= 2 && previousCount <= 1) {
        Mav::Host::App::addNavigationButtons(*host, this, navigationBox_);
        created = true;
    }
    if (previousCount == 0) {
        host->invalidateBounds();
        embeddedViewer().resetViewForInput();
    }
    const std::uint64_t current = host->currentInput();
    if (wxWindow* previous = FindWindow(Mav::Host::App::kPreviousInputButtonId))
        previous->Enable(current != 0);
    if (wxWindow* next = FindWindow(Mav::Host::App::kNextInputButtonId))
        next->Enable(current + 1 < count);
    // The new buttons take their place at once, also when the window had no image before.
    if (created) Layout();
}

void VantreloUIApp::onExit(wxCommandEvent&) { Close(true); }

void VantreloUIApp::onCharHook(wxKeyEvent& event) {
    // The File menu's shortcuts hold wherever the focus is, the floating windows (which have no
    // menu, and whose keys come here too) included, before the focused control or an accelerator
    // table can make something else of them.  A text field keeps its own Ctrl-X (cut), as it
    // keeps Ctrl-C, Ctrl-V and Ctrl-A: cutting the text of a field must not end the session.
    if (event.GetModifiers() == wxMOD_CONTROL) {
        if (event.GetKeyCode() == 'O') {
            wxCommandEvent open(wxEVT_MENU, kMenuOpenId);
            onOpen(open);
            return;
        }
        if (event.GetKeyCode() == 'X' && !dynamic_cast<wxTextEntry*>(wxWindow::FindFocus())) {
            Close(true);
            return;
        }
    }
    event.Skip();
}

void VantreloUIApp::onAbout(wxCommandEvent&) { host->showAbout(); }
