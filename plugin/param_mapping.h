#pragma once
// The bridge between the keyer's parameter set and the live engine state of the adapter.
//
// The adapter holds what the render and the sampling tools work on; the parameter set is what the
// user edits, what undo records and what the store keeps.  A push (applyParamToBridge) writes one
// record into the adapter by its four-character code; a pull (syncParamFromBridge) writes the
// adapter back into one record.  Codes without an entry are ignored both ways: those parameters
// are read from the set by whoever needs them (prepare step, auto-mask, render).
//
// Push, by code ("all three" = key, edge and body state):
//   pKey        key state := key-data text parsed over it (an empty text changes nothing)
//   pEdg, pBod  edge / body state likewise; an empty text stands for the set's "key data" text
//   pSpl        KeyStateSet::setSpillMode
//   pSpC        solid replacement colour of all three := trunc(c x 65535) per channel, 65535
//   pBlE, pBlr  softenRadius := trunc(soften x 0.5 + 0.5) while "enable soften matte", else 0
//   pBlE, pBlT  shrinkAmount := shrink x 0.01 while "enable soften matte", else 0
//   pBlI        blurInward;  pGrT  KeyStateSet::setGrainType;  pGrO  grain amount of all three
//   pALi        the value is not used: the simulated-foreground flag leaves the key state and the
//               key state's flag word is copied to edge and body
//   pALg        the key state's simulated-foreground grid
//   pAuM, pFit  the trigger rule: just-enabled becomes true only on a change from off to on and
//               false whenever the value is off; then enabled := value
//   pAuR, pLiW, pLwR, pLwG   the auto-mask radius and the light-wrap settings
//   pBgX, pFgX, pOvX         the three transforms, from matrix text
// Numbers are taken clamped to their record's limits (a NaN stands for the default) and colours to
// 0..1, so that a damaged stored setting cannot push a value the engine was never meant to see.
//
// Pull is the reverse for the same codes, except that "enable soften matte", "adjust lighting" and
// "adjust lighting grid" are not pulled.  A number or colour record whose own value (within its
// limits) pushes to what the engine holds keeps that value, so a setting reads back as it was set
// although the engine rounds it ("Soften Matte" 5 is a radius of 3, not 6); "Soften Matte" and
// "Shrink Matte" also keep theirs while softening is off and the engine holds 0.  "edge data" and
// "body data" are pulled as the empty text when their state writes exactly the key state's text.

#include "host/param/param_record.h"
#include "host/param/parameters.h"
#include "plugin/vantrelo_wrapper.h"

namespace vantrelo {

void applyParamToBridge(CVantreloBridge& bridge, const Mav::Host::Param::Parameters& set,
                        const Mav::Host::Param::ParamRecord& record);
// Every record of the set, in index order.
void applyAllParamsToBridge(CVantreloBridge& bridge, const Mav::Host::Param::Parameters& set);

void syncParamFromBridge(const CVantreloBridge& bridge, Mav::Host::Param::ParamRecord& record);
// Every record of the set, in index order.
void syncAllParamsFromBridge(const CVantreloBridge& bridge, Mav::Host::Param::Parameters& set);

// The trigger rule of the auto-mask and scale-to-fit switches (see above).
void applyEnableTrigger(std::uint8_t& enabled, std::uint8_t& justEnabled, bool value);

}  // namespace vantrelo
