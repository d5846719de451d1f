#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "framework/Events.h"
#include "framework/String.h"
#include "toolkit/Geometry.h"

class GraphicsContext;
class MacWindowManager;

namespace gfx
{
class Surface;
class View;
} // namespace gfx

// A top-level surface of the view layer (a host's window, a frame, a popup) and a view node.
using WindowRef = gfx::Surface*;
using ControlRef = gfx::View*;

// The modifier keys held at the last mouse call: option is Alt, command is Super.
struct KeyModifiers
{
    bool control = false;
    bool shift = false;
    bool option = false;
    bool command = false;
};

// The base of every visible element of the editors. Each window owns one view node in a tree
// of windows; the toolkit turns drawing and presses on the node into the virtual calls below.
// Children are not owned: destroying a window detaches them (their parent becomes null) and
// takes it out of every child list it is in. Editor thread only, except ForceRepaint.
class Window
{
public:
    Window();
    virtual ~Window();
    Window(Window const&) = delete;
    Window& operator=(Window const&) = delete;

    // Inside the given surface's root node (a direct call of the next one).
    virtual long CreateChildWindow(WindowRef window, long w, long h, long x, long y);
    // Inside the given node, at (x, y) with size (w, h), shown. With no node the window's
    // node is made but neither placed nor shown (a root).
    virtual long CreateChildWindow(ControlRef parentView, long w, long h, long x, long y);
    virtual void Repaint(GraphicsContext&) {}
    // Any thread (parameter listeners call it from the audio thread): flags the node and
    // wakes the loop; it draws at the loop's next turn.
    virtual void ForceRepaint();
    virtual void LButtonDown(long, long) {}
    // Also when a press ends because the host hid or closed the editor (or the window system
    // went) while it was held: then at the last place the pointer was, and
    // ReleaseEndsAbandonedPress is true during the call (such a release clicks nothing).
    virtual void LButtonUp(long, long) {}
    virtual void RButtonDown(long, long) {}
    virtual void RButtonUp(long, long) {}
    virtual void MouseMoved(long, long) {}
    static bool ReleaseEndsAbandonedPress();
    virtual void LDoubleClick(long, long) {}
    virtual void RDoubleClick(long, long) {}         // never delivered
    virtual void MouseWheelMoved(int, long, long) {} // never delivered
    virtual std::pair<long, long> GetMouseInfo(long x, long y);
    // Runs the event loop for one second.
    virtual void PumpMessageQueue();
    virtual void GiveFocus() {}
    virtual void SizeChanged(long, long) {}
    // A key while the window's node has its surface's focus (the modifiers are stored
    // first); false when not taken.
    virtual bool KeyDown(unsigned /*key*/, char const* /*text*/) { return false; }

    long CreateChildWindow(Window* parent, long w, long h, long x, long y);
    long CreateChildWindow(std::nullptr_t, long w, long h, long x, long y)
    {
        return CreateChildWindow(static_cast<Window*>(nullptr), w, h, x, y);
    }
    long CreateChildWindow(Window* parent, GRectangle const& r);

    // Appends to the children only (neither the child's parent nor any node changes).
    void AddChildWindow(Window* child);
    // Removes the first occurrence; nothing when absent.
    void RemoveChildFromList(Window* child);
    // first = the children's start; when child is a child but not the first, found = its
    // place and true: [first, found) are the siblings beneath it.
    bool GetUnderneathSiblings(Window* child, std::vector<Window*>::iterator& first,
                               std::vector<Window*>::iterator& found);
    std::vector<Window*>& GetChildren() { return children; }

    Window* GetParentWindow() const { return parent; }
    long GetWindowWidth() const { return width; }
    long GetWindowHeight() const { return height; }
    long GetWindowX() const { return x; }
    long GetWindowY() const { return y; }
    void GetWindowRect(GRectangle& r) const { r.Set(x, y, width, height); }
    // The node's current origin in its parent.
    GPoint GetPosition() const;
    void MoveWindowTo(long x, long y);
    // Resizes, then SizeChanged and the resize event, with the new size.
    void SetSize(long w, long h, bool redraw);
    // True when the two windows' screen rectangles share a pixel.
    bool OverlapsWith(Window* other);

    GPoint GetScreenPosition() const;
    void ConvertLocalToScreen(long& px, long& py) const;
    void ConvertLocalToScreen(GPoint& p) const;
    void ConvertLocalToScreen(GRectangle& r) const; // x and y only
    void ConvertScreenToLocal(long& px, long& py) const;
    void ConvertScreenToLocal(GPoint& p) const;
    void ConvertScreenToLocal(GRectangle& r) const;

    // The window's own alpha (what its drawing uses); nothing is repainted.
    void SetAlpha(float a) { alpha = a; }
    float GetAlpha() const { return alpha; }
    float GetCumulativeAlpha() const;

    // Bookkeeping for controls; nothing else reads it.
    void CaptureMouse() { mouseCaptured = true; }
    void ReleaseMouse() { mouseCaptured = false; }
    bool IsMouseCaptured() const { return mouseCaptured; }
    KeyModifiers GetKeyModifiers() const { return keyModifiers; }
    void SetKeyModifiers(KeyModifiers const& k) { keyModifiers = k; }

    // Fills (0, 0, width, height) in c (one pixel more each way, as every fill).
    void FillBackground(GraphicsContext& gc, Colour c);
    void Sleep(unsigned) {}
    void ShowWindow(bool) {}

    ControlRef GetView() const { return view; }
    // Expires when the window's node goes (the window is being destroyed); handlers that may
    // destroy their own window check it before touching the window again.
    std::weak_ptr<void const> Liveness() const;
    String const& GetName() const { return name; }

    // Called after every Repaint with the same context, in connection order.
    Event<void(GraphicsContext&)> paintEvent;
    // Fired by SetSize with the window.
    Event<void(Window*)> resizeEvent;

protected:
    String name;
    std::pair<long, long> mouseInfo{0, 0};
    Window* parent = nullptr;
    long width = 0;
    long height = 0;
    long x = 0;
    long y = 0;
    ControlRef view = nullptr;
    bool mouseCaptured = false;
    std::vector<Window*> children;
    float alpha = 1.0f;
    KeyModifiers keyModifiers;

private:
    friend class MacWindowManager;
    void ReleaseView();

    std::vector<Window*> listedIn; // the windows whose child lists hold this one (repeats kept)
};
