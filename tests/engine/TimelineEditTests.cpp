// Edit time, layer switch and layer reset, single-breakpoint editing at the edit time, the copy
// buffer, the followed note's animation time and the timing tools.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "EditingTestSupport.h"
#include "platform/CascadeList.h"

using namespace editing;

namespace
{

struct ValueListener : ParamUpdateListener
{
    void ParameterUpdated(float value, Parameter*) override { values.push_back(value); }
    std::vector<float> values;
};

// A chooser for the duration of a scope.
class ScriptedChooser
{
public:
    explicit ScriptedChooser(CascadeList::Chooser chooser)
        : previous(CascadeList::SetChooser(std::move(chooser)))
    {
    }
    ~ScriptedChooser() { CascadeList::SetChooser(previous); }

private:
    CascadeList::Chooser previous;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Edit time, TParams, layer switch

TEST(TimelineEditTime, IsWholeAndNeverNegativeAndMovesFreezePosition)
{
    Torvane& t = FreshInstrument();
    t.SetEditTime(-5.0f);
    EXPECT_EQ(t.GetEditTime(), 0.0f);
    t.SetEditTime(1234.9f);
    EXPECT_EQ(t.GetEditTime(), 1234.0f);
    // The default layer lasts 264600 (the Amplitude line).
    EXPECT_FLOAT_EQ(static_cast<float>(t.freezePosition), 1234.0f / 264600.0f);
    t.SetEditTime(std::nanf(""));
    EXPECT_EQ(t.GetEditTime(), 0.0f);
    // Past 2^31, the end of what the timeline shows, it stays there.
    for (float past : {2147483904.0f, 3704410368.0f, 1e30f})
    {
        t.SetEditTime(past);
        EXPECT_EQ(t.GetEditTime(), Torvane::kMaxEditTime) << past;
    }
    EXPECT_EQ(Torvane::kMaxEditTime, 2147483648.0f);

    // A layer of duration 0: the freeze position is 0.
    for (int line = 0; line < VoiceDef::kNumLines; ++line)
        SetPoints(t, 0, line, {0.0f});
    t.SetEditTime(500.0f);
    EXPECT_EQ(t.GetEditTime(), 500.0f);
    EXPECT_EQ(static_cast<float>(t.freezePosition), 0.0f);
}

TEST(TimelineEditTime, EditorHearsTheMoveWithoutKillingNotes)
{
    Torvane& t = FreshInstrument();
    AttachedEditor editor(t);
    t.NoteOnMidiEvent(0, 60, 100, 0);
    t.SetEditTime(100.0f);
    editor.Drain();
    EXPECT_EQ(editor.gui.updatedEditTime.load(), 1);
    EXPECT_EQ(NotesOn(t), 1);
}

TEST(TimelineTParam, WritesTheLineAtTheEditTimeAndReadsItBack)
{
    Torvane& t = FreshInstrument();
    t.SetEditTime(1000.0f);
    t.pitchParam = 7.0f;
    EXPECT_EQ(t.GetEvent(0, VoiceDef::kVoiceLine, 0), 7.0f);
    EXPECT_EQ(Times(t, 0, VoiceDef::kVoiceLine), (std::vector<float>{0.0f, 1000.0f}));
    EXPECT_FLOAT_EQ(t.pitchParam.ControllerGet(), 43.0f / 72.0f);
    // At another time the line interpolates towards the new point.
    t.SetEditTime(500.0f);
    EXPECT_FLOAT_EQ(t.GetEvent(0, VoiceDef::kVoiceLine, 0), 3.5f);
}

TEST(TimelineTParam, RelativeModeShowsTheMiddleOfTheRange)
{
    Torvane& t = FreshInstrument();
    t.multipleSelectionMode = 1.0f;
    EXPECT_FLOAT_EQ(t.panParam.ControllerGet(), 0.5f);
    EXPECT_FLOAT_EQ(t.filterResonanceParam.ControllerGet(), 0.5f);
    t.multipleSelectionMode = 0.0f;
    // Filter line default: resonance 5 in 1..50.
    EXPECT_FLOAT_EQ(t.filterResonanceParam.ControllerGet(), 4.0f / 49.0f);
}

TEST(TimelineLayerSwitch, RebindsTheBridgesAndClearsTheSelection)
{
    Torvane& t = FreshInstrument();
    t.GetVoiceDef(2)->parameters[VoiceDef::kLayerOn].SetBool(true);
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, 0, 1)};
    t.SetMultipleSelection(&sel);
    ValueListener heard;
    t.layerOnBridge.AddUpdateListener(&heard);
    {
        AttachedEditor editor(t);
        t.SetCurrentVoice(2);
        editor.Drain();
        EXPECT_EQ(editor.gui.deselectBreakpoints.load(), 1);
        EXPECT_GE(editor.gui.updateAll.load(), 1);
    }
    t.layerOnBridge.RemoveUpdateListener(&heard);
    EXPECT_EQ(t.GetCurrentVoice(), 2);
    ASSERT_FALSE(heard.values.empty());
    EXPECT_EQ(heard.values.back(), 1.0f);
    EXPECT_TRUE(t.layerOnBridge.GetBool());
    EXPECT_EQ(t.GetMultipleSelection(), nullptr);
    t.SetCurrentVoice(7); // ignored
    EXPECT_EQ(t.GetCurrentVoice(), 2);
    t.GetVoiceDef(2)->parameters[VoiceDef::kLayerOn].SetBool(false);
}

TEST(TimelineLayerSwitch, ResetVoiceResetsOnlyTheCurrentLayer)
{
    Torvane& t = FreshInstrument();
    t.SetCurrentVoice(1);
    SetPoints(t, 0, VoiceDef::kFilterLine, {0.0f, 100.0f});
    SetPoints(t, 1, VoiceDef::kFilterLine, {0.0f, 100.0f});
    t.ResetVoice(-1);
    EXPECT_EQ(Times(t, 1, VoiceDef::kFilterLine), std::vector<float>{0.0f});
    EXPECT_EQ(Times(t, 0, VoiceDef::kFilterLine), (std::vector<float>{0.0f, 100.0f}));
    t.ResetVoice(4); // ignored
}

// ---------------------------------------------------------------------------------------------
// Single breakpoints

TEST(TimelineSetEventTime, KeepsAPointBetweenItsNeighbours)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, VoiceDef::kWaveLine, {0.0f, 1000.0f, 2000.0f, 3000.0f});
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 2, 500.0f), 1000.0f);
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 2, 3500.0f), 3000.0f);
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 2, 1500.4f), 1500.0f);
    EXPECT_EQ(Times(t, 0, VoiceDef::kWaveLine), (std::vector<float>{0.0f, 1000.0f, 1500.0f, 3000.0f}));
    // The last point may move right freely; the first always stays at 0.
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 3, 9000.6f), 9001.0f);
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 0, 700.0f), 0.0f);
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 1, -50.0f), 0.0f);
}

TEST(TimelineSetEventTime, IgnoresWhatIsNotThere)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, VoiceDef::kWaveLine, {0.0f, 1000.0f});
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 2, 500.0f), 0.0f);
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, -1, 500.0f), 0.0f);
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 100000, 500.0f), 0.0f);
    EXPECT_EQ(t.SetEventTime(4, VoiceDef::kWaveLine, 1, 500.0f), 0.0f);
    EXPECT_EQ(t.SetEventTime(-1, VoiceDef::kWaveLine, 1, 500.0f), 0.0f);
    EXPECT_EQ(t.SetEventTime(0, 6, 1, 500.0f), 0.0f);
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 1, std::nanf("")), 0.0f);
    EXPECT_EQ(t.SetEventTime(0, VoiceDef::kWaveLine, 1, INFINITY), 0.0f);
    EXPECT_EQ(Times(t, 0, VoiceDef::kWaveLine), (std::vector<float>{0.0f, 1000.0f}));
}

TEST(TimelineSetEvent, CreatesOnePointAtTheEditTime)
{
    Torvane& t = FreshInstrument();
    t.SetEditTime(2000.0f);
    EXPECT_TRUE(t.SetEvent(0, VoiceDef::kFilterLine, 2, 9.0f));
    EXPECT_FALSE(t.SetEvent(0, VoiceDef::kFilterLine, 0, 0.25f));
    EventEnvelope& line = *t.GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine);
    ASSERT_EQ(line.Size(), 2);
    EXPECT_EQ(Values(line[1]), (std::vector<float>{0.25f, 0.0f, 9.0f}));
}

TEST(TimelineDeleteEvent, DeletesOnlyExistingPointsAfterTheFirst)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, VoiceDef::kEffectsLine, {0.0f, 1000.0f, 2000.0f});
    AttachedEditor editor(t);
    t.NoteOnMidiEvent(0, 60, 100, 0);
    t.DeleteEvent(0, VoiceDef::kEffectsLine, 0);
    t.DeleteEvent(0, VoiceDef::kEffectsLine, 3);
    t.DeleteEvent(0, VoiceDef::kEffectsLine, -1);
    t.DeleteEvent(0, VoiceDef::kEffectsLine, 1L << 40);
    t.DeleteEvent(5, VoiceDef::kEffectsLine, 1);
    t.DeleteEvent(0, 9, 1);
    EXPECT_EQ(Times(t, 0, VoiceDef::kEffectsLine), (std::vector<float>{0.0f, 1000.0f, 2000.0f}));
    editor.Drain();
    EXPECT_EQ(editor.gui.updateAll.load(), 0);

    t.DeleteEvent(0, VoiceDef::kEffectsLine, 1);
    EXPECT_EQ(Times(t, 0, VoiceDef::kEffectsLine), (std::vector<float>{0.0f, 2000.0f}));
    editor.Drain();
    EXPECT_EQ(editor.gui.updateAll.load(), 1);
    // The refresh that follows leaves the sounding note alone.
    EXPECT_EQ(NotesOn(t), 1);
    // Adding after a delete reuses the pool without mixing up the points.
    t.SetEditTime(500.0f);
    EXPECT_TRUE(t.SetEvent(0, VoiceDef::kEffectsLine, 1, 0.75f));
    EXPECT_EQ(Times(t, 0, VoiceDef::kEffectsLine), (std::vector<float>{0.0f, 500.0f, 2000.0f}));
}

TEST(TimelineBreakpointSteps, MoveTheEditTimeAlongALine)
{
    Torvane& t = FreshInstrument();
    int const line = VoiceDef::kWaveLine;
    // One point: next stays, previous goes to 0.
    t.SetEditTime(700.0f);
    t.NextBreakpoint(line);
    EXPECT_EQ(t.GetEditTime(), 700.0f);
    t.PrevBreakpoint(line);
    EXPECT_EQ(t.GetEditTime(), 0.0f);

    SetPoints(t, 0, line, {0.0f, 1000.0f, 2000.0f});
    t.NextBreakpoint(line);
    EXPECT_EQ(t.GetEditTime(), 1000.0f);
    t.NextBreakpoint(line);
    EXPECT_EQ(t.GetEditTime(), 2000.0f);
    t.NextBreakpoint(line); // at the end
    EXPECT_EQ(t.GetEditTime(), 2000.0f);
    t.PrevBreakpoint(line);
    EXPECT_EQ(t.GetEditTime(), 1000.0f);
    t.SetEditTime(1500.0f);
    t.PrevBreakpoint(line);
    EXPECT_EQ(t.GetEditTime(), 1000.0f);
    t.SetEditTime(5000.0f);
    t.PrevBreakpoint(line);
    EXPECT_EQ(t.GetEditTime(), 2000.0f);
    t.SetEditTime(0.0f);
    t.PrevBreakpoint(line);
    EXPECT_EQ(t.GetEditTime(), 0.0f);
}

TEST(TimelineBreakpointSteps, NeverGoBelowZeroOrFollowBadLines)
{
    Torvane& t = FreshInstrument();
    int const line = VoiceDef::kWaveLine;
    // A line whose first point lies after the edit time (as a loaded file may hold).
    SetPoints(t, 0, line, {100.0f, 1000.0f});
    t.SetEditTime(50.0f);
    t.PrevBreakpoint(line);
    EXPECT_EQ(t.GetEditTime(), 0.0f);
    // An empty line, and lines that don't exist.
    t.GetVoiceDef(0)->GetLine(line)->Clear();
    t.SetEditTime(300.0f);
    t.PrevBreakpoint(line);
    t.NextBreakpoint(line);
    t.PrevBreakpoint(-1);
    t.NextBreakpoint(6);
    EXPECT_EQ(t.GetEditTime(), 300.0f);
}

// ---------------------------------------------------------------------------------------------
// Copy buffer

TEST(TimelineCopyBuffer, PasteBeforeAnyCopyChangesNothing)
{
    // A new instrument: the copy buffer of the shared one may be full.
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    t.SetEditTime(3000.0f);
    t.Paste(-1, VoiceDef::kFilterLine);
    t.PasteAll(-1);
    for (int line = 0; line < VoiceDef::kNumLines; ++line)
        EXPECT_EQ(t.GetVoiceDef(0)->GetLine(line)->Size(), line == 0 ? 3 : 1) << line;
}

TEST(TimelineCopyBuffer, CopiesLinesOneToFiveBetweenLayers)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, VoiceDef::kFilterLine, {0.0f, 2000.0f}); // values 0.5 then 1.5
    t.SetEditTime(1000.0f);
    t.CopyAll(0);

    t.SetEditTime(5000.0f);
    t.Paste(1, VoiceDef::kFilterLine);
    EventEnvelope& filter = *t.GetVoiceDef(1)->GetLine(VoiceDef::kFilterLine);
    ASSERT_EQ(filter.Size(), 2);
    EXPECT_EQ(filter[1].time, 5000.0f);
    EXPECT_EQ(Values(filter[1]), (std::vector<float>{1.0f, 1.0f, 1.0f}));

    // The Amplitude line is never pasted, nor lines or layers that don't exist.
    t.Paste(1, VoiceDef::kAmplitudeLine);
    t.Paste(1, 6);
    t.Paste(1, -1);
    t.Paste(9, VoiceDef::kFilterLine);
    EXPECT_EQ(Times(t, 1, VoiceDef::kAmplitudeLine), (std::vector<float>{0.0f, 220500.0f, 264600.0f}));

    // PasteAll into the current layer: one point at the edit time on lines 1-5.
    t.SetCurrentVoice(2);
    t.PasteAll(-1);
    for (int line = 1; line < VoiceDef::kNumLines; ++line)
    {
        EventEnvelope& e = *t.GetVoiceDef(2)->GetLine(line);
        ASSERT_EQ(e.Size(), 2) << line;
        EXPECT_EQ(e[1].time, 5000.0f);
        std::vector<float> const expected = line == VoiceDef::kFilterLine
                                                ? std::vector<float>{1.0f, 1.0f, 1.0f}
                                                : Values((*t.GetVoiceDef(0)->GetLine(line))[0]);
        EXPECT_EQ(Values(e[1]), expected) << line;
    }
    // Pasting again at the same time changes that point instead of adding one.
    t.PasteAll(2);
    EXPECT_EQ(t.GetVoiceDef(2)->GetLine(VoiceDef::kWaveLine)->Size(), 2);
    t.CopyAll(-7); // ignored
}

// ---------------------------------------------------------------------------------------------
// Animation time

TEST(TimelineAnimationTime, FollowsTheNewestNoteUntilItIsFree)
{
    Torvane& t = FreshInstrument();
    HeadlessHost& host = SharedHost();
    EXPECT_EQ(t.GetAnimationTime(), -1.0f);

    // A short layer: its release runs out quickly.
    t.GetVoiceDef(0)->parameters[VoiceDef::kReleaseTime] = 256.0f;
    host.NoteOn(60, 100);
    host.Render(512);
    float const playing = t.GetAnimationTime();
    EXPECT_GT(playing, 0.0f);
    host.Render(512);
    EXPECT_GT(t.GetAnimationTime(), playing);

    host.NoteOff(60);
    host.Render(64);
    float const released = t.GetAnimationTime();
    EXPECT_GT(released, playing);
    for (int i = 0; i < 100 && NotesBusy(t) > 0; ++i)
        host.Render(512);
    ASSERT_EQ(NotesBusy(t), 0);
    EXPECT_EQ(t.GetAnimationTime(), -1.0f);

    host.NoteOn(62, 100);
    host.Render(64);
    EXPECT_GE(t.GetAnimationTime(), 0.0f);
    host.NoteOff(62);
    host.Render(64);
    t.AnimationEnded();
    EXPECT_EQ(t.GetAnimationTime(), -1.0f);
    t.KillAllNotes();
}

// ---------------------------------------------------------------------------------------------
// Timing tools

TEST(TimelineTimingTools, RenderUnderTheMutexAndLeaveTheExpectedSettings)
{
    Torvane& t = FreshInstrument();
    RecordingMessageSink messages;
    bool filterWas[Torvane::kNumLayers];
    for (int layer = 0; layer < Torvane::kNumLayers; ++layer)
    {
        filterWas[layer] = layer % 2 == 0;
        t.GetVoiceDef(layer)->parameters[VoiceDef::kFilterOn].SetBool(filterWas[layer]);
    }
    // The platform's counter measures nothing: every time is 0.
    EXPECT_EQ(t.Performance_Measure(3, 4, 64), 0);
    EXPECT_EQ(t.Performance_MeasureEffects(3, 2, 9000), 0);
    EXPECT_EQ(t.Performance_MeasureFilter(2, 2, 32), 0);
    EXPECT_EQ(t.Performance_Measure(2, 2, 0), 0);
    EXPECT_EQ(static_cast<float>(t.polyphony), 2.0f);
    EXPECT_EQ(static_cast<float>(t.keyMode), 0.0f);
    for (int layer = 0; layer < Torvane::kNumLayers; ++layer)
        EXPECT_EQ(t.GetVoiceDef(layer)->parameters[VoiceDef::kFilterOn].GetBool(), filterWas[layer]);

    t.Performance_ShowTime(5000);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text, "Not implemented on Mac");

    // The menus: nothing chosen, nothing measured.
    std::vector<std::string> shown;
    ScriptedChooser chooser(
        [&](CascadeList& list, Window*, long x, long y) -> CascadeList::Item*
        {
            EXPECT_EQ(x, 50);
            EXPECT_EQ(y, 50);
            shown.push_back(list.NumItems() > 0 ? list.GetItem(0)->name : "");
            return nullptr;
        });
    t.Performance_OpenMenu();
    t.Performance_ChoosePresetAndMeasure(nullptr);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Select preset to time");
    EXPECT_EQ(messages.Messages().size(), 1u);
    t.polyphony = 8.0f;
}
