#include "platform/gfx/headless/HeadlessBackend.h"

#include <algorithm>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"

namespace gfx
{
HeadlessBackend::HeadlessBackend()
    : now(TimePoint{} + std::chrono::hours(1)), scriptTime(Now()), lastInput(Now()),
      wakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    SetDrawnStringRecord(&strings);
}

HeadlessBackend::~HeadlessBackend()
{
    SetDrawnStringRecord(nullptr);
    if (wakeFd >= 0) close(wakeFd);
}

void HeadlessBackend::Wake()
{
    woken.store(true);
    std::uint64_t one = 1;
    if (wakeFd >= 0)
    {
        ssize_t written = write(wakeFd, &one, sizeof one);
        (void)written;
    }
}

bool HeadlessBackend::TakeWake()
{
    if (!woken.exchange(false)) return false;
    std::uint64_t count = 0;
    if (wakeFd >= 0)
    {
        ssize_t drained = read(wakeFd, &count, sizeof count);
        (void)drained;
    }
    return true;
}

HeadlessBackend::Poster::Poster(HeadlessBackend& b) : backend(b)
{
    backend.posters.fetch_add(1);
}

HeadlessBackend::Poster::~Poster()
{
    backend.posters.fetch_sub(1);
    backend.Wake();
}

bool HeadlessBackend::NextEvent(InputEvent& event)
{
    while (!script.empty() && script.front().event.time <= Now())
    {
        Step step = std::move(script.front());
        script.pop_front();
        lastInput = Now();
        if (!step.action)
        {
            event = step.event;
            return true;
        }
        // What the action scripts comes next, before the steps already waiting; and the
        // turn ends with the action, so what it caused is painted before the next step.
        struct Inserting
        {
            HeadlessBackend& b;
            explicit Inserting(HeadlessBackend& backend) : b(backend)
            {
                b.inserting = true;
                b.insertAt = 0;
                b.insertTime = b.Now();
            }
            ~Inserting() { b.inserting = false; }
        } inserting(*this);
        // An action stands for the user's input: it runs where that input would be handled, on
        // the strand of the editor that has the focus (inside whatever loop waits there).
        RunLoop::RunOnEditor(RunLoop::EditorOf(focused), step.action);
        return false;
    }
    return false;
}

void HeadlessBackend::Then(std::function<void()> action)
{
    Push(Step{InputEvent{}, std::move(action)});
}

void HeadlessBackend::Wait(std::optional<TimePoint> until)
{
    if (TakeWake())
    {
        quietSince.reset();
        return;
    }
    if (!script.empty())
    {
        TimePoint next = script.front().event.time;
        if (!until || next <= *until)
        {
            quietSince.reset();
            now.store(std::max(Now(), next));
            return;
        }
    }
    if (posters.load() > 0)
    {
        WaitForPoster(until);
        return;
    }
    if (!until) Starved("a wait with nothing scripted and no timer would never end");
    if (script.empty() && RunLoop::InOpenEndedWait() && *until - lastInput > starvationBudget)
        Starved("a nested wait ran out of scripted input");
    now.store(std::max(Now(), *until));
}

void HeadlessBackend::WaitForPoster(std::optional<TimePoint> until)
{
    // Another thread may post: sleep for real until it wakes the loop, or until the next
    // timer, the virtual clock following the real one meanwhile.
    auto const start = std::chrono::steady_clock::now();
    if (!quietSince) quietSince = start;
    auto const deadline = *quietSince + posterBudget;
    auto span = std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline - start);
    bool timed = until && *until - Now() < span;
    if (timed) span = std::chrono::duration_cast<std::chrono::steady_clock::duration>(*until - Now());
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(span).count();
    pollfd fd{wakeFd, POLLIN, 0};
    poll(&fd, 1, static_cast<int>(std::clamp<long long>(ms, 0, 60000)));
    auto const slept = std::chrono::steady_clock::now() - start;
    if (TakeWake())
    {
        quietSince.reset();
        TimePoint const woke = Now() + slept;
        now.store(until ? std::max(Now(), std::min(*until, woke)) : woke);
        return;
    }
    if (timed)
    {
        now.store(std::max(Now(), *until));
        return;
    }
    if (std::chrono::steady_clock::now() >= deadline)
        Starved("a wait for another thread's post was never woken");
    now.store(Now() + slept);
}

void HeadlessBackend::Starved(std::string const& why)
{
    lastInput = Now(); // the next wait gets a budget of its own
    quietSince.reset();
    if (onFailure) onFailure(why);
    throw HeadlessStarved(why);
}

void HeadlessBackend::SurfaceCreated(Surface& surface)
{
    origins[&surface] = Point{};
}

void HeadlessBackend::SurfaceDestroyed(Surface& surface)
{
    origins.erase(&surface);
    if (focused == &surface) focused = nullptr;
    std::erase_if(script, [&surface](Step const& s) { return !s.action && s.event.surface == &surface; });
}

Point HeadlessBackend::ScreenOrigin(Surface const& surface)
{
    auto found = origins.find(&surface);
    return found == origins.end() ? Point{} : found->second;
}

void HeadlessBackend::Move(Surface& surface, Point screen)
{
    origins[&surface] = screen;
}

bool HeadlessBackend::Grab(Surface&, bool on)
{
    if (on && refuseGrabs) return false;
    grabs += on ? 1 : -1;
    return true;
}

void HeadlessBackend::Add(InputEvent event)
{
    Push(Step{event, nullptr});
}

void HeadlessBackend::Push(Step step)
{
    lastInput = Now();
    if (inserting)
    {
        insertTime = std::max(insertTime, Now()) + scriptStep;
        step.event.time = insertTime;
        script.insert(script.begin() + static_cast<std::ptrdiff_t>(insertAt++), std::move(step));
        return;
    }
    scriptTime = std::max(scriptTime, Now()) + scriptStep;
    step.event.time = scriptTime;
    script.push_back(std::move(step));
}

void HeadlessBackend::MoveTo(Surface& surface, int x, int y, unsigned modifiers)
{
    Point o = ScreenOrigin(surface);
    Add(InputEvent{InputEvent::Motion, &surface, o.x + x, o.y + y, 0, modifiers, {}});
}

void HeadlessBackend::Press(Surface& surface, int x, int y, unsigned button, unsigned modifiers)
{
    Point o = ScreenOrigin(surface);
    Add(InputEvent{InputEvent::Press, &surface, o.x + x, o.y + y, button, modifiers, {}});
}

void HeadlessBackend::Release(Surface& surface, int x, int y, unsigned button, unsigned modifiers)
{
    Point o = ScreenOrigin(surface);
    Add(InputEvent{InputEvent::Release, &surface, o.x + x, o.y + y, button, modifiers, {}});
}

void HeadlessBackend::Type(Surface& surface, char const* text, unsigned modifiers)
{
    for (auto const* s = reinterpret_cast<unsigned char const*>(text); s && *s;)
    {
        InputEvent e{InputEvent::KeyDown, &surface, 0, 0, 0, modifiers, {}};
        int n = 1;
        while (n < 4 && (s[n] & 0xC0) == 0x80)
            ++n;
        for (int i = 0; i < n; ++i)
            e.text[i] = static_cast<char>(s[i]);
        s += n;
        Add(e);
    }
}

void HeadlessBackend::Key(Surface& surface, unsigned key, unsigned modifiers)
{
    InputEvent e{InputEvent::KeyDown, &surface, 0, 0, 0, modifiers, {}};
    e.key = key;
    Add(e);
}

void HeadlessBackend::Click(Surface& surface, int x, int y, unsigned button, unsigned modifiers)
{
    Press(surface, x, y, button, modifiers);
    Release(surface, x, y, button, modifiers);
}

void HeadlessBackend::DoubleClick(Surface& surface, int x, int y, unsigned modifiers)
{
    Click(surface, x, y, kButtonLeft, modifiers);
    Click(surface, x, y, kButtonLeft, modifiers);
}

void HeadlessBackend::Drag(Surface& surface, Point from, Point to, int steps, unsigned button,
                           unsigned modifiers)
{
    Press(surface, from.x, from.y, button, modifiers);
    steps = std::max(steps, 1);
    for (int i = 1; i <= steps; ++i)
        MoveTo(surface, from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps,
               modifiers);
    Release(surface, to.x, to.y, button, modifiers);
}

void HeadlessBackend::Run()
{
    for (int turns = 0; turns < 100000; ++turns)
    {
        if (script.empty() && !RunLoop::PaintPending() && !woken.load()) return;
        RunLoop::Turn(true);
    }
}

Pixel HeadlessBackend::Probe(Surface& surface, int x, int y) const
{
    cairo_surface_t* image = surface.BackBuffer();
    cairo_surface_flush(image);
    if (x < 0 || y < 0 || x >= surface.Width() || y >= surface.Height()) return Pixel{};
    unsigned char const* row =
        cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
    std::uint32_t p = reinterpret_cast<std::uint32_t const*>(row)[x];
    int a = (p >> 24) & 0xFF;
    auto straight = [a](std::uint32_t c) { return a == 0 ? 0 : static_cast<int>((c * 255 + a / 2) / a); };
    return Pixel{straight((p >> 16) & 0xFF), straight((p >> 8) & 0xFF), straight(p & 0xFF), a};
}

cairo_surface_t* HeadlessBackend::Snapshot(Surface& surface) const
{
    cairo_surface_t* copy =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, surface.Width(), surface.Height());
    cairo_t* cr = cairo_create(copy);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, surface.BackBuffer(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    return copy;
}

bool HeadlessBackend::WritePng(Surface& surface, char const* path) const
{
    return cairo_surface_write_to_png(surface.BackBuffer(), path) == CAIRO_STATUS_SUCCESS;
}

std::vector<DrawnString> HeadlessBackend::FindStrings(std::string const& text) const
{
    std::vector<DrawnString> found;
    for (DrawnString const& s : strings)
        if (s.text == text) found.push_back(s);
    return found;
}
} // namespace gfx
