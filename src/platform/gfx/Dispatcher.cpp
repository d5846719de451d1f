#include "platform/gfx/Dispatcher.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <vector>

#include "platform/Strand.h"
#include "platform/gfx/Backend.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/View.h"

namespace gfx
{
namespace
{
// One tracked press, from the press to the release of its button.
struct PressTracking
{
    Surface* surface = nullptr;
    Point originAtPress; // the surface's screen origin when the button went down
    unsigned button = 0;
    Point lastRoot;
    unsigned modifiers = 0;
    bool haveEvent = false; // a pointer event came since the last TrackMouseLocation
    bool released = false;
    bool waiting = false; // inside TrackMouseLocation's nested turns
    // The pointer is held only while the press is followed (between the first
    // TrackMouseLocation and the release), never through a modal run of its handler.
    bool grabbed = false;
    bool grabTried = false; // refused once: not asked again
    std::weak_ptr<void const> surfaceLife;

    void Grab()
    {
        if (grabbed || grabTried || released || surfaceLife.expired()) return;
        grabTried = true;
        grabbed = surface->GetBackend().Grab(*surface, true);
    }
    void Ungrab()
    {
        if (!grabbed) return;
        grabbed = false;
        grabTried = false;
        if (!surfaceLife.expired()) surface->GetBackend().Grab(*surface, false);
    }
};

// What the running handlers are in: each strand has its own (an editor's menu, dialog or drag
// waiting on its strand is no press, modal run or interceptor of another editor's).
struct Handling
{
    std::vector<PressTracking*> trackings; // innermost last
    std::vector<Surface*> modals;          // innermost last; null once its surface went
    Surface* currentSurface = nullptr;
    std::vector<InputInterceptor*> interceptors;
};
// Held through a pointer: the library's thread-local block stays small.
thread_local std::unique_ptr<Handling> handlingHeld;
StrandLocalOf<std::unique_ptr<Handling>> const handlingLocal([]() -> std::unique_ptr<Handling>&
                                                             { return handlingHeld; });
Handling& TheHandling()
{
    if (!handlingHeld) handlingHeld = std::make_unique<Handling>();
    return *handlingHeld;
}
// The buttons held down, whichever editor they pressed.
unsigned buttonsDown = 0;

struct LastPress
{
    TimePoint time{};
    Point root;
    unsigned button = 0;
    int count = 0;
} lastPress;

View* Deepest(View& node, Point p)
{
    std::vector<View*> const& children = node.Children();
    for (auto it = children.rbegin(); it != children.rend(); ++it)
    {
        View* child = *it;
        if (!child->IsVisible()) continue;
        Rect f = child->Frame();
        if (!Rect{0, 0, f.w, f.h}.Contains(Point{p.x - f.x, p.y - f.y})) continue;
        return Deepest(*child, Point{p.x - f.x, p.y - f.y});
    }
    return &node;
}

// Pushes a tracking for the duration of a press handler; gives back the pointer if the
// handler still holds it.
class TrackingScope
{
public:
    TrackingScope(PressTracking& t) : tracking(t)
    {
        TheHandling().trackings.push_back(&tracking);
        tracking.surfaceLife = tracking.surface->Root().Liveness();
    }
    ~TrackingScope()
    {
        TheHandling().trackings.pop_back();
        tracking.Ungrab();
    }
    TrackingScope(TrackingScope const&) = delete;
    TrackingScope& operator=(TrackingScope const&) = delete;

private:
    PressTracking& tracking;
};

void Press(InputEvent const& e)
{
    if (!e.surface) return;
    if (!TheHandling().trackings.empty() && TheHandling().trackings.back()->waiting)
        return; // one press at a time

    Backend& backend = e.surface->GetBackend();
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(e.time - lastPress.time).count();
    bool repeat = lastPress.count > 0 && e.button == lastPress.button && elapsed >= 0 &&
                  elapsed <= backend.DoubleClickMilliseconds() &&
                  std::abs(e.rootX - lastPress.root.x) <= backend.DoubleClickDistance() &&
                  std::abs(e.rootY - lastPress.root.y) <= backend.DoubleClickDistance();
    int clicks = repeat ? lastPress.count + 1 : 1;
    lastPress = LastPress{e.time, Point{e.rootX, e.rootY}, e.button, clicks};

    Point origin = e.surface->ScreenOrigin();
    Point local{e.rootX - origin.x, e.rootY - origin.y};
    View* hit = Dispatcher::HitTest(*e.surface, local);
    while (hit && !hit->Client())
        hit = hit->Parent();
    if (!hit) return;
    Point at = hit->OriginInTop();

    PressTracking tracking;
    tracking.surface = e.surface;
    tracking.originAtPress = origin;
    tracking.button = e.button;
    tracking.lastRoot = Point{e.rootX, e.rootY};
    tracking.modifiers = e.modifiers;
    TrackingScope scope(tracking);
    hit->Client()->MouseDown(local.x - at.x, local.y - at.y, buttonsDown, clicks, e.modifiers);
}
} // namespace

View* Dispatcher::HitTest(Surface& surface, Point point)
{
    View& root = surface.Root();
    if (!Rect{0, 0, surface.Width(), surface.Height()}.Contains(point)) return nullptr;
    return Deepest(root, point);
}

void Dispatcher::Dispatch(InputEvent const& e)
{
    struct Current
    {
        Surface* outer;
        explicit Current(Surface* s) : outer(TheHandling().currentSurface)
        {
            TheHandling().currentSurface = s;
        }
        ~Current() { TheHandling().currentSurface = outer; }
    } current(e.surface);
    if (e.type == InputEvent::Press) buttonsDown |= e.button;
    if (e.type == InputEvent::Release)
    {
        buttonsDown &= ~e.button;
        for (auto it = TheHandling().trackings.rbegin(); it != TheHandling().trackings.rend(); ++it)
            if ((*it)->button == e.button && !(*it)->released)
            {
                (*it)->lastRoot = Point{e.rootX, e.rootY};
                (*it)->modifiers = e.modifiers;
                (*it)->released = true;
                (*it)->haveEvent = true;
                break;
            }
    }
    if (!TheHandling().interceptors.empty())
    {
        TheHandling().interceptors.back()->Intercept(e);
        return;
    }
    switch (e.type)
    {
    case InputEvent::Press:
        if (Admits(e.surface)) Press(e);
        break;
    case InputEvent::Release:
        break;
    case InputEvent::KeyDown:
        // The focused node first, then its ancestors, until one takes the key.
        if (e.surface && Admits(e.surface))
            for (View* v = e.surface->GetFocus(); v; v = v->Parent())
                if (v->Client() && v->Client()->KeyDown(e.key, e.text, e.modifiers)) break;
        break;
    case InputEvent::Motion:
        if (!TheHandling().trackings.empty() && !TheHandling().trackings.back()->released)
        {
            PressTracking& t = *TheHandling().trackings.back();
            t.lastRoot = Point{e.rootX, e.rootY};
            t.modifiers = e.modifiers;
            t.haveEvent = true;
        }
        break;
    }
}

void Dispatcher::PushInterceptor(InputInterceptor* interceptor)
{
    TheHandling().interceptors.push_back(interceptor);
}

void Dispatcher::PopInterceptor(InputInterceptor* interceptor)
{
    auto it = std::find(TheHandling().interceptors.begin(), TheHandling().interceptors.end(), interceptor);
    if (it != TheHandling().interceptors.end()) TheHandling().interceptors.erase(it);
}

Dispatcher::Track Dispatcher::TrackMouseLocation(View& view, Point& local, unsigned& modifiers)
{
    if (TheHandling().trackings.empty() || RunLoop::Abandoned()) return Track::Gone;
    PressTracking& t = *TheHandling().trackings.back();
    std::weak_ptr<void const> life = view.Liveness();
    if (!t.released)
    {
        t.Grab();
        t.waiting = true;
        struct Reset
        {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{t.waiting};
        RunLoop::RunUntil([&t, &life] { return t.haveEvent || t.released || life.expired(); });
    }
    if (t.released) t.Ungrab();
    if (life.expired() || (RunLoop::Abandoned() && !t.haveEvent)) return Track::Gone;
    t.haveEvent = false;
    Point at = view.OriginInTop();
    local = Point{t.lastRoot.x - t.originAtPress.x - at.x, t.lastRoot.y - t.originAtPress.y - at.y};
    modifiers = t.modifiers;
    return t.released ? Track::Released : Track::Moved;
}

void Dispatcher::PushModal(Surface* surface)
{
    // A modal run leaves the pointer free (the user may turn to other applications meanwhile).
    for (PressTracking* t : TheHandling().trackings)
        t->Ungrab();
    TheHandling().modals.push_back(surface);
}

void Dispatcher::PopModal(Surface* surface)
{
    for (auto it = TheHandling().modals.rbegin(); it != TheHandling().modals.rend(); ++it)
        if (*it == surface || !*it)
        {
            TheHandling().modals.erase(std::next(it).base());
            return;
        }
}

bool Dispatcher::Admits(Surface const* surface)
{
    if (TheHandling().modals.empty()) return true;
    Surface const* top = TheHandling().modals.back();
    for (Surface const* s = surface; s && top; s = s->Owner())
        if (s == top) return true;
    return false;
}

Surface* Dispatcher::CurrentSurface()
{
    return TheHandling().currentSurface;
}

void Dispatcher::SurfaceGone(Surface* surface)
{
    for (Surface*& s : TheHandling().modals)
        if (s == surface) s = nullptr;
    if (TheHandling().currentSurface == surface) TheHandling().currentSurface = nullptr;
}

bool Dispatcher::Tracking()
{
    return !TheHandling().trackings.empty();
}

void Dispatcher::Reset()
{
    lastPress = LastPress{};
    buttonsDown = 0;
}
} // namespace gfx
