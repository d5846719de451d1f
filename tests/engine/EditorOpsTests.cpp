// The instrument operations the editors call on layer definitions: locked copies of lines,
// loop region and waves, loop and breakpoint changes, wave rebuilds, line and layer copies.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "EditingTestSupport.h"

using namespace editing;
namespace fs = std::filesystem;

namespace
{

// Starts each test from the shared instrument's editing state and puts its patch back after.
class EditorOps : public ::testing::Test
{
protected:
    void SetUp() override
    {
        t = &FreshInstrument();
        int size = 0;
        char const* data = static_cast<char const*>(t->SavePluginState(size));
        saved.assign(data, data + size);
    }
    void TearDown() override
    {
        t->KillAllNotes();
        t->AnimationEnded();
        t->timeFreeze.SetBool(false);
        ASSERT_TRUE(t->RestorePatchState(saved.data(), static_cast<int>(saved.size())));
    }

    Torvane* t = nullptr;
    std::string saved;
};

// ---------------------------------------------------------------------------------------------
// Loop region, timeline copy, breakpoints

TEST_F(EditorOps, LoopFlagAndMarkersKeepTheirOrderAndRefuseBadValues)
{
    t->SetCurrentVoice(2);
    t->SetLoopFlag(-1, true);
    EXPECT_TRUE(t->GetLoopFlag(2));
    EXPECT_FALSE(t->GetLoopFlag(1));
    EXPECT_FALSE(t->GetLoopFlag(7));

    EXPECT_TRUE(t->SetLoopRegion(2, 1000.7f, 5000.0f));
    EXPECT_EQ(t->SetLoopStart(2, 9000.0f), 5000.0f); // stops at the end marker
    EXPECT_EQ(t->SetLoopStart(2, -30.0f), 0.0f);
    EXPECT_EQ(t->SetLoopEnd(2, -30.0f), 0.0f); // stops at the start marker
    EXPECT_EQ(t->SetLoopEnd(2, 7000.9f), 7000.0f);
    EXPECT_EQ(t->SetLoopStart(2, std::nanf("")), 0.0f);
    EXPECT_EQ(t->SetLoopEnd(2, INFINITY), 7000.0f);
    EXPECT_FALSE(t->SetLoopRegion(2, 3000.0f, 2000.0f));
    EXPECT_FALSE(t->SetLoopRegion(2, 0.0f, std::nanf("")));
    EXPECT_FALSE(t->SetLoopRegion(5, 0.0f, 100.0f));

    Torvane::TimelineSnapshot s;
    ASSERT_TRUE(t->CopyTimeline(-1, s));
    EXPECT_EQ(s.layer, 2);
    EXPECT_TRUE(s.looping);
    EXPECT_EQ(s.loopStart, 0.0f);
    EXPECT_EQ(s.loopEnd, 7000.0f);
}

TEST_F(EditorOps, ASoundingVoiceTakesALoopSetWhileItPlays)
{
    HeadlessHost& host = SharedHost();
    host.NoteOn(60, 100);
    host.Render(512);
    ASSERT_TRUE(t->SetLoopRegion(0, 0.0f, 4000.0f));
    t->SetLoopFlag(0, true);
    for (int i = 0; i < 40; ++i)
        host.Render(512);
    float const looped = t->GetAnimationTime();
    EXPECT_GE(looped, 0.0f);
    EXPECT_LE(looped, 4000.0f);

    t->SetLoopFlag(0, false);
    for (int i = 0; i < 20; ++i)
        host.Render(512);
    EXPECT_GT(t->GetAnimationTime(), 4000.0f);
    host.NoteOff(60);
}

TEST_F(EditorOps, TheTimelineCopyHoldsTheLinesAndIsRefilled)
{
    SetPoints(*t, 1, VoiceDef::kFilterLine, {0.0f, 100.0f, 200.0f});
    Torvane::TimelineSnapshot s;
    ASSERT_TRUE(t->CopyTimeline(1, s));
    EXPECT_EQ(s.layer, 1);
    ASSERT_EQ(s.lines.size(), 6u);
    ASSERT_EQ(s.lines[VoiceDef::kFilterLine].Size(), 3);
    EXPECT_EQ(s.lines[VoiceDef::kFilterLine][2].time, 200.0f);
    EXPECT_EQ(Values(s.lines[VoiceDef::kFilterLine][2]), (std::vector<float>{2.5f, 2.5f, 2.5f}));
    EXPECT_EQ(s.lines[VoiceDef::kModulationLine].numValues, 23);

    // Refilled after the layer changed: the copy follows, the layer's own points are not shared.
    SetPoints(*t, 1, VoiceDef::kFilterLine, {0.0f});
    ASSERT_TRUE(t->CopyTimeline(1, s));
    EXPECT_EQ(s.lines[VoiceDef::kFilterLine].Size(), 1);
    s.lines[VoiceDef::kFilterLine][0].values[0] = 99.0f;
    EXPECT_EQ((*t->GetVoiceDef(1)->GetLine(VoiceDef::kFilterLine))[0].values[0], 0.5f);
    EXPECT_FALSE(t->CopyTimeline(4, s));
}

TEST_F(EditorOps, CreateBreakpointReturnsTheIndexOfANewOrExistingPoint)
{
    SetPoints(*t, 0, VoiceDef::kFilterLine, {0.0f, 1000.0f, 2000.0f});
    EventEnvelope& filter = *t->GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine);
    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, 1500.7f), 2);
    ASSERT_EQ(filter.Size(), 4);
    EXPECT_EQ(filter[2].time, 1500.0f);
    EXPECT_EQ(Values(filter[2]), (std::vector<float>{2.0f, 2.0f, 2.0f})); // interpolated
    // At an existing point's time: that point, its first value set.
    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, 1500.0f, 0.25f), 2);
    EXPECT_EQ(filter.Size(), 4);
    EXPECT_EQ(Values(filter[2]), (std::vector<float>{0.25f, 2.0f, 2.0f}));
    EXPECT_EQ(t->CreateBreakpoint(-1, VoiceDef::kAmplitudeLine, 300000.0f, 0.5f), 3);
    EXPECT_EQ((*t->GetVoiceDef(0)->GetLine(0))[3].values[0], 0.5f);

    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, -20.0f), 0);
    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, 500.0f, std::nanf("")), -1);
    EXPECT_EQ(t->CreateBreakpoint(0, VoiceDef::kFilterLine, INFINITY), -1);
    EXPECT_EQ(t->CreateBreakpoint(0, 6, 500.0f), -1);
    EXPECT_EQ(t->CreateBreakpoint(4, VoiceDef::kFilterLine, 500.0f), -1);
    EXPECT_EQ(Times(*t, 0, VoiceDef::kFilterLine), (std::vector<float>{0.0f, 1000.0f, 1500.0f, 2000.0f}));
}

TEST_F(EditorOps, BothSetEventFormsAgreeWhileANoteIsFollowed)
{
    AttachedEditor editor(*t);
    t->animationEnabled.SetBool(true);
    SetPoints(*t, 0, VoiceDef::kFilterLine, {0.0f, 1000.0f});
    HeadlessHost& host = SharedHost();
    host.NoteOn(60, 100);
    host.Render(256);
    ASSERT_GE(t->GetAnimationTime(), 0.0f); // the note is followed

    EventEnvelope& filter = *t->GetVoiceDef(0)->GetLine(VoiceDef::kFilterLine);
    t->SetEvent(0, VoiceDef::kFilterLine, 0, 1, 0.9f);
    EXPECT_FALSE(t->SetEvent(0, VoiceDef::kFilterLine, 0, 0.8f));
    EXPECT_EQ(filter[1].values[0], 1.5f);
    EXPECT_EQ(filter[0].values[0], 0.5f);

    t->timeFreeze.SetBool(true);
    t->SetEvent(0, VoiceDef::kFilterLine, 0, 1, 0.9f);
    t->SetEvent(0, VoiceDef::kFilterLine, 0, 0.8f);
    EXPECT_EQ(filter[1].values[0], 0.9f);
    EXPECT_EQ(filter[0].values[0], 0.8f);
    host.NoteOff(60);
}

} // namespace
