#include "framework/Events.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{
using Log = std::vector<std::string>;

struct Receiver : EventHandler
{
    Receiver(Log& log, std::string name) : log(log), name(std::move(name)) {}
    void OnFire() { log.push_back(name); }
    void OnText(std::string text)
    {
        log.push_back(name + ":" + text);
        text = "changed";
    }
    void OnCount(int& n) { log.push_back(name + ":" + std::to_string(++n)); }

    Log& log;
    std::string name;
};

// A receiver whose handler runs an arbitrary action first.
struct Actor : EventHandler
{
    explicit Actor(Log& log, std::string name) : log(log), name(std::move(name)) {}
    void OnFire()
    {
        log.push_back(name);
        if (action) action();
    }
    Log& log;
    std::string name;
    std::function<void()> action;
};

struct Unrelated
{
    virtual ~Unrelated() = default;
    int padding = 7;
};

// EventHandler as a second base: the handler must still reach the right object.
struct MixedReceiver : Unrelated, EventHandler
{
    void OnFire() { fired = padding; }
    int fired = 0;
};
} // namespace

TEST(EventsSignal, TriggerWithoutHandlersDoesNothing)
{
    Event<void()> event;
    event.Trigger();
    EXPECT_EQ(event.NumHandlers(), 0u);
    EXPECT_EQ(event.NumConnections(), 0u);
}

TEST(EventsSignal, HandlersRunInInsertionOrderWithIdsFromOne)
{
    Log log;
    Event<void()> event;
    Receiver a(log, "A"), b(log, "B");
    const EventConnection ca = event.AddHandler(&a, &Receiver::OnFire);
    const EventConnection cb = event.AddHandler(&b, &Receiver::OnFire);
    EXPECT_EQ(ca.GetId(), 1);
    EXPECT_EQ(cb.GetId(), 2);
    EXPECT_TRUE(ca.IsConnected());
    event.Trigger();
    event.Trigger();
    EXPECT_EQ(log, (Log{"A", "B", "A", "B"}));
}

TEST(EventsSignal, EachHandlerGetsItsOwnCopyOfValueArgumentsAndSharesReferences)
{
    Log log;
    Event<void(std::string)> text;
    Event<void(int&)> count;
    Receiver a(log, "A"), b(log, "B");
    text.AddHandler(&a, &Receiver::OnText);
    text.AddHandler(&b, &Receiver::OnText);
    count.AddHandler(&a, &Receiver::OnCount);
    count.AddHandler(&b, &Receiver::OnCount);
    text.Trigger("hi");
    int n = 0;
    count.Trigger(n);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(log, (Log{"A:hi", "B:hi", "A:1", "B:2"}));
}

TEST(EventsSignal, HandlerReachesReceiverWhoseHandlerBaseIsNotFirst)
{
    Event<void()> event;
    MixedReceiver r;
    event.AddHandler(&r, &MixedReceiver::OnFire);
    event.Trigger();
    EXPECT_EQ(r.fired, 7);
}

TEST(EventsLifetime, DestroyedReceiverIsRemovedFromTheSource)
{
    Log log;
    Event<void()> event;
    auto a = std::make_unique<Receiver>(log, "A");
    Receiver b(log, "B");
    event.AddHandler(a.get(), &Receiver::OnFire);
    const EventConnection cb = event.AddHandler(&b, &Receiver::OnFire);
    a.reset();
    EXPECT_EQ(event.NumHandlers(), 1u);
    EXPECT_EQ(event.NumConnections(), 1u);
    event.Trigger();
    EXPECT_EQ(log, (Log{"B"}));
    EXPECT_TRUE(cb.IsConnected());
}

TEST(EventsLifetime, SourceDestroyedFirstLeavesDeadRecords)
{
    Log log;
    auto event = std::make_unique<Event<void()>>();
    Receiver a(log, "A");
    auto b = std::make_unique<Receiver>(log, "B");
    const EventConnection ca = event->AddHandler(&a, &Receiver::OnFire);
    event->AddHandler(b.get(), &Receiver::OnFire);
    event.reset();
    EXPECT_FALSE(ca.IsConnected());
    b.reset(); // must not call into the freed source
    EXPECT_TRUE(log.empty());
}

TEST(EventsLifetime, ReceiverOnTwoSourcesLeavesBoth)
{
    Log log;
    Event<void()> first, second;
    Receiver keep(log, "K");
    auto gone = std::make_unique<Receiver>(log, "G");
    first.AddHandler(gone.get(), &Receiver::OnFire);
    second.AddHandler(gone.get(), &Receiver::OnFire);
    second.AddHandler(&keep, &Receiver::OnFire);
    gone.reset();
    first.Trigger();
    second.Trigger();
    EXPECT_EQ(log, (Log{"K"}));
    EXPECT_EQ(first.NumConnections(), 0u);
    EXPECT_EQ(second.NumConnections(), 1u);
}

TEST(EventsLifetime, ExplicitDisconnectIsSeenByEveryCopyAndDeadRecordsArePruned)
{
    Log log;
    Event<void()> event;
    Receiver a(log, "A");
    for (int i = 0; i < 50; ++i)
    {
        EventConnection c = event.AddHandler(&a, &Receiver::OnFire);
        EventConnection copy = c;
        c.HandlerDestroyed();
        EXPECT_FALSE(c.IsConnected());
        EXPECT_FALSE(copy.IsConnected());
        copy.HandlerDestroyed(); // already broken: nothing
    }
    event.Trigger();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(event.NumConnections(), 0u);
    EXPECT_LE(a.NumEventConnections(), 1u);
}

TEST(EventsDuringTrigger, HandlerDisconnectingItselfRunsOnceAndOthersStillRun)
{
    Log log;
    Event<void()> event;
    Actor a(log, "A");
    Receiver b(log, "B");
    EventConnection ca = event.AddHandler(&a, &Actor::OnFire);
    event.AddHandler(&b, &Receiver::OnFire);
    a.action = [&] { ca.HandlerDestroyed(); };
    event.Trigger();
    event.Trigger();
    EXPECT_EQ(log, (Log{"A", "B", "B"}));
    EXPECT_EQ(event.NumHandlers(), 1u);
}

TEST(EventsDuringTrigger, HandlerDestroyingALaterReceiverSkipsIt)
{
    Log log;
    Event<void()> event;
    Actor a(log, "A");
    auto b = std::make_unique<Receiver>(log, "B");
    Receiver c(log, "C");
    event.AddHandler(&a, &Actor::OnFire);
    event.AddHandler(b.get(), &Receiver::OnFire);
    event.AddHandler(&c, &Receiver::OnFire);
    a.action = [&] { b.reset(); };
    event.Trigger();
    a.action = nullptr;
    event.Trigger();
    EXPECT_EQ(log, (Log{"A", "C", "A", "C"}));
}

TEST(EventsDuringTrigger, HandlerDestroyingItsOwnReceiver)
{
    struct SelfDestroyer : EventHandler
    {
        explicit SelfDestroyer(Log& log) : log(log) {}
        void OnFire()
        {
            log.push_back("A");
            delete this;
        }
        Log& log;
    };
    Log log;
    Event<void()> event;
    Receiver b(log, "B");
    event.AddHandler(new SelfDestroyer(log), &SelfDestroyer::OnFire);
    event.AddHandler(&b, &Receiver::OnFire);
    event.Trigger();
    event.Trigger();
    EXPECT_EQ(log, (Log{"A", "B", "B"}));
}

TEST(EventsDuringTrigger, HandlerAddedDuringTriggerRunsFromTheNextOne)
{
    Log log;
    Event<void()> event;
    Actor a(log, "A");
    Receiver late(log, "L");
    event.AddHandler(&a, &Actor::OnFire);
    bool added = false;
    a.action = [&]
    {
        if (!added) event.AddHandler(&late, &Receiver::OnFire);
        added = true;
    };
    event.Trigger();
    event.Trigger();
    EXPECT_EQ(log, (Log{"A", "A", "L"}));
}

TEST(EventsDuringTrigger, HandlerDestroyingTheSourceStopsTheTrigger)
{
    Log log;
    auto event = std::make_unique<Event<void()>>();
    Actor a(log, "A");
    Receiver b(log, "B");
    const EventConnection ca = event->AddHandler(&a, &Actor::OnFire);
    event->AddHandler(&b, &Receiver::OnFire);
    a.action = [&] { event.reset(); };
    Event<void()>* raw = event.get();
    raw->Trigger();
    EXPECT_EQ(log, (Log{"A"}));
    EXPECT_FALSE(ca.IsConnected());
}

TEST(EventsDuringTrigger, NestedTriggerWithRemovalAndSourceDestruction)
{
    Log log;
    auto event = std::make_unique<Event<void()>>();
    Actor a(log, "A");
    auto b = std::make_unique<Receiver>(log, "B");
    event->AddHandler(&a, &Actor::OnFire);
    event->AddHandler(b.get(), &Receiver::OnFire);
    int depth = 0;
    a.action = [&]
    {
        if (++depth == 1)
        {
            event->Trigger(); // inner: A (depth 2, nothing), then B
            b.reset();
        }
    };
    event->Trigger();
    EXPECT_EQ(log, (Log{"A", "A", "B"}));
    EXPECT_EQ(event->NumHandlers(), 1u);

    log.clear();
    depth = 0;
    a.action = [&]
    {
        if (++depth == 1)
            event->Trigger();
        else
            event.reset(); // destroyed inside the inner trigger: both must stop
    };
    Event<void()>* raw = event.get();
    raw->Trigger();
    EXPECT_EQ(log, (Log{"A", "A"}));
}

TEST(EventsDuringTrigger, ThrowingHandlerLeavesTheSourceUsable)
{
    Log log;
    auto event = std::make_unique<Event<void()>>();
    Actor a(log, "A");
    auto b = std::make_unique<Receiver>(log, "B");
    event->AddHandler(&a, &Actor::OnFire);
    event->AddHandler(b.get(), &Receiver::OnFire);
    a.action = [] { throw std::runtime_error("boom"); };
    EXPECT_THROW(event->Trigger(), std::runtime_error);
    a.action = nullptr;
    b.reset();
    EXPECT_EQ(event->NumHandlers(), 1u);
    event->Trigger();
    event.reset();
    EXPECT_EQ(log, (Log{"A", "A"}));
}
