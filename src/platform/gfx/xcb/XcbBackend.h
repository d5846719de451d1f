#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "platform/gfx/Backend.h"

#include <xcb/xcb.h>

namespace gfx
{
// The X11 back end of the editors, over xcb and cairo-xcb (never Xlib: its process-wide error
// handler can end the host). One connection per process, opened from DISPLAY by the first
// editor that opens and closed with the last (Acquire, Release); X errors come back as events
// or replies and are handled here. It starts no thread and registers nothing to run at exit.
//
// Surfaces: an embedded one is a child window of the host's window (its handle is the host's
// X window id) placed in the host window's coordinates; a frame is a managed top-level of the
// dialog type, transient for the host's top-level, without decorations; a popup is an
// override-redirect window. Events of all of them come back with root coordinates.
//
// The keyboard focus: a surface that is focused (a frame, a menu) takes it from whichever window
// had it and gives it back when it goes, if it still has it; a click on an embedded surface
// leaves it where it is. The pointer is grabbed only on request (menus, the tracking of a press).
//
// A lost connection, or a host window destroyed under an embedded surface, makes the back end
// "lost": every nested loop is asked to end (RunLoop::AbandonNested) and the editors stay inert
// until they are closed.
class XcbBackend : public Backend
{
public:
    // The process's back end, connecting on the first call; null when DISPLAY names no
    // display that answers. Each successful call counts one user.
    static XcbBackend* Acquire();
    // One user fewer; the last one closes the connection.
    static void Release();
    // The back end while it is open, else null (no connection is made).
    static XcbBackend* Current();

    // The size of an X window; false when it does not exist (or the connection is lost).
    bool WindowSize(std::uint32_t window, int& width, int& height);
    // True once the connection broke or a host window went away under an editor.
    bool Lost() const { return lost; }
    // The X window of a surface (0 for none).
    static std::uint32_t WindowOf(Surface const& surface);
    xcb_connection_t* Connection() const { return connection; }

    TimePoint Now() override;
    bool NextEvent(InputEvent& event) override;
    void Wait(std::optional<TimePoint> until) override;
    void Wake() override;
    void SurfaceCreated(Surface& surface) override;
    void SurfaceDestroyed(Surface& surface) override;
    Point ScreenOrigin(Surface const& surface) override;
    void Move(Surface& surface, Point screen) override;
    void Show(Surface& surface, bool shown) override;
    void Focus(Surface& surface) override;
    void Present(Surface& surface, Rect dirty) override;
    bool Grab(Surface& surface, bool on) override;
    void SetBusyCursor(bool busy) override;
    void SetClipboardText(std::string const& text) override;
    std::string GetClipboardText() override;
    Rect ScreenBounds() override;

    ~XcbBackend() override;

private:
    struct Atoms;
    XcbBackend(xcb_connection_t* connection, int screen);
    bool Init();
    void Flush();
    void CheckConnection();
    void MarkLost();
    // Reads what the server sent into the queue; true when something came.
    bool ReadEvents();
    // Handles an event that is not input; true when it was one.
    bool HandleInternal(xcb_generic_event_t* event);
    bool Translate(xcb_generic_event_t* event, InputEvent& out);
    Surface* Find(std::uint32_t window) const;
    void AnswerSelectionRequest(xcb_generic_event_t* event);
    std::uint32_t HostTopLevel(std::uint32_t window);
    void RepaintAll(Surface& surface);
    std::uint32_t InputFocus();
    bool SetInputFocus(std::uint32_t window);
    void GiveBackFocus(Surface& surface, std::uint32_t window, std::uint32_t before);

    xcb_connection_t* connection;
    int screenNumber;
    void* screen = nullptr; // xcb_screen_t*
    std::unique_ptr<Atoms> atoms;
    int wakeFd = -1;
    std::uint32_t helperWindow = 0; // owns the clipboard and receives conversions
    std::uint32_t busyCursor = 0;
    void* device = nullptr; // cairo's device of the connection (cairo_device_t*)
    bool busy = false;
    bool lost = false;
    std::string clipboard;
    bool ownsClipboard = false;
    struct EventDeleter
    {
        void operator()(xcb_generic_event_t* e) const;
    };
    std::deque<std::unique_ptr<xcb_generic_event_t, EventDeleter>> queue;
    struct XkbState;
    std::unique_ptr<XkbState> xkb;
};
} // namespace gfx
