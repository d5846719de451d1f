#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "framework/Notifications.h"
#include "framework/Timers.h"

class Window;

// Window animations (slides and fades) on the editor's thread. A Clock is a repeating timer of
// the event loop that hands the time to its listeners on every frame; every animation is an
// AnimationElement, a clock listener that computes its next frame while it runs and tells its
// finished listeners when it is done. Times are wrapping unsigned 32-bit milliseconds of the
// timers' monotonic clock. Editor thread only.
namespace Animation
{
class Clock;

// What a tick hands every listener.
struct TimeInfo
{
    std::uint32_t sinceOrigin = 0;   // since the clock's origin
    std::uint32_t sinceLastTick = 0; // since the previous tick
};

// A listener of one clock at a time. Its destructor takes it off its clock: every entry of it,
// at once, so a listener destroyed during a tick gets no tick of it.
class ClockListener
{
public:
    ClockListener() = default;
    ClockListener(ClockListener const&) = delete;
    ClockListener& operator=(ClockListener const&) = delete;
    virtual ~ClockListener();

    virtual void ClockTick(TimeInfo const& t) = 0;

    // Leaves the clock it has (RemoveListener), keeps the new one and, with addListener and a
    // clock, joins it (AddListener).
    void SetClock(Clock* clock, bool addListener = true);
    Clock* GetClock() const { return clock; }

private:
    friend class Clock;
    Clock* clock = nullptr;
};

// A repeating timer of the event loop (timer id 0) ticking its listeners, in the order they
// were added (a listener added twice ticks twice). Listeners added during a tick first tick on
// the next; one removed during a tick still gets the current tick if its turn has not come.
class Clock : public TimerListener
{
public:
    // 0 frames per second or fewer count as 1.
    explicit Clock(int framesPerSecond);
    // Detaches every listener that names this clock (their clock pointer null).
    ~Clock() override;

    void TimerEvent(int id) override;
    // Starts (or restarts) the timer every 1000 / fps ms. After a Pause, the time since the
    // origin resumes from where it was at the Pause.
    virtual void Start();
    // Only records the time since the origin, for the next Start; ticks go on.
    virtual void Pause();
    virtual void Stop();
    // One frame: every listener's ClockTick with the time. Not re-entered.
    virtual void DoTick();
    // The timers' monotonic clock (virtual in tests) in milliseconds, wrapping at 32 bits.
    virtual std::uint32_t GetAbsoluteTime();
    virtual void AddListener(ClockListener* l);
    // Removes the first occurrence (deferred during a tick); nothing when absent.
    virtual void RemoveListener(ClockListener* l);

    int GetFramesPerSecond() const { return framesPerSecond; }
    // Entries in the list (a listener added twice counts twice), pending changes aside.
    std::size_t NumListeners() const;

private:
    friend class ClockListener;
    // A dying listener: every entry goes (set aside during a tick, so the walk skips it).
    void ForgetListener(ClockListener* l);
    void ApplyPending();

    int framesPerSecond;
    std::vector<ClockListener*> listeners;
    std::vector<ClockListener*> pendingAdds;
    std::vector<ClockListener*> pendingRemoves;
    std::uint32_t origin = 0;
    std::uint32_t lastTick = 0;
    bool paused = false;
    std::uint32_t elapsedAtPause = 0;
    bool ticking = false;
};

// The start time of an element; all bits set until it starts.
class HasElapsedTime
{
public:
    virtual ~HasElapsedTime() = default;
    virtual void OnStartTimeSet() {}

protected:
    std::uint32_t startTime = 0xFFFFFFFFu;
};

class FinishedListener
{
public:
    virtual ~FinishedListener() = default;
    virtual void AnimationFinished(int) = 0;
};

// An animation: idle, running after Start, finished (listeners told, further ticks ignored);
// it may be started again. AddListener / RemoveListener are its finished listeners.
class AnimationElement : protected HasElapsedTime, public ClockListener, public ListenerHost<FinishedListener>
{
public:
    AnimationElement();
    ~AnimationElement() override;

    void OnStartTimeSet() override {}
    virtual void Start(unsigned long startTime);
    virtual void NextFrame(TimeInfo const& t) = 0;
    virtual void AnimationStarted() {}
    virtual void AnimationEnded() {}
    // NextFrame while running.
    void ClockTick(TimeInfo const& t) override;
    // Not running any more; tells the finished listeners (with 0).
    void Finished();

    bool IsRunning() const { return running; }
    std::uint32_t GetStartTime() const { return startTime; }
    // Elements alive in the process (for leak checks in tests).
    static std::size_t NumLive();

private:
    bool running = false;
};

// One setter of a tween's values.
template <typename V> class CallSetter
{
public:
    explicit CallSetter(std::function<void(V)> f) : setter(std::move(f)) {}
    void operator()(V v) const
    {
        if (setter) setter(v);
    }

private:
    std::function<void(V)> setter;
};

template <typename V> class Tween : public AnimationElement
{
public:
    Tween(V fromValue, V toValue, unsigned long ms) : from(fromValue), to(toValue), duration(ms) {}

    // Receives every frame's value before the setters.
    virtual void NextTweenedValue(V const&) {}
    void AddSetter(std::shared_ptr<CallSetter<V>> setter) { setters.push_back(std::move(setter)); }

protected:
    void SetAll(V const& v)
    {
        NextTweenedValue(v);
        for (auto const& s : setters)
            (*s)(v);
    }

    V from;
    V to;
    unsigned long duration;
    std::vector<std::shared_ptr<CallSetter<V>>> setters;
};

// A float moving linearly from `from` to `to` over the duration from its start time; the tick
// at or after the duration sets the end value and finishes (a duration of 0: the first tick).
class TweenFloat : public Tween<float>
{
public:
    TweenFloat(float from, float to, unsigned long duration);
    template <class T>
    TweenFloat(float from, float to, unsigned long duration, T* object, void (T::*setter)(float))
        : TweenFloat(from, to, duration)
    {
        AddSetter(std::make_shared<CallSetter<float>>([object, setter](float v) { (object->*setter)(v); }));
    }

    void NextFrame(TimeInfo const& t) override;

private:
    float step;
};

// Fades a window's alpha, repainting it every frame. The window is not owned: once it dies the
// tween sets nothing and runs out.
class AlphaTween : public AnimationElement, public FinishedListener
{
public:
    AlphaTween(Window* window, float from, float to, unsigned long duration);
    ~AlphaTween() override;

    // Starts the inner tween on this tween's clock; this tween itself never runs.
    void Start(unsigned long startTime) override;
    void NextFrame(TimeInfo const&) override {}
    // The inner tween finished: so does this one.
    void AnimationFinished(int) override;
    void SetAlpha(float a);

private:
    std::shared_ptr<TweenFloat> tween;
    Window* window;
    std::weak_ptr<void const> windowLife;
};

class ParallelSequence;

// Moves a window and changes its alpha together: x, then y, then the alpha (which repaints the
// window and moves it to the frame's x and y) on every frame. Not owned window: once it dies
// the tween sets nothing and runs out.
class WindowTween : public AnimationElement, public FinishedListener
{
public:
    WindowTween(Window* window, long fromX, long toX, long fromY, long toY, float fromAlpha, float toAlpha,
                unsigned long duration);
    ~WindowTween() override;

    void Start(unsigned long startTime) override;
    void NextFrame(TimeInfo const&) override {}
    void AnimationFinished(int) override;
    // Truncated toward zero; nothing else happens.
    void SetX(float v) { x = static_cast<long>(v); }
    void SetY(float v) { y = static_cast<long>(v); }
    void SetAlpha(float a);

private:
    std::shared_ptr<ParallelSequence> sequence;
    Window* window;
    std::weak_ptr<void const> windowLife;
    long x = 0;
    long y = 0;
};

// Runs its children together on its own clock from one start time; finishes when it has
// counted as many finish notices as it has children (none: at once, inside Start).
class ParallelSequence : public AnimationElement, public FinishedListener
{
public:
    explicit ParallelSequence(Clock* clock = nullptr);
    // Each element taken over, in order; no clock.
    explicit ParallelSequence(std::vector<AnimationElement*> const& elements);
    // Detaches every child from its clock and from this sequence's notices, then releases it.
    ~ParallelSequence() override;

    void Add(AnimationElement* element);
    void Add(std::shared_ptr<AnimationElement> const& element);

    void Start(unsigned long startTime) override;
    void NextFrame(TimeInfo const&) override {}
    void AnimationFinished(int) override;

    std::size_t NumChildren() const { return children.size(); }

private:
    std::vector<std::shared_ptr<AnimationElement>> children;
    unsigned remaining = 0;
};

namespace EasyAnimation
{
constexpr int kFramesPerSecond = 25;

// A 25 frames-per-second clock that starts one element and, on the timer event after it
// finished, lets it go (off its clock and its finished listeners) and stops; a player made to
// delete itself does so then, as its last step. A dying player lets its element go first.
class Player : public Clock, public FinishedListener
{
public:
    Player(std::shared_ptr<AnimationElement> element, bool deleteWhenDone);
    ~Player() override;

    void TimerEvent(int id) override;
    void AnimationFinished(int) override;
    bool IsFinished() const { return finished; }

    // Players alive in the process (for leak checks in tests).
    static std::size_t NumLive();

private:
    void ReleaseElement();

    bool deleteWhenDone;
    bool finished = false;
    std::shared_ptr<AnimationElement> element;
};

// Plays the element and returns after the one-second slice of the event loop in which it
// finished; also when the loop is not (or no longer) bound to this thread. The window is not
// touched (it may die while this pumps).
void PlaySync(Window* window, std::shared_ptr<AnimationElement> element);
// Plays the element in the background; the player keeps it until it finished.
void PlayAsync(std::shared_ptr<AnimationElement> element);
// An AlphaTween of the window, played either way.
void Fade(Window* window, float from, float to, unsigned long duration, bool sync);
} // namespace EasyAnimation
} // namespace Animation
