// PENDING: the handlers of the main window that belong to the backdrop and overlay list commands,
// the floating settings windows and the fine-tune window.  They are referenced by the window's
// event table and called by its parameter and sample handlers; until those windows exist each one
// below does nothing (the fine-tune tool still selects the pick mode and its tool value).  The
// code that builds those windows replaces this file.

#include "app/main_window.h"

#include <wx/event.h>

#include "plugin/vantrelo_wrapper.h"

void VantreloUIBase::onReplaceLayer(wxCommandEvent&) {}
void VantreloUIBase::onResetTransforms(wxCommandEvent&) {}
void VantreloUIBase::onMoveLayersToFront(wxCommandEvent&) {}
void VantreloUIBase::onAddLayer(wxCommandEvent&) {}
void VantreloUIBase::onDeleteLayers(wxCommandEvent&) {}
void VantreloUIBase::onLayerListRightClick(wxMouseEvent&) {}
void VantreloUIBase::onScaleToFit(wxCommandEvent&) {}

void VantreloUIBase::onAutoMaskToggle(wxCommandEvent&) {}
void VantreloUIBase::onLightWrapToggle(wxCommandEvent&) {}
void VantreloUIBase::onRemoveNoiseToggle(wxCommandEvent&) {}
void VantreloUIBase::onSoftenMatteToggle(wxCommandEvent&) {}

void VantreloUIBase::onFineTuneTool(wxCommandEvent& event) {
    if (bridge) bridge->sampleMode = vantrelo::SampleFineTunePick;
    // The tool group's binding stores tool 13 and announces it.
    event.Skip();
}

void VantreloUIBase::refreshFineTuneSwatch() {}
void VantreloUIBase::resetFineTuneOffsets() {}
