// What the host hears as automation (audioMasterAutomate) and as display updates, by the origin
// of a change: only what the user changed (a gesture in the editor, a command chosen there, a
// controller mapped by MIDI learn) is automation; the host's own calls, construction, playback
// and timers are not, and after them the host reads the new values when it asks. The product's
// editor is opened through the plug-in's dispatcher in a fake host window of the headless back
// end, idled as a host idles it, and played on the back end's clock.

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "VstEditorTestSupport.h"
#include "editor/SynthGUI.h"
#include "engine/PerformMod.h"
#include "support/RecordingMessageSink.h"

using namespace vsteditor;

namespace
{
constexpr int kParameters = Torvane::kNumHostParameters;
constexpr int kFreezePosition = 12;
constexpr int kMasterVolume = 13;
constexpr int kDelayOn = 15;
constexpr int kDelayFeedback = 17;
constexpr int kLowCutOn = 29;
constexpr int kLowCutoff = 30;
constexpr int kHighCutOn = 31;
constexpr int kHighCutoff = 32;
constexpr int kLevelVoice2 = 34;
constexpr int kPadX = 0;
constexpr int kPadY = 1;
constexpr int kPad3Y = 5;

// What the host must hear as automation while a row acts.
enum class Heard
{
    Nothing,           // no report at all
    EveryMovedAtLeast, // at least one report for each parameter whose value moved, none for another
    EveryChangedOnce,  // exactly one report, with its new value, for each parameter that changed
    OncePerBlock,      // exactly `blocks` reports, all of the one parameter that moved
};

struct Row
{
    std::string name;
    Heard heard;
    bool user;                      // the user's change: at most one display update per idle
    std::function<void()> setup;    // before the count
    std::function<void()> act;      // the change, scripted as its origin makes it
    std::function<bool()> happened; // the change took effect, so a row that did nothing fails
};

class HostAutomationTest : public VstEditorTest
{
public:
    std::vector<float> HostValues()
    {
        std::vector<float> v(kParameters);
        for (int i = 0; i < kParameters; ++i)
            v[static_cast<std::size_t>(i)] = host->GetParameter(i);
        return v;
    }
    void SetHostValues(std::vector<float> const& v)
    {
        for (int i = 0; i < kParameters; ++i)
            host->SetParameter(i, v[static_cast<std::size_t>(i)]);
    }
    VstIntPtr DispatchValue(VstInt32 opcode, VstIntPtr value)
    {
        AEffect* e = host->Effect();
        return e->dispatcher(e, opcode, 0, value, nullptr, 0.0f);
    }
    // Seconds of playback on the back end's clock, three notes held, the editor idled every
    // 40 ms as a host idles it; the edit time's furthest point.
    float Play(int seconds)
    {
        for (int key : {60, 64, 67})
            host->NoteOn(key, 100);
        float furthest = 0.0f;
        for (int tick = 0; tick < seconds * 25; ++tick)
        {
            host->Render(1764);
            backend.Advance(40ms);
            Dispatch(effEditIdle);
            furthest = std::max(furthest, Synth().GetEditTime());
        }
        for (int key : {60, 64, 67})
            host->NoteOff(key);
        host->Render(1764);
        return furthest;
    }
};
} // namespace

TEST_F(HostAutomationTest, TheHostHearsAsAutomationOnlyWhatTheUserChanged)
{
    RecordingMessageSink messages(true);
    std::vector<float> before;
    std::vector<float> stored;
    std::vector<unsigned char> session;
    float furthest = 0.0f;
    float editTime = 0.0f;
    int blocksChanged = 0;

    // A session as a host saves it: the state and the 40 values it read just before.
    auto saveSession = [&]
    {
        host->SetParameter(kDelayOn, 1.0f);
        host->SetParameter(kDelayFeedback, 0.8f);
        host->SetParameter(kMasterVolume, 0.6f);
        session = host->GetState();
        stored = HostValues();
        Synth().DefaultPatch();
    };

    std::vector<Row> const rows = {
        {"construction and opening the editor (its splash included)", Heard::Nothing, false, [] {}, [] {},
         [] { return true; }},
        {"host setChunk at 44.1 kHz", Heard::Nothing, false, saveSession,
         [&]
         {
             host->SetState(session);
             EXPECT_EQ(HostValues(), stored) << "the host reads the restored values at once";
         },
         [&] { return Synth().GetDelayEffect()->enabled.GetBool(); }},
        {"host setChunk at 48 kHz", Heard::Nothing, false,
         [&]
         {
             host->SetSampleRate(48000.0f);
             Synth().DefaultPatch();
         },
         [&] { host->SetState(session); }, [&] { return Synth().GetDelayEffect()->enabled.GetBool(); }},
        {"a session reopened at 48 kHz: setChunk, then the host's 40 setParameter calls", Heard::Nothing,
         false, [&] { Synth().DefaultPatch(); },
         [&]
         {
             host->SetState(session);
             SetHostValues(stored);
         },
         [&] { return host->GetParameter(kMasterVolume) == stored[kMasterVolume]; }},
        {"host setParameter of the low cutoff above the high one, which it pushes", Heard::Nothing, false,
         [&]
         {
             host->SetParameter(kLowCutoff, 0.1f);
             host->SetParameter(kHighCutoff, 0.2f);
         },
         [&] { host->SetParameter(kLowCutoff, 0.5f); },
         [&] { return host->GetParameter(kHighCutoff) == host->GetParameter(kLowCutoff); }},
        {"host setSampleRate 44.1, 48 then 96 kHz", Heard::Nothing, false,
         [&]
         {
             host->SetSampleRate(44100.0f);
             host->SetParameter(kHighCutoff, 1.0f);
             before = HostValues();
         },
         [&]
         {
             host->SetSampleRate(48000.0f);
             EXPECT_LT(host->GetParameter(kHighCutoff), before[kHighCutoff]) << "the new range at once";
             host->SetSampleRate(96000.0f);
         },
         [&] { return host->GetParameter(kHighCutoff) < before[kHighCutoff]; }},
        {"host setBlockSize", Heard::Nothing, false, [&] { host->SetSampleRate(44100.0f); },
         [&] { DispatchValue(effSetBlockSize, 512); }, [] { return true; }},
        {"host mains off and on", Heard::Nothing, false, [] {},
         [&]
         {
             DispatchValue(effMainsChanged, 0);
             DispatchValue(effMainsChanged, 1);
         },
         [] { return true; }},
        {"6 s of playback, the editor open, Follow on", Heard::Nothing, false,
         [&]
         {
             Synth().SetEditTime(0.0f);
             before = HostValues();
         },
         [&] { furthest = Play(6); }, [&] { return furthest > 0.0f; }},
        {"6 s of playback, the editor open, Follow off", Heard::Nothing, false,
         [&]
         {
             Click(OnSynthPage(synth::kFollowPlayback));
             IdleUntilQuiet();
             editTime = Synth().GetEditTime();
         },
         [&] { furthest = Play(6); },
         [&] { return !Synth().animationEnabled.GetBool() && furthest == editTime; }},
        {"knob drag: the low cut's cutoff, pushing the high cut's", Heard::EveryMovedAtLeast, true,
         [&]
         {
             host->SetParameter(kLowCutOn, 1.0f);
             host->SetParameter(kHighCutOn, 1.0f);
             host->SetParameter(kLowCutoff, 0.0f);
             host->SetParameter(kHighCutoff, 0.3f);
             before = HostValues();
         },
         [&]
         {
             layout::Point const c = KnobCentre(synth::kLowCutKnob);
             Drag(c, {c.x, c.y - 80});
         },
         [&] { return host->GetParameter(kHighCutoff) > before[kHighCutoff]; }},
        {"fader drag: the master volume", Heard::EveryMovedAtLeast, true, [&] { before = HostValues(); },
         [&]
         {
             layout::Rect const t = synth::FaderTrack(synth::kMasterFader);
             int const x = root::kSynthPage.x + t.x + 1;
             Drag({x, root::kSynthPage.y + t.y + t.h / 2}, {x, root::kSynthPage.y + t.y + 2});
         },
         [&] { return host->GetParameter(kMasterVolume) != before[kMasterVolume]; }},
        {"the edit-time handle dragged by hand", Heard::EveryMovedAtLeast, true,
         [&]
         {
             Synth().SetEditTime(0.0f);
             before = HostValues();
         },
         [&]
         {
             int const x = synth::kTimeline.x + layout::timeline::kX0;
             int const y = synth::kTimeline.y + 25;
             Drag(OnSynthPage({x, y}, 0, 0), OnSynthPage({x + 150, y}, 0, 0));
         },
         [&] { return host->GetParameter(kFreezePosition) > 0.0f; }},
        {"a pad moved", Heard::EveryMovedAtLeast, true,
         [&]
         {
             Click({root::kPerformTab.x + 5, root::kPerformTab.y + 5});
             IdleUntilQuiet();
             before = HostValues();
         },
         [&]
         {
             layout::Point const b = perform::kBlocks[0];
             int const x = root::kPerformPage.x + b.x;
             int const y = root::kPerformPage.y + b.y;
             Drag({x + 55, y + 55}, {x + 30, y + 80});
         },
         [&] {
             return host->GetParameter(kPadX) != before[kPadX] && host->GetParameter(kPadY) != before[kPadY];
         }},
        {"a controller mapped by MIDI learn (pad 3 Y), on the audio thread", Heard::OncePerBlock, false,
         [&]
         {
             Responders::NextMenu({"MIDI Learn (click here, then move MIDI controller to assign it to me)"});
             Click(OnPad(2, perform::kLearnY.TopLeft()));
             IdleUntilQuiet();
             host->ControlChange(21, 64);
             host->Render(256);
             before = HostValues();
         },
         [&]
         {
             // Per block, the values the controller sends: the last one counts.
             std::vector<std::vector<int>> const blocks = {{10}, {10}, {}, {100, 50}, {90}, {90, 90}};
             int last = 64;
             blocksChanged = 0;
             for (std::vector<int> const& values : blocks)
             {
                 for (int v : values)
                     host->ControlChange(21, v);
                 host->Render(256);
                 if (!values.empty() && values.back() != last) ++blocksChanged;
                 if (!values.empty()) last = values.back();
             }
         },
         [&] { return host->GetParameter(kPad3Y) != before[kPad3Y]; }},
        {"paste: Paste All, in tempo, which snaps the edit time to the grid first", Heard::EveryChangedOnce,
         true,
         [&]
         {
             Click({root::kSynthTab.x + 5, root::kSynthTab.y + 5});
             IdleUntilQuiet();
             if (!Synth().tempoBridge.GetBool()) Click(OnSynthPage(synth::kTempoSwitch));
             Click(OnSynthPage(synth::kCopyAll));
             IdleUntilQuiet();
             Synth().SetEditTime(1000.0f);
             before = HostValues();
         },
         [&] { Click(OnSynthPage(synth::kPasteAll)); },
         [&] { return Synth().tempoBridge.GetBool() && Synth().GetEditTime() != 1000.0f; }},
        {"reset: File > Reset Patch, Yes", Heard::EveryChangedOnce, true,
         [&]
         {
             host->SetParameter(kDelayOn, 1.0f);
             host->SetParameter(kMasterVolume, 0.3f);
             before = HostValues();
         },
         [&]
         {
             Responders::NextMenu({"Reset Patch"});
             Click({root::kFileButton.x + 5, root::kFileButton.y + 5});
         },
         [&] { return Synth().GetPatchName() == "<untitled>"; }},
        {"a patch loaded from the browser", Heard::EveryChangedOnce, true,
         [&]
         {
             ASSERT_TRUE(Synth().SavePatch("Pads", "A"));
             host->SetParameter(kDelayOn, 1.0f);
             host->SetParameter(kLowCutoff, 0.1f);
             host->SetParameter(kLevelVoice2, 0.5f);
             ASSERT_TRUE(Synth().SavePatch("Pads", "B"));
             ASSERT_TRUE(Synth().LoadPatch("Pads", "A(User)"));
             Click({root::kPresetTab.x + 5, root::kPresetTab.y + 5});
             IdleUntilQuiet();
             before = HostValues();
         },
         [&]
         {
             layout::Point const at = layout::preset::kPatchList;
             Click({root::kPresetPage.x + at.x + 30, root::kPresetPage.y + at.y + 15 + 7});
         },
         [&] { return Synth().GetPatchName() == "B(User)"; }},
        {"a restore, then the user sets the delay switch back to its value before it",
         Heard::EveryChangedOnce, true,
         [&]
         {
             Click({root::kSynthTab.x + 5, root::kSynthTab.y + 5});
             IdleUntilQuiet();
             host->SetParameter(kDelayOn, 1.0f);
             session = host->GetState();
             host->SetParameter(kDelayOn, 0.0f);
         },
         [&]
         {
             host->SetState(session);
             EXPECT_EQ(host->GetParameter(kDelayOn), 1.0f);
             // The user's change is counted from the restored values.
             before = HostValues();
             Click(OnSynthPage(synth::kDelayOn));
         },
         [&] { return !Synth().GetDelayEffect()->enabled.GetBool(); }},
    };

    std::printf("%-80s %9s %8s\n", "origin", "automate", "display");
    bool first = true;
    for (Row const& r : rows)
    {
        SCOPED_TRACE(r.name);
        r.setup();
        int updatesBefore = 0;
        int idlesBefore = 0;
        if (!first)
        {
            IdleUntilQuiet();
            host->TakeAutomations();
            updatesBefore = host->DisplayUpdates();
            idlesBefore = idles;
        }
        // The first row counts from the instance's construction on.
        first = false;
        std::vector<float> const snapshot = HostValues();
        r.act();
        IdleUntilQuiet();
        // The values the change is measured from: a row's own (set by its setup or act), else
        // those before it acted.
        std::vector<float> const start = before.empty() ? snapshot : before;
        std::vector<HeadlessHost::Automation> const heard = host->TakeAutomations();
        int const updates = host->DisplayUpdates() - updatesBefore;
        std::vector<float> const end = HostValues();
        EXPECT_TRUE(r.happened());

        std::map<int, int> counts;
        std::map<int, float> last;
        for (HeadlessHost::Automation const& a : heard)
        {
            ++counts[a.index];
            last[a.index] = a.value;
        }
        switch (r.heard)
        {
        case Heard::Nothing:
            EXPECT_TRUE(counts.empty()) << "first heard: " << heard[0].index;
            break;
        case Heard::EveryMovedAtLeast:
            for (int i = 0; i < kParameters; ++i)
            {
                bool const moved = start[static_cast<std::size_t>(i)] != end[static_cast<std::size_t>(i)];
                EXPECT_EQ(counts.count(i) > 0, moved) << i;
                if (moved)
                {
                    EXPECT_EQ(last[i], end[static_cast<std::size_t>(i)]) << i;
                }
            }
            break;
        case Heard::EveryChangedOnce:
            for (int i = 0; i < kParameters; ++i)
            {
                bool const changed = start[static_cast<std::size_t>(i)] != end[static_cast<std::size_t>(i)];
                EXPECT_EQ(counts[i], changed ? 1 : 0) << i;
                if (changed)
                {
                    EXPECT_EQ(last[i], end[static_cast<std::size_t>(i)]) << i;
                }
            }
            EXPECT_FALSE(heard.empty());
            break;
        case Heard::OncePerBlock:
            EXPECT_EQ(counts.size(), 1u);
            EXPECT_EQ(static_cast<int>(heard.size()), blocksChanged);
            break;
        }
        if (r.user)
            EXPECT_LE(updates, idles - idlesBefore);
        else
            EXPECT_EQ(updates, 0);
        std::printf("%-80s %9zu %8d\n", r.name.c_str(), heard.size(), updates);
        before.clear();
    }
    EXPECT_FALSE(Responders::TakeMenu().has_value());
}
