#include "framework/Notifications.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace
{
using Log = std::vector<std::string>;

struct RateProbe : SampleRateListener
{
    RateProbe(Log& log, std::string name) : log(log), name(std::move(name)) {}
    void SampleRateChanged(float r) override
    {
        log.push_back(name + ":" + std::to_string(static_cast<int>(r)));
    }
    Log& log;
    std::string name;
};

struct TempoProbe : TempoListener
{
    TempoProbe(Log& log, std::string name) : log(log), name(std::move(name)) {}
    void TempoChanged(float bpm) override
    {
        log.push_back(name + ":" + std::to_string(static_cast<int>(bpm)));
    }
    Log& log;
    std::string name;
};

struct TransportProbe : TransportListener
{
    TransportProbe(Log& log, std::string name) : log(log), name(std::move(name)) {}
    void OnTransportPlay() override { log.push_back(name + ":play"); }
    void OnTransportStop() override { log.push_back(name + ":stop"); }
    Log& log;
    std::string name;
};

struct EventProbe : EventHandler
{
    explicit EventProbe(Log& log) : log(log) {}
    void Played() { log.push_back("event:play"); }
    void Stopped() { log.push_back("event:stop"); }
    Log& log;
};

struct Node : NextBufferListener
{
    Node(Log& log, std::string name) : log(log), name(std::move(name)) {}
    void NextBuffer() override { log.push_back("next " + name); }
    void PostRender() override { log.push_back("post " + name); }
    Log& log;
    std::string name;
};

struct Finished
{
    explicit Finished(Log& log, std::string name) : log(log), name(std::move(name)) {}
    void Done(int value)
    {
        log.push_back(name + std::to_string(value));
        if (action) action();
    }
    Log& log;
    std::string name;
    std::function<void()> action;
};
} // namespace

TEST(NotificationsSampleRate, OnlyChangesAreFannedOutInOrder)
{
    Log log;
    SampleRateSource source;
    RateProbe a(log, "A"), b(log, "B");
    source.AddSampleRateListener(&a);
    source.AddSampleRateListener(&b);
    source.SetSourceSampleRate(44100.0f);
    EXPECT_TRUE(log.empty());
    source.SetSourceSampleRate(48000.0f);
    source.SetSourceSampleRate(48000.0f);
    EXPECT_EQ(log, (Log{"A:48000", "B:48000"}));
    EXPECT_EQ(a.GetSampleRate(), 48000.0f);
    EXPECT_EQ(a.GetSampleRateSource(), &source);
}

TEST(NotificationsSampleRate, LateListenerKeepsItsOwnRateUntilTheNextChange)
{
    Log log;
    SampleRateSource source;
    source.SetSourceSampleRate(96000.0f);
    RateProbe late(log, "L");
    source.AddSampleRateListener(&late);
    EXPECT_EQ(late.GetSampleRate(), 44100.0f);
    EXPECT_TRUE(log.empty());
    late.SetSampleRate(44100.0f); // the listener's own setter always notifies
    EXPECT_EQ(log, (Log{"L:44100"}));
    source.SetSourceSampleRate(88200.0f);
    EXPECT_EQ(late.GetSampleRate(), 88200.0f);
}

TEST(NotificationsSampleRate, EitherSideMayBeDestroyedFirst)
{
    Log log;
    auto source = std::make_unique<SampleRateSource>();
    auto gone = std::make_unique<RateProbe>(log, "G");
    RateProbe stays(log, "S");
    source->AddSampleRateListener(gone.get());
    source->AddSampleRateListener(&stays);
    gone.reset();
    source->SetSourceSampleRate(48000.0f);
    EXPECT_EQ(log, (Log{"S:48000"}));
    source.reset();
    EXPECT_EQ(stays.GetSampleRateSource(), nullptr);
    EXPECT_EQ(stays.GetSampleRate(), 48000.0f);
}

TEST(NotificationsSampleRate, ListenerMovesToANewSourceAndRemovalUnhooks)
{
    Log log;
    auto first = std::make_unique<SampleRateSource>();
    SampleRateSource second;
    RateProbe a(log, "A");
    first->AddSampleRateListener(&a);
    second.AddSampleRateListener(&a);
    first->SetSourceSampleRate(22050.0f);
    EXPECT_TRUE(log.empty());
    first.reset();
    EXPECT_EQ(a.GetSampleRateSource(), &second);
    second.RemoveSampleRateListener(&a);
    EXPECT_EQ(a.GetSampleRateSource(), nullptr);
    second.SetSourceSampleRate(32000.0f);
    EXPECT_TRUE(log.empty());
}

TEST(NotificationsTempo, ListenersAlreadyAtTheTempoAreSkipped)
{
    Log log;
    TempoSource source;
    TempoProbe a(log, "A"), b(log, "B");
    source.AddTempoListener(&a);
    source.AddTempoListener(&b);
    source.SetSourceTempo(120.0f);
    EXPECT_TRUE(log.empty());
    b._SetTempo(140.0f);
    b._SetTempo(140.0f);
    EXPECT_EQ(log, (Log{"B:140"}));
    log.clear();
    source.SetSourceTempo(140.0f);
    EXPECT_EQ(log, (Log{"A:140"}));
    EXPECT_EQ(b.GetTempo(), 140.0f);
    EXPECT_EQ(source.GetSourceTempo(), 140.0f);
}

TEST(NotificationsTempo, EitherSideMayBeDestroyedFirst)
{
    Log log;
    auto source = std::make_unique<TempoSource>();
    auto gone = std::make_unique<TempoProbe>(log, "G");
    TempoProbe stays(log, "S");
    source->AddTempoListener(gone.get());
    source->AddTempoListener(&stays);
    gone.reset();
    source->SetSourceTempo(90.0f);
    source.reset();
    EXPECT_EQ(log, (Log{"S:90"}));
    EXPECT_EQ(stays.GetTempoSource(), nullptr);
}

TEST(NotificationsTempo, SampleCounts)
{
    EXPECT_EQ(Tempo::NumSamplesPerBeat(44100.0f, 120.0f), 22050.0f);
    EXPECT_EQ(Tempo::NumSamplesPer44Bar(44100.0f, 120.0f), 88200.0f);
    EXPECT_EQ(Tempo::NumSamplesPerBeat(48000.0f, 90.0f), 32000.0f);
}

TEST(NotificationsTransport, ListenersFirstThenEventHandlers)
{
    Log log;
    TransportSource source;
    source.TransportPlay(); // nobody there
    TransportProbe a(log, "A"), b(log, "B");
    EventProbe handler(log);
    source.AddTransportListener(&a);
    source.AddTransportListener(&b);
    source.playEvent.AddHandler(&handler, &EventProbe::Played);
    source.stopEvent.AddHandler(&handler, &EventProbe::Stopped);
    source.TransportPlay();
    source.TransportStop();
    EXPECT_EQ(log, (Log{"A:play", "B:play", "event:play", "A:stop", "B:stop", "event:stop"}));
    EXPECT_EQ(a.GetTransportSource(), &source);
}

TEST(NotificationsTransport, RemovalDropsEveryOccurrence)
{
    Log log;
    TransportSource source;
    TransportProbe a(log, "A");
    source.AddTransportListener(&a);
    source.AddTransportListener(&a);
    source.TransportPlay();
    EXPECT_EQ(log, (Log{"A:play", "A:play"}));
    source.RemoveTransportListener(&a);
    EXPECT_EQ(source.NumTransportListeners(), 0u);
    EXPECT_EQ(a.GetTransportSource(), nullptr);
}

TEST(NotificationsTransport, SourceDestroyedBeforeItsListeners)
{
    Log log;
    auto source = std::make_unique<TransportSource>();
    auto a = std::make_unique<TransportProbe>(log, "A");
    auto b = std::make_unique<TransportProbe>(log, "B");
    source->AddTransportListener(a.get());
    source->AddTransportListener(b.get());
    source.reset();
    EXPECT_EQ(a->GetTransportSource(), nullptr);
    EXPECT_EQ(b->GetTransportSource(), nullptr);
    a.reset();
    b.reset();
}

TEST(NotificationsTransport, DestroyedListenerLeavesItsSource)
{
    Log log;
    TransportSource source;
    auto a = std::make_unique<TransportProbe>(log, "A");
    TransportProbe b(log, "B");
    source.AddTransportListener(a.get());
    source.AddTransportListener(&b);
    a.reset();
    source.TransportStop();
    EXPECT_EQ(log, (Log{"B:stop"}));
}

TEST(NotificationsListenerHost, ChangesDuringANotificationWaitForItsEnd)
{
    Log log;
    ListenerHost<Finished> host;
    Finished a(log, "a"), b(log, "b"), c(log, "c");
    host.AddListener(&a);
    host.AddListener(&b);
    bool first = true;
    a.action = [&]
    {
        if (!first) return;
        first = false;
        host.RemoveListener(&b);
        host.AddListener(&c);
        EXPECT_EQ(host.NumListeners(), 2u);
    };
    host.NotifyListeners(&Finished::Done, 1);
    EXPECT_EQ(host.NumListeners(), 2u);
    host.NotifyListeners(&Finished::Done, 2);
    EXPECT_EQ(log, (Log{"a1", "b1", "a2", "c2"}));
    host.RemoveListener(&b); // absent: nothing
    host.RemoveListener(&a);
    host.NotifyListeners(&Finished::Done, 3);
    EXPECT_EQ(log.back(), "c3");
    EXPECT_EQ(host.NumListeners(), 1u);
}

TEST(NotificationsNextBuffer, WalksTheTreeDepthFirstInOrder)
{
    Log log;
    Node root(log, "root"), a(log, "a"), a1(log, "a1"), a2(log, "a2"), b(log, "b"), b1(log, "b1");
    root.AddListener(&a);
    root.AddListener(&b);
    a.AddListener(&a1);
    a.AddListener(&a2);
    b.AddListener(&b1);
    EXPECT_EQ(root.NumListeners(), 2u);
    root._HandleNextBufferNotification();
    root._HandlePostRenderNotification();
    EXPECT_EQ(log, (Log{"next root", "next a", "next a1", "next a2", "next b", "next b1", "post root",
                        "post a", "post a1", "post a2", "post b", "post b1"}));
}

TEST(NotificationsNextBuffer, ChildrenChangeAtOnceEvenDuringAWalk)
{
    Log log;
    Node root(log, "root"), late(log, "late");
    struct Adder : Node
    {
        using Node::Node;
        void NextBuffer() override
        {
            Node::NextBuffer();
            if (parentNode && extra)
            {
                parentNode->AddListener(extra);
                extra = nullptr;
            }
        }
        Node* parentNode = nullptr;
        Node* extra = nullptr;
    } adder(log, "adder");
    adder.parentNode = &root;
    adder.extra = &late;
    root.AddListener(&adder);
    root._HandleNextBufferNotification();
    EXPECT_EQ(log, (Log{"next root", "next adder", "next late"}));
    root.RemoveListener(&adder);
    log.clear();
    root._HandleNextBufferNotification();
    EXPECT_EQ(log, (Log{"next root", "next late"}));
}

TEST(NotificationsNextBuffer, DestroyedNodesLeaveTheTree)
{
    Log log;
    auto root = std::make_unique<Node>(log, "root");
    auto child = std::make_unique<Node>(log, "child");
    auto grandchild = std::make_unique<Node>(log, "grandchild");
    Node other(log, "other");
    root->AddListener(child.get());
    root->AddListener(&other);
    child->AddListener(grandchild.get());
    child.reset(); // its own child is left without a parent
    EXPECT_EQ(root->NumListeners(), 1u);
    root->_HandlePostRenderNotification();
    EXPECT_EQ(log, (Log{"post root", "post other"}));
    grandchild.reset(); // must not touch the destroyed child
    root.reset();       // other outlives its parent
    other._HandlePostRenderNotification();
}

TEST(NotificationsNextBuffer, ANodeHasOneParent)
{
    Log log;
    Node first(log, "first"), second(log, "second"), child(log, "child");
    first.AddListener(&child);
    second.AddListener(&child);
    EXPECT_EQ(first.NumListeners(), 0u);
    EXPECT_EQ(second.NumListeners(), 1u);
    first.RemoveListener(&child); // not its child: nothing
    EXPECT_EQ(second.NumListeners(), 1u);
}
