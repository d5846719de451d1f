#pragma once

#include <string>

// The editor's images (drawn at build time, embedded in the binary) in the toolkit's image table,
// so that MakeImagePath names and the button Create calls find them.

// Registers every editor image once per process; later calls do nothing. Any thread.
void RegisterEditorImages();

// Takes one image out of the toolkit's table for the lifetime of the object and puts it back
// afterwards (tests of a missing image).
class ScopedMissingEditorImage
{
public:
    explicit ScopedMissingEditorImage(std::string name);
    ~ScopedMissingEditorImage();
    ScopedMissingEditorImage(const ScopedMissingEditorImage&) = delete;
    ScopedMissingEditorImage& operator=(const ScopedMissingEditorImage&) = delete;

private:
    std::string name;
};
