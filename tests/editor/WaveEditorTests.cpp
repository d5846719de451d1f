// The waveform editor on a real instrument: partials dragged, a cycle drawn, zoom and pan, and
// the slot saved as a waveform file.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <thread>
#include <vector>

#include "WidgetTestSupport.h"
#include "editor/Layout.h"
#include "editor/TSaveDialog.h"
#include "editor/WaveEditor.h"
#include "engine/Torvane.h"
#include "engine/VoiceDef.h"
#include "framework/ParameterFile.h"
#include "framework/PresetManager.h"

namespace fs = std::filesystem;
namespace we = layout::waveeditor;
using std::chrono::milliseconds;

namespace
{
// Amplitude of harmonic h of one cycle, by a plain DFT (2/N scaling: a sine of amplitude 1 gives 1).
float Harmonic(std::vector<float> const& x, int h)
{
    std::complex<double> sum;
    double const n = static_cast<double>(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        sum += static_cast<double>(x[i]) *
               std::polar(1.0, -2.0 * std::numbers::pi * h * static_cast<double>(i) / n);
    return static_cast<float>(2.0 * std::abs(sum) / n);
}

class WaveEditorTest : public WidgetTest
{
public:
    std::vector<float> Cycle(int slot = 0)
    {
        std::vector<float> out;
        Synth().CopyWaveCycle(0, slot, out);
        return out;
    }
    VectorMipOscWaveDef* Waves() { return &Synth().GetVoiceDef(0)->waveDef; }
    // A point of the partial graph or the wave graph in the editor's surface.
    static gfx::Point InPartials(int x, int y) { return {we::kPartialGraph.x + x, we::kPartialGraph.y + y}; }
    static gfx::Point InWave(int x, int y) { return {we::kWaveGraph.x + x, we::kWaveGraph.y + y}; }
    // Runs the editor on slot 0 of layer 0 with the script; the script's frame is the editor.
    void Edit(std::function<void(WaveEditor&, gfx::Surface&)> script)
    {
        WaveEditor editor;
        Responders::NextModalRun([&](Frame& f) { script(editor, *f.GetFrameWindow()); });
        editor.Create(page.get(), &Synth(), 0, 0, Waves(), 0);
    }
    // Every partial to 0, then partial 1 to full, as the user drags.
    void FlattenToPartialOne(gfx::Surface& s)
    {
        backend.Drag(s, InPartials(0, 105), InPartials(515, 105), 520);
        backend.Click(s, InPartials(0, 0).x, InPartials(0, 0).y);
    }
    void Press(gfx::Surface& s, gfx::Point p) { backend.Press(s, p.x, p.y); }
};
} // namespace

TEST_F(WaveEditorTest, AmplitudeDragsWaitForTheTickAndAreAppliedBeforeClosing)
{
    std::vector<float> const before = Cycle();
    ASSERT_FALSE(before.empty());
    ASSERT_GT(Harmonic(before, 2), 0.05f); // the default wave is not a sine
    std::vector<float> atDrag;
    std::vector<float> afterTick;
    bool pending = false;
    Edit(
        [&](WaveEditor& editor, gfx::Surface& s)
        {
            backend.SetStep(milliseconds(0));
            FlattenToPartialOne(s);
            backend.Then(
                [&]
                {
                    atDrag = Cycle();
                    pending = editor.PartialsChanged();
                });
            backend.Pause(milliseconds(250));
            backend.Then([&] { afterTick = Cycle(); });
            // Partial 2 up, then closed at once: the drag is not lost.
            Press(s, InPartials(2, 52));
            backend.Release(s, InPartials(2, 52).x, InPartials(2, 52).y);
            backend.Click(s, we::kClose.x + 5, we::kClose.y + 5);
            backend.SetStep(milliseconds(10));
        });
    EXPECT_EQ(atDrag, before);
    EXPECT_TRUE(pending);
    ASSERT_EQ(afterTick.size(), before.size());
    EXPECT_NEAR(Harmonic(afterTick, 1), 1.0f, 0.02f);
    for (int h = 2; h <= 40; ++h)
        EXPECT_LT(Harmonic(afterTick, h), 1e-3f) << "harmonic " << h;
    std::vector<float> const closed = Cycle();
    EXPECT_NEAR(Harmonic(closed, 1), 1.0f, 0.02f);
    EXPECT_NEAR(Harmonic(closed, 2), 1.0f - 52.0f / 105.0f, 0.02f);
}

TEST_F(WaveEditorTest, FreehandSquareAndStillClickRebuildTheSlot)
{
    std::vector<float> square;
    std::vector<float> partials;
    Edit(
        [&](WaveEditor& editor, gfx::Surface& s)
        {
            Press(s, InWave(0, 0));
            for (int x = 16; x <= 256; x += 16)
                backend.MoveTo(s, InWave(x, 0).x, InWave(x, 0).y);
            for (int x = 257; x <= 529; x += 16)
                backend.MoveTo(s, InWave(x, 146).x, InWave(x, 146).y);
            backend.MoveTo(s, InWave(530, 146).x, InWave(530, 146).y);
            backend.Release(s, InWave(530, 146).x, InWave(530, 146).y);
            backend.Then(
                [&]
                {
                    square = Cycle();
                    partials.assign(editor.Amplitudes(), editor.Amplitudes() + 4);
                });
            // A click without movement sets its one sample.
            backend.Click(s, InWave(100, 20).x, InWave(100, 20).y);
            backend.Then([&] { editor.ButtonPressed(WaveEditor::kCloseId); });
        });
    ASSERT_FALSE(square.empty());
    float const h1 = Harmonic(square, 1);
    EXPECT_GT(h1, 1.0f);
    EXPECT_NEAR(Harmonic(square, 3) / h1, 1.0f / 3.0f, 0.03f);
    EXPECT_LT(Harmonic(square, 2) / h1, 0.03f);
    // The partial view was read again from the drawn wave.
    ASSERT_EQ(partials.size(), 4u);
    EXPECT_NEAR(partials[0], h1, 0.02f);
    EXPECT_LT(partials[1], 0.03f * h1);

    VectorMipOscWaveDef const& waves = *Waves();
    for (int m = 0; m < waves.numLevels; ++m)
        for (long i = 0; i < waves.length * waves.NumWaves(); ++i)
            ASSERT_TRUE(std::isfinite(waves.levels[m][i])) << "level " << m << " at " << i;
}

// A stroke with the pointer far past the graph's top and bottom writes -1..1 only, as drawn at
// the graph's edges; the samples the stroke did not reach keep their values, above 1 or not.
TEST_F(WaveEditorTest, AFreehandStrokePastTheGraphWritesOnlyValuesTheGraphShows)
{
    std::vector<float> const before = Cycle();
    ASSERT_GT(before.size(), 64u);
    std::vector<float> drawn;
    Edit(
        [&](WaveEditor& editor, gfx::Surface& s)
        {
            Press(s, InWave(200, 40));
            backend.MoveTo(s, InWave(220, -700).x, InWave(220, -700).y);
            backend.MoveTo(s, InWave(260, 900).x, InWave(260, 900).y);
            backend.MoveTo(s, InWave(300, -300).x, InWave(300, -300).y);
            backend.Then([&] { drawn = editor.GetWaveGraph().Samples(); });
            backend.Release(s, InWave(300, -300).x, InWave(300, -300).y);
            backend.Then([&] { editor.ButtonPressed(WaveEditor::kCloseId); });
        });
    ASSERT_EQ(drawn.size(), before.size());
    float const step = static_cast<float>(we::kWaveGraph.w) / static_cast<float>(drawn.size());
    std::size_t const first = static_cast<std::size_t>(200.0f / step);
    std::size_t const last = static_cast<std::size_t>(300.0f / step);
    float high = -2.0f;
    float low = 2.0f;
    for (std::size_t i = 0; i < drawn.size(); ++i)
    {
        if (i < first || i > last)
        {
            ASSERT_EQ(drawn[i], before[i]) << "untouched sample " << i;
            continue;
        }
        high = std::max(high, drawn[i]);
        low = std::min(low, drawn[i]);
    }
    EXPECT_EQ(high, 1.0f);
    EXPECT_EQ(low, -1.0f);
    // The slot rebuilt from it peaks no higher than the wave it started from (whose own peak is
    // above 1) did.
    auto peakOf = [](std::vector<float> const& cycle)
    {
        float peak = 0.0f;
        for (float v : cycle)
            peak = std::max(peak, std::fabs(v));
        return peak;
    };
    EXPECT_LT(peakOf(Cycle()), std::max(1.2f, peakOf(before) + 0.05f));
}

// A phase dragged in the lower half rebuilds the slot at once with that phase; at zoom 4x,
// panned half way, an amplitude drag edits the partial drawn under the pointer.
TEST_F(WaveEditorTest, PhaseDragsRebuildTheWaveAndZoomedDragsEditThePartialUnderThePointer)
{
    std::vector<float> const before = Cycle();
    ASSERT_GT(before.size(), 512u);
    float const dragged = 35.0f * 6.2831855f / 105.0f;
    std::vector<float> afterPhase;
    float phaseRead = -1.0f;
    float ampRead = -1.0f;
    float const otherPhase = 70.0f * 6.2831855f / 105.0f;
    float otherPhaseRead = -1.0f;
    int first = -1;
    std::vector<float> ampsAtRelease;
    std::vector<float> ampsBefore;
    std::vector<float> ampsBeforeZoomed;
    Edit(
        [&](WaveEditor& editor, gfx::Surface& s)
        {
            backend.Then([&] { ampsBefore.assign(editor.Amplitudes(), editor.Amplitudes() + 256); });
            // Partial 1's phase, then partial 3's (x 4: bars of 1 pixel, 1 apart).
            backend.Drag(s, InPartials(0, 150), InPartials(0, 106 + 35), 3);
            backend.Pause(milliseconds(500));
            backend.Drag(s, InPartials(4, 190), InPartials(4, 106 + 70), 3);
            backend.Then(
                [&]
                {
                    afterPhase = Cycle();
                    editor.Refresh();
                    phaseRead = editor.Phases()[0];
                    ampRead = editor.Amplitudes()[0];
                    otherPhaseRead = editor.Phases()[2];
                });
            // 4x: bars of 4 pixels, 4 apart; the pan bar dragged half its travel of 384 pixels.
            for (int i = 0; i < 2; ++i)
                backend.Click(s, InPartials(we::kZoomIn.x + 4, we::kZoomIn.y + 4).x,
                              InPartials(we::kZoomIn.x + 4, we::kZoomIn.y + 4).y);
            backend.Pause(std::chrono::seconds(1));
            backend.Drag(s, InPartials(10, 220), InPartials(10 + 192, 220), 6);
            backend.Then(
                [&]
                {
                    first = editor.GetPartialGraph().FirstShown();
                    ampsBeforeZoomed.assign(editor.Amplitudes(), editor.Amplitudes() + 256);
                });
            backend.Pause(std::chrono::seconds(1));
            // The sixth bar shown: x 40..43.
            backend.Drag(s, InPartials(41, 52), InPartials(42, 52), 2);
            backend.Then([&] { ampsAtRelease.assign(editor.Amplitudes(), editor.Amplitudes() + 256); });
            backend.Then([&] { editor.ButtonPressed(WaveEditor::kCloseId); });
        });
    ASSERT_EQ(afterPhase.size(), before.size());
    EXPECT_NE(afterPhase, before);
    EXPECT_NEAR(ampRead, ampsBefore[0], 0.01f);
    EXPECT_NEAR(phaseRead, dragged, 0.01f);
    EXPECT_NEAR(otherPhaseRead, otherPhase, 0.01f);

    ASSERT_EQ(first, 96);
    int const edited = first + 5;
    ASSERT_EQ(ampsAtRelease.size(), 256u);
    for (int i = 0; i < 256; ++i)
    {
        if (i == edited)
            EXPECT_NEAR(ampsAtRelease[static_cast<std::size_t>(i)], 1.0f - 52.0f / 105.0f, 1e-5f);
        else
            EXPECT_EQ(ampsAtRelease[static_cast<std::size_t>(i)],
                      ampsBeforeZoomed[static_cast<std::size_t>(i)])
                << "partial " << i + 1;
    }
    EXPECT_NEAR(Harmonic(Cycle(), edited + 1), 1.0f - 52.0f / 105.0f, 0.02f);
}

TEST_F(WaveEditorTest, ZoomStaysWithinItsStepsAndPanningAtZoomOneDoesNothing)
{
    struct Step
    {
        int button;
        int clicks;
        int zoom;
        char const* label;
        int shown;
    };
    Step const steps[] = {{PartialGraph::kZoomInId, 1, 2, "2x", 127},
                          {PartialGraph::kZoomInId, 5, 4, "8x", 32},
                          {PartialGraph::kZoomOutId, 1, 3, "4x", 64},
                          {PartialGraph::kZoomOutId, 6, 1, "1x", 255}};
    std::vector<std::string> failures;
    int firstAfterPan = -1;
    float panAfterDrag = -1.0f;
    int firstAtZoom4 = -1;
    Edit(
        [&](WaveEditor& editor, gfx::Surface& s)
        {
            PartialGraph& g = editor.GetPartialGraph();
            for (Step const& st : steps)
            {
                layout::Point const at = st.button == PartialGraph::kZoomInId ? we::kZoomIn : we::kZoomOut;
                for (int i = 0; i < st.clicks; ++i)
                    backend.Click(s, InPartials(at.x + 4, at.y + 4).x, InPartials(at.x + 4, at.y + 4).y);
                backend.Then(
                    [&, st]
                    {
                        if (g.GetZoom() != st.zoom || std::string(g.ZoomText()) != st.label ||
                            g.ShownCount() != st.shown)
                            failures.push_back(st.label);
                    });
            }
            backend.Drag(s, InPartials(10, 220), InPartials(300, 220), 6);
            backend.Then(
                [&]
                {
                    firstAfterPan = g.FirstShown();
                    panAfterDrag = g.GetPanPos();
                });
            backend.Then([&] { g.SetZoom(4); });
            backend.Pause(std::chrono::seconds(1)); // not a double click
            backend.Drag(s, InPartials(10, 220), InPartials(234, 220), 6);
            backend.Then([&] { firstAtZoom4 = g.FirstShown(); });
            backend.Then([&] { editor.ButtonPressed(WaveEditor::kCloseId); });
        });
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_EQ(firstAfterPan, 0);
    EXPECT_EQ(panAfterDrag, 0.0f);
    EXPECT_EQ(firstAtZoom4, 112); // half the travel of 448 pixels: partials from 113 on
}

TEST_F(WaveEditorTest, SaveWritesTheSlotAsAUserWaveformOfTheChosenCategory)
{
    PresetManager& manager = *Synth().GetWaveformPresetManager();
    fs::path const root = manager.GetRoot().ToStdString();
    fs::create_directories(root / "Cat");
    manager.Refresh();
    Edit(
        [&](WaveEditor& editor, gfx::Surface& s)
        {
            backend.SetStep(milliseconds(0));
            FlattenToPartialOne(s);
            backend.SetStep(milliseconds(10));
            Responders::NextModalRun(
                [&](Frame& f)
                {
                    auto& dialog = dynamic_cast<TSaveDialog&>(f);
                    backend.Then(
                        [&]
                        {
                            dialog.GetCategoryList().SetSelection(0);
                            dialog.GetNameField().SetText("Name");
                            dialog.ButtonPressed(TSaveDialog::kSaveId);
                        });
                });
            backend.Then([&] { editor.ButtonPressed(WaveEditor::kSaveId); });
            backend.Then([&] { editor.ButtonPressed(WaveEditor::kCloseId); });
        });
    fs::path const saved = root / "Cat" / "Name(User).wfm";
    ASSERT_TRUE(fs::exists(saved));
    // The saved wave is the edited one: loaded into slot 1 it is the same cycle.
    ParameterFileReader reader;
    ASSERT_TRUE(manager.LoadStart("Cat", "Name(User)", reader));
    bool loaded = false;
    Synth().LoadWaveform(0, 1, reader, &loaded);
    EXPECT_TRUE(loaded);
    std::vector<float> const a = Cycle(0);
    std::vector<float> const b = Cycle(1);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_NEAR(a[i], b[i], 1e-6f);
    EXPECT_TRUE(Messages().empty());
}

// ---------------------------------------------------------------------------------------------
// Other threads

namespace
{
class WaveEditorThreadTest : public WaveEditorTest
{
public:
    // A render thread with notes held until stopped; every block is checked.
    void StartRendering()
    {
        host->NoteOn(60, 100);
        host->NoteOn(67, 100);
        audio = std::thread(
            [this]
            {
                while (!stop.load())
                {
                    host->Render(256);
                    if (!host->AllFinite()) finite.store(false);
                }
            });
    }
    void StopRendering()
    {
        stop.store(true);
        if (audio.joinable()) audio.join();
    }
    void TearDown() override
    {
        StopRendering();
        WaveEditorTest::TearDown();
    }
    bool AllLevelsFinite()
    {
        VectorMipOscWaveDef const& waves = *Waves();
        for (int m = 0; m < waves.numLevels; ++m)
            for (long i = 0; i < waves.length * waves.NumWaves(); ++i)
                if (!std::isfinite(waves.levels[m][i])) return false;
        return true;
    }
    // Strokes, partial drags and phase drags, as the user makes them.
    void Scribble(gfx::Surface& s)
    {
        for (int k = 0; k < 3; ++k)
        {
            backend.Drag(s, InWave(10 + k, 20), InWave(400, 120 - 30 * k), 12);
            backend.Drag(s, InPartials(4 * k, 30), InPartials(200, 90), 40);
            backend.Pause(milliseconds(250));
            backend.Drag(s, InPartials(2 + 2 * k, 150), InPartials(40, 180), 8);
            backend.Pause(std::chrono::seconds(1));
        }
    }

    std::thread audio;
    std::atomic<bool> stop{false};
    std::atomic<bool> finite{true};
};
} // namespace

TEST_F(WaveEditorThreadTest, PartialRebuildsImportsAndLineCommandsWhileRendering)
{
    fs::path const wav = fs::path(home.RootFolder()) / "cycle.wav";
    fs::create_directories(wav.parent_path());
    {
        // A 441 Hz square, 16-bit mono.
        std::vector<std::int16_t> frames(4096);
        for (std::size_t i = 0; i < frames.size(); ++i)
            frames[i] = (i / 50) % 2 == 0 ? 12000 : -12000;
        std::ofstream out(wav, std::ios::binary);
        auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<char const*>(&v), 4); };
        auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<char const*>(&v), 2); };
        out.write("RIFF", 4);
        u32(36 + 2 * static_cast<std::uint32_t>(frames.size()));
        out.write("WAVEfmt ", 8);
        u32(16);
        u16(1);
        u16(1);
        u32(44100);
        u32(88200);
        u16(2);
        u16(16);
        out.write("data", 4);
        u32(2 * static_cast<std::uint32_t>(frames.size()));
        out.write(reinterpret_cast<char const*>(frames.data()),
                  static_cast<std::streamsize>(2 * frames.size()));
    }
    StartRendering();
    Edit(
        [&](WaveEditor& editor, gfx::Surface& s)
        {
            Scribble(s);
            backend.Then(
                [&]
                {
                    for (int k = 0; k < 4; ++k)
                    {
                        EXPECT_TRUE(Synth().ImportWave(0, k, wav.string().c_str()));
                        EXPECT_TRUE(Synth().CopyLine(0, k + 1, Torvane::kAllOtherLayers));
                        EXPECT_TRUE(Synth().ClearLine(k, 3));
                        EXPECT_TRUE(Synth().CopyLayer(0, 1 + k % 3));
                    }
                });
            backend.Then([&] { editor.ButtonPressed(WaveEditor::kCloseId); });
        });
    std::this_thread::sleep_for(milliseconds(20));
    StopRendering();
    EXPECT_TRUE(finite.load());
    EXPECT_TRUE(AllLevelsFinite());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(WaveEditorThreadTest, HostStateRestoredOnAnotherThreadWhileTheEditorIsOpen)
{
    ASSERT_NE(Synth().LoadStandardWaveform(0, 0, 2), nullptr);
    std::vector<unsigned char> const sine = host->GetState();
    ASSERT_NE(Synth().LoadStandardWaveform(0, 0, 1), nullptr);
    std::vector<unsigned char> const square = host->GetState();
    StartRendering();
    std::thread restores;
    std::atomic<bool> stopRestores{false};
    std::size_t cycleAtClose = 0;
    Edit(
        [&](WaveEditor& editor, gfx::Surface& s)
        {
            backend.Then(
                [&]
                {
                    restores = std::thread(
                        [&]
                        {
                            for (int i = 0; !stopRestores.load(); ++i)
                                host->SetState(i % 2 ? sine : square);
                        });
                });
            Scribble(s);
            backend.Then(
                [&]
                {
                    stopRestores.store(true);
                    restores.join();
                    editor.Refresh();
                    editor.GetWaveGraph().Refresh();
                    cycleAtClose = editor.GetWaveGraph().Samples().size();
                });
            backend.Then([&] { editor.ButtonPressed(WaveEditor::kCloseId); });
        });
    if (restores.joinable())
    {
        stopRestores.store(true);
        restores.join();
    }
    StopRendering();
    EXPECT_EQ(cycleAtClose, Cycle().size());
    EXPECT_TRUE(finite.load());
    EXPECT_TRUE(AllLevelsFinite());
}
