// The Torvane instrument on the Audio Unit engine variant, built into the test binary: the
// live-instance lists, inside changes reaching the host's listener, empty and refused states.

#include <gtest/gtest.h>

#include <algorithm>

#include "au/AUComponentEntry.h"
#include "au/AUPluginLists.h"
#include "authost/AUHost.h"
#include "engine/Torvane.h"
#include "support/RecordingMessageSink.h"

namespace
{

OSStatus TorvaneEntry(ComponentParameters* params, void* storage)
{
    return AUComponentEntry<Torvane>(params, storage);
}

ComponentDescription TorvaneDescription()
{
    ComponentDescription d;
    d.componentType = ComponentCode("aumu");
    d.componentSubType = ComponentCode("Trv1");
    d.componentManufacturer = ComponentCode("CvlA");
    return d;
}

void Open(AUHost& host)
{
    ASSERT_TRUE(host.Open(&TorvaneEntry, TorvaneDescription())) << host.GetError();
}

Torvane& InstrumentOf(AUHost& host)
{
    return *static_cast<Torvane*>(host.GetUnit()->storage);
}

void Render(AUHost& host, int blocks)
{
    std::vector<float> left(512), right(512);
    for (int i = 0; i < blocks; ++i)
        ASSERT_EQ(host.RenderBlock(512, left.data(), right.data()), noErr);
}

bool Announced(AUHost& host, UInt32 id)
{
    auto const notes = host.GetNotifications();
    return std::any_of(notes.begin(), notes.end(),
                       [&](AudioUnitParameter const& p)
                       {
                           return p.mAudioUnit == host.GetUnit() && p.mParameterID == id &&
                                  p.mScope == kAudioUnitScope_Global && p.mElement == 0;
                       });
}

} // namespace

TEST(TorvaneAUInProcess, EachInstanceIsFoundByItsOwnInstanceUntilClosed)
{
    AUHost a;
    AUHost b;
    Open(a);
    Open(b);
    EXPECT_EQ(GetComponentVersion(a.GetUnit()), 0x00010000);
    EXPECT_EQ(FindInstrument(a.GetUnit()), static_cast<InstrumentBase*>(&InstrumentOf(a)));
    EXPECT_EQ(FindInstrument(b.GetUnit()), static_cast<InstrumentBase*>(&InstrumentOf(b)));
    EXPECT_EQ(FindAudioUnit(a.GetUnit()), nullptr);
    ComponentInstanceRecord never;
    EXPECT_EQ(FindInstrument(&never), nullptr);
    EXPECT_EQ(FindInstrument(nullptr), nullptr);
    ComponentInstance const closed = a.GetUnit();
    a.Close();
    EXPECT_EQ(FindInstrument(closed), nullptr);
    EXPECT_EQ(FindInstrument(b.GetUnit()), static_cast<InstrumentBase*>(&InstrumentOf(b)));
}

TEST(TorvaneAUInProcess, MidiLearnChangesReachTheListenerAndSurviveRenders)
{
    AUHost host;
    Open(host);
    Torvane& t = InstrumentOf(host);
    Parameter* volume = t.GetAutomatableParameter(13);
    ASSERT_NE(volume, nullptr);
    host.SetParameter(13, 0.1f);
    Render(host, 1);
    t.GetMidiLearnManager()->StartListen(volume);
    host.MIDIEvent(0xB0, 7, 5); // learns the controller; its own value is not applied
    Render(host, 1);
    host.ClearNotifications();
    host.MIDIEvent(0xB0, 7, 100);
    Render(host, 2);
    EXPECT_TRUE(Announced(host, 13));
    float const learned = host.GetParameter(13);
    EXPECT_NEAR(learned, 100.0f / 127.0f, 1e-3f);
    EXPECT_EQ(learned, volume->ControllerGet());
    Render(host, 3);
    EXPECT_EQ(volume->ControllerGet(), learned);
    t.GetMidiLearnManager()->UnmapParameter(volume);
}

TEST(TorvaneAUInProcess, LayerSwitchesLeaveTheHostValuesAlone)
{
    AUHost host;
    Open(host);
    Torvane& t = InstrumentOf(host);
    host.SetParameter(13, 0.3f);
    Render(host, 1);
    host.ClearNotifications();
    t.SetCurrentVoice(2);
    Render(host, 2);
    EXPECT_EQ(t.GetCurrentVoice(), 2);
    EXPECT_FLOAT_EQ(host.GetParameter(13), 0.3f);
    EXPECT_FLOAT_EQ(t.GetAutomatableParameterValue(13), 0.3f);
}

TEST(TorvaneAUInProcess, EmptyStateRestoresNothingSilentlyAndRefusalsShowTheirMessage)
{
    AUHost host;
    Open(host);
    host.SetParameter(13, 0.6f);
    Render(host, 1);
    std::vector<std::uint8_t> const good = host.GetState();
    RecordingMessageSink messages;
    EXPECT_EQ(host.SetState({}), noErr);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(host.GetState(), good);
    EXPECT_EQ(host.SetState({1, 2, 3}), -10851);
    EXPECT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(host.GetState(), good);
}
