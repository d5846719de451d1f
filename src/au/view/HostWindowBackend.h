#pragma once

#include <atomic>
#include <map>
#include <string>

#include "platform/au/CarbonView.h"
#include "platform/gfx/Backend.h"

namespace gfx
{
// The back end of views in headless host windows (HostWindowRecord of kind headless): an
// embedded surface's handle is the host window's record; presenting copies the surface's back
// buffer into the window's pixels at the surface's place, and events come from the window's
// queue. Host windows all sit at the screen's origin, so window coordinates are screen
// coordinates. The clock is the steady clock.
//
// The view's nested waits (a menu, a modal run, the tracking of a press) wait on its editor's
// strand for the view's next idles, which feed them. One off every strand (an editor opened
// without a view) that finds the queues empty cannot be fed while it runs: it ends every nested
// loop instead (RunLoop::AbandonNested), as if the user dismissed them.
// A host queues a press together with its release.
//
// One back end per process, counted by Acquire and Release. Editor thread only, but Wake.
class HostWindowBackend : public Backend
{
public:
    static HostWindowBackend* Acquire();
    static void Release();
    static HostWindowBackend* Current();

    TimePoint Now() override { return Clock::now(); }
    bool NextEvent(InputEvent& event) override;
    void Wait(std::optional<TimePoint> until) override;
    void Wake() override { woken.store(true); }
    void SurfaceCreated(Surface& surface) override;
    void SurfaceDestroyed(Surface& surface) override;
    Point ScreenOrigin(Surface const& surface) override;
    void Move(Surface& surface, Point screen) override;
    void Show(Surface&, bool) override {}
    void Focus(Surface& surface) override { focused = &surface; }
    void Present(Surface& surface, Rect dirty) override;
    bool Grab(Surface&, bool) override { return true; }
    void SetBusyCursor(bool) override {}
    void SetClipboardText(std::string const& text) override { clipboard = text; }
    std::string GetClipboardText() override { return clipboard; }

private:
    HostWindowBackend() = default;
    bool AnyQueued() const;
    // The surface a window's event at (x, y) goes to: a shown frame or popup of that window's
    // editor under the point, else the window's embedded surface.
    Surface* Target(HostWindowRecord const* window, int x, int y) const;

    std::atomic<bool> woken{false};
    std::map<Surface const*, Point> origins;
    Surface* focused = nullptr;
    std::string clipboard;
};
} // namespace gfx
