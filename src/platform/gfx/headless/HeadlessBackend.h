#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/gfx/Backend.h"
#include "platform/gfx/Text.h"

namespace gfx
{
// A pixel as straight (not premultiplied) 0-255 components.
struct Pixel
{
    int r = 0, g = 0, b = 0, a = 0;
};

// Thrown by a wait that could only hang: nothing scripted, no timer and no other thread that may
// still post, or scripted input used up while a nested loop keeps waiting past its budget.
class HeadlessStarved : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The back end of the tests: a virtual clock, image surfaces with settable screen origins,
// scripted pointer input, snapshots, pixel probes and a record of every string drawn.
// A wait advances the clock to the next timer or scripted event instead of sleeping, unless
// another thread may still post to the loop (see Poster): then it sleeps until that thread
// wakes it, or on the real clock until the next timer, and the virtual clock follows.
class HeadlessBackend : public Backend
{
public:
    HeadlessBackend();
    ~HeadlessBackend() override;
    HeadlessBackend(HeadlessBackend const&) = delete;
    HeadlessBackend& operator=(HeadlessBackend const&) = delete;

    TimePoint Now() override { return now.load(); }
    bool NextEvent(InputEvent& event) override;
    void Wait(std::optional<TimePoint> until) override;
    void Wake() override;
    void SurfaceCreated(Surface& surface) override;
    void SurfaceDestroyed(Surface& surface) override;
    Point ScreenOrigin(Surface const& surface) override;
    void Move(Surface& surface, Point screen) override;
    void Show(Surface&, bool) override {}
    void Focus(Surface& surface) override { focused = &surface; }
    void Present(Surface&, Rect) override { ++presents; }
    bool Grab(Surface&, bool on) override;
    void SetBusyCursor(bool b) override { busy = b; }
    void SetClipboardText(std::string const& text) override { clipboard = text; }
    Rect ScreenBounds() override { return screen; }
    Rect screen{0, 0, 1024, 768};
    bool refuseGrabs = false;
    std::string GetClipboardText() override { return clipboard; }

    // The clock moves on (due timers run at the next turn).
    void Advance(Clock::duration span) { now.store(now.load() + span); }
    void SetStarvationBudget(Clock::duration budget) { starvationBudget = budget; }

    // Held for another thread that may post to the loop or wake it (a host thread closing
    // the editor, say): while one is held, a wait with nothing scripted sleeps until a wake
    // instead of failing. Take it before that thread starts; let it go once the thread can no
    // longer post (its end wakes the loop, whose next wait with nothing to come then fails).
    class Poster
    {
    public:
        explicit Poster(HeadlessBackend& backend);
        ~Poster();
        Poster(Poster const&) = delete;
        Poster& operator=(Poster const&) = delete;

    private:
        HeadlessBackend& backend;
    };
    // How long, on the real clock, a wait for another thread's post may go on without a wake
    // or scripted input before it fails.
    void SetPosterBudget(std::chrono::steady_clock::duration budget) { posterBudget = budget; }
    // Called with the reason before a starved wait throws (tests report a failure there).
    std::function<void(std::string const&)> onFailure;

    // Scripted input. Points are in the surface's coordinates, made screen points with the
    // surface's origin at the time of the call. Each event comes one step after the last.
    void MoveTo(Surface& surface, int x, int y, unsigned modifiers = 0);
    void Press(Surface& surface, int x, int y, unsigned button = kButtonLeft, unsigned modifiers = 0);
    void Release(Surface& surface, int x, int y, unsigned button = kButtonLeft, unsigned modifiers = 0);
    void Click(Surface& surface, int x, int y, unsigned button = kButtonLeft, unsigned modifiers = 0);
    void DoubleClick(Surface& surface, int x, int y, unsigned modifiers = 0);
    // Press at from, `steps` moves to `to`, release there.
    void Drag(Surface& surface, Point from, Point to, int steps = 4, unsigned button = kButtonLeft,
              unsigned modifiers = 0);
    // Typing: each UTF-8 character of text is one key event; Key sends a key that is not text.
    void Type(Surface& surface, char const* text, unsigned modifiers = 0);
    void Key(Surface& surface, unsigned key, unsigned modifiers = 0);
    // Runs the action when the script reaches it (inside whatever loop reads events then; for
    // an editor on a strand, inside whatever loop waits on the strand of the editor that has the
    // focus): tests look at the state in the middle of a drag or a modal run this way. What the
    // action scripts comes right after it; the turn paints before the next step.
    void Then(std::function<void()> action);
    // The next scripted event comes this much later than it would.
    void Pause(Clock::duration span) { (inserting ? insertTime : scriptTime) += span; }
    void SetStep(Clock::duration step) { scriptStep = step; }
    std::size_t PendingInput() const { return script.size(); }

    // Turns of the loop until the script is used up and nothing waits to be painted.
    void Run();

    Pixel Probe(Surface& surface, int x, int y) const;
    // A copy of the surface's image; the caller destroys it.
    cairo_surface_t* Snapshot(Surface& surface) const;
    bool WritePng(Surface& surface, char const* path) const;

    std::vector<DrawnString> const& Strings() const { return strings; }
    void ClearStrings() { strings.clear(); }
    // The drawn strings holding `text` (exactly).
    std::vector<DrawnString> FindStrings(std::string const& text) const;

    int presents = 0;
    int grabs = 0; // grabs held
    bool busy = false;
    std::string clipboard;
    // The surface given the focus last (keys typed without a surface go there).
    Surface* Focused() const { return focused; }
    void Type(char const* text, unsigned modifiers = 0) { Type(*focused, text, modifiers); }
    void Key(unsigned key, unsigned modifiers = 0) { Key(*focused, key, modifiers); }

private:
    struct Step
    {
        InputEvent event;
        std::function<void()> action;
    };
    void Add(InputEvent event);
    void Push(Step step);
    [[noreturn]] void Starved(std::string const& why);
    void WaitForPoster(std::optional<TimePoint> until);
    bool TakeWake();

    std::atomic<TimePoint> now;
    TimePoint scriptTime;
    TimePoint lastInput;
    Clock::duration scriptStep = std::chrono::milliseconds(10);
    Clock::duration starvationBudget = std::chrono::seconds(60);
    std::deque<Step> script;
    bool inserting = false;
    std::size_t insertAt = 0;
    TimePoint insertTime;
    std::atomic<bool> woken{false};
    int wakeFd = -1;
    std::atomic<int> posters{0};
    std::chrono::steady_clock::duration posterBudget = std::chrono::seconds(30);
    // Since when waits for another thread's post have gone on without a wake (loop thread only).
    std::optional<std::chrono::steady_clock::time_point> quietSince;
    std::map<Surface const*, Point> origins;
    Surface* focused = nullptr;
    std::vector<DrawnString> strings;
};
} // namespace gfx
