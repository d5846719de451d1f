#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/InstrumentBase.h"
#include "support/RecordingMessageSink.h"
#include "vst/VstPluginLists.h"

namespace
{

// A voice that counts its renders and keeps its note until released.
class CountingNote : public Note
{
public:
    void NoteOn(int, int key, int vel, long) override
    {
        note = key;
        velocity = vel;
        busy = true;
    }
    void NoteOff(int, int, long) override { busy = false; }
    void Render(float*, float*, long, int) override { ++renders; }
    bool IsAvailable() override { return !busy; }

    bool busy = false;
    int renders = 0;
};

class TestInstrument : public InstrumentBase
{
public:
    explicit TestInstrument(bool counting, long numParams = 0)
        : InstrumentBase(nullptr, numParams, this, "Test", nullptr, 1234, "Test", "Test"), counting(counting)
    {
        InitNotes();
    }

    Note* CreateNote(int index) override
    {
        return counting ? new CountingNote() : InstrumentBase::CreateNote(index);
    }

    CountingNote* Counting(int i) { return static_cast<CountingNote*>(GetNote(i)); }

    // The slots sounding key, in slot order.
    std::vector<int> SlotsPlaying(int key)
    {
        std::vector<int> slots;
        for (int i = 0; i < GetPoolSize(); ++i)
        {
            if (!GetNote(i)->IsAvailable() && GetNote(i)->GetPitch() == key) slots.push_back(i);
        }
        return slots;
    }

    int Busy()
    {
        int n = 0;
        for (int i = 0; i < GetPoolSize(); ++i)
            n += GetNote(i)->IsAvailable() ? 0 : 1;
        return n;
    }

private:
    bool counting;
};

} // namespace

TEST(InstrumentBaseTest, PoolTakesSixteenNotesAndDropsTheSeventeenth)
{
    TestInstrument instrument(true);
    ASSERT_EQ(instrument.GetPoolSize(), 16);
    ASSERT_EQ(instrument.GetActiveNoteCount(), 16);
    for (int i = 0; i < 17; ++i)
        instrument.NoteOnMidiEvent(0, 40 + i, 100, 0);
    EXPECT_EQ(instrument.Busy(), 16);
    EXPECT_TRUE(instrument.SlotsPlaying(56).empty());
    EXPECT_EQ(instrument.SlotsPlaying(55), std::vector<int>{15});
    // Every note got its instrument before Init.
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(instrument.GetNote(i)->GetInstrument(), &instrument);
}

TEST(InstrumentBaseTest, ActiveNoteCountLimitsAllocationButNotRendering)
{
    TestInstrument instrument(true);
    instrument.SetActiveNoteCount(1);
    instrument.NoteOnMidiEvent(0, 60, 100, 0);
    instrument.NoteOnMidiEvent(0, 62, 100, 0);
    EXPECT_EQ(instrument.Busy(), 1);
    EXPECT_TRUE(instrument.SlotsPlaying(62).empty());

    float left[8] = {};
    float right[8] = {};
    instrument.Render(left, right, 8, 0);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(instrument.Counting(i)->renders, 1) << "slot " << i;

    // The count stays within the pool.
    instrument.SetActiveNoteCount(0);
    EXPECT_EQ(instrument.GetActiveNoteCount(), 1);
    instrument.SetActiveNoteCount(40);
    EXPECT_EQ(instrument.GetActiveNoteCount(), 16);
}

TEST(InstrumentBaseTest, NoteOffReleasesTheLowestMatchingSlotOnAnyChannel)
{
    TestInstrument instrument(true);
    instrument.NoteOnMidiEvent(0, 60, 100, 0);
    instrument.NoteOnMidiEvent(0, 64, 100, 0);
    instrument.NoteOnMidiEvent(0, 60, 90, 0);
    ASSERT_EQ(instrument.SlotsPlaying(60), (std::vector<int>{0, 2}));

    instrument.NoteOffMidiEvent(5, 60, 0);
    EXPECT_EQ(instrument.SlotsPlaying(60), std::vector<int>{2});
    EXPECT_EQ(instrument.SlotsPlaying(64), std::vector<int>{1});
    EXPECT_EQ(instrument.GetNote(2)->GetVelocity(), 90);

    // Nothing matches: nothing changes.
    instrument.NoteOffMidiEvent(0, 61, 0);
    EXPECT_EQ(instrument.Busy(), 2);
}

TEST(InstrumentBaseTest, DefaultNotePlaysASawAtItsPitchAndStopsAtOnce)
{
    TestInstrument instrument(false);
    constexpr long kFrames = 4410;
    std::vector<float> left(kFrames, 0.0f);
    std::vector<float> right(kFrames, 0.0f);

    instrument.NoteOnMidiEvent(0, 69, 100, 0);
    instrument.Render(left.data(), right.data(), kFrames, 0);
    float peak = 0.0f;
    for (long i = 0; i < kFrames; ++i)
    {
        ASSERT_TRUE(std::isfinite(left[i]));
        peak = std::max(peak, std::fabs(left[i]));
    }
    EXPECT_GT(peak, 0.3f);
    EXPECT_LE(peak, 0.7f + 1e-4f);

    // A saw at 440 Hz jumps back once per cycle: about 44 jumps in 4410 frames.
    int jumps = 0;
    for (long i = 1; i < kFrames; ++i)
        jumps += std::fabs(left[i] - left[i - 1]) > 0.3f ? 1 : 0;
    EXPECT_NEAR(jumps, 44, 2);

    instrument.NoteOffMidiEvent(0, 69, 0);
    std::fill(left.begin(), left.end(), 0.0f);
    std::fill(right.begin(), right.end(), 0.0f);
    instrument.Render(left.data(), right.data(), kFrames, 0);
    for (long i = 0; i < kFrames; ++i)
        ASSERT_EQ(left[i], 0.0f);
}

TEST(InstrumentBaseTest, InstrumentListFindsLiveInstrumentsOnly)
{
    int unrelated = 0;
    EXPECT_EQ(FindVstInstrument(reinterpret_cast<AudioEffect*>(&unrelated)), nullptr);

    auto a = std::make_unique<TestInstrument>(true);
    auto b = std::make_unique<TestInstrument>(true);
    AudioEffect* handleA = a.get();
    AudioEffect* handleB = b.get();
    EXPECT_EQ(FindVstInstrument(handleA), a.get());
    EXPECT_EQ(FindVstInstrument(handleB), b.get());

    // Only the address is looked up, never the object behind it.
    std::uintptr_t volatile addressB = reinterpret_cast<std::uintptr_t>(handleB);
    b.reset();
    EXPECT_EQ(FindVstInstrument(reinterpret_cast<AudioEffect*>(addressB)), nullptr);
    EXPECT_EQ(FindVstInstrument(handleA), a.get());
}

TEST(InstrumentBaseTest, DebugCheckComparesParameterCountWithAutomationList)
{
    RecordingMessageSink sink;
    TestInstrument matching(true, 0);
    matching.Debug_CheckAutomatableParameters();
    TestInstrument missing(true, 3);
    missing.Debug_CheckAutomatableParameters();

    auto const messages = sink.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "Automatable Parms OK");
    EXPECT_EQ(messages[0].caption, "Debug_CheckAutomatableParameters");
    EXPECT_EQ(messages[1].text, "Automatable Params Error:\n\nDesired num: 3    Actual num: 0");
}
