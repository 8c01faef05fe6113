#pragma once
// The undo protocol of a parameter set.
//
// A step holds, for each parameter that one user action changed, the value it had before the
// action.  Whoever changes a parameter calls recordChange(set, index) *before* storing the new
// value; outside a change group every recorded change is a step of its own.  An action that changes
// several parameters (a sampling stroke, a transform drag, a list edit) wraps its changes in
// beginChange/endChange (or holds an endChangeGuard), so everything recorded while the outermost
// group is open lands in one step, and a parameter keeps the value from before its first change in
// that step.  A group that recorded nothing leaves no step behind.
//
// Any recorded change clears the redo list.  Undo applies the newest step and moves what it
// displaced to the redo list; redo is the mirror image.  Undo, redo and revert close an open group
// first (a later endChange of that group only closes again).
//
// The checkpoint remembers an undo-list length.  Reverting undoes or redoes until the list has that
// length again.  Once a change is recorded while the list is shorter than the checkpoint, the
// history that led to the checkpointed state is gone, so the checkpoint is dropped and revert
// reports false instead of stopping at some other state.
//
// Records with ParamNoUndo are never recorded and leave the redo list alone.  Owners hear of
// restored values through Parameters::valueChanged and are asked for fresh values through
// Parameters::refreshValue before any value is saved.

#include "host/param/parameters.h"

#include <cstddef>

namespace Mav::Host::Param {

// Opens a change group (the depth is a nesting counter, not a lock).
void beginChange(Parameters& set);
// Closes one level; the outermost level closes the group.
void endChange(Parameters& set);
// Sets the depth to 0 and drops the newest step when it is empty.
void closeChangeGroup(Parameters& set);
// Saves the record's value into the newest step before it changes.
void recordChange(Parameters& set, std::size_t index);
// One step holding every recordable parameter (before a reset, or a change of a linked record).
void recordAll(Parameters& set);
// Applies `step` to the records and appends what it displaced to the redo list (toRedo) or to the
// undo list.
void applyUndoStep(Parameters& set, const UndoStep& step, bool toRedo);

// Ends one change group when it leaves scope, also by an exception.
class endChangeGuard {
public:
    explicit endChangeGuard(Parameters& set) : set_(set) {}
    endChangeGuard(const endChangeGuard&) = delete;
    endChangeGuard& operator=(const endChangeGuard&) = delete;
    ~endChangeGuard() { endChange(set_); }

private:
    Parameters& set_;
};

}  // namespace Mav::Host::Param
