#include "ModulationTestSupport.h"
#include "engine/MidiModSources.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

using namespace modtest;

namespace
{
using Message = std::tuple<int, int, int, int, long>;

class Recorder : public MidiEventListener
{
public:
    void HandleMidiEvent(int channel, int status, int data1, int data2, long offset) override
    {
        messages.emplace_back(channel, status, data1, data2, offset);
    }
    std::vector<Message> messages;
};

// The instrument's three sources, in its order, on one MIDI source.
struct Sources
{
    MidiEventSource midi;
    TMidiEventModSource pressure{&midi, -1, 0xD0, -1, -1.0f};
    TMidiEventModSource wheel{&midi, -1, 0xB0, 1, -1.0f};
    TMidiEventModSource bend{&midi, -1, 0xE0, -1, 0.0f};

    void Send(int channel, int status, int data1, int data2)
    {
        midi.SendMidiMessageToListeners(channel, status, data1, data2, 0);
    }
    void NextBuffer()
    {
        wheel.NextBuffer();
        pressure.NextBuffer();
        bend.NextBuffer();
    }
};

Points Curve(TModSource& s, long length)
{
    Envelope out(1);
    s.CreateModEnvelope(&out, length, 0);
    Points points;
    for (long i = 0; i < out.Size(); ++i)
        points.emplace_back(out[i].time, out[i].values[0]);
    return points;
}
} // namespace

TEST(TMidiEventModSource, StartValuesBeforeAnyMessage)
{
    Sources s;
    EXPECT_EQ(Curve(s.pressure, 64), (Points{{0.0f, -1.0f}, {64.0f, -1.0f}}));
    EXPECT_EQ(Curve(s.wheel, 64), (Points{{0.0f, -1.0f}, {64.0f, -1.0f}}));
    EXPECT_EQ(Curve(s.bend, 64), (Points{{0.0f, 0.0f}, {64.0f, 0.0f}}));
}

TEST(TMidiEventModSource, ModWheelRampsOverOneBlockThenHolds)
{
    Sources s;
    s.Send(0, 0xB0, 1, 127);
    EXPECT_EQ(s.wheel.GetCurrent(), 0.984375f);
    EXPECT_EQ(Curve(s.wheel, 256), (Points{{0.0f, -1.0f}, {256.0f, 0.984375f}}));
    s.NextBuffer();
    EXPECT_EQ(Curve(s.wheel, 256), (Points{{0.0f, 0.984375f}, {256.0f, 0.984375f}}));

    // Only the last of several messages in a block counts.
    s.Send(0, 0xB0, 1, 0);
    s.Send(5, 0xB0, 1, 64);
    EXPECT_EQ(Curve(s.wheel, 100), (Points{{0.0f, 0.984375f}, {100.0f, 0.0f}}));
    // The other sources did not move.
    EXPECT_EQ(s.pressure.GetCurrent(), -1.0f);
    EXPECT_EQ(s.bend.GetCurrent(), 0.0f);
}

TEST(TMidiEventModSource, OtherControllersChangeNothingButAreForwarded)
{
    Sources s;
    Recorder after;
    s.wheel.AddMidiEventListener(&after);
    s.midi.SendMidiMessageToListeners(2, 0xB0, 7, 100, 17);
    s.midi.SendMidiMessageToListeners(2, 0x90, 1, 100, 18);
    EXPECT_EQ(s.wheel.GetCurrent(), -1.0f);
    EXPECT_EQ(s.pressure.GetCurrent(), -1.0f);
    EXPECT_EQ(after.messages, (std::vector<Message>{{2, 0xB0, 7, 100, 17}, {2, 0x90, 1, 100, 18}}));
}

TEST(TMidiEventModSource, PitchBendTakesTheHighByteAndPressureTheFirst)
{
    Sources s;
    for (int low : {0, 1, 127})
    {
        s.Send(0, 0xE0, low, 64);
        EXPECT_EQ(s.bend.GetCurrent(), 0.0f) << low;
    }
    s.Send(0, 0xE0, 0, 0);
    EXPECT_EQ(s.bend.GetCurrent(), -1.0f);
    s.Send(0, 0xE0, 0, 127);
    EXPECT_EQ(s.bend.GetCurrent(), 0.984375f);
    s.Send(9, 0xD0, 96, 0);
    EXPECT_EQ(s.pressure.GetCurrent(), 0.5f);
}

TEST(TMidiEventModSource, ChannelFilterAndDataOutsideMidiRange)
{
    MidiEventSource midi;
    TMidiEventModSource only3(&midi, 3, 0xD0, -1, -1.0f);
    Recorder after;
    only3.AddMidiEventListener(&after);
    midi.SendMidiMessageToListeners(2, 0xD0, 127, 0, 0);
    EXPECT_EQ(only3.GetCurrent(), -1.0f);
    midi.SendMidiMessageToListeners(3, 0xD0, 32, 0, 0);
    EXPECT_EQ(only3.GetCurrent(), -0.5f);
    midi.SendMidiMessageToListeners(3, 0xD0, 200, 0, 0);
    midi.SendMidiMessageToListeners(3, 0xD0, -5, 0, 0);
    EXPECT_EQ(only3.GetCurrent(), -0.5f);
    EXPECT_EQ(after.messages.size(), 4u);
}

TEST(TMidiEventModSource, LeavesItsSourceWhenDestroyed)
{
    MidiEventSource midi;
    Recorder first;
    midi.AddMidiEventListener(&first);
    {
        auto wheel = std::make_unique<TMidiEventModSource>(&midi, -1, 0xB0, 1, -1.0f);
    }
    midi.SendMidiMessageToListeners(0, 0xB0, 1, 5, 0);
    EXPECT_EQ(first.messages.size(), 1u);
}
