#pragma once
// An ordered set of parameter records addressed by index, with typed access to each record's
// current value, an undo history and a small virtual interface through which an owner keeps the
// records and its own live state in step.
//
// Used on the user-interface thread only (and by the batch while that thread waits behind the
// modal progress window): a set has no lock.
//
// The typed accessors do not check the index or the kind: the caller passes an index below
// count() and the accessor that matches the record's kind.

#include "host/param/param_record.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace Mav::Host::Param {

// The values that one user action displaced: parameter index -> value before the action.
using UndoStep = std::map<std::uint64_t, ParamValue>;

class Parameters {
public:
    Parameters() = default;
    // Same content as assign(): records, both undo lists, checkpoint and change-group depth.
    Parameters(const Parameters& source);
    // Sets are copied through assign(), which an owner may override; plain assignment would
    // bypass that.
    Parameters& operator=(const Parameters&) = delete;
    virtual ~Parameters();

    // Every record's default slot is copied over its value (cells and text), then valueChanged
    // runs for that index; in index order.  Records nothing for undo.
    virtual void resetToDefaults();

    // The preset text file: "Plugin Name: <name>" and "Version Number: <version>" lines, then one
    // "<name>: <value>" line per record without ParamNotInPreset, each line ending in CR LF.
    // Saving replaces the file whole or, on failure (reported on standard error and by false),
    // leaves it untouched.
    virtual bool savePreset(const std::filesystem::path& path, const std::string& pluginName,
                            const std::string& version);
    // Resets every record to its default (through resetToDefaults, so an owner's override runs),
    // then applies the values the file names, without limits and without valueChanged.  A file
    // that cannot be read changes nothing and gives false.
    virtual bool loadPreset(const std::filesystem::path& path);

    // Hook run just before a record's value is read to be saved (undo recording, undo, redo,
    // refreshAll): the owner pulls its live state into the record.  Does nothing here.
    virtual void refreshValue(std::size_t index);
    // Hook run after a record's value was replaced from outside its control (undo, redo, reset,
    // applyAll): the owner pushes the record into its live state.  Does nothing here.
    virtual void valueChanged(std::size_t index);
    virtual void refreshAll();
    virtual void applyAll();
    // Copies the records, the undo and redo lists (unless source is this set), the checkpoint and
    // the change-group depth.
    virtual Parameters& assign(const Parameters& source);

    virtual double getDouble(std::size_t index) const;
    virtual std::int32_t getInt(std::size_t index) const;
    virtual bool getBool(std::size_t index) const;
    virtual void getColour(double rgb[3], std::size_t index) const;
    // Unless the record has ParamUnscaledPoint, the stored point times pixelScale().
    virtual void getPoint(double xy[2], std::size_t index) const;
    virtual std::string getString(std::size_t index) const;
    virtual std::int32_t reservedValue(std::size_t index) const;

    virtual void setDouble(double value, std::size_t index);
    // Clamps to the record's limits (slots 4 and 5).  A NaN stores the record's default.
    virtual void setDoubleClamped(double value, std::size_t index);
    virtual void setInt(std::int32_t value, std::size_t index);
    virtual void setIntClamped(std::int32_t value, std::size_t index);
    virtual void setBool(bool value, std::size_t index);
    virtual void setColour(const double rgb[3], std::size_t index);
    // Unless the record has ParamUnscaledPoint, stores the point divided by pixelScale().
    virtual void setPoint(const double xy[2], std::size_t index);
    virtual void setString(const std::string& text, std::size_t index);
    virtual void reservedStore(std::int32_t value, std::size_t index);
    virtual void reservedNotify(std::size_t index);

    // Whether a change of a ParamAffectsAll record alters other records; false here.
    virtual bool linksParameters() const;
    // Brings the records that depend on `index` up to date; does nothing here.
    virtual void updateLinkedParameters(std::size_t index);
    // Factors between stored points and the points callers see; 1 and 1 here.
    virtual void pixelScale(float& x, float& y) const;
    virtual double identityValue(double value) const;

    // Records are read and changed in place by index; the describer appends them in index order
    // and nothing reorders them afterwards.
    std::vector<ParamRecord>& records() { return records_; }
    const std::vector<ParamRecord>& records() const { return records_; }
    ParamRecord& record(std::size_t index) { return records_[index]; }
    const ParamRecord& record(std::size_t index) const { return records_[index]; }
    std::size_t count() const { return records_.size(); }

    // The per-user store (host/system/registry_store.h): one key per record, named root + the
    // record's name, holding an integer (ParamInt, ParamPopup, ParamIndex, ParamBool) or a text
    // ("%f" numbers in the C locale for ParamFloat, ParamColour and ParamPoint; the text itself
    // for ParamText and ParamString).  Saving writes the whole set in one replacement of the store
    // file and returns whether it was written.  Loading reads every record that has a stored
    // value of the expected type over its current value, clamping integers and floats to the
    // limits; it returns false, changing nothing, when the store is damaged or unreadable.
    bool saveToRegistry(const std::string& root) const;
    bool loadFromRegistry(const std::string& root);

    // Undo history (protocol in host/param/undo.h).  Each returns false, changing nothing, when
    // there is nothing to apply.
    bool undo();
    bool redo();
    // Returns to the state the checkpoint was set in, or returns false.
    bool revertToCheckpoint();
    const std::vector<UndoStep>& undoSteps() const { return undoList_; }
    const std::vector<UndoStep>& redoSteps() const { return redoList_; }
    // 0 means none; otherwise the undo-list length to return to, plus one.  The checkpoint command
    // sets it to undoSteps().size() + 1.
    std::uint64_t undoCheckpoint() const { return undoCheckpoint_; }
    void setUndoCheckpoint(std::uint64_t checkpoint) { undoCheckpoint_ = checkpoint; }
    // Above 0 while a change group is open; the viewer holds back full renders meanwhile.
    std::int32_t changeDepth() const { return changeDepth_; }

protected:
    std::vector<ParamRecord> records_;
    std::vector<UndoStep> undoList_;  // oldest first
    std::vector<UndoStep> redoList_;  // oldest first
    std::uint64_t undoCheckpoint_ = 0;
    std::int32_t changeDepth_ = 0;

    friend void beginChange(Parameters& set);
    friend void endChange(Parameters& set);
    friend void closeChangeGroup(Parameters& set);
    friend void recordChange(Parameters& set, std::size_t index);
    friend void applyUndoStep(Parameters& set, const UndoStep& step, bool toRedo);
};

// An owning or borrowing pointer to a set, as the host keeps one per input.
class ParamSetHolder {
public:
    ParamSetHolder() = default;
    ParamSetHolder(Parameters* set, bool owns) : set_(set), owns_(owns) {}
    ParamSetHolder(const ParamSetHolder&) = delete;
    ParamSetHolder& operator=(const ParamSetHolder&) = delete;
    ParamSetHolder(ParamSetHolder&& other) noexcept;
    ParamSetHolder& operator=(ParamSetHolder&& other) noexcept;
    ~ParamSetHolder() { reset(nullptr, true); }

    // Deletes the held set when it was held as owned, then holds `set` with the new flag.
    void reset(Parameters* set, bool owns);
    Parameters* get() const { return set_; }
    bool owns() const { return owns_; }

private:
    Parameters* set_ = nullptr;
    bool owns_ = false;
};

}  // namespace Mav::Host::Param
