// The instrument's own render (no adapter) of the busy patch allocates nothing once warm.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dsp/WaveTables.h"
#include "editor/SineWav.h"
#include "framework/Streams.h"
#include "support/TemporaryDataHome.h"

#include "dsp/Envelope.h"
#include "engine/PlayTestSupport.h"
#include "support/allocation/AllocationCounter.h"
#include "support/engine/BusyPatch.h"
#include "support/engine/CustomWave.h"
#include "support/engine/OwnHolds.h"

using namespace play;

TEST(RenderAllocations, PlayingAndRenderingAllocateNothing)
{
    HeadlessHost host(false);
    Torvane& t = host.Instrument();
    MakeBusyPatch(t);
    for (int k = 0; k < 16; ++k)
        t.NoteOnMidiEvent(0, 40 + 3 * k, 100, 0);
    // Warm up: every pool reaches the size the patch needs.
    for (int b = 0; b < 40; ++b)
        RenderDirect(t, b % 2 ? 8192 : 64);

    std::vector<float> l(8192), r(8192);
    allocations::StartCounting();
    {
        Envelope probe(1); // the counter sees what this thread allocates
    }
    EXPECT_GT(allocations::StopCounting(), 0u);
    allocations::StartCounting();
    for (int b = 0; b < 40; ++b)
    {
        if (b == 10) t.NoteOffMidiEvent(0, 40, 0);
        if (b == 12) t.NoteOnMidiEvent(0, 90, 127, 5);
        if (b == 20) t.AllNotesOffMidiEvent(0);
        t.Render(l.data(), r.data(), b % 3 ? 512 : 8192, 0);
    }
    EXPECT_EQ(allocations::StopCounting(), 0u);
}

namespace
{

// What the thread that makes it does while it holds the mutex: heap allocations, blocks of wave
// table mapped and unmapped, bytes of wave table built, copied, compared or hashed.
struct HoldAudit
{
    explicit HoldAudit(AudioAPI::Mutex& m) : watch(m, [this](bool held) { Held(held); }) {}

    void Held(bool held)
    {
        MipWaveTable::Work const now = MipWaveTable::ThisThreadsWork();
        if (held)
        {
            at = now;
            allocations::StartCounting();
            return;
        }
        allocated += allocations::StopCounting();
        maps += now.maps - at.maps;
        unmaps += now.unmaps - at.unmaps;
        bytes += now.bytes - at.bytes;
    }

    std::size_t allocated = 0;
    long maps = 0;
    long unmaps = 0;
    std::size_t bytes = 0;
    MipWaveTable::Work at;
    // Last: it stops watching before the counts go.
    OwnHolds<std::function<void(bool)>> watch;
};

// One stored custom wave slot, as a waveform file holds it.
std::vector<char> CustomWaveform()
{
    String const text = CustomWaveText();
    return std::vector<char>(static_cast<char const*>(text),
                             static_cast<char const*>(text) + text.GetLength());
}

// An instrument whose layer-0 waves a wave command changes between the staging of a patch load
// and its swap, when asked.
class ChangedWhileStaged : public Torvane
{
public:
    using Torvane::Torvane;
    bool changeWhenStaged = false;

protected:
    void LoadStepReached(LoadStep step) override
    {
        if (step != LoadStep::Staged || !changeWhenStaged) return;
        changeWhenStaged = false;
        LoadStandardWaveform(0, 1, 2);
    }
};

} // namespace

// The audio thread never waits for wave-table work: each command builds and shares its tables
// before it claims the plug-in mutex and only swaps them in under it. Every row starts from
// tables that are shared (the default patch in two instances), where a copy would cost most.
TEST(RenderAllocations, WaveCommandsDoNoTableWorkWhileTheyHoldThePluginMutex)
{
    TemporaryDataHome home("torvane-hold-");
    std::string const wav = (std::filesystem::path(home.Path()) / "a440.wav").string();
    WriteSineWav(wav, 440.0f, 8192);
    std::vector<char> const waveform = CustomWaveform();
    std::vector<char> defaultPatch;
    {
        HeadlessHost source(false);
        String text;
        StringWriter w;
        w.Open(&text);
        source.Instrument().SavePreset(w, Torvane::kPatchVersion);
        w.Close();
        defaultPatch.assign(static_cast<char const*>(text),
                            static_cast<char const*>(text) + text.GetLength());
    }
    std::vector<float> amps(256, 0.0f);
    for (std::size_t h = 0; h < amps.size(); h += 2)
        amps[h] = 1.0f / static_cast<float>(h + 1);

    struct Row
    {
        char const* what;
        std::function<void(Torvane&)> before; // outside the audit
        std::function<void(Torvane&)> command;
        int layer;
        int slot;
        int kind; // the slot's kind afterwards
        // Whether heap allocations are counted too (a patch load's other work may allocate).
        bool countAllocations = true;
    };
    std::vector<Row> const rows = {
        {"Reset Patch", [](Torvane& t) { t.LoadStandardWaveform(2, 1, 2); },
         [](Torvane& t) { t.DefaultPatch(); }, 2, 1, kWaveSilence},
        {"Reset Patch of the default patch", nullptr, [](Torvane& t) { t.DefaultPatch(); }, 0, 0, kWaveSaw},
        {"Reset voice", [](Torvane& t) { t.LoadStandardWaveform(1, 0, 1); },
         [](Torvane& t) { t.ResetVoice(1); }, 1, 0, kWaveSaw},
        {"standard shape", nullptr, [](Torvane& t) { t.LoadStandardWaveform(0, 1, 2); }, 0, 1, kWaveSine},
        {"waveform file", nullptr,
         [&](Torvane& t)
         {
             StringReader r;
             r.Open(waveform.data(), waveform.size());
             t.LoadWaveform(0, 2, r);
         },
         0, 2, kWaveCustom},
        {"WAV import", nullptr, [&](Torvane& t) { t.ImportWave(0, 3, wav.c_str()); }, 0, 3, kWaveCustom},
        {"patch load whose waves a command changed after staging", nullptr,
         [&](Torvane& t)
         {
             static_cast<ChangedWhileStaged&>(t).changeWhenStaged = true;
             StringReader r;
             r.Open(defaultPatch.data(), defaultPatch.size());
             t.LoadPreset(r, Torvane::kPatchVersion);
         },
         0, 1, kWaveSilence, false},
        {"waveform editor apply", nullptr,
         [&](Torvane& t) { t.SetWaveFromPartials(0, 0, 256, amps.data(), nullptr); }, 0, 0, kWaveCustom},
    };
    for (Row const& row : rows)
    {
        HeadlessHost a(HeadlessHost::Maker([](audioMasterCallback callback)
                                           { return std::make_unique<ChangedWhileStaged>(callback); }));
        HeadlessHost b(false);
        Torvane& t = a.Instrument();
        if (row.before) row.before(t);
        ASSERT_TRUE(t.GetVoiceDef(0)->waveDef.IsShared()) << row.what;
        {
            HoldAudit audit(t.GetMutex());
            row.command(t);
            EXPECT_TRUE(!row.countAllocations || audit.allocated == 0u)
                << row.what << ": " << audit.allocated;
            EXPECT_EQ(audit.maps, 0) << row.what;
            EXPECT_EQ(audit.unmaps, 0) << row.what;
            EXPECT_EQ(audit.bytes, 0u) << row.what;
        }
        EXPECT_EQ(t.GetVoiceDef(row.layer)->waveDef.GetKind(row.slot), row.kind) << row.what;
    }
}
