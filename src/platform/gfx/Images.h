#pragma once

#include <cstddef>

#include <cairo.h>

namespace gfx
{
// The embedded PNG table, keyed by file name. Whoever links the images registers them; the
// bytes are not copied and must live as long as the process. Any thread.
void RegisterEmbeddedImage(char const* name, unsigned char const* data, std::size_t size);
void UnregisterEmbeddedImage(char const* name);
bool FindEmbeddedImage(char const* name, unsigned char const** data, std::size_t* size);

// Decodes PNG bytes, or a PNG file, into a new image surface; null when they do not decode.
cairo_surface_t* DecodePng(unsigned char const* data, std::size_t size);
cairo_surface_t* DecodePngFile(char const* path);

// Releases cairo's and fontconfig's process-wide caches (for leak checkers at the very end of
// a process; nothing may draw afterwards).
void ReleaseProcessCaches();
} // namespace gfx
