#include "framework/ParameterController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/MidiLearn.h"
#include "framework/SustainPedalEmulator.h"
#include "platform/CascadeList.h"

namespace
{

struct Heard
{
    float value;
    Parameter* changed;
    bool operator==(Heard const&) const = default;
};

// A control that records what it hears.
class Knob : public ParameterController
{
public:
    void ParameterUpdated(float value, Parameter* changed) override { heard.push_back({value, changed}); }
    std::vector<Heard> heard;
};

class Listener : public ParamUpdateListener
{
public:
    void ParameterUpdated(float value, Parameter* changed) override { heard.push_back({value, changed}); }
    std::vector<Heard> heard;
};

int HeardFrom(std::vector<Heard> const& heard, Parameter* p)
{
    return static_cast<int>(
        std::count_if(heard.begin(), heard.end(), [p](Heard const& h) { return h.changed == p; }));
}

void MakeRange(Parameter& p, char const* name, float min, float max,
               Parameter::Type type = Parameter::Continuous)
{
    p.Create(name, nullptr, Parameter::Global, min, max, type);
}

} // namespace

TEST(Controller, BindingShowsThePositionAtOnce)
{
    Parameter p;
    MakeRange(p, "Level", 0.0f, 10.0f);
    p = 2.0f;
    Knob knob;
    EXPECT_EQ(knob.ControllerGet(), 0.0f); // nothing bound
    EXPECT_FALSE(knob.HasBoundParameters());
    knob.BindParameter(&p);
    EXPECT_TRUE(knob.HasBoundParameters());
    ASSERT_EQ(knob.heard.size(), 1u);
    EXPECT_FLOAT_EQ(knob.heard[0].value, 0.2f);
    EXPECT_EQ(knob.heard[0].changed, &p);

    // Inverted, the same value reads 0.8.
    Knob inverted;
    inverted.SetInvert(true);
    inverted.BindParameter(&p);
    EXPECT_FLOAT_EQ(inverted.heard[0].value, 0.8f);
    EXPECT_FLOAT_EQ(inverted.ControllerGet(), 0.8f);
}

TEST(Controller, InvertedMovesAreNotHeardByTheMover)
{
    Parameter p;
    MakeRange(p, "Level", 0.0f, 10.0f);
    Knob mover, other;
    mover.SetInvert(true);
    mover.BindParameter(&p);
    other.BindParameter(&p);
    mover.heard.clear();
    other.heard.clear();

    float const shown = mover.ControllerSetAll(0.25f);
    EXPECT_FLOAT_EQ(static_cast<float>(p), 7.5f);
    EXPECT_FLOAT_EQ(shown, 0.25f);
    EXPECT_TRUE(mover.heard.empty());
    ASSERT_EQ(other.heard.size(), 1u);
    EXPECT_FLOAT_EQ(other.heard[0].value, 7.5f);

    // The same position again changes nothing and tells nobody.
    mover.ControllerSetAll(0.25f);
    EXPECT_EQ(other.heard.size(), 1u);
}

TEST(Controller, SeveralBoundParametersMoveTogether)
{
    Parameter a, b, c;
    MakeRange(a, "A", 0.0f, 1.0f);
    MakeRange(b, "B", 0.0f, 100.0f);
    MakeRange(c, "C", 0.0f, 4.0f, Parameter::Discrete);
    Listener watcher;
    for (Parameter* p : {&a, &b, &c})
        p->AddUpdateListener(&watcher);
    {
        Knob knob;
        knob.BindParameter(&a);
        knob.BindParameter(&b);
        knob.BindParameter(&c);
        knob.heard.clear();

        EXPECT_FLOAT_EQ(knob.ControllerSetAll(0.6f), 0.6f); // the first parameter's position
        EXPECT_FLOAT_EQ(static_cast<float>(a), 0.6f);
        EXPECT_FLOAT_EQ(static_cast<float>(b), 60.0f);
        EXPECT_EQ(static_cast<float>(c), 2.0f); // 2.4 rounds down
        EXPECT_TRUE(knob.heard.empty());

        // A change from elsewhere reaches the knob, from any of its parameters.
        b = 10.0f;
        EXPECT_EQ(knob.heard, (std::vector<Heard>{{10.0f, &b}}));

        knob.UnbindParameter(&b);
        knob.UnbindParameter(&b); // not bound any more: nothing
        b = 20.0f;
        EXPECT_EQ(knob.heard.size(), 1u);
        knob.heard.clear();
    }
    // The knob is gone: changing its former parameters reaches only the watcher.
    watcher.heard.clear();
    a = 0.1f;
    c = 1.0f;
    EXPECT_EQ(watcher.heard, (std::vector<Heard>{{0.1f, &a}, {1.0f, &c}}));
}

TEST(Controller, MidiLearnPopupOfTheFirstParameter)
{
    MidiLearnManager manager;
    Parameter p;
    MakeRange(p, "Level", 0.0f, 1.0f);
    std::vector<std::string> shown;
    auto previous = CascadeList::SetChooser(
        [&](CascadeList& list, Window*, long, long) -> CascadeList::Item*
        {
            for (int i = 0; i < list.NumItems(); ++i)
                shown.push_back(list.GetItem(i)->name);
            return list.GetItem(0);
        });

    Knob knob;
    knob.ShowMidiLearnPopup(nullptr, 1, 2); // nothing bound
    knob.BindParameter(&p);
    knob.ShowMidiLearnPopup(nullptr, 1, 2); // no manager
    EXPECT_TRUE(shown.empty());

    p.SetMidiLearnManager(&manager);
    knob.ShowMidiLearnPopup(nullptr, 1, 2);
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "MIDI Learn (click here, then move MIDI controller to assign it to me)"}));
    EXPECT_TRUE(manager.IsListeningTo(&p));
    CascadeList::SetChooser(previous);
}

TEST(Bridge, ReadsAndWritesGoToTheTarget)
{
    Parameter layer1, layer2;
    MakeRange(layer1, "Release", 0.0f, 10.0f);
    MakeRange(layer2, "Unison", 1.0f, 4.0f, Parameter::Discrete);
    layer1 = 2.5f;
    layer2 = 3.0f;

    BridgeParameter bridge;
    bridge.Create("Bridge", nullptr, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    bridge.SetBridgeParameter(&layer1);
    Parameter& asParameter = bridge;

    EXPECT_STREQ(bridge.GetName(), "Release");
    EXPECT_TRUE(bridge.Is("Release"));
    EXPECT_FLOAT_EQ(static_cast<float>(bridge), 2.5f);
    EXPECT_FLOAT_EQ(static_cast<float>(asParameter), 2.5f); // not the bridge's own value
    EXPECT_EQ(asParameter.GetInt(), 2);
    EXPECT_EQ(asParameter.GetMinValue(), 0.0f);
    EXPECT_EQ(asParameter.GetMaxValue(), 10.0f);
    EXPECT_EQ(asParameter.GetRange(), 10.0f);
    EXPECT_TRUE(asParameter.GetSmallToBig());
    EXPECT_TRUE(asParameter.IsContinuous());
    EXPECT_EQ(asParameter.GetScope(), Parameter::Global);
    EXPECT_TRUE(asParameter.GetBool());
    EXPECT_FLOAT_EQ(asParameter.ControllerGet(), 0.25f);
    EXPECT_FLOAT_EQ(asParameter.UnNormalise(0.5f), 5.0f);
    EXPECT_FLOAT_EQ(asParameter.Normalise(5.0f), 0.5f);

    bridge.SetBridgeParameter(&layer2);
    EXPECT_STREQ(asParameter.GetName(), "Unison");
    EXPECT_EQ(asParameter.GetInt(), 3);
    EXPECT_EQ(asParameter.GetRange(), 3.0f);
    EXPECT_TRUE(asParameter.IsDiscrete());
    EXPECT_EQ(asParameter.GetType(), Parameter::Discrete);

    // Writes through the bridge are rounded and clamped by the target.
    asParameter = 2.6f;
    EXPECT_EQ(static_cast<float>(layer2), 3.0f);
    asParameter = 9.0f;
    EXPECT_EQ(static_cast<float>(layer2), 4.0f);
    asParameter.Set(0.0f, nullptr);
    EXPECT_EQ(static_cast<float>(layer2), 1.0f);
    asParameter = layer1; // 2.5 rounds to 3
    EXPECT_EQ(static_cast<float>(layer2), 3.0f);
    asParameter.SetBool(false);
    EXPECT_EQ(static_cast<float>(layer2), 0.0f); // SetBool does not clamp
    EXPECT_FLOAT_EQ(static_cast<float>(layer1), 2.5f);
    EXPECT_FLOAT_EQ(asParameter.ControllerSet(1.0f, nullptr), 1.0f);
    EXPECT_EQ(static_cast<float>(layer2), 4.0f);
}

TEST(Bridge, RetargetingMovesTheRelay)
{
    Parameter a, b;
    MakeRange(a, "On A", 0.0f, 1.0f, Parameter::Discrete);
    MakeRange(b, "On B", 0.0f, 1.0f, Parameter::Discrete);
    b.SetBool(true);
    BridgeParameter bridge;
    bridge.Create("On", nullptr, Parameter::Internal, 0.0f, 1.0f, Parameter::Discrete);
    Listener l;
    bridge.AddUpdateListener(&l);

    bridge.SetBridgeParameter(&a);
    EXPECT_EQ(l.heard, (std::vector<Heard>{{0.0f, &bridge}}));
    bridge.SetBridgeParameter(&b); // tells the new target's value
    EXPECT_EQ(l.heard.back(), (Heard{1.0f, &bridge}));
    l.heard.clear();

    a = 1.0f; // the old target is not relayed any more
    EXPECT_TRUE(l.heard.empty());
    b = 0.0f;
    EXPECT_EQ(l.heard, (std::vector<Heard>{{0.0f, &bridge}}));
    l.heard.clear();
    b.RefreshListeners();
    bridge.RefreshListeners(); // the target's refresh relays too
    EXPECT_EQ(l.heard, (std::vector<Heard>{{0.0f, &bridge}, {0.0f, &bridge}}));

    bridge.SetBridgeParameter(nullptr); // ignored
    EXPECT_EQ(bridge.GetBridgeParameter(), &b);
}

TEST(Bridge, WhoHearsWhat)
{
    Parameter target;
    MakeRange(target, "Level", 0.0f, 10.0f);
    BridgeParameter bridge;
    bridge.Create("Level bridge", nullptr, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
    bridge.SetBridgeParameter(&target);
    Listener onTarget, onBridge;
    target.AddUpdateListener(&onTarget);
    bridge.AddUpdateListener(&onBridge);
    Knob knob, otherKnob;
    knob.BindParameter(&bridge);
    otherKnob.BindParameter(&bridge);
    knob.heard.clear();
    otherKnob.heard.clear();

    // operator= reaches each bridge listener twice (relay, then the bridge).
    bridge = 4.0f;
    EXPECT_EQ(onBridge.heard, (std::vector<Heard>{{4.0f, &bridge}, {4.0f, &bridge}}));
    EXPECT_EQ(knob.heard.size(), 2u);
    EXPECT_EQ(onTarget.heard, (std::vector<Heard>{{4.0f, &target}}));
    onBridge.heard.clear();
    knob.heard.clear();
    otherKnob.heard.clear();
    onTarget.heard.clear();

    // A control moving the bridge: every bridge listener but that control, once.
    knob.ControllerSetAll(0.5f);
    EXPECT_FLOAT_EQ(static_cast<float>(target), 5.0f);
    EXPECT_TRUE(knob.heard.empty());
    EXPECT_EQ(otherKnob.heard, (std::vector<Heard>{{5.0f, &bridge}}));
    EXPECT_EQ(onBridge.heard, (std::vector<Heard>{{5.0f, &bridge}}));
    EXPECT_EQ(onTarget.heard, (std::vector<Heard>{{5.0f, &target}}));
    onBridge.heard.clear();

    // Set with an author: everybody but the author, once.
    bridge.Set(6.0f, &onBridge);
    EXPECT_TRUE(onBridge.heard.empty());
    EXPECT_EQ(otherKnob.heard.back(), (Heard{6.0f, &bridge}));
    EXPECT_EQ(HeardFrom(otherKnob.heard, &bridge), 2);

    // SetBool: relayed once, then told again.
    bridge.SetBool(true);
    EXPECT_EQ(onBridge.heard, (std::vector<Heard>{{1.0f, &bridge}, {1.0f, &bridge}}));
}

TEST(Bridge, GoingAwayLeavesTheTarget)
{
    Parameter target;
    MakeRange(target, "Level", 0.0f, 1.0f);
    Listener watcher;
    target.AddUpdateListener(&watcher);
    {
        BridgeParameter bridge;
        bridge.Create("B", nullptr, Parameter::Internal, 0.0f, 1.0f, Parameter::Continuous);
        bridge.SetBridgeParameter(&target);
    }
    target = 0.5f; // would reach a dead relay otherwise (ASan)
    EXPECT_EQ(watcher.heard, (std::vector<Heard>{{0.5f, &target}}));
}

namespace
{

class MidiRecorder : public MidiEventListener
{
public:
    void HandleMidiEvent(int channel, int status, int data1, int data2, long delta) override
    {
        messages.push_back({channel, status, data1, data2, static_cast<int>(delta)});
        MidiEventListener::HandleMidiEvent(channel, status, data1, data2, delta);
    }
    void SustainOnMidiEvent(int, long) override { ++sustainOn; }
    void SustainOffMidiEvent(int, long) override { ++sustainOff; }
    std::vector<std::vector<int>> messages;
    int sustainOn = 0;
    int sustainOff = 0;
};

} // namespace

TEST(SustainPedal, TheButtonBecomesControllerSixtyFour)
{
    SustainPedalEmulator pedal;
    Parameter& sustain = pedal.GetSustainParameter();
    EXPECT_STREQ(sustain.GetName(), "Sustain");
    EXPECT_EQ(sustain.GetScope(), Parameter::Internal);
    EXPECT_FALSE(sustain.GetBool());

    MidiRecorder instrument;
    pedal.Init(&instrument);
    sustain.SetBool(true);
    sustain.SetBool(true); // twice: sent twice
    sustain = 0.0f;
    using M = std::vector<int>;
    EXPECT_EQ(instrument.messages,
              (std::vector<M>{M{0, 0xB0, 64, 127, 0}, M{0, 0xB0, 64, 127, 0}, M{0, 0xB0, 64, 0, 0}}));
    EXPECT_EQ(instrument.sustainOn, 2);
    EXPECT_EQ(instrument.sustainOff, 1);

    // The editor's button moves it as a control.
    Knob button;
    button.BindParameter(&sustain);
    button.ControllerSetAll(1.0f);
    EXPECT_EQ(instrument.messages.back(), (M{0, 0xB0, 64, 127, 0}));
    EXPECT_EQ(instrument.sustainOn, 3);
}
