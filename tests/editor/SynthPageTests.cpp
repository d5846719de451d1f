// The synthesizer page on a real instrument: every control edits the setting it stands for and
// follows changes made on other threads, the sound follows the page, voice tabs, follow-playback
// on the virtual clock, the snap menu, and a page whose building stopped on a missing picture.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "EditorTestSupport.h"
#include "editor/SynthGUI.h"
#include "support/RecordingMessageSink.h"

using namespace std::chrono_literals;

namespace
{
// How a control is worked and read.
enum class Gesture
{
    Knob,     // dragged upwards from its centre
    Slider,   // pressed at the end of its track where the value is largest
    Fader,    // a flipped vertical slider: pressed at its top
    Column,   // a vertical slider: pressed at its bottom
    Toggle,   // clicked
    Selector, // right arrow clicked
    Number,   // shows only
};

using Lookup = std::function<Parameter*(Torvane&, SynthGUI&)>;

struct Expected
{
    int x;
    int y;
    Gesture gesture;
    Lookup param;
    int length = 0; // sliders
};

Lookup Member(Parameter Torvane::*m)
{
    return [m](Torvane& t, SynthGUI&) { return &(t.*m); };
}
template <class P> Lookup Member(P Torvane::*m)
{
    return [m](Torvane& t, SynthGUI&) { return static_cast<Parameter*>(&(t.*m)); };
}
Lookup LayerParam(int layer, int n)
{
    return [layer, n](Torvane& t, SynthGUI&) { return &t.GetVoiceDef(layer)->parameters[n]; };
}
Lookup Named(char const* owner, char const* name)
{
    std::string const o = owner;
    return [o, name](Torvane& t, SynthGUI&) -> Parameter*
    {
        if (o == "delay") return t.GetDelayEffect()->FindParameter(name, true);
        if (o == "reverb") return t.GetReverbEffect()->FindParameter(name, true);
        if (o == "distortion") return t.GetDistortionEffect()->FindParameter(name, true);
        if (o == "low") return t.GetGlobalLowFilter()->FindParameter(name, true);
        if (o == "high") return t.GetGlobalHighFilter()->FindParameter(name, true);
        return t.FindParameter(name, false);
    };
}

// The page's bound controls by page position, written down from the page's design.
std::vector<Expected> ExpectedBindings()
{
    using G = Gesture;
    using T = Torvane;
    return {
        {269, 10, G::Toggle, LayerParam(0, 0)},
        {369, 10, G::Toggle, LayerParam(1, 0)},
        {469, 10, G::Toggle, LayerParam(2, 0)},
        {569, 10, G::Toggle, LayerParam(3, 0)},
        {27, 30, G::Toggle, Member(&T::layerOnBridge)},
        {18, 76, G::Knob, Member(&T::pitchParam)},
        {15, 60, G::Number, Member(&T::pitchParam)},
        {55, 76, G::Knob, Member(&T::finePitchParam)},
        {25, 140, G::Slider, Member(&T::panParam), 48},
        {35, 169, G::Slider, Member(&T::unisonBridge), 48},
        {18, 193, G::Knob, Member(&T::unisonDetuneParam)},
        {55, 193, G::Knob, Member(&T::unisonSpreadParam)},
        {367, 60, G::Toggle, Member(&T::filterOnBridge)},
        {360, 90, G::Knob, Member(&T::filterCutoffParam)},
        {360, 125, G::Knob, Member(&T::filterResonanceParam)},
        {366, 165, G::Selector, Member(&T::filterTypeParam)},
        {378, 200, G::Toggle, Member(&T::keyFollowBridge)},
        {700, 105, G::Slider, Member(&T::delaySendParam), 40},
        {700, 158, G::Slider, Member(&T::reverbSendParam), 40},
        {700, 210, G::Slider, Member(&T::distortionSendParam), 40},
        {468, 58, G::Knob, Member(&T::lfo1RateParam)},
        {500, 58, G::Selector, Member(&T::lfo1ShapeParam)},
        {551, 60, G::Toggle, Member(&T::lfo1SyncBridge)},
        {585, 60, G::Toggle, Member(&T::lfo1FreeRunningBridge)},
        {619, 59, G::Toggle, Member(&T::lfo1PositiveOnlyBridge)},
        {468, 104, G::Knob, Member(&T::lfo2RateParam)},
        {500, 103, G::Selector, Member(&T::lfo2ShapeParam)},
        {551, 105, G::Toggle, Member(&T::lfo2SyncBridge)},
        {585, 105, G::Toggle, Member(&T::lfo2FreeRunningBridge)},
        {619, 104, G::Toggle, Member(&T::lfo2PositiveOnlyBridge)},
        {125, 220, G::Slider, Member(&T::oscNoiseBalanceParam), 50},
        {529, 282, G::Slider, Member(&T::releaseBridge), 52},
        {560, 308, G::Toggle, Member(&T::loopAfterReleaseBridge)},
        {17, 450, G::Toggle, Member(&T::timeFreeze)},
        {675, 250, G::Toggle, Member(&T::tempoBridge)},
        {700, 460, G::Toggle, [](Torvane&, SynthGUI& page) { return &page.FollowPlayback(); }},
        {52, 517, G::Toggle, Named("delay", "DELAY_ENABLED")},
        {20, 545, G::Knob, Named("delay", "DELAY_TIME")},
        {50, 545, G::Knob, Named("delay", "DELAY_FEEDBACK")},
        {80, 545, G::Knob, Named("delay", "DELAY_MIX")},
        {81, 509, G::Toggle, Named("delay", "DELAY_STEREO")},
        {81, 526, G::Toggle, Named("delay", "SYNC_TO_HOST")},
        {162, 517, G::Toggle, Named("reverb", "REVERB_ENABLED")},
        {130, 545, G::Knob, Named("reverb", "REVERB_TIME")},
        {160, 545, G::Knob, Named("reverb", "REVERB_SIZE")},
        {190, 545, G::Knob, Named("reverb", "REVERB_MIX")},
        {272, 517, G::Toggle, Named("distortion", "DISTORTION_ENABLED")},
        {240, 545, G::Knob, Named("distortion", "DISTORTION_CRUNCH")},
        {270, 545, G::Knob, Named("distortion", "DISTORTION_DRIVE")},
        {300, 545, G::Knob, Named("distortion", "DISTORTION_HIGHCUT")},
        {352, 570, G::Toggle, Named("low", "STEREOFILTER_ENABLED")},
        {350, 538, G::Knob, Named("low", "STEREOFILTER_CUTOFF")},
        {412, 570, G::Toggle, Named("high", "STEREOFILTER_ENABLED")},
        {410, 538, G::Knob, Named("high", "STEREOFILTER_CUTOFF")},
        {465, 535, G::Fader, LayerParam(0, 13), 40},
        {485, 535, G::Fader, LayerParam(1, 13), 40},
        {505, 535, G::Fader, LayerParam(2, 13), 40},
        {525, 535, G::Fader, LayerParam(3, 13), 40},
        {748, 525, G::Fader, Named("instrument", "MasterVolume"), 40},
        {690, 518, G::Knob, Named("instrument", "PitchBendRange")},
        {670, 526, G::Number, Named("instrument", "PitchBendRange")},
        {582, 532, G::Column, Named("instrument", "KeyMode"), 43},
        {615, 550, G::Knob, Named("instrument", "PortamentoTime")},
        {615, 510, G::Knob, Named("instrument", "Polyphony")},
        {595, 517, G::Number, Named("instrument", "Polyphony")},
    };
}

constexpr int kPageY = 50; // the page lies at root (0, 50)

class SynthPageTest : public GUITest
{
public:
    SynthGUI& OpenPage() { return OpenSynthPage(); }
    void Press(int x, int y) // page coordinates
    {
        backend.Click(*surface, x, y + kPageY);
        Run();
    }
    void DragPage(int x0, int y0, int x1, int y1)
    {
        backend.Drag(*surface, {x0, y0 + kPageY}, {x1, y1 + kPageY});
        Run();
    }
    void SetElsewhere(Parameter* p, float v)
    {
        std::thread([p, v] { p->Set(v, nullptr); }).join();
        Pump(20ms);
    }
    // A note of `frames` frames at key 60 (left channel), released halfway.
    std::vector<float> RenderNote(HeadlessHost& h, long frames = 44100)
    {
        std::vector<float> out;
        h.NoteOn(60, 100);
        for (long done = 0; done < frames; done += 512)
        {
            if (done == frames / 2) h.NoteOff(60);
            h.Render(512);
            out.insert(out.end(), h.Left().begin(), h.Left().end());
        }
        return out;
    }
    static double Difference(std::vector<float> const& a, std::vector<float> const& b)
    {
        double d = 0.0;
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
            d += std::fabs(static_cast<double>(a[i]) - b[i]);
        return d;
    }
};

// What the control at the row's place shows, in normalised units (toggles 0 or 1).
float Shown(SynthGUI& page, Expected const& e)
{
    Window* const w = page.ControlAt(e.x, e.y);
    if (auto* knob = dynamic_cast<TPot*>(w)) return knob->GetVal();
    if (auto* slider = dynamic_cast<Slider*>(w)) return slider->GetLastPosition();
    if (auto* box = dynamic_cast<ToggleBox*>(w)) return box->IsOn() ? 1.0f : 0.0f;
    if (auto* selector = dynamic_cast<ChoiceSelector*>(w))
        return static_cast<float>(selector->GetSelection());
    if (auto* number = dynamic_cast<NumericDisplay*>(w))
        return std::stof(number->GetValueString().ToStdString());
    ADD_FAILURE() << "no control at (" << e.x << "," << e.y << ")";
    return -1.0f;
}
} // namespace

TEST_F(SynthPageTest, EveryControlEditsItsSettingAndShowsChangesFromAnotherThread)
{
    SynthGUI& page = OpenPage();
    ASSERT_TRUE(page.IsComplete());
    for (Expected const& e : ExpectedBindings())
    {
        SCOPED_TRACE("control at (" + std::to_string(e.x) + "," + std::to_string(e.y) + ")");
        Parameter* const p = e.param(Synth(), page);
        ASSERT_NE(p, nullptr);
        float const lo = std::min(p->GetMinValue(), p->GetMaxValue());
        float const hi = std::max(p->GetMinValue(), p->GetMaxValue());
        p->Set(lo, nullptr);
        Pump(20ms);
        switch (e.gesture)
        {
        case Gesture::Knob:
            DragPage(e.x + 13, e.y + 12, e.x + 13, e.y - 48);
            EXPECT_GT(static_cast<float>(*p), lo);
            break;
        case Gesture::Slider:
            Press(e.x + e.length, e.y + 2);
            EXPECT_FLOAT_EQ(static_cast<float>(*p), hi);
            break;
        case Gesture::Column:
            Press(e.x + 2, e.y + e.length);
            EXPECT_FLOAT_EQ(static_cast<float>(*p), hi);
            break;
        case Gesture::Fader:
            Press(e.x + 3, e.y);
            EXPECT_FLOAT_EQ(static_cast<float>(*p), hi);
            break;
        case Gesture::Toggle:
            Press(e.x + 3, e.y + 3);
            EXPECT_TRUE(p->GetBool());
            break;
        case Gesture::Selector:
            Press(e.x + 38, e.y + 8);
            EXPECT_FLOAT_EQ(static_cast<float>(*p), lo + 1.0f);
            break;
        case Gesture::Number:
            EXPECT_FLOAT_EQ(Shown(page, e), static_cast<float>(*p));
            break;
        }
        // A change made on another thread shows after the next pump.
        float const target = p->IsDiscrete() || e.gesture == Gesture::Toggle ? lo : lo + 0.3f * (hi - lo);
        SetElsewhere(p, target);
        float const want = e.gesture == Gesture::Toggle     ? (p->GetBool() ? 1.0f : 0.0f)
                           : e.gesture == Gesture::Selector ? static_cast<float>(*p)
                           : e.gesture == Gesture::Number   ? static_cast<float>(*p)
                                                            : p->ControllerGet();
        EXPECT_NEAR(Shown(page, e), want, 1e-4f);
    }
}

TEST_F(SynthPageTest, TheSoundFollowsThePageAndHostAutomationMovesTheMasterFader)
{
    // The delay on and fed, so that its mix is heard.
    Synth().GetDelayEffect()->FindParameter("DELAY_ENABLED", true)->SetBool(true);
    Synth().GetDelayEffect()->FindParameter("DELAY_MIX", true)->Set(0.0f, nullptr);
    Synth().delaySendParam.Set(1.0f, nullptr);
    SynthGUI& page = OpenPage();
    Pump(50ms);
    // A note rendered by a fresh instrument in a given state.
    auto render = [this](std::vector<unsigned char> const& state)
    {
        HeadlessHost fresh;
        fresh.SetState(state);
        return RenderNote(fresh);
    };

    struct Case
    {
        char const* what;
        std::function<void()> gesture;
    };
    Case const cases[] = {
        {"delay mix raised", [&] { DragPage(80 + 13, 545 + 12, 80 + 13, 545 - 40); }},
        {"voice 2 switched on", [&] { Press(369 + 3, 10 + 3); }},
        {"bowl dragged", [&] { DragPage(222, 135, 222 + 35, 135 + 20); }},
    };
    for (Case const& c : cases)
    {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> const before = host->GetState();
        c.gesture();
        Pump(20ms);
        std::vector<float> const old = render(before);
        EXPECT_EQ(Difference(render(before), old), 0.0) << "rendering is not repeatable";
        EXPECT_GT(Difference(render(host->GetState()), old), 1.0);
    }

    int index = -1;
    for (int i = 0; i < Torvane::kNumHostParameters; ++i)
        if (host->GetParameterName(i) == "MasterVolume") index = i;
    ASSERT_GE(index, 0);
    std::thread([&] { host->SetParameter(index, 0.2f); }).join();
    Pump(20ms);
    auto* fader = dynamic_cast<Slider*>(page.ControlAt(748, 525));
    ASSERT_NE(fader, nullptr);
    EXPECT_NEAR(fader->GetLastPosition(), 0.2f, 1e-4f);
}

TEST_F(SynthPageTest, VoiceTabsShowAndChooseTheEditedVoice)
{
    for (int v = 0; v < 4; ++v)
    {
        Synth().SetLoopFlag(v, v == 2);
        Synth().GetVoiceDef(v)->parameters[VoiceDef::kFilterOn].SetBool(v == 1);
    }
    Synth().SetCurrentVoice(2);
    SynthGUI& page = OpenPage();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(page.VoiceTab(i)->IsOn(), i == 2) << "tab " << i;
    EXPECT_TRUE(page.LoopToggle()->IsOn());

    // The loop toggle sets the edited voice's flag only.
    Press(523 + 3, 449 + 3);
    EXPECT_FALSE(Synth().GetLoopFlag(2));
    EXPECT_FALSE(page.LoopToggle()->IsOn());
    Press(523 + 3, 449 + 3);
    EXPECT_TRUE(Synth().GetLoopFlag(2));
    EXPECT_FALSE(Synth().GetLoopFlag(1));

    // Voice 2's tab: its settings show on the controls that follow the edited voice.
    auto* filterOn = dynamic_cast<ToggleBox*>(page.ControlAt(367, 60));
    ASSERT_NE(filterOn, nullptr);
    EXPECT_FALSE(filterOn->IsOn());
    Press(395 + 5, 8 + 5);
    Pump(50ms);
    EXPECT_EQ(Synth().GetCurrentVoice(), 1);
    EXPECT_TRUE(filterOn->IsOn());
    EXPECT_FALSE(page.LoopToggle()->IsOn());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(page.VoiceTab(i)->IsOn(), i == 1) << "tab " << i;

    // The current voice's tab again: it stays the edited voice and its tab comes back on.
    Press(395 + 5, 8 + 5);
    Pump(50ms);
    EXPECT_EQ(Synth().GetCurrentVoice(), 1);
    EXPECT_TRUE(page.VoiceTab(1)->IsOn());

    // A patch with only voice 4 on makes it the edited voice.
    for (int v = 0; v < 4; ++v)
        Synth().GetVoiceDef(v)->parameters[VoiceDef::kLayerOn].SetBool(v == 3);
    std::vector<unsigned char> const onlyFour = host->GetState();
    Synth().GetVoiceDef(0)->parameters[VoiceDef::kLayerOn].SetBool(true);
    std::thread([&] { host->SetState(onlyFour); }).join();
    Pump(100ms);
    EXPECT_EQ(Synth().GetCurrentVoice(), 3);
    EXPECT_TRUE(page.VoiceTab(3)->IsOn());
}

TEST_F(SynthPageTest, FollowPlaybackMovesTheEditTimeWithAHeldNoteAndRestoresIt)
{
    Synth().SetEditTime(2.0f);
    SynthGUI& page = OpenPage();
    EXPECT_TRUE(page.FollowPlayback().GetBool());
    host->NoteOn(60, 100);
    for (int i = 0; i < 40; ++i)
        host->Render(512);
    Pump(100ms);
    EXPECT_TRUE(page.ShowingAnimation());
    float const followed = Synth().GetEditTime();
    EXPECT_NE(followed, 2.0f);
    for (int i = 0; i < 40; ++i)
        host->Render(512);
    Pump(100ms);
    EXPECT_GT(Synth().GetEditTime(), followed);

    // Released and silent: the next tick puts the edit time back.
    host->NoteOff(60);
    for (int i = 0; i < 2000 && Synth().GetAnimationTime() >= 0.0f; ++i)
        host->Render(512);
    Pump(100ms);
    EXPECT_FALSE(page.ShowingAnimation());
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 2.0f);

    // Switched off while following: the saved edit time comes back and the choice is kept.
    host->NoteOn(62, 100);
    for (int i = 0; i < 40; ++i)
        host->Render(512);
    Pump(100ms);
    EXPECT_TRUE(page.ShowingAnimation());
    Press(700 + 3, 460 + 3);
    EXPECT_FALSE(page.FollowPlayback().GetBool());
    EXPECT_FALSE(page.ShowingAnimation());
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 2.0f);
    EXPECT_FALSE(Synth().animationEnabled.GetBool());
    for (int i = 0; i < 40; ++i)
        host->Render(512);
    Pump(300ms);
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 2.0f);
}

TEST_F(SynthPageTest, NoFollowingWhenSwitchedOffAtOpeningOrUnderTimeFreeze)
{
    struct Case
    {
        char const* what;
        bool animation;
        bool freeze;
    };
    for (Case c : {Case{"animation off", false, false}, Case{"time freeze", true, true}})
    {
        SCOPED_TRACE(c.what);
        Synth().animationEnabled.SetBool(c.animation);
        Synth().timeFreeze.SetBool(c.freeze);
        Synth().SetEditTime(3.0f);
        SynthGUI& page = OpenPage();
        EXPECT_EQ(page.FollowPlayback().GetBool(), c.animation);
        EXPECT_FLOAT_EQ(Synth().GetEditTime(), 3.0f);
        host->NoteOn(60, 100);
        for (int i = 0; i < 40; ++i)
            host->Render(512);
        Pump(350ms);
        EXPECT_FALSE(page.ShowingAnimation());
        EXPECT_FLOAT_EQ(Synth().GetEditTime(), 3.0f);
        host->NoteOff(60);
        Synth().KillAllNotes();
        CloseEditor();
    }
}

TEST_F(SynthPageTest, SnapMenuOpensOnlyOverItsLabelAndTheLabelShowsTheTempoSwitch)
{
    SynthGUI& page = OpenPage();
    EXPECT_STREQ(page.GetSnapLabel().GetLabel(), "1/4");
    {
        ScriptedMenu menu("1/1T");
        Press(733, 258); // just right of the label
        EXPECT_TRUE(menu.shown.empty());
        Press(712, 258);
        ASSERT_EQ(menu.shown.size(), 1u);
        EXPECT_EQ(menu.shown[0], (std::pair<long, long>{690, 230}));
        EXPECT_EQ(menu.names, (std::vector<std::string>{"1/1", "1/4", "1/8", "1/16", "1/32", "1/64", "-",
                                                        "1/1T", "1/2T", "1/4T", "1/8T", "1/16T", "1/32T"}));
    }
    EXPECT_FLOAT_EQ(page.GetSnapTiming(), 2.0f / 3.0f);
    EXPECT_STREQ(page.GetSnapLabel().GetLabel(), "1/1T");

    // Every table value names itself; the tempo switch colours the label.
    std::vector<float> const values = {1.0f,     0.25f,    0.125f,   0.0625f,   0.03125f,  0.015625f,
                                       2.0f / 3, 1.0f / 3, 1.0f / 6, 1.0f / 12, 1.0f / 24, 1.0f / 48};
    for (std::size_t i = 0; i < values.size(); ++i)
    {
        page.SetSnapTiming(values[i]);
        page.UpdateSnapLabel();
        EXPECT_STREQ(page.GetSnapLabel().GetLabel(), synthpage::kSnaps[i].name);
    }
    for (bool tempo : {true, false})
    {
        Synth().tempoBridge.SetBool(tempo);
        backend.ClearStrings();
        Pump(50ms);
        auto const drawn = backend.FindStrings("1/32T");
        ASSERT_FALSE(drawn.empty());
        double const level = tempo ? 1.0 : 180.0 / 255.0;
        EXPECT_NEAR(drawn.back().red, level, 0.01);
        EXPECT_NEAR(drawn.back().blue, level, 0.01);
    }
}

TEST_F(SynthPageTest, APageStoppedByAMissingPictureStaysSafe)
{
    RecordingMessageSink messages;
    std::vector<unsigned char> const state = host->GetState();
    {
        ScopedMissingEditorImage hidden("TimeFreezeOn.png");
        SynthGUI& page = OpenPage();
        EXPECT_FALSE(page.IsComplete());
        ASSERT_EQ(messages.Messages().size(), 1u);
        EXPECT_EQ(messages.Messages()[0].caption, "Torvane Error in SynthGUI");
        EXPECT_NE(messages.Messages()[0].text.find("TimeFreezeOn.png"), std::string::npos);
        EXPECT_EQ(page.ControlAt(17, 450), nullptr);
        EXPECT_NE(page.ControlAt(523, 449), nullptr); // built before the failure
    }
    std::thread([&] { host->SetState(state); }).join();
    Synth().SetCurrentVoice(2);
    Synth().SetEditTime(4.0f);
    host->NoteOn(60, 100);
    host->Render(512);
    Pump(300ms);
    gui->UpdateAll();
    gui->UpdateSnapLabel();
    gui->PatchLoaded();
    EXPECT_FLOAT_EQ(Synth().GetEditTime(), 4.0f);
    gui->SetEditMode(GUI::kPerformMode);
    Pump(50ms);
    EXPECT_EQ(gui->GetSynthPage(), nullptr);
    EXPECT_EQ(messages.Messages().size(), 1u);
}

TEST_F(SynthPageTest, SelectionsTakeTheEditedVoicesPointsAndBothTimeFormsTakeThePointAtTheEditTime)
{
    SynthGUI& page = OpenPage();
    Synth().SetCurrentVoice(1);
    for (float t : {100.0f, 200.0f, 300.0f})
        ASSERT_GE(Synth().CreateBreakpoint(-1, VoiceDef::kFilterLine, t), 0);
    ASSERT_GE(Synth().CreateBreakpoint(-1, VoiceDef::kEffectsLine, 250.0f), 0);
    ASSERT_GE(Synth().CreateBreakpoint(0, VoiceDef::kFilterLine, 150.0f), 0); // another voice
    Synth().SetEditTime(200.0f);
    Pump(50ms);

    auto times = [&](int line, SynthGUI::Selection which)
    {
        std::vector<std::pair<int, float>> out;
        for (MultipleSelectionBreakpoint const& b : page.CollectSelection(line, which))
        {
            EXPECT_EQ(b.values.size(), static_cast<std::size_t>(NUM_EVENTS_IN_EVENTTYPE[b.line]));
            if (b.time > 0.0f) out.emplace_back(b.line, b.time); // the lines' own start points aside
        }
        return out;
    };
    using P = std::vector<std::pair<int, float>>;
    using S = SynthGUI::Selection;
    EXPECT_EQ(times(3, S::All), (P{{3, 100.0f}, {3, 200.0f}, {3, 300.0f}}));
    EXPECT_EQ(times(3, S::Before), (P{{3, 100.0f}, {3, 200.0f}}));
    EXPECT_EQ(times(3, S::After), (P{{3, 200.0f}, {3, 300.0f}}));
    P every = times(-1, S::After);
    auto const amplitude =
        std::stable_partition(every.begin(), every.end(), [](auto& p) { return p.first == 0; });
    EXPECT_NE(amplitude, every.begin()); // the amplitude line's release points lie after the edit time
    EXPECT_EQ(P(amplitude, every.end()), (P{{3, 200.0f}, {3, 300.0f}, {5, 250.0f}}));
    EXPECT_TRUE(page.CollectSelection(6, S::All).empty());

    // A voice switch made on another thread shows on the tabs at the editor's next pump.
    std::thread([&] { Synth().SetCurrentVoice(3); }).join();
    EXPECT_TRUE(page.VoiceTab(1)->IsOn());
    Pump(50ms);
    EXPECT_TRUE(page.VoiceTab(3)->IsOn());
    EXPECT_FALSE(page.VoiceTab(1)->IsOn());
}
