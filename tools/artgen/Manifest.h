#pragma once

// The list of every image the editors load: file name, size, kind, the size bound its placement
// allows, the state it shows and how it is drawn. The generator draws from it; the tests check the
// embedded images against it.

#include <cstddef>
#include <span>
#include <vector>

#include "editor/Layout.h"

#include <cairo.h>

namespace artgen
{

enum class ArtKind
{
    Background, // a page, dialog or panel backdrop that a window takes whole
    Button,     // one picture of a push button (raised or pressed)
    Toggle,     // one picture of a two- or three-state switch
    Sprite,     // a part drawn by a control (knob face, thumb, icon, caption)
};

enum class ArtState
{
    None,
    Raised,
    Pressed,
    On,
    Off,
    Unavailable,
};

struct ArtEntry;
using ArtPainter = void (*)(cairo_t*, const ArtEntry&);

struct ArtEntry
{
    const char* name;
    int w;
    int h;
    ArtKind kind;
    int maxW; // the largest size the placement allows
    int maxH;
    ArtState state = ArtState::None;
    const char* partner = nullptr; // the other picture of the same control (same size)
    ArtPainter paint = nullptr;
    const char* label = nullptr; // caption text, or a glyph name starting with '#'
    layout::Rgb colour{0, 0, 0}; // accent of coloured buttons
};

std::span<const ArtEntry> Manifest();
const ArtEntry* FindEntry(const char* name);

// A rectangle of an image where the code draws text or lines of a given colour, and the contrast
// ratio (relative luminance, 1..21) the art must keep under every pixel of it. Ink drawn
// translucent is measured as it lands: blended over each pixel with its alpha.
struct TextZone
{
    const char* image;
    layout::Rect area;
    layout::Rgb ink;
    double minContrast;
    const char* what;
    double inkAlpha = 1.0;
};

std::span<const TextZone> TextZones();

// Draws one image and encodes it as PNG (no time stamp: the same entry gives the same bytes).
std::vector<unsigned char> RenderPng(const ArtEntry& entry);

} // namespace artgen
