// The host hears of every edit the user makes in the editor to what the instance stores: one
// display update (audioMasterUpdateDisplay) at the end of the idle call that made it, and none
// for what a host, playback or the audio thread changes (the host automation table holds those
// rows). The product's editor is opened through the plug-in's dispatcher in a fake host window of
// the headless back end and idled as a host idles it.

#include <string>
#include <thread>
#include <vector>

#include "VstEditorTestSupport.h"
#include "editor/TSaveDialog.h"
#include "editor/TWaveBrowser.h"
#include "editor/TimelinePresetDlg.h"
#include "engine/VoiceDef.h"
#include "support/RecordingMessageSink.h"

using namespace vsteditor;

namespace
{
namespace wb = layout::wavebrowser;
namespace tp = layout::timelinepreset;

class HostDisplayUpdateTest : public vsteditor::VstEditorTest
{
};

struct Action
{
    std::string name;
    // Display updates the action must cause; kPerIdle: a gesture that goes on across the host's
    // idles (a drag), which causes one for each idle that made an edit (at least one).
    int updates;
    std::function<void()> setup;    // before the count (no idle of the editor counts here)
    std::function<void()> act;      // scripts the user's input (or the host's calls)
    std::function<bool()> happened; // the action's effect, so a row that did nothing fails
};
constexpr int kPerIdle = -1;
} // namespace

TEST_F(HostDisplayUpdateTest, EveryEditorEditTellsTheHostOnceAndNothingElseDoes)
{
    RecordingMessageSink messages(true);
    fs::path const wav = fs::path(home.RootFolder()) / "sine440.wav";
    fs::create_directories(wav.parent_path());
    WriteSineWav(wav, 440.0f, 4096);
    auto* timelinePresets = Synth().GetTimelinePresetManager();
    fs::create_directories(fs::path(timelinePresets->GetRoot().ToStdString()) / "Mine");
    timelinePresets->Refresh();
    ASSERT_TRUE(Synth().SaveTimelinePreset("Mine", "Set", {true, true, true, true, true, true}));
    ASSERT_TRUE(Synth().SavePatch("Pads", "A"));
    ASSERT_TRUE(Synth().SavePatch("Pads", "B"));
    ASSERT_TRUE(Synth().LoadPatch("Pads", "A(User)"));
    fs::path const patchB = fs::path(home.RootFolder()) / "Patches" / "Pads" / "B(User).trv";

    std::vector<float> cycle;
    auto slotCycle = [&]
    {
        std::vector<float> out;
        Synth().CopyWaveCycle(0, 0, out);
        return out;
    };
    auto lineSize = [&](int line) { return Synth().GetVoiceDef(0)->GetLine(line)->Size(); };
    float before = 0.0f;
    long sizeBefore = 0;
    std::vector<unsigned char> state;
    fs::file_time_type stamp;

    std::vector<Action> const actions = {
        {"idle with no edit", 0, [] {}, [] {}, [] { return true; }},
        {"page switch to the perform page and back (view only)", 0, [] {},
         [&]
         {
             ShowPage(root::kPerformTab);
             ShowPage(root::kSynthTab);
         },
         [] { return true; }},
        {"voice tab 2 (view only)", 0, [] {}, [&] { Click(OnSynthPage(synth::kVoiceTabs[1])); },
         [&] { return Synth().GetCurrentVoice() == 1; }},
        {"zoom in (view only)", 0,
         [&]
         {
             Click(OnSynthPage(synth::kVoiceTabs[0]));
             IdleUntilQuiet();
         },
         [&] { Click(OnSynthPage(synth::kZoomIn.TopLeft())); },
         [&] { return Synth().GetCurrentVoice() == 0; }},
        {"dragging the edit-time handle (not stored)", 0, [&] { before = Synth().GetEditTime(); },
         [&]
         {
             layout::Point const h = EditTimeHandle();
             Drag(h, {h.x + 150, h.y});
         },
         [&] { return Synth().GetEditTime() != before; }},
        {"host setChunk from another thread while a dialog of the editor runs", 0,
         [&]
         {
             ASSERT_TRUE(Synth().LoadPatch("Pads", "A(User)"));
             state = host->GetState();
             Synth().DefaultPatch();
         },
         [&]
         {
             InNextDialog(
                 [&](Frame& f, gfx::Surface&)
                 {
                     backend.Then(
                         [&]
                         {
                             std::thread restore([&] { host->SetState(state); });
                             restore.join();
                         });
                     backend.Pause(1s);
                     backend.Then([&f]
                                  { dynamic_cast<TWaveBrowser&>(f).ButtonPressed(TWaveBrowser::kCloseId); });
                 });
             Click(OnSynthPage(synth::kWaveLoad[0]));
         },
         [&] { return Synth().GetPatchName() == "A(User)"; }},
        {"wave slot load (standard sine from the browser)", 1,
         [&]
         {
             Synth().LoadStandardWaveform(0, 0, 2);
             cycle = slotCycle();
         },
         [&]
         {
             InNextDialog(
                 [&](Frame& f, gfx::Surface& s)
                 {
                     backend.Click(s, wb::kStandardShapes.x + 40, wb::kStandardShapes.y + 8);
                     backend.Then([&f]
                                  { dynamic_cast<TWaveBrowser&>(f).ButtonPressed(TWaveBrowser::kCloseId); });
                 });
             Click(OnSynthPage(synth::kWaveLoad[0]));
         },
         [&] { return Synth().GetVoiceDef(0)->waveDef.GetKind(0) == kWaveSine; }},
        {"WAV import into a slot", 1,
         [&]
         {
             Synth().LoadStandardWaveform(0, 0, 0);
             cycle = slotCycle();
         },
         [&]
         {
             InNextDialog(
                 [&](Frame& f, gfx::Surface&)
                 {
                     Responders::NextFileDialog(wav.string());
                     auto& b = dynamic_cast<TWaveBrowser&>(f);
                     backend.Then([&b] { b.ButtonPressed(TWaveBrowser::kImportId); });
                     backend.Then([&b] { b.ButtonPressed(TWaveBrowser::kCloseId); });
                 });
             Click(OnSynthPage(synth::kWaveLoad[0]));
         },
         [&] { return slotCycle() != cycle; }},
        {"timeline breakpoint created by a double click", 1,
         [&] { sizeBefore = lineSize(VoiceDef::kFilterLine); },
         [&]
         {
             backend.Pause(1s);
             layout::Point const p =
                 OnSynthPage({synth::kTimeline.x + 92, synth::kTimeline.y + 105 + 19 * 2 + 9}, 0, 0);
             backend.DoubleClick(*surface, p.x, p.y);
         },
         [&] { return lineSize(VoiceDef::kFilterLine) == sizeBefore + 1; }},
        {"timeline preset save", 1, [] {},
         [&]
         {
             Responders::NextMenu({"Save Timeline preset"});
             InNextDialog(
                 [&](Frame& f, gfx::Surface&)
                 {
                     auto& d = dynamic_cast<TimelinePresetDlg&>(f);
                     backend.Then([&d] { d.GetNameField().SetText("Saved"); });
                     // A save ends the dialog.
                     backend.Then([&d] { d.ButtonPressed(TimelinePresetDlg::kSaveId); });
                 });
             Click(OnSynthPage(synth::kVoiceMenu));
         },
         [&] {
             return fs::exists(fs::path(timelinePresets->GetRoot().ToStdString()) / "Mine" /
                               "Saved(User).tvl");
         }},
        {"timeline preset load", 1,
         [&]
         {
             Synth().ClearLine(0, VoiceDef::kFilterLine);
             sizeBefore = lineSize(VoiceDef::kFilterLine);
         },
         [&]
         {
             Responders::NextMenu({"Load Timeline preset"});
             InNextDialog(
                 [&](Frame& f, gfx::Surface& s)
                 {
                     auto& d = dynamic_cast<TimelinePresetDlg&>(f);
                     backend.Then([&d] { d.ButtonPressed(TimelinePresetDlg::kLoadId); });
                     backend.Click(s, tp::kClose.x + 5, tp::kClose.y + 5);
                 });
             Click(OnSynthPage(synth::kVoiceMenu));
         },
         [&] { return lineSize(VoiceDef::kFilterLine) != sizeBefore; }},
        {"matrix entry (row 1 source)", 1, [] {},
         [&]
         {
             Responders::NextMenu({"LFO2"});
             layout::Rect const r = layout::moddisplay::Source(1);
             Click(OnSynthPage({synth::kModDisplay.x + r.x, synth::kModDisplay.y + r.y}, 3, 3));
         },
         [&] { return Synth().GetModulationSource(1, 0) == 1; }},
        {"LFO 1 sync switch", 1, [&] { before = Synth().lfo1SyncBridge; },
         [&] { Click(OnSynthPage(synth::kLfoSync[0])); },
         [&] { return static_cast<float>(Synth().lfo1SyncBridge) != before; }},
        {"LFO 1 rate knob", kPerIdle, [&] { before = Synth().lfo1RateParam; },
         [&]
         {
             layout::Point const c = KnobCentre(synth::kLfoRate[0]);
             Drag(c, {c.x, c.y - 40});
         },
         [&] { return static_cast<float>(Synth().lfo1RateParam) != before; }},
        {"filter resonance knob", kPerIdle, [&] { before = Synth().filterResonanceParam; },
         [&]
         {
             layout::Point const c = KnobCentre(synth::kResonanceKnob);
             Drag(c, {c.x, c.y - 40});
         },
         [&] { return static_cast<float>(Synth().filterResonanceParam) != before; }},
        {"pad mapping (pad 1 X to all voices' pitch)", 1, [&] { ShowPage(root::kPerformTab); },
         [&]
         {
             Responders::NextMenu({"All voices", "Osc Pitch"});
             Click(OnPad(0, perform::kAssignX));
         },
         [&] { return Synth().GetPerformMods()->GetSource(0)->GetMapping(0).enabled; }},
        {"MIDI-learn mapping (pad 2 Y)", 1, [] {}, [&] { LearnY(1); },
         [&] { return Synth().GetPerformMods()->GetSource(1)->Y.MidiLearnIsListening(); }},
        {"patch load (next patch)", 1,
         [&]
         {
             Synth().GetPerformMods()->GetSource(1)->Y.MidiLearnCancel();
             ShowPage(root::kSynthTab);
         },
         [&] {
             Click({root::kNextPatchButton.x + 5, root::kNextPatchButton.y + 5});
         },
         [&] { return Synth().GetPatchName() == "B(User)"; }},
        {"patch save (File > Save)", 1, [&] { stamp = fs::last_write_time(patchB); },
         [&]
         {
             Responders::NextMenu({"Save"});
             backend.Pause(2s);
             Click({root::kFileButton.x + 5, root::kFileButton.y + 5});
         },
         [&] { return fs::last_write_time(patchB) != stamp; }},
        {"patch reset (File > Reset Patch, Yes)", 1, [] {},
         [&]
         {
             Responders::NextMenu({"Reset Patch"});
             Click({root::kFileButton.x + 5, root::kFileButton.y + 5});
         },
         [&] { return Synth().GetPatchName() == "<untitled>"; }},
    };

    for (Action const& a : actions)
    {
        SCOPED_TRACE(a.name);
        a.setup();
        IdleUntilQuiet();
        int const start = host->DisplayUpdates();
        a.act();
        // Idled until quiet, each idle causing one update at the most.
        IdleUntilQuiet();
        int const updates = host->DisplayUpdates() - start;
        if (a.updates == kPerIdle)
            EXPECT_GE(updates, 1);
        else
            EXPECT_EQ(updates, a.updates);
        EXPECT_TRUE(a.happened());
        std::printf("%-60s %d\n", a.name.c_str(), updates);
    }
    EXPECT_FALSE(Responders::TakeMenu().has_value());
    EXPECT_FALSE(Responders::TakeModalRun().has_value());
}

// An older host idles the editor again from inside its display-update handler: that idle does
// nothing (no input is read, no second update is sent), and the next idle of the host works.
TEST_F(HostDisplayUpdateTest, AnIdleFromInsideTheUpdateCallbackDoesNothing)
{
    std::size_t pendingBefore = 0, pendingAfter = 0;
    int inner = 0;
    host->onDisplayUpdate = [&]
    {
        ++inner;
        pendingBefore = backend.PendingInput();
        backend.Advance(1s);
        Dispatch(effEditIdle);
        Dispatch(effEditIdle);
        pendingAfter = backend.PendingInput();
    };
    // A sync switch (an edit), then another click due while the host handles the update.
    Click(OnSynthPage(synth::kLfoSync[0]));
    backend.Pause(5s);
    Click(OnSynthPage(synth::kLfoSync[1]));
    float const sync2 = Synth().lfo2SyncBridge;
    for (int i = 0; i < 2000 && host->DisplayUpdates() == 0; ++i)
    {
        backend.Advance(40ms);
        Dispatch(effEditIdle);
    }
    ASSERT_EQ(host->DisplayUpdates(), 1);
    EXPECT_EQ(inner, 1);
    EXPECT_GT(pendingBefore, 0u);
    EXPECT_EQ(pendingAfter, pendingBefore) << "the inner idle read input";
    EXPECT_EQ(static_cast<float>(Synth().lfo2SyncBridge), sync2);
    host->onDisplayUpdate = nullptr;
    IdleUntilQuiet();
    EXPECT_NE(static_cast<float>(Synth().lfo2SyncBridge), sync2);
    EXPECT_EQ(host->DisplayUpdates(), 2);
}
