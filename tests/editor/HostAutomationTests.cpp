// What the host hears as automation (audioMasterAutomate), by the origin of a change: only what
// the user changed (a gesture in the editor, a command chosen there, a controller mapped by MIDI
// learn) is automation; the host's own calls, construction, playback and timers are not, nor a
// display update, and after them the host reads the new values when it asks. Each edit in the
// editor is one bracket per parameter (audioMasterBeginEdit, the reports, audioMasterEndEdit), as a
// host's Touch and Latch lanes record it. The product's editor is opened through the plug-in's
// dispatcher in a fake host window of the headless back end, idled as a host idles it, and played
// on the back end's clock.

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "VstEditorTestSupport.h"
#include "support/RecordingMessageSink.h"

using namespace vsteditor;

namespace
{
constexpr int kParameters = Torvane::kNumHostParameters;
constexpr int kPadX = 0;
constexpr int kPadY = 1;
constexpr int kPad3Y = 5;
constexpr int kFreezePosition = 12;
constexpr int kMasterVolume = 13;
constexpr int kDelayOn = 15;
constexpr int kDelayFeedback = 17;
constexpr int kDelayMix = 18;
constexpr int kLowCutOn = 29;
constexpr int kLowCutoff = 30;
constexpr int kHighCutOn = 31;
constexpr int kHighCutoff = 32;
constexpr int kLevelVoice2 = 34;

using Call = HeadlessHost::AutomationCall;

// One parameter's calls as letters: B begin, A automate, E end.
std::string Letters(std::vector<Call> const& calls, int index)
{
    std::string out;
    for (Call const& c : calls)
        if (c.index == index)
            out += c.opcode == audioMasterBeginEdit ? 'B' : c.opcode == audioMasterEndEdit ? 'E' : 'A';
    return out;
}

// A pattern of those letters, a letter followed by + standing for one or more of it.
bool Matches(std::string const& got, std::string const& pattern)
{
    std::size_t g = 0;
    for (std::size_t p = 0; p < pattern.size(); ++p)
    {
        if (g >= got.size() || got[g] != pattern[p]) return false;
        ++g;
        if (p + 1 < pattern.size() && pattern[p + 1] == '+')
        {
            while (g < got.size() && got[g] == pattern[p])
                ++g;
            ++p;
        }
    }
    return g == got.size();
}

// A host recording a lane in Touch: a value reported between the begin and the end of its
// parameter's edit is written, nothing else. The last value written per parameter.
std::map<int, float> TouchRecorded(std::vector<Call> const& calls)
{
    std::set<int> touching;
    std::map<int, float> written;
    for (Call const& c : calls)
    {
        if (c.opcode == audioMasterBeginEdit)
            EXPECT_TRUE(touching.insert(c.index).second) << "a second begin of " << c.index;
        else if (c.opcode == audioMasterEndEdit)
            EXPECT_EQ(touching.erase(c.index), 1u) << "an end of " << c.index << " without a begin";
        else if (touching.count(c.index) != 0)
            written[c.index] = c.value;
    }
    EXPECT_TRUE(touching.empty()) << "an edit left open";
    return written;
}

struct Row
{
    std::string name;
    // Per parameter, the calls the host must get (a pattern of the letters above); `moved` for
    // every parameter whose value moved and that is not listed; none for the others.
    std::map<int, std::string> calls;
    std::string moved;
    std::function<void()> setup;    // before the count
    std::function<void()> act;      // the change, scripted as its origin makes it
    std::function<bool()> happened; // the change took effect, so a row that did nothing fails
    bool hostsOwn = false;          // no display update either
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
    // The automation calls since the last take; they are added to the row's record too.
    std::vector<Call> Heard()
    {
        std::vector<Call> const now = host->TakeAutomationCalls();
        calls.insert(calls.end(), now.begin(), now.end());
        return now;
    }
    long HeardOf(int index)
    {
        return std::count_if(calls.begin(), calls.end(),
                             [&](Call const& c)
                             { return c.index == index && c.opcode == audioMasterAutomate; });
    }
    // Pressed and moved, not let go: the editor waits in the drag.
    void Hold(layout::Point from, layout::Point to)
    {
        backend.Pause(1s);
        backend.Press(*surface, from.x, from.y);
        backend.MoveTo(*surface, (from.x + to.x) / 2, (from.y + to.y) / 2);
        backend.MoveTo(*surface, to.x, to.y);
        IdleUntilQuiet();
    }
    void Reopen()
    {
        ASSERT_EQ(Dispatch(effEditOpen, kHostWindow), 1);
        surface = static_cast<VstGUILoader*>(Synth().getEditor())->GetSurface();
        ASSERT_NE(surface, nullptr);
        IdleUntilQuiet();
    }
    static layout::Point MasterFader(int fromTop)
    {
        layout::Rect const t = synth::FaderTrack(synth::kMasterFader);
        return {root::kSynthPage.x + t.x + 1, root::kSynthPage.y + t.y + fromTop};
    }

    std::vector<float> start; // the values a row's change is measured from
    std::vector<Call> calls;  // the automation calls while it acted
    int updates = 0;          // and the display updates
};
} // namespace

TEST_F(HostAutomationTest, EachEditIsOneBracketPerParameterAndTheHostHearsOnlyTheUsersEdits)
{
    RecordingMessageSink messages(true);
    // Construction and opening the editor (its splash included).
    EXPECT_TRUE(host->TakeAutomationCalls().empty());
    EXPECT_EQ(host->DisplayUpdates(), 0);

    std::vector<unsigned char> session;
    std::vector<float> stored;
    float followed = 0.0f;
    float afterwards = 0.0f;
    std::vector<Call> atClose;
    std::vector<Call> inHiddenIdle;
    std::vector<Call> inStrandedIdle;
    int closeCalls = -1;
    auto const frozen = [&]
    {
        float const d = Synth().GetVoiceDef(-1)->GetDuration();
        return Synth().timeFreeze.GetBool() && Synth().GetEditTime() > 0.0f &&
               host->GetParameter(kFreezePosition) == Synth().GetEditTime() / d;
    };

    std::vector<Row> const rows = {
        {"host setChunk",
         {},
         "",
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
         [&] { return Synth().GetDelayEffect()->enabled.GetBool(); },
         true},
        {"a session reopened at 48 kHz: setChunk, then the host's 40 setParameter calls",
         {},
         "",
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
         },
         true},
        {"host setParameter of the low cutoff above the high one, which it pushes",
         {},
         "",
         [&] {
             SetHost({{kLowCutoff, 0.1f}, {kHighCutoff, 0.2f}});
         },
         [&] { host->SetParameter(kLowCutoff, 0.5f); },
         [&] { return host->GetParameter(kHighCutoff) == host->GetParameter(kLowCutoff); },
         true},
        {"host setSampleRate 44.1, 48 then 96 kHz, setBlockSize, mains off and on",
         {},
         "",
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
         [&] { return host->GetParameter(kHighCutoff) < start[kHighCutoff]; },
         true},
        {"playback followed, Follow switched off while a note plays (the time given back), more playback",
         {},
         "",
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
         [&] { return followed > 0.0f && afterwards == 0.0f && !Synth().animationEnabled.GetBool(); },
         true},
        {"Time Freeze switched on while a note is followed: the frozen time, as the click's",
         {{kFreezePosition, "BAE"}},
         "",
         [&]
         {
             Click(OnSynthPage(synth::kFollowPlayback));
             IdleUntilQuiet();
             host->NoteOn(60, 100);
             Play(25);
             ASSERT_GT(Synth().GetEditTime(), 0.0f);
             ASSERT_EQ(host->GetParameter(kFreezePosition), 0.0f) << "following moved no host parameter";
         },
         [&] { Click(OnSynthPage(synth::kTimeFreeze)); },
         frozen},
        {"knob drag: the delay mix",
         {{kDelayMix, "BA+E"}},
         "",
         [&]
         {
             host->NoteOff(60);
             host->Render(1764);
             Click(OnSynthPage(synth::kTimeFreeze));
             Click(OnSynthPage(synth::kFollowPlayback));
             IdleUntilQuiet();
             ASSERT_FALSE(Synth().timeFreeze.GetBool());
             SetHost({{kDelayMix, 0.0f}});
         },
         [&]
         {
             layout::Point const c = KnobCentre(synth::kDelayKnobs[2]);
             Drag(c, {c.x, c.y - 25});
         },
         [&] { return host->GetParameter(kDelayMix) > 0.0f; }},
        {"a pushed cutoff: the low cut's knob dragged above the high cut's cutoff",
         {{kLowCutoff, "BA+E"}, {kHighCutoff, "BA+E"}},
         "",
         [&] {
             SetHost({{kLowCutOn, 1.0f}, {kHighCutOn, 1.0f}, {kLowCutoff, 0.0f}, {kHighCutoff, 0.3f}});
         },
         [&]
         {
             layout::Point const c = KnobCentre(synth::kLowCutKnob);
             Drag(c, {c.x, c.y - 80});
         },
         [&] { return host->GetParameter(kHighCutoff) > start[kHighCutoff]; }},
        {"fader drag: the master volume, set on the press",
         {{kMasterVolume, "BA+E"}},
         "",
         [] {},
         [&]
         {
             layout::Rect const t = synth::FaderTrack(synth::kMasterFader);
             Drag(MasterFader(t.h / 2), MasterFader(2));
         },
         [&] { return host->GetParameter(kMasterVolume) != start[kMasterVolume]; }},
        {"switch: a restore, then the user sets the delay switch back to its value before it",
         {{kDelayOn, "BAE"}},
         "",
         [&]
         {
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
        {"the edit-time handle dragged by hand, held still half-way: heard there and at the end",
         {{kFreezePosition, "BAAE"}},
         "",
         [&] { Synth().SetEditTime(0.0f); },
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
         [&] { return Synth().GetEditTime() > 0.0f; }},
        {"a click on a breakpoint away from the edit time, which moves there",
         {{kFreezePosition, "BAE"}},
         "",
         [&]
         {
             Synth().SetEditTime(0.0f);
             ASSERT_GE(Synth().CreateBreakpoint(-1, VoiceDef::kFilterLine, 88200.0f), 0);
         },
         [&]
         {
             // The filter line's row, 88200 samples into the five seconds shown.
             Click(OnSynthPage({synth::kTimeline.x + 170, synth::kTimeline.y + 105 + 19 * 2 + 9}, 0, 0));
         },
         [&] { return Synth().GetEditTime() == 88200.0f; }},
        {"a pad moved: both its parameters",
         {{kPadX, "BA+E"}, {kPadY, "BA+E"}},
         "",
         [&] { ShowPage(root::kPerformTab); },
         [&]
         {
             layout::Point const b = perform::kBlocks[0];
             int const x = root::kPerformPage.x + b.x;
             int const y = root::kPerformPage.y + b.y;
             Drag({x + 55, y + 55}, {x + 30, y + 80});
         },
         [&]
         { return host->GetParameter(kPadX) != start[kPadX] && host->GetParameter(kPadY) != start[kPadY]; }},
        {"a controller mapped by MIDI learn (pad 3 Y), on the audio thread: once a block that moves it",
         {{kPad3Y, "AAA"}},
         "",
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
         [&] { return updates == 0; }},
        {"paste: Paste All, in tempo, which snaps the edit time to the grid first",
         {},
         "BAE",
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
        {"reset: File > Reset Patch, Yes",
         {},
         "BAE",
         [&] {
             SetHost({{kDelayOn, 1.0f}, {kMasterVolume, 0.3f}});
         },
         [&]
         {
             Responders::NextMenu({"Reset Patch"});
             Click({root::kFileButton.x + 5, root::kFileButton.y + 5});
         },
         [&] { return Synth().GetPatchName() == "<untitled>" && HeardOf(kDelayOn) == 1; }},
        {"a patch loaded from the browser",
         {},
         "BAE",
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
         [&] { return Synth().GetPatchName() == "B(User)" && HeardOf(kLevelVoice2) == 1; }},
        {"the X/Y bowl dragged: it binds no host parameter",
         {},
         "",
         [&]
         {
             ShowPage(root::kSynthTab);
             Synth().vectorXParam.Set(0.0f, nullptr);
         },
         [&]
         {
             layout::Point const c = OnSynthPage(synth::kBowlCentre, 0, 0);
             Drag(c, {c.x + 35, c.y + 20});
         },
         [&] { return static_cast<float>(Synth().vectorXParam) > 0.0f; }},
        {"a knob drag ended by effEditClose: its end before the close returns",
         {{kDelayMix, "BA+E"}},
         "",
         [&] {
             SetHost({{kDelayMix, 0.0f}});
         },
         [&]
         {
             layout::Point const c = KnobCentre(synth::kDelayKnobs[2]);
             Hold(c, {c.x, c.y - 25});
             Heard();
             Dispatch(effEditClose);
             atClose = Heard();
             Reopen();
         },
         [&] { return Letters(atClose, kDelayMix) == "E"; }},
        {"a knob drag ended by effEditClose from another thread than the drag's",
         {{kDelayMix, "BA+E"}},
         "",
         [&] {
             SetHost({{kDelayMix, 0.0f}});
         },
         [&]
         {
             Dispatch(effEditClose);
             std::mutex m;
             std::condition_variable changed;
             bool held = false;
             bool closed = false;
             std::thread editorThread(
                 [&]
                 {
                     Reopen();
                     layout::Point const c = KnobCentre(synth::kDelayKnobs[2]);
                     Hold(c, {c.x, c.y - 25});
                     std::unique_lock<std::mutex> lock(m);
                     held = true;
                     changed.notify_all();
                     changed.wait(lock, [&] { return closed; });
                     lock.unlock();
                     // It comes back once more: its drag unwinds, as a release that sends nothing.
                     backend.Advance(40ms);
                     Dispatch(effEditIdle);
                 });
             {
                 std::unique_lock<std::mutex> lock(m);
                 changed.wait(lock, [&] { return held; });
             }
             Heard();
             Dispatch(effEditClose);
             atClose = Heard();
             {
                 std::lock_guard<std::mutex> lock(m);
                 closed = true;
                 changed.notify_all();
             }
             editorThread.join();
             Heard();
             Reopen();
         },
         [&] { return Letters(atClose, kDelayMix) == "E"; }},
        {"a fader drag whose editor the host hides: its end in the idle that sees it",
         {{kMasterVolume, "BA+E"}},
         "",
         [&] {
             SetHost({{kMasterVolume, 0.0f}});
         },
         [&]
         {
             layout::Rect const t = synth::FaderTrack(synth::kMasterFader);
             Hold(MasterFader(t.h / 2), MasterFader(t.h / 4));
             Heard();
             EXPECT_EQ(Letters(calls, kMasterVolume).substr(0, 2), "BA");
             gfx::RunLoop::Abandon(surface);
             backend.Advance(40ms);
             Dispatch(effEditIdle);
             inHiddenIdle = Heard();
             // Shown again as a new editor.
             Dispatch(effEditClose);
             Reopen();
         },
         [&] { return Letters(inHiddenIdle, kMasterVolume) == "E"; }},
        {"a fader drag whose thread ends: its end in the next idle, from another thread",
         {{kMasterVolume, "BA+E"}},
         "",
         [&] {
             SetHost({{kMasterVolume, 0.0f}});
         },
         [&]
         {
             // The host opens the editor on a thread of its own, which ends in the drag.
             Dispatch(effEditClose);
             std::thread(
                 [&]
                 {
                     Reopen();
                     layout::Rect const t = synth::FaderTrack(synth::kMasterFader);
                     Hold(MasterFader(t.h / 2), MasterFader(t.h / 4));
                     Heard();
                 })
                 .join();
             EXPECT_EQ(Letters(calls, kMasterVolume).substr(0, 2), "BA");
             backend.Advance(40ms);
             Dispatch(effEditIdle);
             inStrandedIdle = Heard();
             // The instance goes with it (its closed editor's strand with it); another comes.
             EXPECT_EQ(host->CloseInstance(), 1);
             host = std::make_unique<HeadlessHost>();
             AttachEditorLoader<GUI>(&Synth());
             Reopen();
         },
         [&] { return Letters(inStrandedIdle, kMasterVolume) == "E"; }},
        {"a knob drag cut by effClose: no host call at all during the close",
         {{kDelayMix, "BA+"}},
         "",
         [&] {
             SetHost({{kDelayMix, 0.0f}});
         },
         [&]
         {
             layout::Point const c = KnobCentre(synth::kDelayKnobs[2]);
             Hold(c, {c.x, c.y - 25});
             Heard();
             int const before = host->HostCalls();
             EXPECT_EQ(host->CloseInstance(), 1);
             closeCalls = host->HostCalls() - before;
             host.reset();
         },
         [&] { return closeCalls == 0; }},
    };

    for (Row const& r : rows)
    {
        SCOPED_TRACE(r.name);
        r.setup();
        IdleUntilQuiet();
        host->TakeAutomationCalls();
        int const updatesBefore = host->DisplayUpdates();
        start = HostValues();
        calls.clear();
        HeadlessHost const* const instance = host.get();
        r.act();
        if (host.get() != instance)
        {
            // The instance is gone: what it heard before is all.
            EXPECT_TRUE(r.happened());
            std::string heard;
            for (auto const& [index, pattern] : r.calls)
            {
                std::string const got = Letters(calls, index);
                heard += " " + std::to_string(index) + ":" + got;
                EXPECT_TRUE(Matches(got, pattern)) << index;
            }
            if (!host) heard += ", then " + std::to_string(closeCalls) + " calls in effClose";
            std::printf("%-90s%s\n", r.name.c_str(), heard.c_str());
            continue;
        }
        IdleUntilQuiet();
        Heard();
        updates = host->DisplayUpdates() - updatesBefore;
        EXPECT_TRUE(r.happened());

        std::vector<float> const end = HostValues();
        std::map<int, float> const touched = TouchRecorded(calls);
        std::string heard;
        for (int i = 0; i < kParameters; ++i)
        {
            auto const at = static_cast<std::size_t>(i);
            bool const moved = start[at] != end[at];
            auto const listed = r.calls.find(i);
            std::string const pattern = listed != r.calls.end() ? listed->second : moved ? r.moved : "";
            std::string const got = Letters(calls, i);
            if (!got.empty()) heard += " " + std::to_string(i) + ":" + got;
            EXPECT_TRUE(Matches(got, pattern)) << i << ": " << got << " for " << pattern;
            // What the host hears last is the value it reads; a Touch lane writes it too.
            if (got.find('A') == std::string::npos) continue;
            auto const last =
                std::find_if(calls.rbegin(), calls.rend(),
                             [&](Call const& c) { return c.index == i && c.opcode == audioMasterAutomate; });
            EXPECT_EQ(last->value, end[at]) << i;
            if (got.find('B') != std::string::npos)
            {
                ASSERT_EQ(touched.count(i), 1u) << i;
                EXPECT_EQ(touched.at(i), end[at]) << i;
            }
        }
        std::printf("%-90s%s\n", r.name.c_str(), heard.empty() ? " -" : heard.c_str());
        if (r.hostsOwn)
        {
            EXPECT_EQ(updates, 0);
        }
    }
    EXPECT_FALSE(Responders::TakeMenu().has_value());
}

// A host that reads every value again after each display update (as one recording automation
// does, writing what it finds changed) while the editor follows six seconds of playback and the
// user drags a fader: it finds only that fader's parameter changed, and hears only its bracket.
TEST_F(HostAutomationTest, AHostRereadingEveryValueWhileTheEditorFollowsPlaybackFindsOnlyTheDraggedFader)
{
    ASSERT_TRUE(Synth().animationEnabled.GetBool()) << "Follow is on";
    std::vector<float> const before = HostValues();
    std::vector<float> read = before;
    std::set<int> differed;
    int rereads = 0;
    host->onDisplayUpdate = [&]
    {
        ++rereads;
        std::vector<float> const now = HostValues();
        for (int i = 0; i < kParameters; ++i)
            if (now[static_cast<std::size_t>(i)] != read[static_cast<std::size_t>(i)]) differed.insert(i);
        read = now;
    };
    host->TakeAutomationCalls();

    layout::Rect const t = synth::FaderTrack(synth::kMasterFader);
    layout::Point const from = MasterFader(t.h / 2);
    backend.Pause(2s);
    backend.Press(*surface, from.x, from.y);
    for (int step = 1; step <= 5; ++step)
    {
        backend.Pause(200ms);
        backend.MoveTo(*surface, from.x, from.y - 3 * step);
    }
    backend.Release(*surface, from.x, from.y - 15);
    host->NoteOn(60, 100);
    float const followed = Play(150);
    host->NoteOff(60);
    Play(5);
    host->onDisplayUpdate = nullptr;

    EXPECT_GT(followed, 0.0f) << "the editor followed the note";
    EXPECT_GT(rereads, 0);
    EXPECT_EQ(differed, std::set<int>{kMasterVolume});
    std::vector<float> const after = HostValues();
    for (int i = 0; i < kParameters; ++i)
        EXPECT_EQ(after[static_cast<std::size_t>(i)] != before[static_cast<std::size_t>(i)],
                  i == kMasterVolume)
            << i;
    std::vector<Call> const heard = host->TakeAutomationCalls();
    for (int i = 0; i < kParameters; ++i)
        EXPECT_TRUE(Matches(Letters(heard, i), i == kMasterVolume ? "BA+E" : "")) << i;
    std::map<int, float> const touched = TouchRecorded(heard);
    ASSERT_EQ(touched.count(kMasterVolume), 1u) << "a Touch lane wrote the drag";
    EXPECT_EQ(touched.at(kMasterVolume), after[kMasterVolume]);
}
