#include "au/view/HostWindowBackend.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include <cairo.h>

#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"

namespace gfx
{
namespace
{
HostWindowBackend* current = nullptr;
int users = 0;

HostWindowRecord* RecordOf(Surface const& s)
{
    return s.Kind() == SurfaceKind::Embedded ? static_cast<HostWindowRecord*>(s.HostHandle()) : nullptr;
}

// The embedded surface a frame or popup belongs to.
Surface const* EmbeddedOwner(Surface const* s)
{
    while (s != nullptr && s->Kind() != SurfaceKind::Embedded)
        s = s->Owner();
    return s;
}
} // namespace

HostWindowBackend* HostWindowBackend::Acquire()
{
    if (current == nullptr) current = new HostWindowBackend;
    ++users;
    return current;
}

void HostWindowBackend::Release()
{
    if (users > 0 && --users == 0)
    {
        delete current;
        current = nullptr;
    }
}

HostWindowBackend* HostWindowBackend::Current()
{
    return current;
}

bool HostWindowBackend::AnyQueued() const
{
    for (Surface* s : Surface::All())
    {
        HostWindowRecord const* w = RecordOf(*s);
        if (w != nullptr && w->events != nullptr && w->eventRead < w->eventCount) return true;
    }
    return false;
}

Surface* HostWindowBackend::Target(HostWindowRecord const* window, int x, int y) const
{
    Surface* embedded = nullptr;
    Surface* over = nullptr;
    for (Surface* s : Surface::All())
    {
        Surface const* owner = EmbeddedOwner(s);
        if (owner == nullptr || RecordOf(*owner) != window) continue;
        if (s->Kind() == SurfaceKind::Embedded)
        {
            embedded = s;
            continue;
        }
        auto const it = origins.find(s);
        Point const o = it != origins.end() ? it->second : Point{};
        if (s->IsShown() && Rect{o.x, o.y, s->Width(), s->Height()}.Contains(Point{x, y})) over = s;
    }
    return over != nullptr ? over : embedded;
}

bool HostWindowBackend::NextEvent(InputEvent& event)
{
    for (Surface* s : Surface::All())
    {
        HostWindowRecord* w = RecordOf(*s);
        if (w == nullptr || w->events == nullptr) continue;
        if (w->eventCount > w->eventCapacity) w->eventCount = w->eventCapacity;
        if (w->eventRead >= w->eventCount) continue;
        HostWindowEvent const e = w->events[w->eventRead++];
        if (w->eventRead >= w->eventCount) w->eventRead = w->eventCount = 0;
        InputEvent out;
        switch (e.type)
        {
        case HostWindowEvent::kPress:
            out.type = InputEvent::Press;
            break;
        case HostWindowEvent::kRelease:
            out.type = InputEvent::Release;
            break;
        case HostWindowEvent::kKey:
            out.type = InputEvent::KeyDown;
            break;
        default:
            out.type = InputEvent::Motion;
            break;
        }
        out.rootX = e.x;
        out.rootY = e.y;
        out.button = e.button;
        out.modifiers = e.modifiers;
        out.time = Now();
        out.key = e.key;
        std::memcpy(out.text, e.text, sizeof out.text);
        out.text[sizeof out.text - 1] = '\0';
        out.surface = out.type == InputEvent::KeyDown && focused != nullptr ? focused : Target(w, e.x, e.y);
        if (out.surface == nullptr) continue;
        event = out;
        return true;
    }
    return false;
}

void HostWindowBackend::Wait(std::optional<TimePoint> until)
{
    if (woken.exchange(false) || AnyQueued()) return;
    if (RunLoop::InOpenEndedWait())
    {
        // Nothing can feed this wait until it returns to the host.
        RunLoop::AbandonNested();
        return;
    }
    if (!until) return;
    // Short sleeps, so a wake from another thread is seen soon.
    while (Clock::now() < *until && !woken.load())
        std::this_thread::sleep_for(
            std::min<Clock::duration>(*until - Clock::now(), std::chrono::milliseconds(2)));
    woken.store(false);
}

void HostWindowBackend::SurfaceCreated(Surface& surface)
{
    origins[&surface] = Point{};
}

void HostWindowBackend::SurfaceDestroyed(Surface& surface)
{
    origins.erase(&surface);
    if (focused == &surface) focused = nullptr;
}

Point HostWindowBackend::ScreenOrigin(Surface const& surface)
{
    auto const it = origins.find(&surface);
    return it != origins.end() ? it->second : Point{};
}

void HostWindowBackend::Move(Surface& surface, Point screen)
{
    origins[&surface] = screen;
}

void HostWindowBackend::Present(Surface& surface, Rect dirty)
{
    HostWindowRecord* w = RecordOf(surface);
    if (w == nullptr || w->pixels == nullptr || w->width <= 0 || w->height <= 0) return;
    cairo_surface_t* back = surface.BackBuffer();
    cairo_surface_flush(back);
    unsigned char const* data = cairo_image_surface_get_data(back);
    int const stride = cairo_image_surface_get_stride(back);
    Point const o = ScreenOrigin(surface);
    Rect const area = dirty.Intersect(Rect{0, 0, surface.Width(), surface.Height()});
    for (int y = area.y; y < area.y + area.h; ++y)
    {
        int const wy = o.y + y;
        if (wy < 0 || wy >= w->height) continue;
        auto const* row =
            reinterpret_cast<std::uint32_t const*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = area.x; x < area.x + area.w; ++x)
        {
            int const wx = o.x + x;
            if (wx < 0 || wx >= w->width) continue;
            w->pixels[static_cast<std::ptrdiff_t>(wy) * w->width + wx] = row[x];
        }
    }
    ++w->presents;
}
} // namespace gfx
