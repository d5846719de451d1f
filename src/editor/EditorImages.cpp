#include "editor/EditorImages.h"

#include <mutex>

#include "editor_art/EditorArt.h"
#include "platform/gfx/Images.h"

void RegisterEditorImages()
{
    static std::once_flag once;
    std::call_once(once,
                   []
                   {
                       for (EmbeddedImage const& image : EditorImages())
                           gfx::RegisterEmbeddedImage(image.name, image.data, image.size);
                   });
}

ScopedMissingEditorImage::ScopedMissingEditorImage(std::string imageName) : name(std::move(imageName))
{
    RegisterEditorImages();
    gfx::UnregisterEmbeddedImage(name.c_str());
}

ScopedMissingEditorImage::~ScopedMissingEditorImage()
{
    for (EmbeddedImage const& image : EditorImages())
        if (name == image.name) gfx::RegisterEmbeddedImage(image.name, image.data, image.size);
}
