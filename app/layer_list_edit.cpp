#include "app/layer_list_edit.h"

#include <algorithm>
#include <utility>

namespace {

std::size_t lastSeparator(std::string_view path) { return path.find_last_of("\\/"); }

// The indices below `count`, ascending, each once.
std::vector<std::size_t> cleaned(std::vector<std::size_t> selection, std::size_t count) {
    std::erase_if(selection, [count](std::size_t index) { return index >= count; });
    std::sort(selection.begin(), selection.end());
    selection.erase(std::unique(selection.begin(), selection.end()), selection.end());
    return selection;
}

}  // namespace

std::vector<std::size_t> validSelection(const std::vector<int>& selection, std::size_t count) {
    std::vector<std::size_t> indices;
    for (int index : selection)
        if (index >= 0) indices.push_back(static_cast<std::size_t>(index));
    return cleaned(std::move(indices), count);
}

LayerListEdit addLayerAtFront(const std::vector<std::string>& paths,
                              const std::vector<std::size_t>& selection, const std::string& path) {
    LayerListEdit edit;
    edit.paths.reserve(paths.size() + 1);
    edit.paths.push_back(path);
    edit.paths.insert(edit.paths.end(), paths.begin(), paths.end());
    for (std::size_t index : cleaned(selection, paths.size())) edit.selection.push_back(index + 1);
    return edit;
}

LayerListEdit deleteLayers(const std::vector<std::string>& paths,
                           const std::vector<std::size_t>& selection) {
    LayerListEdit edit{paths, {}};
    const std::vector<std::size_t> doomed = cleaned(selection, paths.size());
    // From the last to the first, so the indices still to come keep their meaning.
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
        edit.paths.erase(edit.paths.begin() + static_cast<std::ptrdiff_t>(*it));
    return edit;
}

bool selectsEveryEntry(std::size_t count, const std::vector<std::size_t>& selection) {
    return count > 0 && cleaned(selection, count).size() == count;
}

LayerListEdit moveLayersToFront(const std::vector<std::string>& paths,
                                const std::vector<std::size_t>& selection) {
    LayerListEdit edit{paths, {}};
    const std::vector<std::size_t> moved = cleaned(selection, paths.size());
    for (std::size_t index : moved) {
        // Entry `index` has not moved yet: the entries moved so far all came from before it, and
        // each was taken out of the front part and put back at the front.
        std::string path = edit.paths[index];
        edit.paths.erase(edit.paths.begin() + static_cast<std::ptrdiff_t>(index));
        edit.paths.insert(edit.paths.begin(), std::move(path));
    }
    for (std::size_t i = 0; i < moved.size(); ++i) edit.selection.push_back(i);
    return edit;
}

LayerListEdit replaceLayer(const std::vector<std::string>& paths,
                           const std::vector<std::size_t>& selection, const std::string& path) {
    LayerListEdit edit{paths, cleaned(selection, paths.size())};
    if (!edit.selection.empty()) edit.paths[edit.selection.front()] = path;
    return edit;
}

std::string folderOfPath(std::string_view path) {
    const std::size_t separator = lastSeparator(path);
    if (separator == std::string_view::npos) return std::string();
    return std::string(path.substr(0, separator));
}

std::string fileNameOfPath(std::string_view path) {
    const std::size_t separator = lastSeparator(path);
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}
