#include "toolkit/Animation.h"

#include <algorithm>
#include <chrono>

#include "platform/gfx/RunLoop.h"
#include "toolkit/Window.h"

namespace Animation
{
namespace
{
std::size_t liveElements = 0;
std::size_t livePlayers = 0;
} // namespace

// ---------------------------------------------------------------------------------------------
// Clock and listeners

ClockListener::~ClockListener()
{
    if (clock != nullptr) clock->ForgetListener(this);
}

void ClockListener::SetClock(Clock* newClock, bool addListener)
{
    if (clock != nullptr) clock->RemoveListener(this);
    clock = newClock;
    if (addListener && clock != nullptr) clock->AddListener(this);
}

Clock::Clock(int fps) : framesPerSecond(std::max(fps, 1)) {}

Clock::~Clock()
{
    ticking = true;
    for (ClockListener* l : listeners)
        if (l != nullptr && l->clock == this) l->clock = nullptr;
    for (ClockListener* l : pendingAdds)
        if (l->clock == this) l->clock = nullptr;
    ticking = false;
}

void Clock::TimerEvent(int)
{
    DoTick();
}

void Clock::Start()
{
    if (paused)
    {
        origin = GetAbsoluteTime() - elapsedAtPause;
        paused = false;
    }
    lastTick = origin;
    StartTimer(0, static_cast<unsigned>(1000 / framesPerSecond));
}

void Clock::Pause()
{
    paused = true;
    elapsedAtPause = GetAbsoluteTime() - origin;
}

void Clock::Stop()
{
    StopTimer(0);
    paused = false;
}

std::uint32_t Clock::GetAbsoluteTime()
{
    auto const ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(TimerService::Now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

void Clock::DoTick()
{
    if (ticking) return;
    std::uint32_t const now = GetAbsoluteTime();
    TimeInfo const t{now - origin, now - lastTick};
    lastTick = now;
    ticking = true;
    // By index: the list keeps its length during the walk (changes wait), and an entry of a
    // listener destroyed meanwhile is null.
    for (std::size_t i = 0; i < listeners.size(); ++i)
        if (ClockListener* l = listeners[i]) l->ClockTick(t);
    ticking = false;
    ApplyPending();
}

void Clock::ApplyPending()
{
    std::erase(listeners, nullptr);
    std::vector<ClockListener*> adds;
    std::vector<ClockListener*> removes;
    adds.swap(pendingAdds);
    removes.swap(pendingRemoves);
    for (ClockListener* l : adds)
        AddListener(l);
    for (ClockListener* l : removes)
        RemoveListener(l);
}

void Clock::AddListener(ClockListener* l)
{
    if (ticking)
        pendingAdds.push_back(l);
    else
        listeners.push_back(l);
}

void Clock::RemoveListener(ClockListener* l)
{
    if (ticking)
    {
        pendingRemoves.push_back(l);
        return;
    }
    auto it = std::find(listeners.begin(), listeners.end(), l);
    if (it != listeners.end()) listeners.erase(it);
}

void Clock::ForgetListener(ClockListener* l)
{
    std::erase(pendingAdds, l);
    std::erase(pendingRemoves, l);
    if (ticking)
        std::replace(listeners.begin(), listeners.end(), l, static_cast<ClockListener*>(nullptr));
    else
        std::erase(listeners, l);
}

std::size_t Clock::NumListeners() const
{
    return listeners.size() -
           static_cast<std::size_t>(std::count(listeners.begin(), listeners.end(), nullptr));
}

// ---------------------------------------------------------------------------------------------
// Elements

AnimationElement::AnimationElement()
{
    ++liveElements;
}

AnimationElement::~AnimationElement()
{
    --liveElements;
}

std::size_t AnimationElement::NumLive()
{
    return liveElements;
}

void AnimationElement::Start(unsigned long start)
{
    startTime = static_cast<std::uint32_t>(start);
    OnStartTimeSet();
    running = true;
    AnimationStarted();
}

void AnimationElement::ClockTick(TimeInfo const& t)
{
    if (running) NextFrame(t);
}

void AnimationElement::Finished()
{
    running = false;
    NotifyListeners(&FinishedListener::AnimationFinished, 0);
}

// ---------------------------------------------------------------------------------------------
// Tweens

TweenFloat::TweenFloat(float fromValue, float toValue, unsigned long ms)
    : Tween<float>(fromValue, toValue, ms),
      step(ms == 0 ? 0.0f : (toValue - fromValue) / static_cast<float>(ms))
{
}

void TweenFloat::NextFrame(TimeInfo const& t)
{
    if (!IsRunning()) return;
    std::uint32_t const elapsed = t.sinceOrigin - startTime;
    unsigned long const e = std::min(static_cast<unsigned long>(elapsed), duration);
    // A tween without duration jumps to its end value.
    float const value = duration == 0 ? to : static_cast<float>(e) * step + from;
    SetAll(value);
    if (e >= duration) Finished();
}

AlphaTween::AlphaTween(Window* w, float from, float to, unsigned long duration)
    : tween(std::make_shared<TweenFloat>(from, to, duration, this, &AlphaTween::SetAlpha)), window(w),
      windowLife(w != nullptr ? w->Liveness() : std::weak_ptr<void const>())
{
    tween->AddListener(this);
}

AlphaTween::~AlphaTween()
{
    tween->RemoveListener(this);
}

void AlphaTween::Start(unsigned long startTime)
{
    tween->SetClock(GetClock(), true);
    tween->Start(startTime);
}

void AlphaTween::AnimationFinished(int)
{
    Finished();
}

void AlphaTween::SetAlpha(float a)
{
    if (windowLife.expired()) return;
    window->SetAlpha(a);
    window->ForceRepaint();
}

WindowTween::WindowTween(Window* w, long fromX, long toX, long fromY, long toY, float fromAlpha,
                         float toAlpha, unsigned long duration)
    : window(w), windowLife(w != nullptr ? w->Liveness() : std::weak_ptr<void const>())
{
    sequence = std::make_shared<ParallelSequence>(std::vector<AnimationElement*>{
        new TweenFloat(static_cast<float>(fromX), static_cast<float>(toX), duration, this,
                       &WindowTween::SetX),
        new TweenFloat(static_cast<float>(fromY), static_cast<float>(toY), duration, this,
                       &WindowTween::SetY),
        new TweenFloat(fromAlpha, toAlpha, duration, this, &WindowTween::SetAlpha)});
    sequence->AddListener(this);
}

WindowTween::~WindowTween()
{
    sequence->RemoveListener(this);
}

void WindowTween::Start(unsigned long startTime)
{
    sequence->SetClock(GetClock(), true);
    sequence->Start(startTime);
}

void WindowTween::AnimationFinished(int)
{
    Finished();
}

void WindowTween::SetAlpha(float a)
{
    if (windowLife.expired()) return;
    window->SetAlpha(a);
    window->ForceRepaint();
    window->MoveWindowTo(x, y);
}

// ---------------------------------------------------------------------------------------------
// Sequences

ParallelSequence::ParallelSequence(Clock* clock)
{
    SetClock(clock, true);
}

ParallelSequence::ParallelSequence(std::vector<AnimationElement*> const& elements)
{
    for (AnimationElement* e : elements)
        Add(e);
}

ParallelSequence::~ParallelSequence()
{
    for (auto const& child : children)
    {
        child->SetClock(nullptr, false);
        child->RemoveListener(this);
    }
}

void ParallelSequence::Add(AnimationElement* element)
{
    children.push_back(std::shared_ptr<AnimationElement>(element));
}

void ParallelSequence::Add(std::shared_ptr<AnimationElement> const& element)
{
    children.push_back(element);
}

void ParallelSequence::Start(unsigned long start)
{
    remaining = static_cast<unsigned>(children.size());
    if (children.empty())
    {
        Finished();
        return;
    }
    for (auto const& child : children)
    {
        // Once per child, however often the sequence starts.
        child->RemoveListener(this);
        child->AddListener(this);
        child->SetClock(GetClock(), true);
        child->Start(start);
    }
}

void ParallelSequence::AnimationFinished(int)
{
    if (remaining == 0) return;
    if (--remaining == 0) Finished();
}

// ---------------------------------------------------------------------------------------------
// Playing

namespace EasyAnimation
{
Player::Player(std::shared_ptr<AnimationElement> e, bool deleteAtEnd)
    : Clock(kFramesPerSecond), deleteWhenDone(deleteAtEnd), element(std::move(e))
{
    ++livePlayers;
    if (!element)
    {
        finished = true; // nothing to play
        return;
    }
    element->SetClock(this, true);
    element->AddListener(this);
    Clock::Start();
    element->Start(GetAbsoluteTime());
}

Player::~Player()
{
    ReleaseElement();
    --livePlayers;
}

std::size_t Player::NumLive()
{
    return livePlayers;
}

void Player::ReleaseElement()
{
    if (!element) return;
    element->RemoveListener(this);
    if (element->GetClock() == this) element->SetClock(nullptr, false);
    element.reset();
}

void Player::AnimationFinished(int)
{
    finished = true;
}

void Player::TimerEvent(int id)
{
    Clock::TimerEvent(id);
    if (!finished) return;
    ReleaseElement();
    Stop();
    if (deleteWhenDone) delete this;
}

void PlaySync(Window*, std::shared_ptr<AnimationElement> element)
{
    Player player(std::move(element), false);
    // The loop is pumped here rather than through the window, which may die in the pump. Once
    // the loop is abandoned (the window system went away, or the editor is being closed) a
    // pump returns without a turn and the element would never finish: give up at once.
    while (!player.IsFinished() && gfx::RunLoop::IsBound() && gfx::RunLoop::MayRun() &&
           !gfx::RunLoop::Abandoned())
        gfx::RunLoop::RunFor(std::chrono::seconds(1));
}

void PlayAsync(std::shared_ptr<AnimationElement> element)
{
    if (!element) return;
    new Player(std::move(element), true);
}

void Fade(Window* window, float from, float to, unsigned long duration, bool sync)
{
    auto tween = std::make_shared<AlphaTween>(window, from, to, duration);
    if (sync)
        PlaySync(window, tween);
    else
        PlayAsync(tween);
}
} // namespace EasyAnimation
} // namespace Animation
