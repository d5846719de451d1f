#pragma once

#include <optional>
#include <string>

#include "platform/gfx/Types.h"

namespace gfx
{
class Surface;

// What the run loop, the compositor and the dispatcher need of a window system: a clock,
// pointer events, waiting and waking, surfaces and their placement, presenting, pointer grabs
// and the busy cursor. The X11 back end and the headless one of the tests implement it.
class Backend
{
public:
    virtual ~Backend() = default;

    virtual TimePoint Now() = 0;
    // The next pending event, without waiting; false when there is none.
    virtual bool NextEvent(InputEvent& event) = 0;
    // Blocks until an event is pending, Wake is called or `until` has come (no time: until
    // an event or a wake).
    virtual void Wait(std::optional<TimePoint> until) = 0;
    // Any thread; no lock, no allocation.
    virtual void Wake() = 0;

    // A surface tells its back end of its birth and death; the back end sets its data.
    virtual void SurfaceCreated(Surface& surface) = 0;
    virtual void SurfaceDestroyed(Surface& surface) = 0;
    virtual Point ScreenOrigin(Surface const& surface) = 0;
    virtual void Move(Surface& surface, Point screen) = 0;
    virtual void Show(Surface& surface, bool shown) = 0;
    virtual void Focus(Surface& surface) = 0;
    // The back buffer changed in `dirty` (surface coordinates).
    virtual void Present(Surface& surface, Rect dirty) = 0;
    // Takes or gives back the pointer; false when the window system refuses.
    virtual bool Grab(Surface& surface, bool on) = 0;
    // Whether a grab is held. Loop thread.
    virtual bool HoldsGrabs() { return false; }
    // Any thread: lets go of the grabs held, keeping them in mind (the host stopped calling while
    // a menu or drag held the pointer: the desktop is the user's meanwhile).
    virtual void SuspendGrabs() {}
    // Loop thread: takes the suspended grabs again.
    virtual void RestoreGrabs() {}
    virtual void SetBusyCursor(bool busy) = 0;

    // The clipboard's text (UTF-8).
    virtual void SetClipboardText(std::string const& text) = 0;
    virtual std::string GetClipboardText() = 0;

    // The screen's bounds (popups stay inside them).
    virtual Rect ScreenBounds() { return Rect{0, 0, 1920, 1080}; }

    // Two presses of one button count as a double click within this time and distance.
    virtual int DoubleClickMilliseconds() { return 500; }
    virtual int DoubleClickDistance() { return 4; }
};
} // namespace gfx
