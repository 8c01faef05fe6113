#include "host/param/undo.h"

namespace Mav::Host::Param {

void beginChange(Parameters& set) {
    if (set.changeDepth_++ == 0) set.undoList_.emplace_back();
}

void endChange(Parameters& set) {
    if (--set.changeDepth_ < 1) closeChangeGroup(set);
}

void closeChangeGroup(Parameters& set) {
    set.changeDepth_ = 0;
    if (!set.undoList_.empty() && set.undoList_.back().empty()) set.undoList_.pop_back();
}

void recordChange(Parameters& set, std::size_t index) {
    if (set.records_[index].hasFlag(ParamNoUndo)) return;
    set.redoList_.clear();
    const bool newStep = set.changeDepth_ < 1 || set.undoList_.empty();
    // The position of the step this change lands in.  Below the checkpoint it replaces a step of
    // the history that led there, so that state can no longer be reached.
    const std::uint64_t position = set.undoList_.size() - (newStep ? 0 : 1);
    if (set.undoCheckpoint_ != 0 && position < set.undoCheckpoint_ - 1) set.undoCheckpoint_ = 0;
    if (newStep) set.undoList_.emplace_back();
    UndoStep& step = set.undoList_.back();
    if (step.count(index) != 0) return;
    set.refreshValue(index);
    step.emplace(index, set.records_[index].value());
}

void recordAll(Parameters& set) {
    beginChange(set);
    endChangeGuard guard(set);
    for (std::size_t i = 0; i < set.count(); ++i) recordChange(set, i);
}

void applyUndoStep(Parameters& set, const UndoStep& step, bool toRedo) {
    if (step.empty()) return;
    std::vector<UndoStep>& target = toRedo ? set.redoList_ : set.undoList_;
    target.emplace_back();
    for (const auto& [index, saved] : step) {
        set.refreshValue(index);
        ParamValue& current = set.records_[index].value();
        target.back().insert_or_assign(index, current);
        current = saved;
        set.valueChanged(index);
    }
}

namespace {

// Undo (from the undo list, displaced values to the redo list) or redo (the mirror image).
bool takeNewestStep(Parameters& set, std::vector<UndoStep>& from, bool toRedo) {
    closeChangeGroup(set);
    if (from.empty()) return false;
    applyUndoStep(set, from.back(), toRedo);
    from.pop_back();
    return true;
}

}  // namespace

bool Parameters::undo() {
    return takeNewestStep(*this, undoList_, true);
}

bool Parameters::redo() {
    return takeNewestStep(*this, redoList_, false);
}

bool Parameters::revertToCheckpoint() {
    closeChangeGroup(*this);
    if (undoCheckpoint_ == 0) return false;
    const std::uint64_t target = undoCheckpoint_ - 1;
    if (target < undoList_.size()) {
        while (undoList_.size() > target && undo()) {
        }
    } else if (target > undoList_.size()) {
        // Only go forward when the redo list reaches all the way; stopping short would report a
        // state that was never checkpointed.
        if (redoList_.size() < target - undoList_.size()) return false;
        while (undoList_.size() < target && redo()) {
        }
    }
    return true;
}

}  // namespace Mav::Host::Param
