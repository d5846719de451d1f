#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include <cairo.h>

#include "platform/gfx/Types.h"

namespace gfx
{
class Surface;

// What a view node's owner does with drawing and presses. The node never owns its client.
class ViewClient
{
public:
    // Draws in the node's own coordinates; the context is clipped to the node, its
    // ancestors and the damaged region, and is the client's alone for this call.
    virtual void Draw(cairo_t* cr) = 0;
    // A press in the node at the local point; `buttons` holds every button now down.
    virtual void MouseDown(int x, int y, unsigned buttons, int clickCount, unsigned modifiers) = 0;
    // A key while the node has its surface's focus; false when it is not taken.
    virtual bool KeyDown(unsigned /*key*/, char const* /*text*/, unsigned /*modifiers*/) { return false; }

protected:
    ~ViewClient() = default;
};

// A node of the view tree: a frame in its parent's coordinates, children back to front, and
// a needs-display flag that any thread may set. The tree is the editor thread's; a node does
// not own its children: destroying it detaches them, and it leaves its parent's list.
class View
{
public:
    explicit View(ViewClient* client = nullptr);
    virtual ~View();
    View(View const&) = delete;
    View& operator=(View const&) = delete;

    ViewClient* Client() const { return client; }
    void SetClient(ViewClient* c) { client = c; }

    // Appends child at the front (taking it from any other parent first).
    void AddSubview(View* child);
    // Takes this node out of its parent's list; what it covered is repainted.
    void RemoveFromSuperview();
    // Ends the node's part in the tree while its memory may still be in use further up the
    // stack: liveness expires, the client is forgotten, children are detached and the node
    // leaves its parent. The destructor does the same.
    void Retire();
    View* Parent() const { return parent; }
    std::vector<View*> const& Children() const { return children; }

    Rect Frame() const { return frame; }
    void SetFrame(Rect r);
    void SetOrigin(int x, int y);
    bool IsVisible() const { return visible; }
    void SetVisible(bool v);

    // Any thread: sets the flag and wakes the loop; no allocation, lock or tree walk.
    void SetNeedsDisplay();
    bool NeedsDisplay() const { return needsDisplay.load(std::memory_order_relaxed); }
    bool TakeNeedsDisplay() { return needsDisplay.exchange(false, std::memory_order_relaxed); }

    // The surface of the tree's top, or null while the node hangs in no surface.
    Surface* GetSurface() const;
    // The node's origin in the coordinates of its tree's top (the surface, when there is one).
    Point OriginInTop() const;

    // Expires when the node dies: callers that may outlive it (dispatch, tracking) hold it.
    std::weak_ptr<void const> Liveness() const { return life; }

private:
    friend class Surface;
    void Damage(); // the parent repaints what this node covers

    ViewClient* client;
    View* parent = nullptr;
    Surface* surface = nullptr; // set on a surface's own root node
    std::vector<View*> children;
    Rect frame;
    bool visible = false; // shown by its owner once placed
    std::atomic<bool> needsDisplay{true};
    std::shared_ptr<void const> life;
};
} // namespace gfx
