#include "framework/MidiEventListener.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

// Records every typed call and every raw message as a line of text.
class RecordingListener : public MidiEventListener
{
public:
    std::vector<std::string> calls;

    void HandleMidiEvent(int channel, int status, int data1, int data2, long deltaFrames) override
    {
        calls.push_back("raw " + std::to_string(channel) + " " + std::to_string(status) + " " +
                        std::to_string(data1) + " " + std::to_string(data2) + " " +
                        std::to_string(deltaFrames));
        MidiEventListener::HandleMidiEvent(channel, status, data1, data2, deltaFrames);
    }
    void UnhandledMidiEvent(int channel, int status, int data1, int data2, long deltaFrames) override
    {
        calls.push_back("unhandled " + std::to_string(channel) + " " + std::to_string(status) + " " +
                        std::to_string(data1) + " " + std::to_string(data2) + " " +
                        std::to_string(deltaFrames));
    }
    void NoteOnMidiEvent(int channel, int note, int velocity, long deltaFrames) override
    {
        calls.push_back("on " + std::to_string(channel) + " " + std::to_string(note) + " " +
                        std::to_string(velocity) + " " + std::to_string(deltaFrames));
    }
    void NoteOffMidiEvent(int channel, int note, long deltaFrames) override
    {
        calls.push_back("off " + std::to_string(channel) + " " + std::to_string(note) + " " +
                        std::to_string(deltaFrames));
    }
    void AllNotesOffMidiEvent(int channel) override
    {
        calls.push_back("allnotesoff " + std::to_string(channel));
    }
    void ControlChangeMidiEvent(int channel, int controller, int value, long deltaFrames) override
    {
        calls.push_back("cc " + std::to_string(channel) + " " + std::to_string(controller) + " " +
                        std::to_string(value) + " " + std::to_string(deltaFrames));
    }
    void PitchBendMidiEvent(int channel, float bend, long deltaFrames) override
    {
        bends.push_back(bend);
        calls.push_back("bend " + std::to_string(channel) + " " + std::to_string(deltaFrames));
    }
    void SustainOnMidiEvent(int channel, long deltaFrames) override
    {
        calls.push_back("sustainon " + std::to_string(channel) + " " + std::to_string(deltaFrames));
    }
    void SustainOffMidiEvent(int channel, long deltaFrames) override
    {
        calls.push_back("sustainoff " + std::to_string(channel) + " " + std::to_string(deltaFrames));
    }

    std::vector<float> bends;
};

// Decodes one message on a bare listener and returns the typed calls it made.
std::vector<std::string> Decode(int channel, int status, int data1, int data2, long delta)
{
    RecordingListener l;
    l.MidiEventListener::HandleMidiEvent(channel, status, data1, data2, delta);
    return l.calls;
}

using Calls = std::vector<std::string>;

} // namespace

TEST(MidiDecoding, DecodingTable)
{
    EXPECT_EQ(Decode(0, 0x90, 60, 100, 12), Calls{"on 0 60 100 12"});
    EXPECT_EQ(Decode(3, 0x90, 60, 0, 5), Calls{"off 3 60 5"});  // velocity 0 is a note-off
    EXPECT_EQ(Decode(1, 0x80, 61, 90, 7), Calls{"off 1 61 7"}); // release velocity dropped
    EXPECT_EQ(Decode(0, 0xB0, 64, 63, 2), Calls{"sustainoff 0 2"});
    EXPECT_EQ(Decode(0, 0xB0, 64, 64, 2), Calls{"sustainon 0 2"});
    EXPECT_EQ(Decode(0, 0xB0, 64, 127, 0), Calls{"sustainon 0 0"});
    EXPECT_EQ(Decode(9, 0xB0, 123, 0, 44), Calls{"allnotesoff 9"});
    EXPECT_EQ(Decode(2, 0xB0, 74, 33, 8), Calls{"cc 2 74 33 8"});
    EXPECT_EQ(Decode(0, 0xB0, 1, 0, 0), Calls{"cc 0 1 0 0"});
    EXPECT_EQ(Decode(0, 0xC0, 5, 0, 3), Calls{"unhandled 0 192 5 0 3"});   // program change
    EXPECT_EQ(Decode(0, 0xD0, 99, 0, 0), Calls{"unhandled 0 208 99 0 0"}); // channel pressure
    EXPECT_EQ(Decode(0, 0xA0, 60, 10, 0), Calls{"unhandled 0 160 60 10 0"});
    EXPECT_EQ(Decode(0, 0xF0, 0, 0, 0), Calls{"unhandled 0 240 0 0 0"});
}

TEST(MidiDecoding, PitchBendUsesTheHighByteOnly)
{
    struct Case
    {
        int data1, data2;
        float bend;
    };
    for (Case c : {Case{0, 0, -1.0f}, Case{127, 0, -1.0f}, Case{0, 64, 0.0f}, Case{127, 64, 0.0f},
                   Case{0, 127, 0.984375f}, Case{55, 96, 0.5f}, Case{0, 63, -0.015625f}})
    {
        RecordingListener l;
        l.MidiEventListener::HandleMidiEvent(4, 0xE0, c.data1, c.data2, 9);
        ASSERT_EQ(l.bends.size(), 1u);
        EXPECT_EQ(l.bends[0], c.bend) << c.data1 << " " << c.data2;
        EXPECT_EQ(l.calls, Calls{"bend 4 9"});
    }
}

TEST(MidiDecoding, ForwardsEveryMessageAfterTheTypedCall)
{
    RecordingListener instrument;
    RecordingListener learn;
    instrument.AddMidiEventListener(&learn);

    instrument.MidiEventListener::HandleMidiEvent(0, 0xC0, 5, 0, 3);
    instrument.MidiEventListener::HandleMidiEvent(0, 0xB0, 64, 127, 1);
    EXPECT_EQ(instrument.calls, (Calls{"unhandled 0 192 5 0 3", "sustainon 0 1"}));
    // The learner sees the raw messages as received and decodes them itself.
    EXPECT_EQ(learn.calls,
              (Calls{"raw 0 192 5 0 3", "unhandled 0 192 5 0 3", "raw 0 176 64 127 1", "sustainon 0 1"}));
}

TEST(MidiDecoding, SourceFansOutInOrderAndKeepsDuplicates)
{
    MidiEventSource source;
    RecordingListener a, b;
    source.AddMidiEventListener(&a);
    source.AddMidiEventListener(&b);
    source.AddMidiEventListener(&a);
    source.SendMidiMessageToListeners(0, 0x90, 60, 1, 0);
    EXPECT_EQ(a.calls, (Calls{"raw 0 144 60 1 0", "on 0 60 1 0", "raw 0 144 60 1 0", "on 0 60 1 0"}));
    EXPECT_EQ(b.calls, (Calls{"raw 0 144 60 1 0", "on 0 60 1 0"}));

    // Removing takes out the first occurrence only; removing an absent one does nothing.
    source.RemoveMidiEventListener(&a);
    source.RemoveMidiEventListener(&a);
    RecordingListener absent;
    source.RemoveMidiEventListener(&absent);
    a.calls.clear();
    b.calls.clear();
    source.SendMidiMessageToListeners(0, 0x80, 60, 0, 0);
    EXPECT_TRUE(a.calls.empty());
    EXPECT_EQ(b.calls, (Calls{"raw 0 128 60 0 0", "off 0 60 0"}));
}

TEST(MidiDecoding, StrayDataBitsDoNotLeaveTheSevenBitRange)
{
    // A sender of our own that forgets to mask still decodes within range.
    EXPECT_EQ(Decode(0, 0xB0, 64 + 128, 200, 0), Calls{"sustainon 0 0"});
    RecordingListener l;
    l.MidiEventListener::HandleMidiEvent(0, 0xE0, 0, 255, 0);
    ASSERT_EQ(l.bends.size(), 1u);
    EXPECT_EQ(l.bends[0], 0.984375f);
}
