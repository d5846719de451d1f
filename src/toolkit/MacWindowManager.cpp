#include "toolkit/MacWindowManager.h"

#include <memory>

#include "framework/PluginBase.h"
#include "framework/Timers.h"
#include "platform/Strand.h"
#include "platform/gfx/Backend.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/View.h"
#include "toolkit/Alerts.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/Frame.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/PopupMenu.h"

namespace
{
// Releases made up for presses whose loop was abandoned, running now (on this strand).
thread_local int abandonedReleases = 0;
StrandLocalOf<int> const abandonedReleasesLocal([]() -> int& { return abandonedReleases; });

KeyModifiers ToKeyModifiers(unsigned m)
{
    KeyModifiers k;
    k.control = (m & gfx::kModControl) != 0;
    k.shift = (m & gfx::kModShift) != 0;
    k.option = (m & gfx::kModAlt) != 0;
    k.command = (m & gfx::kModSuper) != 0;
    return k;
}

// The plug-in whose editor a window's input belongs to: the root above it, else (a dialog's
// window, which has no parent) the editor whose input opened the dialog.
PluginBase* InputOwner(Window const* w)
{
    PluginBase* found = FindEditedPlugin(w);
    return found != nullptr ? found : EditorInput::Current();
}

// The view node of one window, and what its drawing and presses call on the window.
class CustomView : public gfx::View, public gfx::ViewClient
{
public:
    explicit CustomView(Window* w) : gfx::View(nullptr), window(w) { SetClient(this); }

    void Draw(cairo_t* cr) override
    {
        std::weak_ptr<void const> life = Liveness();
        Window* w = window;
        GraphicsContext gc(cr, w->GetAlpha());
        w->Repaint(gc);
        if (life.expired()) return;
        w->paintEvent.Trigger(gc);
    }

    // Nothing of this object is touched after a call on the window unless the node still
    // lives: a handler may destroy its own window (the node's memory stays until the
    // outermost handler has returned, but its window is gone).
    bool KeyDown(unsigned key, char const* text, unsigned modifiers) override
    {
        EditorInput::Scope input(InputOwner(window));
        window->SetKeyModifiers(ToKeyModifiers(modifiers));
        return window->KeyDown(key, text);
    }

    void MouseDown(int x, int y, unsigned buttons, int clickCount, unsigned modifiers) override
    {
        std::weak_ptr<void const> life = Liveness();
        Window* w = window;
        EditorInput::Scope input(InputOwner(w));
        bool left = (buttons & gfx::kButtonLeft) != 0;
        w->SetKeyModifiers(ToKeyModifiers(modifiers));
        if (left && clickCount == 2)
        {
            w->LDoubleClick(x, y);
            return;
        }
        if (left)
            w->LButtonDown(x, y);
        else
            w->RButtonDown(x, y);

        gfx::Point at{x, y};
        unsigned held = modifiers;
        for (;;)
        {
            if (life.expired()) return;
            gfx::Dispatcher::Track result = gfx::Dispatcher::TrackMouseLocation(*this, at, held);
            if (life.expired()) return;
            if (result == gfx::Dispatcher::Track::Gone)
            {
                // The loop was abandoned under the press: it ends as a release where it is.
                if (!gfx::RunLoop::Abandoned()) return;
                ++abandonedReleases;
                struct Count
                {
                    ~Count() { --abandonedReleases; }
                } count;
                w->SetKeyModifiers(ToKeyModifiers(held));
                if (left)
                    w->LButtonUp(at.x, at.y);
                else
                    w->RButtonUp(at.x, at.y);
                return;
            }
            w->SetKeyModifiers(ToKeyModifiers(held));
            w->MouseMoved(at.x, at.y);
            if (result == gfx::Dispatcher::Track::Released) break;
        }
        if (life.expired()) return;
        w->SetKeyModifiers(ToKeyModifiers(held));
        if (left)
            w->LButtonUp(at.x, at.y);
        else
            w->RButtonUp(at.x, at.y);
    }

private:
    Window* window;
};

class TimerServiceSource : public gfx::TimerSource
{
public:
    std::optional<gfx::TimePoint> NextDue() override { return TimerService::NextDue(); }
    void Pump(gfx::TimePoint now) override
    {
        // What timers do (following the play position, animations) is no edit of the user's,
        // even inside a nested loop of a press.
        EditorInput::Scope nobody(nullptr);
        TimerService::Pump(now);
    }
};
} // namespace

bool Window::ReleaseEndsAbandonedPress()
{
    return abandonedReleases > 0;
}

char const* MacWindowManager::GetHICustomViewClass()
{
    return "corvellaaudio.HICustomView";
}

long MacWindowManager::CreateCustomView(Window* window)
{
    if (!window) return 0;
    InstallTimers();
    window->ReleaseView();
    window->view = new CustomView(window);
    return 0;
}

void MacWindowManager::ReleaseCustomView(ControlRef view)
{
    if (!view) return;
    view->Retire();
    gfx::RunLoop::DeferRelease([view] { delete view; });
}

void MacWindowManager::InstallTimers()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    static auto* source = new TimerServiceSource;
    gfx::RunLoop::SetTimerSource(source);
    TimerService::SetClock([] { return gfx::RunLoop::Now(); });
    // A timer started by an editor's code runs on that editor's strand, nested in whatever
    // loop waits there, as no edit of the user's.
    TimerService::Routing routing;
    routing.capture = []() -> void const* { return gfx::RunLoop::StrandEditor(); };
    routing.run = [](void const* context, std::function<void()> call)
    {
        gfx::RunLoop::RunOnEditor(static_cast<gfx::Surface const*>(context),
                                  [call = std::move(call)]
                                  {
                                      EditorInput::Scope nobody(nullptr);
                                      call();
                                  });
    };
    TimerService::SetRouting(routing);
    InstallToolkitAlerts();
    InstallToolkitMenus();
}

WindowRef MacWindowManager::OwnerSurface()
{
    if (gfx::Surface* s = gfx::Dispatcher::CurrentSurface()) return s;
    auto const& all = gfx::Surface::All();
    for (gfx::Surface* s : all)
        if (s->Kind() == gfx::SurfaceKind::Embedded) return s;
    return all.empty() ? nullptr : all.front();
}

long MacWindowManager::CreateFrame(Frame* frame, long w, long h, long x, long y, Window* ownerWindow)
{
    gfx::Surface* owner = ownerWindow && ownerWindow->view ? ownerWindow->view->GetSurface() : nullptr;
    if (!owner) owner = OwnerSurface();
    gfx::Backend* backend = owner ? &owner->GetBackend() : gfx::RunLoop::GetBackend();
    if (!frame || !backend || !frame->view) return -1;
    gfx::Point const at = Frame::KeptOnScreen(*backend, x, y, w, h);
    auto surface = std::make_unique<gfx::Surface>(
        *backend, gfx::SurfaceKind::Frame, gfx::Rect{at.x, at.y, static_cast<int>(w), static_cast<int>(h)},
        nullptr, owner);
    surface->Root().AddSubview(frame->view);
    frame->view->SetFrame(gfx::Rect{0, 0, static_cast<int>(w), static_cast<int>(h)});
    frame->view->SetVisible(true);
    surface->Show(true);
    surface->SetFocus(frame->view);
    surface->Focus();
    frame->frameWindow = std::move(surface);
    return 0;
}
