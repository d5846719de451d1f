#include "editor_art/EditorArt.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

// Defined in the source the art generator writes.
extern const EmbeddedImage kEditorImageTable[];
extern const std::size_t kEditorImageCount;

namespace
{

std::mutex gHiddenMutex;
std::vector<std::string> gHidden;

} // namespace

std::span<const EmbeddedImage> EditorImages()
{
    return {kEditorImageTable, kEditorImageCount};
}

const EmbeddedImage* FindEditorImage(std::string_view name)
{
    const std::span<const EmbeddedImage> images = EditorImages();
    const auto it = std::lower_bound(images.begin(), images.end(), name,
                                     [](const EmbeddedImage& e, std::string_view n) { return e.name < n; });
    if (it == images.end() || it->name != name) return nullptr;
    std::lock_guard<std::mutex> lock(gHiddenMutex);
    if (std::find(gHidden.begin(), gHidden.end(), name) != gHidden.end()) return nullptr;
    return &*it;
}

void HideEditorImage(std::string_view name)
{
    std::lock_guard<std::mutex> lock(gHiddenMutex);
    gHidden.emplace_back(name);
}

void ShowAllEditorImages()
{
    std::lock_guard<std::mutex> lock(gHiddenMutex);
    gHidden.clear();
}
