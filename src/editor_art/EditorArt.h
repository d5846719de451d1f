#pragma once

// The editor's images, drawn at build time and embedded in the binary: a table of PNG files keyed
// by file name (case-sensitive, names may contain spaces). No dependencies.

#include <cstddef>
#include <span>
#include <string_view>

struct EmbeddedImage
{
    const char* name;
    const unsigned char* data;
    std::size_t size;
};

// Every embedded image, sorted by name, hidden ones included.
std::span<const EmbeddedImage> EditorImages();

// The image of that file name, or nullptr when there is none or it is hidden.
const EmbeddedImage* FindEditorImage(std::string_view name);

// Tests hide entries to see how the editor copes with a missing image. Safe from any thread.
void HideEditorImage(std::string_view name);
void ShowAllEditorImages();

// Hides an image for the lifetime of the object.
class ScopedHiddenEditorImage
{
public:
    explicit ScopedHiddenEditorImage(std::string_view name) { HideEditorImage(name); }
    ~ScopedHiddenEditorImage() { ShowAllEditorImages(); }
    ScopedHiddenEditorImage(const ScopedHiddenEditorImage&) = delete;
    ScopedHiddenEditorImage& operator=(const ScopedHiddenEditorImage&) = delete;
};
