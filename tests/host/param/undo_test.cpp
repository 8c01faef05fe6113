#include "host/param/undo.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace Mav::Host::Param {
namespace {

// Three number records and one that is never recorded.  Every hook call is logged.
class History : public Parameters {
public:
    std::vector<std::string> log;
    bool failRefresh = false;

    History() {
        for (const char* name : {"a", "b", "c"})
            records().push_back(ParamRecord(ParamFloat, name, 0, 0, 0));
        records().push_back(ParamRecord(ParamText, "window", 0, 0, ParamNoUndo));
    }
    void refreshValue(std::size_t index) override {
        if (failRefresh) throw std::runtime_error("refresh");
        log.push_back("refresh " + std::to_string(index));
    }
    void valueChanged(std::size_t index) override {
        log.push_back("changed " + std::to_string(index) + " = " +
                      std::to_string(int(getDouble(index))));
    }
    // One announced edit, as a control makes it.
    void change(std::size_t index, double value) {
        recordChange(*this, index);
        setDouble(value, index);
    }
    std::vector<double> values() const { return {getDouble(0), getDouble(1), getDouble(2)}; }
};

using Values = std::vector<double>;

TEST(Undo, StepsAndGroups) {
    History set;
    set.change(0, 1);
    set.change(0, 2);
    EXPECT_EQ(set.undoSteps().size(), 2u);  // two announced changes outside a group: two steps

    beginChange(set);
    set.change(1, 5);
    beginChange(set);  // nested: still the same step
    set.change(1, 6);
    set.change(2, 7);
    endChange(set);
    EXPECT_EQ(set.changeDepth(), 1);
    endChange(set);
    EXPECT_EQ(set.changeDepth(), 0);
    ASSERT_EQ(set.undoSteps().size(), 3u);
    EXPECT_EQ(set.undoSteps().back().size(), 2u);
    // The value from before the first change of the group.
    EXPECT_EQ(set.undoSteps().back().at(1).getDouble(), 0);

    set.log.clear();
    EXPECT_TRUE(set.undo());
    EXPECT_EQ(set.values(), (Values{2, 0, 0}));
    EXPECT_EQ(set.log, (std::vector<std::string>{"refresh 1", "changed 1 = 0", "refresh 2",
                                                 "changed 2 = 0"}));
    EXPECT_TRUE(set.undo());
    EXPECT_EQ(set.values(), (Values{1, 0, 0}));
    EXPECT_TRUE(set.redo());  // redo restores what undo displaced; the step moves back
    EXPECT_TRUE(set.redo());
    EXPECT_EQ(set.values(), (Values{2, 6, 7}));
    EXPECT_FALSE(set.redo());
    EXPECT_EQ(set.undoSteps().size(), 3u);
    while (set.undo()) {
    }
    EXPECT_EQ(set.values(), (Values{0, 0, 0}));
    EXPECT_EQ(set.redoSteps().size(), 3u);
    EXPECT_FALSE(set.undo());
}

TEST(Undo, EmptyGroupsNoUndoRecordsAndNewChangesAfterUndo) {
    History set;
    set.change(0, 1);
    set.undo();
    ASSERT_EQ(set.redoSteps().size(), 1u);

    beginChange(set);  // a group that records nothing
    endChange(set);
    EXPECT_TRUE(set.undoSteps().empty());
    EXPECT_EQ(set.redoSteps().size(), 1u);

    recordChange(set, 3);  // never recorded: no step, redo kept
    EXPECT_TRUE(set.undoSteps().empty());
    EXPECT_EQ(set.redoSteps().size(), 1u);

    set.change(1, 4);  // a new change ends the redo history
    EXPECT_FALSE(set.redo());
    EXPECT_EQ(set.values(), (Values{0, 4, 0}));
}

TEST(Undo, UndoInsideAnOpenGroupClosesIt) {
    History set;
    set.change(0, 1);
    beginChange(set);
    EXPECT_TRUE(set.undo());  // drops the empty group step, then undoes the change before it
    EXPECT_EQ(set.changeDepth(), 0);
    EXPECT_EQ(set.values(), (Values{0, 0, 0}));
    endChange(set);  // the group's own end only closes again
    EXPECT_EQ(set.changeDepth(), 0);
    EXPECT_TRUE(set.undoSteps().empty());
    EXPECT_EQ(set.redoSteps().size(), 1u);
}

TEST(Undo, RecordAllMakesOneStepAndClosesOnFailure) {
    History set;
    set.setDouble(3, 2);
    recordAll(set);
    ASSERT_EQ(set.undoSteps().size(), 1u);
    EXPECT_EQ(set.undoSteps()[0].size(), 3u);  // the ParamNoUndo record is left out
    EXPECT_EQ(set.undoSteps()[0].at(2).getDouble(), 3);

    set.failRefresh = true;
    EXPECT_THROW(recordAll(set), std::runtime_error);
    EXPECT_EQ(set.changeDepth(), 0);
    EXPECT_EQ(set.undoSteps().size(), 1u);  // the failed group left no empty step
}

// Checkpoint revert.  Each row: the actions after setting the checkpoint with three steps in the
// list, the expected result of revert and the values afterwards.  "u" undoes, "r" redoes, a digit d
// changes record 0 to d, "g" leaves an open, empty group.
TEST(Undo, RevertToCheckpoint) {
    struct Case {
        const char* actions;
        bool reverted;
        Values after;
    };
    const Case cases[] = {
        {"", true, {3, 0, 0}},
        {"45", true, {3, 0, 0}},        // two more changes: two steps undone
        {"45uuuuu", true, {3, 0, 0}},   // everything undone: three steps redone
        {"u", true, {3, 0, 0}},
        {"g", true, {3, 0, 0}},         // an open group is closed first
        {"4g", true, {3, 0, 0}},
        {"uu", true, {3, 0, 0}},
        {"uu7", false, {1, 0, 0}},      // the history to the checkpoint was replaced
        {"uu78", false, {1, 0, 0}},     // ... also once the list is as long as it was
        {"uu789", false, {1, 0, 0}},    // ... or longer
        {"uur7", false, {2, 0, 0}},
        {"u4", false, {4, 0, 0}},       // a new change one step below the checkpoint
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.actions);
        History set;
        for (double v : {1, 2, 3}) set.change(0, v);
        set.setUndoCheckpoint(set.undoSteps().size() + 1);
        for (const char* p = c.actions; *p; ++p) {
            if (*p == 'u') set.undo();
            else if (*p == 'r') set.redo();
            else if (*p == 'g') beginChange(set);
            else set.change(0, *p - '0');
        }
        const Values before = set.values();
        EXPECT_EQ(set.revertToCheckpoint(), c.reverted);
        EXPECT_EQ(set.changeDepth(), 0);
        if (c.reverted) {
            EXPECT_EQ(set.values(), c.after);
            EXPECT_EQ(set.undoSteps().size(), 3u);
        } else {
            EXPECT_EQ(set.values(), before);  // a refused revert changes nothing
        }
    }
    History none;
    none.change(0, 1);
    EXPECT_FALSE(none.revertToCheckpoint());
    EXPECT_EQ(none.values(), (Values{1, 0, 0}));
}

TEST(Undo, CopiesCarryTheirOwnHistory) {
    History set;
    set.change(0, 1);
    set.change(1, 2);
    set.undo();
    set.setUndoCheckpoint(2);
    beginChange(set);

    History copy;
    copy.assign(set);
    EXPECT_EQ(copy.undoSteps().size(), 2u);  // one step and the open group's
    EXPECT_EQ(copy.redoSteps().size(), 1u);
    EXPECT_EQ(copy.undoCheckpoint(), 2u);
    EXPECT_EQ(copy.changeDepth(), 1);
    EXPECT_TRUE(copy.undo());
    EXPECT_EQ(copy.values(), (Values{0, 0, 0}));
    EXPECT_EQ(set.values(), (Values{1, 0, 0}));
    EXPECT_EQ(set.undoSteps().size(), 2u);  // the source still has its open group step

    Parameters constructed(set);
    EXPECT_EQ(constructed.redoSteps().size(), 1u);
    set.assign(set);
    EXPECT_EQ(set.undoSteps().size(), 2u);
    EXPECT_EQ(set.redoSteps().size(), 1u);
}

}  // namespace
}  // namespace Mav::Host::Param
