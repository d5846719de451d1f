#pragma once

#include <memory>
#include <vector>

#include <cairo.h>

#include "platform/gfx/Types.h"
#include "platform/gfx/View.h"

class Strand;

namespace gfx
{
class Backend;

// A top-level drawing surface of a back end: a host-embedded child window, a frame or a popup.
// It holds the back buffer the compositor paints into and the root node of its view tree.
// A frame or popup names its owner surface, so dialogs of two open editors stay apart.
// Editor thread only.
class Surface
{
public:
    Surface(Backend& backend, SurfaceKind kind, Rect screenRect, void* hostHandle = nullptr,
            Surface* owner = nullptr);
    ~Surface();
    Surface(Surface const&) = delete;
    Surface& operator=(Surface const&) = delete;

    Backend& GetBackend() const { return backend; }
    SurfaceKind Kind() const { return kind; }
    Surface* Owner() const { return owner; }
    void* HostHandle() const { return hostHandle; }
    View& Root() { return root; }
    int Width() const { return width; }
    int Height() const { return height; }
    cairo_surface_t* BackBuffer() const { return backBuffer; }

    // The screen position of the surface's top-left corner, as the back end knows it.
    Point ScreenOrigin() const;
    void Move(int x, int y);
    void Show(bool shown);
    bool IsShown() const { return shown; }
    void Focus();
    // The node that receives the surface's keys (null: none).
    void SetFocus(View* view);
    View* GetFocus() const;
    // The back end's own data for this surface.
    void* backendData = nullptr;

    // The strand whose code made the surface (null: a thread's own stack).
    Strand* Creator() const { return creator; }
    // Takes the surface out of every list and off the window system for good, leaving the object
    // itself (which code parked on a strand still holds) inert; its destruction then does nothing
    // more. A parked strand's surfaces go this way.
    void Retire();
    bool Retired() const { return retired; }

    // Every surface alive, in creation order.
    static std::vector<Surface*> const& All();

private:
    Backend& backend;
    SurfaceKind kind;
    void* hostHandle;
    Surface* owner;
    int width;
    int height;
    bool shown = false;
    View* focus = nullptr;
    std::weak_ptr<void const> focusLife;
    cairo_surface_t* backBuffer;
    Strand* creator;
    bool retired = false;
    View root;
};
} // namespace gfx
