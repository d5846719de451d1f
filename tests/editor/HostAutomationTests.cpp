// What the host hears as automation (audioMasterAutomate), by the origin of a change: only what
// the user changed (a gesture in the editor, a command chosen there, a controller mapped by MIDI
// learn) is automation; the host's own calls, construction, playback and timers are not, nor a
// display update, and after them the host reads the new values when it asks. The product's editor
// is opened through the plug-in's dispatcher in a fake host window of the headless back end, idled
// as a host idles it, and played on the back end's clock.

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "VstEditorTestSupport.h"
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

// What the host must hear while a row acts.
enum class Heard
{
    Nothing, // no report and no display update
    Moved,   // for each parameter whose value moved, and no other, reports ending with its new value
    Once,    // as Moved, one report each
};

struct Row
{
    std::string name;
    Heard heard;
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
    // Plays `ticks` blocks of 40 ms on the back end's clock, idling the editor after each as a
    // host does; the furthest edit time meanwhile.
    float Play(int ticks)
    {
        float furthest = 0.0f;
        for (int i = 0; i < ticks; ++i)
        {
            host->Render(1764);
            backend.Advance(40ms);
            Dispatch(effEditIdle);
            furthest = std::max(furthest, Synth().GetEditTime());
        }
        return furthest;
    }
    void SetHost(std::vector<std::pair<int, float>> const& values)
    {
        for (auto const& [index, value] : values)
            host->SetParameter(index, value);
    }
    long HeardOf(int index)
    {
        return std::count_if(heard.begin(), heard.end(), [&](auto const& a) { return a.index == index; });
    }

    std::vector<float> start;                    // the values a row's change is measured from
    std::vector<HeadlessHost::Automation> heard; // the reports while it acted
    int updates = 0;                             // and the display updates
};
} // namespace

TEST_F(HostAutomationTest, TheHostHearsAsAutomationOnlyWhatTheUserChanged)
{
    RecordingMessageSink messages(true);
    // Construction and opening the editor (its splash included).
    EXPECT_TRUE(host->TakeAutomations().empty());
    EXPECT_EQ(host->DisplayUpdates(), 0);

    std::vector<unsigned char> session;
    std::vector<float> stored;
    float followed = 0.0f;
    float afterwards = 0.0f;

    std::vector<Row> const rows = {
        {"host setChunk", Heard::Nothing,
         [&]
         {
             // A session as a host saves it: the state and the 40 values it read just before.
             SetHost({{kDelayOn, 1.0f}, {kDelayFeedback, 0.8f}, {kMasterVolume, 0.6f}});
             session = host->GetState();
             stored = HostValues();
             Synth().DefaultPatch();
         },
         [&]
         {
             host->SetState(session);
             EXPECT_EQ(HostValues(), stored) << "the host reads the restored values at once";
         },
         [&] { return Synth().GetDelayEffect()->enabled.GetBool(); }},
        {"a session reopened at 48 kHz: setChunk, then the host's 40 setParameter calls", Heard::Nothing,
         [&]
         {
             host->SetSampleRate(48000.0f);
             Synth().DefaultPatch();
         },
         [&]
         {
             host->SetState(session);
             for (int i = 0; i < kParameters; ++i)
                 host->SetParameter(i, stored[static_cast<std::size_t>(i)]);
         },
         [&]
         {
             return Synth().GetDelayEffect()->enabled.GetBool() &&
                    host->GetParameter(kMasterVolume) == stored[kMasterVolume];
         }},
        {"host setParameter of the low cutoff above the high one, which it pushes", Heard::Nothing,
         [&] {
             SetHost({{kLowCutoff, 0.1f}, {kHighCutoff, 0.2f}});
         },
         [&] { host->SetParameter(kLowCutoff, 0.5f); },
         [&] { return host->GetParameter(kHighCutoff) == host->GetParameter(kLowCutoff); }},
        {"host setSampleRate 44.1, 48 then 96 kHz, setBlockSize, mains off and on", Heard::Nothing,
         [&]
         {
             host->SetSampleRate(44100.0f);
             host->SetParameter(kHighCutoff, 1.0f);
         },
         [&]
         {
             host->SetSampleRate(48000.0f);
             EXPECT_LT(host->GetParameter(kHighCutoff), start[kHighCutoff]) << "the new range at once";
             host->SetSampleRate(96000.0f);
             Dispatch(effSetBlockSize, nullptr, 512);
             Dispatch(effMainsChanged, nullptr, 0);
             Dispatch(effMainsChanged, nullptr, 1);
         },
         [&] { return host->GetParameter(kHighCutoff) < start[kHighCutoff]; }},
        {"playback followed, Follow switched off while a note plays (the time given back), more playback",
         Heard::Nothing,
         [&]
         {
             host->SetSampleRate(44100.0f);
             Synth().SetEditTime(0.0f);
         },
         [&]
         {
             host->NoteOn(60, 100);
             followed = Play(75);
             Click(OnSynthPage(synth::kFollowPlayback));
             IdleUntilQuiet();
             afterwards = Play(75);
             host->NoteOff(60);
             host->Render(1764);
         },
         [&] { return followed > 0.0f && afterwards == 0.0f && !Synth().animationEnabled.GetBool(); }},
        {"knob drag: the low cut's cutoff, pushing the high cut's", Heard::Moved,
         [&] {
             SetHost({{kLowCutOn, 1.0f}, {kHighCutOn, 1.0f}, {kLowCutoff, 0.0f}, {kHighCutoff, 0.3f}});
         },
         [&]
         {
             layout::Point const c = KnobCentre(synth::kLowCutKnob);
             Drag(c, {c.x, c.y - 80});
         },
         [&] { return host->GetParameter(kHighCutoff) > start[kHighCutoff]; }},
        {"fader drag: the master volume", Heard::Moved, [] {},
         [&]
         {
             layout::Rect const t = synth::FaderTrack(synth::kMasterFader);
             int const x = root::kSynthPage.x + t.x + 1;
             Drag({x, root::kSynthPage.y + t.y + t.h / 2}, {x, root::kSynthPage.y + t.y + 2});
         },
         [&] { return host->GetParameter(kMasterVolume) != start[kMasterVolume]; }},
        {"the edit-time handle dragged by hand, held still half-way: heard there and at the end",
         Heard::Moved, [&] { Synth().SetEditTime(0.0f); },
         [&]
         {
             layout::Point const h = EditTimeHandle();
             backend.Pause(1s);
             backend.Press(*surface, h.x, h.y);
             backend.MoveTo(*surface, h.x + 75, h.y);
             backend.Pause(1s);
             backend.MoveTo(*surface, h.x + 150, h.y);
             backend.Release(*surface, h.x + 150, h.y);
         },
         [&] { return HeardOf(kFreezePosition) == 2; }},
        {"a pad moved", Heard::Moved, [&] { ShowPage(root::kPerformTab); },
         [&]
         {
             layout::Point const b = perform::kBlocks[0];
             int const x = root::kPerformPage.x + b.x;
             int const y = root::kPerformPage.y + b.y;
             Drag({x + 55, y + 55}, {x + 30, y + 80});
         },
         [&] { return HeardOf(kPadX) > 0 && HeardOf(kPadY) > 0; }},
        {"a controller mapped by MIDI learn (pad 3 Y), on the audio thread: once a block that moves it",
         Heard::Moved,
         [&]
         {
             LearnY(2);
             IdleUntilQuiet();
             host->ControlChange(21, 64);
             host->Render(256);
         },
         [&]
         {
             // Per block, the values the controller sends: the last one counts, three blocks move it.
             for (std::vector<int> const& block :
                  std::vector<std::vector<int>>{{10}, {10}, {}, {100, 50}, {90}, {90, 90}})
             {
                 for (int v : block)
                     host->ControlChange(21, v);
                 host->Render(256);
             }
         },
         [&] { return heard.size() == 3u && updates == 0; }},
        {"paste: Paste All, in tempo, which snaps the edit time to the grid first", Heard::Once,
         [&]
         {
             ShowPage(root::kSynthTab);
             if (!Synth().tempoBridge.GetBool()) Click(OnSynthPage(synth::kTempoSwitch));
             Click(OnSynthPage(synth::kCopyAll));
             IdleUntilQuiet();
             Synth().SetEditTime(1000.0f);
         },
         [&] { Click(OnSynthPage(synth::kPasteAll)); },
         [&] { return Synth().tempoBridge.GetBool() && Synth().GetEditTime() != 1000.0f; }},
        {"reset: File > Reset Patch, Yes", Heard::Once,
         [&] {
             SetHost({{kDelayOn, 1.0f}, {kMasterVolume, 0.3f}});
         },
         [&]
         {
             Responders::NextMenu({"Reset Patch"});
             Click({root::kFileButton.x + 5, root::kFileButton.y + 5});
         },
         [&] { return Synth().GetPatchName() == "<untitled>"; }},
        {"a patch loaded from the browser", Heard::Once,
         [&]
         {
             ASSERT_TRUE(Synth().SavePatch("Pads", "A"));
             SetHost({{kDelayOn, 1.0f}, {kLowCutoff, 0.1f}, {kLevelVoice2, 0.5f}});
             ASSERT_TRUE(Synth().SavePatch("Pads", "B"));
             ASSERT_TRUE(Synth().LoadPatch("Pads", "A(User)"));
             ShowPage(root::kPresetTab);
         },
         [&]
         {
             layout::Point const at = layout::preset::kPatchList;
             Click({root::kPresetPage.x + at.x + 30, root::kPresetPage.y + at.y + 15 + 7});
         },
         [&] { return Synth().GetPatchName() == "B(User)"; }},
        {"a restore, then the user sets the delay switch back to its value before it", Heard::Once,
         [&]
         {
             ShowPage(root::kSynthTab);
             host->SetParameter(kDelayOn, 1.0f);
             session = host->GetState();
             host->SetParameter(kDelayOn, 0.0f);
         },
         [&]
         {
             host->SetState(session);
             EXPECT_EQ(host->GetParameter(kDelayOn), 1.0f);
             // The user's change is counted from the restored values.
             start = HostValues();
             Click(OnSynthPage(synth::kDelayOn));
         },
         [&] { return !Synth().GetDelayEffect()->enabled.GetBool(); }},
    };

    for (Row const& r : rows)
    {
        SCOPED_TRACE(r.name);
        r.setup();
        IdleUntilQuiet();
        host->TakeAutomations();
        int const updatesBefore = host->DisplayUpdates();
        start = HostValues();
        r.act();
        IdleUntilQuiet();
        heard = host->TakeAutomations();
        updates = host->DisplayUpdates() - updatesBefore;
        EXPECT_TRUE(r.happened());

        std::vector<float> const end = HostValues();
        for (int i = 0; i < kParameters; ++i)
        {
            auto const at = static_cast<std::size_t>(i);
            long const n = HeardOf(i);
            EXPECT_EQ(n > 0, r.heard != Heard::Nothing && start[at] != end[at]) << i;
            if (n == 0) continue;
            auto const last =
                std::find_if(heard.rbegin(), heard.rend(), [&](auto const& a) { return a.index == i; });
            EXPECT_EQ(last->value, end[at]) << i;
            if (r.heard == Heard::Once)
            {
                EXPECT_EQ(n, 1) << i;
            }
        }
        if (r.heard == Heard::Nothing)
            EXPECT_EQ(updates, 0);
        else
            EXPECT_FALSE(heard.empty());
    }
    EXPECT_FALSE(Responders::TakeMenu().has_value());
}
