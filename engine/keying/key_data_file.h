#pragma once
// The engine's key data file: a KeyState as line-oriented text, and key interpolation.
//
// Format "# 7.0 vantrelo data" (the only one written): the header; backdrop R G B as fractions of
// 65535; the flag word as a signed decimal; auxValue1 auxValue2; two placeholder lines "NOT SET"
// for the labels; 66 lines of inner, middle and outer radius as fractions of 65535; the replacement
// colour as fractions; both correction sets (four lines of three values each); auxInts (three
// lines of four); thresholds; hexagonRadii (seven lines).  Then, when the flags ask for them and
// the state has them, "EXTSHAPE" and "OBEYSHAPE" lines each followed by one shape layer's text.
// Several records may follow one another, each closed by "ENDLAYER".  The reader also takes the
// "# 5" (no keyer lines) and "# 6" (no shapes) formats and a headerless form with 8-bit values.
// Numbers are written and read in the C locale whatever the process locale.
//
// Results: 1 success; -1 bad arguments or a file that cannot be opened (nothing read or written);
// -2 a record that is cut short or garbled, or a file that cannot be written completely.  A number
// its field cannot hold is garbled too: NaN or infinity anywhere, a colour or radius whose value
// overflows single precision, a replacement colour outside 16 bits.
//
// Reading is all or nothing: a record that returns -2 leaves the state, and the shape lists,
// exactly as they were.  Saving never loses the old file: the new text goes to a temporary file
// beside it, every write, the flush and the close are checked, and only then does the temporary
// file replace the old one; on any failure the old file is untouched and the temporary file is
// removed (base/replacing_file.h: a link is followed and stays, a folder moved during the save gets
// the file where it now is).  The replacement keeps the old file's owner and group where the system
// allows, its mode (it is private until then) and its user extended attributes; a new file gets
// 0666 less the umask.  A file whose owner has no write permission (refused even for root) or
// whose mode or attributes cannot be kept gives -1.  Nothing here throws.
//
// Shape layers read from a file, and who owns them:
//   A KeyShapeLists object, provided and owned by the caller, holds the layers that one read keeps
//   for one state, in two lists that grow as the layers are read.  When a record of format 7 whose
//   flags carry KeyFlagExtShapes or KeyFlagObeyShapes is read with a KeyShapeLists, the lists'
//   previous layers are freed, the record's layers take their place, and the state's extShapes
//   and obeyShapes are pointed at the lists' null-terminated arrays.  The state only refers to
//   them: the KeyShapeLists frees every layer it holds when it is cleared or destroyed, after which
//   no state (nor copy of one) that points into it may be used for shapes.  Use one KeyShapeLists
//   per state and keep it alive as long as the state refers to it.
//   Without a KeyShapeLists the layers of the file are read and freed at once; the state's
//   extShapes and obeyShapes are left as they were.
//   Either way, the flag word is taken from the file exactly, except that KeyFlagExtShapes and
//   KeyFlagObeyShapes are cleared when the file gives the state no layer for them (formats 5, 6
//   and the headerless form never do), so that a state never claims shapes it does not have.
//   A layer that cannot be read is skipped and reading continues with the next line.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/keying/key_state.h"

namespace vantrelo {

class KeyShapeLists {
public:
    KeyShapeLists() noexcept = default;
    ~KeyShapeLists() { clear(); }
    KeyShapeLists(const KeyShapeLists&) = delete;
    KeyShapeLists& operator=(const KeyShapeLists&) = delete;

    // Frees every layer held; the lists become empty.
    void clear() noexcept;
    // Null-terminated arrays of the layers held, or null when a read has not filled the list.
    ShapeLayer** ext() noexcept { return ext_.empty() ? nullptr : ext_.data(); }
    ShapeLayer** obey() noexcept { return obey_.empty() ? nullptr : obey_.data(); }
    std::size_t extCount() const noexcept { return ext_.empty() ? 0 : ext_.size() - 1; }
    std::size_t obeyCount() const noexcept { return obey_.empty() ? 0 : obey_.size() - 1; }

    // Used by the reader: takes the layers of `ext` and `obey` (each null-terminated) in place of
    // the present ones, which are freed.
    void replace(std::vector<ShapeLayer*>& ext, std::vector<ShapeLayer*>& obey) noexcept;

private:
    std::vector<ShapeLayer*> ext_;   // null-terminated when not empty
    std::vector<ShapeLayer*> obey_;
};

// Writes one record (the "# 7.0" format).  1, or -2 when a write fails.
int writeKeyData(std::FILE* file, const KeyState* state);
// Replaces the file at `path` by one record.
int saveKeyFile(const char* path, const KeyState* state);
// Reads one record into the state; `shapes` may be null (see above).  1, or -2 when the file ends
// before the record is complete or a line does not scan.
int readKeyData(std::FILE* file, KeyState* state, KeyShapeLists* shapes = nullptr);
int loadKeyFile(const char* path, KeyState* state, KeyShapeLists* shapes = nullptr);

// Replaces the file by one record per state of the null-terminated list, each followed by
// "ENDLAYER".  An empty list writes an empty file.
int saveKeyLayers(const char* path, const KeyState* const* states);
// Counts the records that read successfully one after another; 1, or -1 (count 0).
int countKeyLayers(const char* path, std::int32_t* count);
// Reads one record into each state of the null-terminated list in order, stopping after the first
// result that is not 1, and returns the last result (1 for an empty list).  `shapes`, when given,
// holds one entry per state (entries may be null).
int loadKeyLayers(const char* path, KeyState* const* states, KeyShapeLists* const* shapes = nullptr);

// out := (1 - t) a + t b for the colours, radii, correction sets, auxInts (truncated), the keyer
// values and grainAmount; flags := 0; auxValue1, auxValue2, labels and grainLevel from a.  The
// shape lists, simGridSize, simInnerRadius and the compiled fields of out stay as they were.  out
// may be a or b.  False when a keyer instance could not be created (its values then unblended).
bool interpolateKeyStates(KeyState* out, const KeyState* a, const KeyState* b, float t);

}  // namespace vantrelo
