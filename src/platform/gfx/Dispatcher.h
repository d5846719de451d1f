#pragma once

#include "platform/gfx/Types.h"

namespace gfx
{
class Surface;
class View;

// Turns the back end's pointer events into calls on view clients: a press goes to the
// deepest visible node under it (front to back, clipped by its ancestors) with its click
// count; the client then follows the pointer with TrackMouseLocation until the release.
// Takes every event before the dispatcher (menus do: they see clicks anywhere).
class InputInterceptor
{
public:
    virtual void Intercept(InputEvent const& event) = 0;

protected:
    ~InputInterceptor() = default;
};

class Dispatcher
{
public:
    // The innermost interceptor gets every event; a release still ends the tracking of its
    // button first, so a press handler whose nested loop took the release sees it.
    static void PushInterceptor(InputInterceptor* interceptor);
    static void PopInterceptor(InputInterceptor* interceptor);

    static void Dispatch(InputEvent const& event);

    // The deepest visible node of the surface at a point of the surface, or null.
    static View* HitTest(Surface& surface, Point point);

    enum class Track
    {
        Moved,    // the pointer moved; the button is still down
        Released, // the button came up (the point is the release point)
        Gone,     // the view died while waiting: end tracking without another call
    };
    // Inside a client's MouseDown: waits in nested turns for the next pointer event of the
    // press and gives its point in the view's coordinates (screen point minus the surface's
    // origin at the press, minus the view's place in the surface) with the modifiers. The
    // pointer is grabbed from the first call until the release (or a modal run) only.
    // When the release has already been consumed by a nested loop of the press handler, it
    // returns Released at once with the last point.
    static Track TrackMouseLocation(View& view, Point& local, unsigned& modifiers);
    // Modal runs: while one runs, presses and keys reach only its surface and the surfaces it
    // owns (its dialogs, alerts and menus); other input is dropped. Runs nest. A run gives
    // back the pointer taken by the tracking of the press whose handler started it.
    static void PushModal(Surface* surface);
    static void PopModal(Surface* surface);
    static bool Admits(Surface const* surface);
    // The surface of the event being dispatched (null outside dispatch).
    static Surface* CurrentSurface();
    // A surface going away leaves the modal stack.
    static void SurfaceGone(Surface* surface);
    // True while a press is being tracked.
    static bool Tracking();
    // Forgets the click history (tests).
    static void Reset();
};
} // namespace gfx
