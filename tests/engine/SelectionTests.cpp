// Operations on a multiple selection of breakpoints of the current layer.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "EditingTestSupport.h"

using namespace editing;

namespace
{

constexpr int kWave = VoiceDef::kWaveLine;
constexpr int kAmp = VoiceDef::kAmplitudeLine;

void SetAmplitudes(Torvane& t, std::vector<float> const& values)
{
    EventEnvelope& e = *t.GetVoiceDef(-1)->GetLine(kAmp);
    for (std::size_t i = 0; i < values.size(); ++i)
        e[static_cast<long>(i)].values[0] = values[i];
}

// Appends a copy of the line's point `index` (same time and values).
void Duplicate(Torvane& t, int line, long index)
{
    EventEnvelope& e = *t.GetVoiceDef(-1)->GetLine(line);
    e.GetBreakpoints().Insert(index + 1, e[index]);
}

std::vector<float> RecordTimes(std::vector<MultipleSelectionBreakpoint> const& sel)
{
    std::vector<float> times;
    for (auto const& r : sel)
        times.push_back(r.time);
    return times;
}

// Every record still matches a breakpoint of the current layer.
void ExpectRecordsMatch(Torvane& t, std::vector<MultipleSelectionBreakpoint>& sel)
{
    for (auto& r : sel)
        EXPECT_FALSE(t.FindEventBreakpoints(&r).empty()) << "line " << r.line << " time " << r.time;
}

} // namespace

TEST(SelectionStart, IsTheEarliestRecordAndZeroWhenEmpty)
{
    Torvane& t = FreshInstrument();
    std::vector<MultipleSelectionBreakpoint> sel;
    EXPECT_EQ(t.MultipleSelectionStartTime(sel), 0.0f);
    EXPECT_EQ(t.MultipleSelectionStartAtZero(sel), 0.0f);
    sel.resize(2);
    sel[0].time = 3000.0f;
    sel[1].time = 1000.0f;
    EXPECT_EQ(t.MultipleSelectionStartTime(sel), 1000.0f);
    EXPECT_EQ(t.MultipleSelectionStartAtZero(sel), -1000.0f);
    EXPECT_EQ(RecordTimes(sel), (std::vector<float>{2000.0f, 0.0f}));
    EXPECT_EQ(t.MultipleSelectionStartAtZero(sel), 0.0f);
}

TEST(SelectionDrag, StopsAtZeroAndKeepsLinesInOrder)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, kWave, {0.0f, 1000.0f, 3000.0f});
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, kWave, 1), Record(t, kWave, 2)};
    t.DragSelection(sel, -2000.0f);
    EXPECT_EQ(RecordTimes(sel), (std::vector<float>{0.0f, 2000.0f}));
    EXPECT_EQ(Times(t, 0, kWave), (std::vector<float>{0.0f, 0.0f, 2000.0f}));
    // The line's own start stays first.
    EXPECT_EQ((*t.GetVoiceDef(0)->GetLine(kWave))[0].values[0], 0.5f);
    ExpectRecordsMatch(t, sel);

    // A selected point at 0 stops every drag to the left, and never moves itself.
    t.DragSelection(sel, -500.0f);
    EXPECT_EQ(RecordTimes(sel), (std::vector<float>{0.0f, 2000.0f}));
    t.DragSelection(sel, 1500.0f);
    EXPECT_EQ(RecordTimes(sel), (std::vector<float>{0.0f, 3500.0f}));
    EXPECT_EQ(Times(t, 0, kWave), (std::vector<float>{0.0f, 0.0f, 3500.0f}));
}

TEST(SelectionDrag, PassingANeighbourReSortsTheLine)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, kWave, {0.0f, 1000.0f, 3000.0f});
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, kWave, 1)};
    t.DragSelection(sel, 2500.0f);
    EXPECT_EQ(Times(t, 0, kWave), (std::vector<float>{0.0f, 3000.0f, 3500.0f}));
    EXPECT_EQ((*t.GetVoiceDef(0)->GetLine(kWave))[2].values[0], 1.5f);
    ExpectRecordsMatch(t, sel);
    // Only the current layer is edited.
    EXPECT_EQ(Times(t, 1, kWave), std::vector<float>{0.0f});
}

TEST(SelectionStretch, ScalesFromTheStartAndPairsEqualPoints)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, kWave, {0.0f, 1000.0f, 3000.0f});
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, kWave, 1), Record(t, kWave, 2)};
    t.TimeStretchSelection(sel, 1.5f);
    EXPECT_EQ(RecordTimes(sel), (std::vector<float>{1000.0f, 4000.0f}));
    EXPECT_EQ(Times(t, 0, kWave), (std::vector<float>{0.0f, 1000.0f, 4000.0f}));

    // Two equal points: each record moves a point of its own.
    Duplicate(t, kWave, 2);
    sel.push_back(Record(t, kWave, 3));
    t.TimeStretchSelection(sel, 0.5f);
    EXPECT_EQ(RecordTimes(sel), (std::vector<float>{1000.0f, 2500.0f, 2500.0f}));
    EXPECT_EQ(Times(t, 0, kWave), (std::vector<float>{0.0f, 1000.0f, 2500.0f, 2500.0f}));
    ExpectRecordsMatch(t, sel);

    // A negative factor never takes a point below 0; a bad one changes nothing.
    t.TimeStretchSelection(sel, -1.0f);
    EXPECT_EQ(RecordTimes(sel), (std::vector<float>{1000.0f, 0.0f, 0.0f}));
    EXPECT_EQ(Times(t, 0, kWave), (std::vector<float>{0.0f, 0.0f, 0.0f, 1000.0f}));
    t.TimeStretchSelection(sel, std::nanf(""));
    t.TimeStretchSelection(sel, INFINITY);
    EXPECT_EQ(RecordTimes(sel), (std::vector<float>{1000.0f, 0.0f, 0.0f}));
}

TEST(SelectionAmplitude, OneChangeKeepsEveryPointWithinZeroToOne)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, kAmp, {0.0f, 1000.0f, 2000.0f});
    SetAmplitudes(t, {0.1f, 0.9f, 0.5f});
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, kAmp, 1), Record(t, kAmp, 2), Record(t, kWave, 0)};
    t.ChangeAmplitudeOfSelection(sel, 0.3f);
    EventEnvelope& amp = *t.GetVoiceDef(0)->GetLine(kAmp);
    EXPECT_FLOAT_EQ(amp[1].values[0], 1.0f);
    EXPECT_FLOAT_EQ(amp[2].values[0], 0.6f);
    EXPECT_FLOAT_EQ(amp[0].values[0], 0.1f);
    EXPECT_EQ(t.GetMultipleSelection(), &sel);
    ExpectRecordsMatch(t, sel);

    t.ChangeAmplitudeOfSelection(sel, -2.0f);
    EXPECT_FLOAT_EQ(amp[1].values[0], 0.4f);
    EXPECT_FLOAT_EQ(amp[2].values[0], 0.0f);
    ExpectRecordsMatch(t, sel);
    t.ChangeAmplitudeOfSelection(sel, std::nanf(""));
    EXPECT_FLOAT_EQ(amp[1].values[0], 0.4f);
}

TEST(SelectionAmplitude, EqualPointsChangeOnceEach)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, kAmp, {0.0f, 1000.0f});
    SetAmplitudes(t, {0.2f, 0.5f});
    Duplicate(t, kAmp, 1);
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, kAmp, 1), Record(t, kAmp, 2)};
    t.ChangeAmplitudeOfSelection(sel, 0.25f);
    EventEnvelope& amp = *t.GetVoiceDef(0)->GetLine(kAmp);
    EXPECT_FLOAT_EQ(amp[1].values[0], 0.75f);
    EXPECT_FLOAT_EQ(amp[2].values[0], 0.75f);
    ExpectRecordsMatch(t, sel);
}

TEST(SelectionDelete, KeepsTheStartOfALineAndItsRecord)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, kWave, {0.0f, 1000.0f, 3000.0f});
    MultipleSelectionBreakpoint missing = Record(t, kWave, 1);
    missing.values[0] = 42.0f;
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, kWave, 0), Record(t, kWave, 1), missing,
                                                 Record(t, kWave, 2)};
    AttachedEditor editor(t);
    t.NoteOnMidiEvent(0, 60, 100, 0);
    t.DeleteSelection(sel);
    EXPECT_EQ(Times(t, 0, kWave), std::vector<float>{0.0f});
    ASSERT_EQ(sel.size(), 2u);
    EXPECT_EQ(sel[0].time, 0.0f);
    EXPECT_EQ(sel[1].values[0], 42.0f);
    // The editor's controls were refreshed without killing the note.
    EXPECT_EQ(NotesOn(t), 1);
}

TEST(SelectionRelativeMode, MovingTheControlAndBackRestoresTheValues)
{
    Torvane& t = FreshInstrument();
    int const filter = VoiceDef::kFilterLine;
    SetPoints(t, 0, filter, {0.0f, 1000.0f, 2000.0f});
    EventEnvelope& line = *t.GetVoiceDef(0)->GetLine(filter);
    line[1].values[0] = 0.3f;
    line[2].values[0] = 0.6f;
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, filter, 1), Record(t, filter, 2)};
    t.SetMultipleSelection(&sel);
    t.multipleSelectionMode = 1.0f;

    t.filterCutoffParam = 0.75f;
    EXPECT_FLOAT_EQ(line[1].values[0], 0.55f);
    EXPECT_FLOAT_EQ(line[2].values[0], 0.85f);
    EXPECT_FLOAT_EQ(t.MultipleSelectionGetRelativeChange(filter, 0), 0.25f);
    ExpectRecordsMatch(t, sel);
    t.filterCutoffParam = 0.5f;
    EXPECT_FLOAT_EQ(line[1].values[0], 0.3f);
    EXPECT_FLOAT_EQ(line[2].values[0], 0.6f);
    ExpectRecordsMatch(t, sel);

    // Absolute mode sets the value itself.
    t.multipleSelectionMode = 2.0f;
    t.filterCutoffParam = 0.2f;
    EXPECT_FLOAT_EQ(line[1].values[0], 0.2f);
    EXPECT_FLOAT_EQ(line[2].values[0], 0.2f);
    EXPECT_FLOAT_EQ(line[0].values[0], 0.5f);
    ExpectRecordsMatch(t, sel);
    t.multipleSelectionMode = 0.0f;
    t.SetMultipleSelection(nullptr);
}

TEST(SelectionRemembered, IsForgottenWhenTheEditorLeaves)
{
    Torvane& t = FreshInstrument();
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, kWave, 0)};
    {
        AttachedEditor editor(t);
        t.SetMultipleSelection(&sel);
        EXPECT_EQ(t.GetMultipleSelection(), &sel);
    }
    EXPECT_EQ(t.GetMultipleSelection(), nullptr);
}

TEST(SelectionRemembered, IsForgottenAndTheEditorDeselectsWhenThePatchIsReset)
{
    Torvane& t = FreshInstrument();
    AttachedEditor editor(t);
    std::vector<MultipleSelectionBreakpoint> sel{Record(t, kWave, 0)};
    t.SetMultipleSelection(&sel);
    editor.Drain();
    int const before = editor.gui.deselectBreakpoints.load();
    t.DefaultPatch();
    EXPECT_EQ(t.GetMultipleSelection(), nullptr);
    editor.Drain();
    EXPECT_EQ(editor.gui.deselectBreakpoints.load(), before + 1);
    EXPECT_EQ(editor.gui.violations.load(), 0);
}

TEST(SelectionHostileRecords, ChangeNothingThatIsNotTheirs)
{
    Torvane& t = FreshInstrument();
    SetPoints(t, 0, kWave, {0.0f, 1000.0f});
    std::vector<MultipleSelectionBreakpoint> sel(6);
    sel[0].line = 7;
    sel[0].time = 1000.0f;
    sel[1].line = -1;
    sel[1].time = 1000.0f;
    sel[2] = Record(t, kWave, 1);
    sel[2].values.resize(40, 0.5f); // more values than the line holds
    sel[3] = Record(t, kWave, 1);
    sel[3].time = std::nanf("");
    sel[4].line = kAmp; // no values at all: no amplitude to change
    sel[4].time = 0.0f;
    sel[5].line = 1000000;
    sel[5].time = -5.0f;
    std::vector<MultipleSelectionBreakpoint> const before = sel;

    t.DragSelection(sel, 100.0f);
    t.DragSelection(sel, -100.0f);
    t.TimeStretchSelection(sel, 2.0f);
    t.ChangeAmplitudeOfSelection(sel, 0.1f);
    t.DeleteSelection(sel);
    t.SetMultipleSelection(&sel);
    t.multipleSelectionMode = 1.0f;
    t.vectorXParam = 0.25f;
    t.multipleSelectionMode = 0.0f;
    t.SetMultipleSelection(nullptr);

    EXPECT_EQ(Times(t, 0, kWave), (std::vector<float>{0.0f, 1000.0f}));
    EXPECT_EQ(Times(t, 0, kAmp), (std::vector<float>{0.0f, 220500.0f, 264600.0f}));
    EXPECT_FLOAT_EQ((*t.GetVoiceDef(0)->GetLine(kAmp))[0].values[0], 0.7f);
    ASSERT_EQ(sel.size(), before.size());
    EXPECT_EQ(sel[2].values, before[2].values);
}
