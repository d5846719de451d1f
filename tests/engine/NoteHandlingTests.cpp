// Note handling: the note stack, the three key modes, stealing, glides, sustain, all notes off,
// the key-mode and polyphony reactions, and the free-running LFO state.

#include "PlayTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using namespace play;

namespace
{

class NoteHandling : public ::testing::Test
{
protected:
    NoteHandling() : host(false), t(host.Instrument()) {}

    void Press(int key, int velocity = 100) { t.NoteOnMidiEvent(0, key, velocity, 0); }
    void Lift(int key) { t.NoteOffMidiEvent(0, key, 0); }
    void Block(long frames = 64) { RenderDirect(t, frames); }
    std::vector<int> StackKeys()
    {
        std::vector<int> keys;
        Torvane::NoteStack copy = t.GetNoteStack();
        while (copy.Size() > 0)
            keys.insert(keys.begin(), copy.Pop().key);
        return keys;
    }

    HeadlessHost host;
    Torvane& t;
};

} // namespace

// ---- note stack ----------------------------------------------------------------------------

TEST(NoteStack, PushPopRemoveAndNearestPitch)
{
    Torvane::NoteStack s;
    EXPECT_EQ(s.Pop().key, -1);
    EXPECT_EQ(s.Remove(60).note, nullptr);
    EXPECT_EQ(s.PeekLast(), nullptr);
    EXPECT_EQ(s.NearestPitch(64), 64);
    EXPECT_EQ(s.GetCurrentPortamentoPitch(), -1.0f);

    s.Push(60, 1, nullptr);
    s.Push(67, 2, nullptr);
    s.Push(60, 3, nullptr);
    EXPECT_EQ(s.NearestPitch(64), 67); // distance 3 beats 4
    EXPECT_EQ(s.NearestPitch(60), 67); // the key itself does not count
    // Remove takes the newest entry of the key.
    EXPECT_EQ(s.Remove(60).velocity, 3);
    EXPECT_EQ(s.Size(), 2);
    EXPECT_EQ(s.PeekLast()->key, 67);
    EXPECT_EQ(s.Pop().velocity, 2);
    s.Clear();
    EXPECT_EQ(s.Size(), 0);

    s.Push(62, 1, nullptr);
    s.Push(66, 1, nullptr);
    EXPECT_EQ(s.NearestPitch(64), 62); // equal distances: the first pushed
    s.Clear();
    s.Push(60, 1, nullptr);
    EXPECT_EQ(s.NearestPitch(60), 60);
}

TEST(NoteStack, StaysWithinItsCapacityAndKeepsTheNewestKeys)
{
    Torvane::NoteStack s;
    for (int i = 0; i < Torvane::kNoteStackCapacity + 44; ++i)
        s.Push(i % 128, i, nullptr);
    EXPECT_EQ(s.Size(), Torvane::kNoteStackCapacity);
    EXPECT_EQ(s.PeekLast()->velocity, Torvane::kNoteStackCapacity + 43);
    Torvane::NoteStack::NoteInfo oldest{};
    while (s.Size() > 0)
        oldest = s.Pop();
    EXPECT_EQ(oldest.velocity, 44);
}

// ---- note states ----------------------------------------------------------------------------

TEST_F(NoteHandling, NoteOffActsOnlyOnANoteThatIsOn)
{
    Press(60);
    TNote* n = NoteFor(t, 60);
    ASSERT_NE(n, nullptr);
    n->QuickRelease(0);
    EXPECT_EQ(n->GetState(), TNote::kQuickRelease);
    n->NoteOff(0, 60, 0);
    EXPECT_EQ(n->GetState(), TNote::kQuickRelease);
    n->Kill();
    n->NoteOff(0, 60, 0);
    EXPECT_EQ(n->GetState(), TNote::kFree);
    EXPECT_TRUE(n->IsAvailable());
}

TEST_F(NoteHandling, ReleasedNoteBecomesFreeWhenItsLayersFinish)
{
    Press(60);
    Block(512);
    TNote* n = NoteFor(t, 60);
    Lift(60);
    EXPECT_EQ(n->GetState(), TNote::kReleased);
    // Layers 1-3 are off: finished at once; layer 0's 256-sample release runs out in the
    // first block that takes the release time past 256.
    EXPECT_FALSE(n->IsLayerFinished(0));
    EXPECT_TRUE(n->IsLayerFinished(1));
    Block(256);
    EXPECT_EQ(n->GetState(), TNote::kReleased);
    const float age = n->GetLifeTime();
    Block(1);
    EXPECT_EQ(n->GetState(), TNote::kFree);
    EXPECT_EQ(n->GetLifeTime(), age + 1.0f); // counted in the block it became free
}

TEST_F(NoteHandling, NoteReleasedWithEveryLayerOffIsFreeAfterItsNextBlock)
{
    Press(60);
    TNote* n = NoteFor(t, 60);
    t.GetVoiceDef(0)->parameters[VoiceDef::kLayerOn] = 0.0f;
    Lift(60);
    EXPECT_EQ(n->GetState(), TNote::kReleased);
    Block(8);
    EXPECT_EQ(n->GetState(), TNote::kFree);
}

TEST_F(NoteHandling, LayerSwitchedOffWhileReleasingKeepsTheNoteUntilStolen)
{
    Press(60);
    TNote* n = NoteFor(t, 60);
    Lift(60);
    t.GetVoiceDef(0)->parameters[VoiceDef::kLayerOn] = 0.0f;
    Block(4096);
    EXPECT_EQ(n->GetState(), TNote::kReleased);
}

// ---- polyphonic mode ----------------------------------------------------------------------

TEST_F(NoteHandling, PolyphonyTwoStealsTheOldestHeldNote)
{
    t.polyphony = 2.0f;
    Press(60);
    Block();
    Press(62);
    Block();
    Press(64);
    EXPECT_EQ(NoteFor(t, 60), nullptr);
    ASSERT_NE(NoteFor(t, 62), nullptr);
    ASSERT_NE(NoteFor(t, 64), nullptr);
    EXPECT_EQ(BusyNotes(t), 2);
    // The stolen key leaves the stack on its note-off (it would otherwise stay for ever).
    EXPECT_EQ(StackKeys(), (std::vector<int>{60, 62, 64}));
    Lift(60);
    EXPECT_EQ(StackKeys(), (std::vector<int>{62, 64}));
    EXPECT_EQ(NoteFor(t, 62)->GetState(), TNote::kOn);
    EXPECT_EQ(NoteFor(t, 64)->GetState(), TNote::kOn);
}

TEST_F(NoteHandling, PolyphonyTwoStealsAReleasingNoteBeforeAHeldOne)
{
    t.polyphony = 2.0f;
    t.GetVoiceDef(0)->parameters[VoiceDef::kReleaseTime] = 100000.0f;
    Press(57);
    Block();
    Lift(57);
    Block();
    Press(59);
    Block();
    Press(60);
    EXPECT_EQ(NoteFor(t, 57), nullptr);
    EXPECT_EQ(NoteFor(t, 59)->GetState(), TNote::kOn);
    EXPECT_EQ(NoteFor(t, 60)->GetState(), TNote::kOn);
}

TEST_F(NoteHandling, QueriesPickTheOldestOfTheirKindLowestIndexOnTies)
{
    EXPECT_EQ(t.GetOldestNote(), -1);
    Press(60);
    Press(62); // same age as 60
    EXPECT_EQ(t.GetOldestNote(), 0);
    Block();
    Press(64);
    t.GetTNote(1)->QuickRelease(0);
    EXPECT_EQ(t.GetOldestNoteExcludeQuickReleasing(), 0);
    t.GetTNote(0)->QuickRelease(0);
    EXPECT_EQ(t.GetOldestNoteExcludeQuickReleasing(), 2);
    EXPECT_EQ(t.GetOldestReleasingNote(), -1);
    t.GetTNote(2)->Release(0);
    EXPECT_EQ(t.GetOldestReleasingNote(), 2);
}

TEST_F(NoteHandling, PolyphonicGlideStartsFromTheNearestHeldKey)
{
    t.portamentoTime = 0.5f;
    Press(60);
    Press(67);
    Press(64);
    TNote* n = NoteFor(t, 64);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->GetCurrentPortamentoPitch(), 67.0f);
    EXPECT_TRUE(n->GetVoice(0)->IsGliding());

    t.AllNotesOffMidiEvent(0);
    t.KillAllNotes();
    Press(62);
    Press(66);
    Press(64);
    EXPECT_EQ(NoteFor(t, 64)->GetCurrentPortamentoPitch(), 62.0f);
}

TEST_F(NoteHandling, PolyphonicGlideWithNoKeyHeldStartsFromTheLastPoppedNote)
{
    t.portamentoTime = 0.2f;
    Press(60);
    Lift(60); // a plain note-off removes the key without recording a released note
    Press(65);
    EXPECT_FALSE(NoteFor(t, 65)->GetVoice(0)->IsGliding());
    t.AllNotesOffMidiEvent(0); // pops 65: the last released note
    Press(70);
    EXPECT_TRUE(NoteFor(t, 70)->GetVoice(0)->IsGliding());
    EXPECT_EQ(NoteFor(t, 70)->GetCurrentPortamentoPitch(), 65.0f);
    // Without a portamento time there is no glide.
    t.portamentoTime = 0.0f;
    t.AllNotesOffMidiEvent(0);
    Press(72);
    EXPECT_FALSE(NoteFor(t, 72)->GetVoice(0)->IsGliding());
}

// ---- single-voice retrigger ---------------------------------------------------------------

TEST_F(NoteHandling, RetriggerStartsANewNoteAndReturnsToTheHeldKey)
{
    t.keyMode = 1.0f;
    Press(60, 100);
    TNote* first = NoteFor(t, 60);
    Block();
    Press(64, 90);
    EXPECT_EQ(first->GetState(), TNote::kQuickRelease);
    TNote* second = NoteFor(t, 64);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(second->GetState(), TNote::kOn);

    Lift(64);
    EXPECT_EQ(second->GetState(), TNote::kQuickRelease);
    TNote* again = nullptr;
    for (int i = 0; i < t.GetPoolSize(); ++i)
        if (t.GetTNote(i)->GetState() == TNote::kOn) again = t.GetTNote(i);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->GetPitch(), 60);
    EXPECT_EQ(again->GetVelocity(), 100);
    EXPECT_EQ(StackKeys(), (std::vector<int>{60}));
}

TEST_F(NoteHandling, RetriggerReleasingTheOlderKeyOnlyLeavesTheStack)
{
    t.keyMode = 1.0f;
    Press(60);
    Press(64);
    Lift(60);
    EXPECT_EQ(NoteFor(t, 64)->GetState(), TNote::kOn);
    EXPECT_EQ(StackKeys(), (std::vector<int>{64}));
    Lift(64);
    EXPECT_EQ(NoteFor(t, 64)->GetState(), TNote::kReleased);
    EXPECT_EQ(t.GetNoteStack().Size(), 0);
}

TEST_F(NoteHandling, RetriggerKeepsAtMostTwoNotesFading)
{
    t.keyMode = 1.0f;
    Press(60);
    Press(62);
    Press(64);
    Press(65);
    int fading = 0;
    for (int i = 0; i < t.GetPoolSize(); ++i)
        fading += t.GetTNote(i)->GetState() == TNote::kQuickRelease;
    EXPECT_EQ(fading, 2);
    EXPECT_EQ(BusyNotes(t), 3);
    EXPECT_EQ(NoteFor(t, 65)->GetState(), TNote::kOn);
}

// ---- single-voice legato -------------------------------------------------------------------

TEST_F(NoteHandling, LegatoGlidesOneNoteBetweenKeys)
{
    t.keyMode = 2.0f;
    Press(60);
    TNote* n = NoteFor(t, 60);
    Block();
    Press(64);
    EXPECT_EQ(BusyNotes(t), 1);
    EXPECT_EQ(n->GetPitch(), 64);
    EXPECT_EQ(n->GetState(), TNote::kOn);
    EXPECT_TRUE(n->GetVoice(0)->IsGliding());
    Block(1000);
    EXPECT_FALSE(n->GetVoice(0)->IsGliding());

    Lift(64);
    EXPECT_EQ(n->GetPitch(), 60);
    EXPECT_EQ(n->GetState(), TNote::kOn);
    EXPECT_TRUE(n->GetVoice(0)->IsGliding());
    EXPECT_EQ(StackKeys(), (std::vector<int>{60}));

    Lift(60);
    EXPECT_EQ(n->GetState(), TNote::kReleased);
    EXPECT_EQ(t.GetNoteStack().Size(), 0);
}

TEST_F(NoteHandling, LegatoWithoutPortamentoTimeGlidesOver17SamplesForTwoSemitones)
{
    t.keyMode = 2.0f;
    Press(60);
    Press(62);
    Voice* v = NoteFor(t, 62)->GetVoice(0);
    Block(17);
    EXPECT_TRUE(v->IsGliding());
    Block(1);
    EXPECT_FALSE(v->IsGliding());
}

TEST_F(NoteHandling, LegatoAfterTheKeyModeSwitchStealsTheFadingNote)
{
    t.keyMode = 2.0f; // active note count 1
    EXPECT_EQ(t.GetActiveNoteCount(), 1);
    Press(60);
    TNote* first = NoteFor(t, 60);
    Lift(60);
    Press(62);
    // The clearing pass quick-released the first note, and the new note took its slot.
    EXPECT_EQ(BusyNotes(t), 1);
    EXPECT_EQ(first->GetPitch(), 62);
    EXPECT_EQ(first->GetState(), TNote::kOn);

    // With a later polyphony change the count is that value: the fading note stays.
    t.polyphony = 8.0f;
    EXPECT_EQ(t.GetActiveNoteCount(), 8);
    Lift(62);
    Press(64);
    EXPECT_EQ(BusyNotes(t), 2);
    EXPECT_EQ(first->GetState(), TNote::kQuickRelease);
}

// ---- portamento ----------------------------------------------------------------------------

TEST_F(NoteHandling, PortamentoDurations)
{
    Press(60);
    TNote* n = NoteFor(t, 60);
    n->Portamento(60.0f, 0.0f, 0, 62);
    EXPECT_EQ(n->GetPitch(), 62);
    Voice* v = n->GetVoice(0);
    EXPECT_EQ(v->GetCurrentPortamentoPitch(), 60.0f);
    Block(17);
    EXPECT_TRUE(v->IsGliding());
    Block(1);
    EXPECT_FALSE(v->IsGliding());
    EXPECT_EQ(v->GetCurrentPortamentoPitch(), 62.0f);

    // Time 1.0 over one semitone: trunc(8810 x 1.001) = 8818 samples, from the offset on.
    n->Portamento(61.0f, 1.0f, 100, -1);
    EXPECT_EQ(n->GetPitch(), 62);
    Block(8918);
    EXPECT_TRUE(v->IsGliding());
    Block(1);
    EXPECT_FALSE(v->IsGliding());
}

TEST_F(NoteHandling, GlideShapesTheOscillatorPitch)
{
    Press(60);
    TNote* n = NoteFor(t, 60);
    n->Portamento(60.0f, 0.0f, 0, 62);
    Block(64);
    Envelope const& f = n->GetVoice(0)->GetOscillator(0).Frequency();
    // The pitch bend row multiplies by 1 at rest; the glide runs from 60 to 62 over 17 samples.
    ASSERT_GE(f.Size(), 3);
    EXPECT_EQ(f[0].time, 0.0f);
    EXPECT_NEAR(f[0].values[0], NoteToFreq(60.0f), 1e-3f);
    EXPECT_NEAR(f.ValueAtTime(17.0f, 0, nullptr, false), NoteToFreq(62.0f), 1e-3f);
    EXPECT_NEAR(f.ValueAtTime(64.0f, 0, nullptr, false), NoteToFreq(62.0f), 1e-3f);
    EXPECT_NEAR(f.ValueAtTime(8.5f, 0, nullptr, false), 0.5f * (NoteToFreq(60.0f) + NoteToFreq(62.0f)),
                1e-3f);
}

// ---- sustain and all notes off -------------------------------------------------------------

TEST_F(NoteHandling, SustainHoldsReleasedKeysUntilThePedalLifts)
{
    host.ControlChange(64, 127);
    host.NoteOn(60, 100);
    host.Render(64);
    host.NoteOff(60);
    host.Render(512);
    TNote* n = NoteFor(t, 60);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->GetState(), TNote::kSustained);
    EXPECT_GT(host.Peak(), 0.05f);
    EXPECT_EQ(t.GetNoteStack().Size(), 0);
    host.ControlChange(64, 0);
    host.Render(64);
    EXPECT_EQ(n->GetState(), TNote::kReleased);
}

TEST_F(NoteHandling, AllNotesOffReleasesTheHeldKeys)
{
    Press(60);
    Press(64);
    Press(67);
    host.ControlChange(123, 0);
    host.Render(16);
    EXPECT_EQ(NoteFor(t, 60)->GetState(), TNote::kReleased);
    EXPECT_EQ(NoteFor(t, 64)->GetState(), TNote::kReleased);
    EXPECT_EQ(NoteFor(t, 67)->GetState(), TNote::kReleased);
    EXPECT_EQ(t.GetNoteStack().Size(), 0);
}

TEST_F(NoteHandling, AllNotesOffWithThePedalDownHoldsUntilItLifts)
{
    Press(60);
    Press(64);
    t.SustainOnMidiEvent(0, 0);
    t.AllNotesOffMidiEvent(0);
    EXPECT_EQ(NoteFor(t, 60)->GetState(), TNote::kSustained);
    Block();
    EXPECT_EQ(NoteFor(t, 64)->GetState(), TNote::kSustained);
    t.SustainOffMidiEvent(0, 0);
    Block();
    EXPECT_EQ(NoteFor(t, 60)->GetState(), TNote::kReleased);
    EXPECT_EQ(NoteFor(t, 64)->GetState(), TNote::kReleased);
}

TEST_F(NoteHandling, AllNotesOffLeavesAFadingNoteFading)
{
    t.keyMode = 1.0f;
    Press(60);
    TNote* first = NoteFor(t, 60);
    Block(200);
    Press(64);
    Block(200);
    const float level = first->GetVoice(0)->GetReleaseLevel();
    EXPECT_LT(level, 1.0f);
    t.AllNotesOffMidiEvent(0);
    // The quick-releasing note does not come back to full level.
    EXPECT_EQ(first->GetState(), TNote::kQuickRelease);
    EXPECT_EQ(first->GetVoice(0)->GetReleaseLevel(), level);
    EXPECT_EQ(NoteFor(t, 64)->GetState(), TNote::kReleased);
}

// ---- reactions ------------------------------------------------------------------------------

TEST_F(NoteHandling, KeyModeChangeKillsEveryNoteAndSetsTheNoteCount)
{
    Press(60);
    Press(64);
    t.keyMode = 1.0f;
    EXPECT_EQ(BusyNotes(t), 0);
    EXPECT_EQ(t.GetNoteStack().Size(), 0);
    EXPECT_EQ(t.GetActiveNoteCount(), 1);
    t.polyphony = 4.0f;
    EXPECT_EQ(t.GetActiveNoteCount(), 4);
    t.keyMode = 2.0f;
    EXPECT_EQ(t.GetActiveNoteCount(), 1);
    t.keyMode = 0.0f;
    EXPECT_EQ(t.GetActiveNoteCount(), 4);

    // Under the refresh guard the reaction does not run, on the guarding thread only.
    Press(60);
    {
        Torvane::RefreshGuard guard(t);
        EXPECT_TRUE(t.IsRefreshing());
        bool elsewhere = true;
        std::thread([&] { elsewhere = t.IsRefreshing(); }).join();
        EXPECT_FALSE(elsewhere);
        t.keyMode.RefreshListeners();
    }
    EXPECT_FALSE(t.IsRefreshing());
    EXPECT_EQ(BusyNotes(t), 1);
}

TEST_F(NoteHandling, NotesWaitForTheEngineWhileItIsOff)
{
    t.enabled = 0.0f;
    Press(60);
    EXPECT_EQ(BusyNotes(t), 0);
    EXPECT_EQ(t.GetNoteStack().Size(), 0);
    t.enabled = 1.0f;
    Press(60);
    EXPECT_EQ(BusyNotes(t), 1);
}

// ---- free-running LFO state ----------------------------------------------------------------

TEST_F(NoteHandling, FreeRunningLFOsCarryTheirPhaseFromNoteToNote)
{
    VoiceDef* def = t.GetVoiceDef(0);
    def->parameters[VoiceDef::kLFO1FreeRunning] = 1.0f;
    def->parameters[VoiceDef::kLFO2FreeRunning] = 1.0f;
    // Both LFOs run: LFO 1 -> pitch, LFO 2 -> pan.
    t.SetModulationSource(0, kModSourceLFO1, 0);
    t.SetModulationTarget(0, kModTargetPitch, 0);
    t.SetModulationSource(1, kModSourceLFO2, 0);
    t.SetModulationTarget(1, kModTargetPan, 0);
    EXPECT_FALSE(t.HaveLFO1FreeRunningPhase());

    Press(60);
    TNote* a = NoteFor(t, 60);
    EXPECT_EQ(a->GetVoice(0)->GetLFO1()->GetPhase(), 0.0f);
    Block(3000);
    const float live1 = a->GetVoice(0)->GetLFO1()->GetPhase();
    ASSERT_GT(live1, 0.0f);
    // A second note while the first is held takes the live phases.
    Press(64);
    EXPECT_EQ(NoteFor(t, 64)->GetVoice(0)->GetLFO1()->GetPhase(), live1);
    Lift(64);
    Block(1000);
    const float at1 = a->GetVoice(0)->GetLFO1()->GetPhase();
    const float at2 = a->GetVoice(0)->GetLFO2()->GetPhase();
    Lift(60); // the last key: its phases are kept
    EXPECT_TRUE(t.HaveLFO1FreeRunningPhase());
    EXPECT_TRUE(t.HaveLFO2FreeRunningPhase());
    Block(1000);
    Press(67);
    TNote* c = NoteFor(t, 67);
    EXPECT_EQ(c->GetVoice(0)->GetLFO1()->GetPhase(), at1);
    EXPECT_EQ(c->GetVoice(0)->GetLFO2()->GetPhase(), at2);
}
