// What a load does to the sound and what the host hears of it: a refused load changes nothing
// audible, a load plays the old patch until its swap, overlapping loads keep the engine off until
// the last swap ends, and the host hears of each parameter changed by a load the user chose
// once, after the swap, and of none that its own restore changed.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/TNote.h"
#include "engine/Torvane.h"
#include "support/RecordingMessageSink.h"
#include "support/TemporaryDataHome.h"
#include "support/engine/BusyPatch.h"
#include "support/engine/HeadlessHost.h"
#include "vst/VstAbi.h"

namespace
{

using Block = std::vector<unsigned char>;

// Another patch than the busy one: the edited busy patch with custom waves, so that staging it
// builds waves.
Block OtherPatch()
{
    Torvane source(nullptr);
    MakeBusyPatch(source, BusyPatch::kEdited);
    for (int slot = 0; slot < 4; ++slot)
    {
        std::vector<float> amps(48);
        for (std::size_t h = 0; h < amps.size(); ++h)
            amps[h] = 1.0f / static_cast<float>(h + 1 + static_cast<std::size_t>(slot));
        source.GetVoiceDef(slot)->waveDef.CreateWithIFFT(slot, static_cast<long>(amps.size()), amps.data(),
                                                         nullptr);
    }
    return SavedState(source);
}

bool AnyNoteBusy(Torvane& t)
{
    for (int i = 0; i < 16; ++i)
        if (TNote* n = t.GetTNote(i); n != nullptr && n->GetState() != TNote::kFree) return true;
    return false;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The sound

TEST(PatchLoad, ARefusedRestoreKeepsAHeldNoteSoundingSampleForSample)
{
    TemporaryDataHome home;
    Block const other = OtherPatch();
    struct Case
    {
        char const* what;
        Block block;
    };
    std::vector<Case> cases;
    cases.push_back({"cut short by a byte", Block(other.begin(), other.end() - 1)});
    Block key = other;
    auto const at = std::search(key.begin(), key.end(), "TORVANE_STATE", "TORVANE_STATE" + 13);
    ASSERT_NE(at, key.end());
    *at = 'X';
    cases.push_back({"another key", key});
    Block newer = other;
    float const version = 0.013f;
    std::memcpy(newer.data(), &version, sizeof version);
    cases.push_back({"a newer version", newer});

    RecordingMessageSink messages;
    for (Case const& c : cases)
    {
        HeadlessHost plain(false);
        HeadlessHost tried(false);
        // The default patch: nothing in it draws random numbers, so two instruments play alike.
        for (HeadlessHost* h : {&plain, &tried})
            h->NoteOn(60, 100);
        for (int block = 0; block < 12; ++block)
        {
            if (block == 4)
            {
                EXPECT_FALSE(RestoreSavedState(tried.Instrument(), c.block)) << c.what;
            }
            plain.Render(256);
            tried.Render(256);
            ASSERT_EQ(tried.Left(), plain.Left()) << c.what << " block " << block;
            ASSERT_EQ(tried.Right(), plain.Right()) << c.what << " block " << block;
        }
        EXPECT_GT(tried.Peak(), 0.001f) << c.what;
    }
    EXPECT_EQ(messages.Messages().size(), cases.size());
}

namespace
{

// Strikes a note and renders a block at the end of staging, with the old patch in place.
class StrikingTorvane : public Torvane
{
public:
    StrikingTorvane() : Torvane(nullptr) {}

    void LoadStepReached(LoadStep step) override
    {
        if (step != LoadStep::Staged) return;
        NoteOnMidiEvent(0, 64, 100, 0);
        std::vector<float> left(256, 0.0f);
        std::vector<float> right(256, 0.0f);
        Render(left.data(), right.data(), 256, 0);
        for (std::size_t i = 0; i < left.size(); ++i)
            peakWhileStaging = std::max({peakWhileStaging, std::abs(left[i]), std::abs(right[i])});
        noteBusyWhileStaging = AnyNoteBusy(*this);
    }

    float peakWhileStaging = 0.0f;
    bool noteBusyWhileStaging = false;
};

} // namespace

TEST(PatchLoad, ANoteOnWhileALoadStagesSoundsAtOnceAndEndsAtTheSwap)
{
    TemporaryDataHome home;
    Block const other = OtherPatch();
    StrikingTorvane t;
    ASSERT_TRUE(RestoreSavedState(t, other));
    EXPECT_TRUE(t.noteBusyWhileStaging);
    EXPECT_GT(t.peakWhileStaging, 0.001f);
    // The swap ended it, as it ends every sounding note.
    EXPECT_FALSE(AnyNoteBusy(t));
    EXPECT_TRUE(t.enabled.GetBool());
    EXPECT_EQ(SavedState(t), other);
}

namespace
{

// Draws a new cycle into layer 0's first wave at the end of staging, as the editor may.
class DrawingTorvane : public Torvane
{
public:
    DrawingTorvane() : Torvane(nullptr) {}

    void LoadStepReached(LoadStep step) override
    {
        if (step != LoadStep::Staged || drawn) return;
        drawn = true;
        std::vector<float> cycle;
        long const n = CopyWaveCycle(0, 0, cycle);
        for (long i = 0; i < n; ++i)
            cycle[static_cast<std::size_t>(i)] = i < n / 4 ? 0.5f : -0.25f;
        drawnOk = SetWaveFromCycle(0, 0, cycle.data(), n, -1);
    }

    bool drawn = false;
    bool drawnOk = false;
};

} // namespace

TEST(PatchLoad, AWaveDrawnWhileALoadStagesGivesWayToTheStoredOneAtTheSwap)
{
    TemporaryDataHome home;
    Block const other = OtherPatch();
    DrawingTorvane t;
    // Restored twice: the second time the stage finds every wave already in place.
    for (int round = 0; round < 2; ++round)
    {
        t.drawn = false;
        ASSERT_TRUE(RestoreSavedState(t, other)) << round;
        EXPECT_TRUE(t.drawnOk) << round;
        EXPECT_EQ(SavedState(t), other) << round;
    }
}

namespace
{

// On the first switch-off of the engine (load A, before its swap), runs load B on a thread of
// its own to its end, and notes whether the engine was on once B was done.
class SecondLoad : public ParamUpdateListener
{
public:
    SecondLoad(Torvane& t, Block block) : t(t), block(std::move(block)) {}

    void ParameterUpdated(float value, Parameter*) override
    {
        values.push_back(value);
        if (value >= 0.5f || started) return;
        started = true;
        std::thread b([&] { loadedB = RestoreSavedState(t, block); });
        b.join();
        onAfterB = t.enabled.GetBool();
    }

    Torvane& t;
    Block block;
    bool started = false;
    bool loadedB = false;
    bool onAfterB = true;
    std::vector<float> values;
};

} // namespace

TEST(PatchLoad, LoadsOnTwoThreadsKeepTheEngineOffUntilTheLastSwapEnds)
{
    TemporaryDataHome home;
    Block const a = OtherPatch();
    Torvane source(nullptr);
    source.masterVolume = 0.3f;
    Block const b = SavedState(source);

    Torvane t(nullptr);
    SecondLoad second(t, b);
    t.enabled.AddUpdateListener(&second);
    EXPECT_TRUE(RestoreSavedState(t, a));
    t.enabled.RemoveUpdateListener(&second);

    EXPECT_TRUE(second.loadedB);
    // B swapped while A was between its switch-off and its swap: the engine stayed off.
    EXPECT_FALSE(second.onAfterB);
    EXPECT_TRUE(t.enabled.GetBool());
    // Off twice, on once at the end.
    EXPECT_EQ(second.values, (std::vector<float>{0.0f, 0.0f, 1.0f}));
    // A swapped last.
    EXPECT_EQ(SavedState(t), a);
}

// ---------------------------------------------------------------------------------------------
// What the host hears

namespace
{

struct HeardReport
{
    int index;
    float value;
    bool engineOn;
    bool mutexFree;
};

std::atomic<Torvane*> listened{nullptr};
std::vector<HeardReport> heard;

VstIntPtr ListeningHost(AEffect*, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt)
{
    if (opcode == audioMasterVersion) return 2400;
    Torvane* t = listened.load();
    if (opcode != audioMasterAutomate || t == nullptr) return 0;
    bool free = false;
    std::thread probe(
        [&]
        {
            free = t->GetMutex().TryClaim();
            if (free) t->GetMutex().Release();
        });
    probe.join();
    heard.push_back({index, opt, t->enabled.GetBool(), free});
    return 0;
}

// What the host heard while `act` ran.
template <typename Act> std::vector<HeardReport> Heard(Torvane& t, Act act)
{
    heard.clear();
    listened.store(&t);
    act();
    listened.store(nullptr);
    return heard;
}

// setChunk through the record; the reports it raised.
std::vector<HeardReport> SetChunk(Torvane& t, Block block)
{
    AEffect* e = t.getAeffect();
    return Heard(
        t,
        [&] { e->dispatcher(e, effSetChunk, 0, static_cast<VstIntPtr>(block.size()), block.data(), 0.0f); });
}

// The user's choice of the patch in the editor; the reports it raised.
std::vector<HeardReport> UserLoad(Torvane& t, char const* name)
{
    return Heard(t,
                 [&]
                 {
                     EditorInput::Scope user(&t);
                     EXPECT_EQ(t.LoadPatch("Loads", name), 1);
                 });
}

} // namespace

TEST(PatchLoad, APatchTheUserLoadsReportsEachChangedParameterOnceAfterTheSwapAndARestoreNone)
{
    TemporaryDataHome home;
    Torvane source(nullptr);
    source.masterVolume = 0.3f;                                 // index 13
    source.keyMode = 2.0f;                                      // index 37
    source.GetDelayEffect()->time = 0.6f;                       // index 16
    source.GetVoiceDef(2)->parameters[VoiceDef::kLevel] = 0.1f; // index 35
    Block const changed = SavedState(source);
    ASSERT_EQ(source.SavePatch("Loads", "Changed"), 1);

    Torvane t(&ListeningHost);
    t.markHostConnected();
    Block const original = SavedState(t);

    // The host's own restore: it hears nothing, and reads the restored values at once.
    EXPECT_TRUE(SetChunk(t, changed).empty());
    for (int i = 0; i < Torvane::kNumHostParameters; ++i)
        EXPECT_EQ(t.GetAutomatableParameterValue(i), source.GetAutomatableParameterValue(i)) << i;
    EXPECT_TRUE(SetChunk(t, original).empty());

    // The user's load of the same patch: each changed parameter once, after the swap, with the
    // engine on and the mutex free.
    std::map<int, int> counts;
    for (HeardReport const& r : UserLoad(t, "Changed(User)"))
    {
        ++counts[r.index];
        EXPECT_TRUE(r.engineOn) << r.index;
        EXPECT_TRUE(r.mutexFree) << r.index;
        Parameter* p = t.GetAutomatableParameter(r.index);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(r.value, p->ControllerGet()) << r.index;
    }
    EXPECT_EQ(counts, (std::map<int, int>{{13, 1}, {16, 1}, {35, 1}, {37, 1}}));

    // The patch already held: nothing to report. A refused restore neither.
    EXPECT_TRUE(UserLoad(t, "Changed(User)").empty());
    RecordingMessageSink messages;
    EXPECT_TRUE(SetChunk(t, Block(changed.begin(), changed.end() - 1)).empty());
}

TEST(PatchLoad, ResetPatchReportsOnlyTheParametersItChanges)
{
    HeadlessHost host(true);
    Torvane& t = host.Instrument();
    EditorInput::Scope user(&t);
    host.TakeAutomations();
    t.DefaultPatch();
    EXPECT_TRUE(host.TakeAutomations().empty());

    t.masterVolume = 0.5f;
    host.TakeAutomations();
    t.DefaultPatch();
    std::vector<HeadlessHost::Automation> const reports = host.TakeAutomations();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].index, 13);
    EXPECT_EQ(reports[0].value, t.masterVolume.ControllerGet());
}

TEST(PatchLoad, APadMovedAlongOneAxisReportsOnlyThatAxis)
{
    HeadlessHost host(true);
    Torvane& t = host.Instrument();
    PerformModSource* pad = t.GetPerformMods()->GetSource(2);
    EditorInput::Scope user(&t);
    host.TakeAutomations();
    // A drag sets both axes at every move, as the pad does.
    float const y = static_cast<float>(pad->Y);
    for (float x : {0.1f, 0.2f, 0.3f})
    {
        pad->X.Set(x, nullptr);
        pad->Y.Set(y, nullptr);
    }
    std::vector<HeadlessHost::Automation> const reports = host.TakeAutomations();
    ASSERT_EQ(reports.size(), 3u);
    for (HeadlessHost::Automation const& r : reports)
        EXPECT_EQ(r.index, 4); // pad 2's X
}
