#pragma once

namespace gfx
{
class Surface;

// Paints a surface: the union of its flagged nodes' visible areas is cleared, then every
// visible node that meets it is drawn back to front, each into a fresh context translated
// to it and clipped to it, its ancestors and the damage; then the back end presents it.
class Compositor
{
public:
    // False when nothing was flagged.
    static bool Paint(Surface& surface);
    // Paints every surface.
    static void PaintAll();
};
} // namespace gfx
