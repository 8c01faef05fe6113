#pragma once
// The edits behind the backdrop and overlay list commands, on the list of full paths that a list
// box's validator keeps (host/param/list_box_validator.h) and the list box's selection, with no
// window involved.  The main window's handlers turn an event into one of these calls, write the
// resulting paths through the validator (which announces the parameter change only when the text
// differs) and select what `selection` says.
//
// The first entry is the frontmost layer: the render draws a list from its last entry to its first.
//
// A selection is a list of entry indices; the edits take it in ascending order, drop duplicates and
// ignore indices outside the list, since the list box and the path list can briefly disagree while
// an input switch rebuilds them.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct LayerListEdit {
    std::vector<std::string> paths;
    std::vector<std::size_t> selection;  // entries to select afterwards, ascending
};

// The selection's valid indices, ascending, without duplicates.
std::vector<std::size_t> validSelection(const std::vector<int>& selection, std::size_t count);

// `path` becomes the first entry; a selection moves down with its entries.
LayerListEdit addLayerAtFront(const std::vector<std::string>& paths,
                              const std::vector<std::size_t>& selection, const std::string& path);

// Removes the selected entries; nothing stays selected.
LayerListEdit deleteLayers(const std::vector<std::string>& paths,
                           const std::vector<std::size_t>& selection);

// Whether the selection holds every entry of a list that is not empty: deleting them all empties
// the backdrop list, and "Render against BD" goes off with it.
bool selectsEveryEntry(std::size_t count, const std::vector<std::size_t>& selection);

// Moves the selected entries to the front, taking them in ascending order and putting each in
// front of the ones moved before it, so they end first in the reverse of their old order; the moved
// entries are selected.  (First, second, third, fourth with the second and fourth selected gives
// fourth, second, first, third.)
LayerListEdit moveLayersToFront(const std::vector<std::string>& paths,
                                const std::vector<std::size_t>& selection);

// The first selected entry becomes `path` and keeps its place and its selection.
LayerListEdit replaceLayer(const std::vector<std::string>& paths,
                           const std::vector<std::size_t>& selection, const std::string& path);

// Everything before the last "\" or "/" of a path; empty when it has neither.
std::string folderOfPath(std::string_view path);
// Everything after the last "\" or "/" (the file name with its extension).
std::string fileNameOfPath(std::string_view path);
