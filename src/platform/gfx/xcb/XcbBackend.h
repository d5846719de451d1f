#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
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
// dialog type without decorations, transient for the window that raised it (a dialog) or for
// the host's client top-level, looked up each time it is mapped; a popup is an
// override-redirect window. Events of all of them come back with root coordinates.
//
// The host may hide the editor without closing it (a withdrawn top-level, an unmapped host
// window): every nested loop of that editor ends then (RunLoop::Abandon) and no frame or popup
// of it is mapped until the host shows it again (RunLoop::ShowAgain).
//
// The keyboard focus: a surface that is focused (a frame, a menu) takes it from whichever window
// had it and gives it back when it goes, if it still has it; a click on an embedded surface
// leaves it where it is. The pointer is grabbed only on request (menus, the tracking of a press).
//
// A lost connection makes the back end "lost": every nested loop is asked to end
// (RunLoop::AbandonNested) and the editors stay inert until they are closed. A host window
// destroyed under an embedded surface does the same to that editor only.
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
    // How many back ends this process has made and deleted so far (the tests count them).
    static int Made();
    static int Deleted();

    // The size of an X window; false when it does not exist (or the connection is lost).
    bool WindowSize(std::uint32_t window, int& width, int& height);
    // True once the connection broke or a host window went away under an editor.
    bool Lost() const { return lost; }
    // Whether the host hides the editor a surface belongs to (the root of its owners): the
    // host's client top-level withdrawn (with no window manager: unmapped) or gone, or the host
    // window itself unmapped or gone. An iconified top-level does not hide it.
    bool Hidden(Surface const& surface) const;
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
    bool HoldsGrabs() override;
    void SuspendGrabs() override;
    void RestoreGrabs() override;
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
    // WM_STATE of a window (0 withdrawn, 1 normal, 3 iconic), -1 without one.
    int WindowState(std::uint32_t window);
    // The client top-level of a window: itself or its nearest ancestor carrying WM_STATE, else
    // the root's child above it, or `known` while it is above it and nothing carries WM_STATE
    // (0 when it is gone).
    std::uint32_t ClientTopLevel(std::uint32_t window, std::uint32_t known = 0);
    bool ManagerRunning();
    // Watches an embedded surface's host window and its client top-level, and learns whether
    // the host shows the editor.
    void WatchHost(Surface& embedded);
    void UpdateHostState(Surface& embedded);
    // A structure or WM_STATE event of a watched window.
    void HostChanged(std::uint32_t window, bool reparented);
    // The one place a hide or a show of an editor by its host reaches the loop.
    void EditorHidden(Surface& embedded, bool hidden);
    // The window a frame is transient for, looked up as it is mapped.
    std::uint32_t TransientOwner(Surface const& frame);
    void RepaintAll(Surface& surface);
    // Grabs the pointer (and the keyboard) for a window; the grab mutex is held.
    bool GrabWindow(std::uint32_t window, bool keyboard);
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
    std::atomic<bool> lost{false};
    // The grab held (suspended while the host does not call; see RunLoop::HostCallEnds).
    std::mutex grabMutex;
    std::uint32_t grabbedWindow = 0;
    bool grabbedKeyboard = false;
    bool grabsSuspended = false;
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
