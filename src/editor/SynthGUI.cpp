#include "editor/SynthGUI.h"

#include <cmath>

#include "editor/GUI.h"
#include "framework/Paths.h"
#include "framework/PluginBase.h"
#include "platform/MessagePopup.h"
#include "toolkit/Geometry.h"

namespace synthpage
{
char const* const kImageFiles[kNumImages] = {
    "OnBut.png",
    "OffBut.png",
    "SmallOn.png",
    "SmallOff.png",
    "SliderDownPointer.png",
    "SliderLeftPointer.png",
    "Voice1Up.png",
    "Voice1Down.png",
    "Voice2Up.png",
    "Voice2Down.png",
    "Voice3Up.png",
    "Voice3Down.png",
    "Voice4Up.png",
    "Voice4Down.png",
    "WaveLoadUp.png",
    "WaveLoadDown.png",
    "WaveEditUp.png",
    "WaveEditDown.png",
    "LoopButOn.png",
    "LoopButOff.png",
    "Fader.png",
    "PositiveOnlyOn.png",
    "PositiveOnlyOff.png",
    "TimeFreezeOn.png",
    "TimeFreezeOff.png",
    "MIDILearn Small Up.png",
    "MIDILearn Small Down.png",
    "SyncBut On.png",
    "SyncBut Off.png",
    "StereoBut On.png",
    "StereoBut Off.png",
    "PrevButUp.png",
    "PrevButDown.png",
    "NextButUp.png",
    "NextButDown.png",
};

Snap const kSnaps[kNumSnaps] = {
    {"1/1", SynthGUI::SNAP_1_1},   {"1/4", SynthGUI::SNAP_1_4},     {"1/8", SynthGUI::SNAP_1_8},
    {"1/16", SynthGUI::SNAP_1_16}, {"1/32", SynthGUI::SNAP_1_32},   {"1/64", SynthGUI::SNAP_1_64},
    {"1/1T", SynthGUI::SNAP_1_1T}, {"1/2T", SynthGUI::SNAP_1_2T},   {"1/4T", SynthGUI::SNAP_1_4T},
    {"1/8T", SynthGUI::SNAP_1_8T}, {"1/16T", SynthGUI::SNAP_1_16T}, {"1/32T", SynthGUI::SNAP_1_32T},
};

namespace
{
namespace s = layout::synth;
using layout::Point;
using layout::Rect;

// ---- bindings ------------------------------------------------------------------------------
constexpr Binding TP(int line, int value)
{
    return {Source::TParam, line, value, nullptr};
}
constexpr Binding Bridge(int n)
{
    return {Source::Bridge, 0, n, nullptr};
}
constexpr Binding Layer(int layer, int n)
{
    return {Source::LayerParam, layer, n, nullptr};
}
constexpr Binding Named(Source from, char const* name)
{
    return {from, 0, 0, name};
}

// ---- rows ----------------------------------------------------------------------------------
constexpr Rect At(Point p)
{
    return {p.x, p.y, 0, 0};
}
Control Toggle(Point p, Binding b, Img on = Img::SmallOn, Img off = Img::SmallOff)
{
    Control c{Kind::Toggle, At(p), b};
    c.on = on;
    c.off = off;
    return c;
}
Control IdToggle(Point p, int id, Img on, Img off)
{
    Control c{Kind::IdToggle, At(p), {}};
    c.id = id;
    c.on = on;
    c.off = off;
    return c;
}
Control Knob(Point p, Binding b, Wipe wipe = Wipe::Default, int markerStep = 0)
{
    Control c{Kind::Knob, At(p), b};
    c.wipe = wipe;
    c.markerStep = markerStep;
    return c;
}
Control HSlider(s::HSlider sl, Binding b)
{
    Control c{Kind::Slider, {sl.at.x, sl.at.y, sl.length, 0}, b};
    c.on = Img::SliderDown;
    return c;
}
Control Fader(s::VSlider sl, Binding b)
{
    Control c{Kind::Slider, {sl.at.x, sl.at.y, sl.length, 0}, b};
    c.on = Img::Fader;
    c.vertical = true;
    c.flip = true;
    return c;
}
Control Number(Rect r, Binding b)
{
    return {Kind::Number, r, b};
}
Control ImageButton(Point p, int id, Img up, Img down)
{
    Control c{Kind::ImageButton, At(p), {}};
    c.id = id;
    c.on = up;
    c.off = down;
    return c;
}
Control FileButton(Point p, int id, char const* up, char const* down)
{
    Control c{Kind::FileButton, At(p), {}};
    c.id = id;
    c.upFile = up;
    c.downFile = down;
    return c;
}
Control HotZone(Rect r, int id)
{
    Control c{Kind::HotZone, r, {}};
    c.id = id;
    return c;
}
Control Single(Kind kind, Rect r, Binding b = {}, int id = -1)
{
    Control c{kind, r, b};
    c.id = id;
    return c;
}

char const* const kPasteUp[5] = {"PasteRedUp.png", "PasteBlueUp.png", "PasteGreenUp.png", "PasteCyanUp.png",
                                 "PasteYellowUp.png"};
char const* const kPasteDown[5] = {"PasteRedDown.png", "PasteBlueDown.png", "PasteGreenDown.png",
                                   "PasteCyanDown.png", "PasteYellowDown.png"};
char const* const kMenuUp[5] = {"MenuRedUp.png", "MenuBlueUp.png", "MenuGreenUp.png", "MenuCyanUp.png",
                                "MenuYellowUp.png"};
char const* const kMenuDown[5] = {"MenuRedDown.png", "MenuBlueDown.png", "MenuGreenDown.png",
                                  "MenuCyanDown.png", "MenuYellowDown.png"};

std::vector<Control> MakeTable()
{
    using V = VoiceDef;
    std::vector<Control> t;
    // Voice tabs, the layers' switches and the current layer's switch.
    Img const tabUp[4] = {Img::Voice1Up, Img::Voice2Up, Img::Voice3Up, Img::Voice4Up};
    Img const tabDown[4] = {Img::Voice1Down, Img::Voice2Down, Img::Voice3Down, Img::Voice4Down};
    for (int v = 0; v < 4; ++v)
        t.push_back(IdToggle(s::kVoiceTabs[v], v, tabDown[v], tabUp[v]));
    for (int v = 0; v < 4; ++v)
        t.push_back(Toggle(s::kVoiceOn[v], Layer(v, V::kLayerOn)));
    t.push_back(Toggle(s::kCurrentVoiceOn, Bridge(V::kLayerOn), Img::OnBut, Img::OffBut));

    // Oscillator (voice line).
    t.push_back(Knob(s::kPitchKnob, TP(V::kVoiceLine, 0), Wipe::Red, 6));
    t.push_back(Number(s::kPitchNumber, TP(V::kVoiceLine, 0)));
    t.push_back(Knob(s::kFineKnob, TP(V::kVoiceLine, 1), Wipe::Red));
    t.push_back(HSlider(s::kPanSlider, TP(V::kVoiceLine, 2)));
    t.push_back(HSlider(s::kUnisonSlider, Bridge(V::kUnisonCount)));
    t.push_back(Knob(s::kDetuneKnob, TP(V::kVoiceLine, 3), Wipe::Red));
    t.push_back(Knob(s::kSpreadKnob, TP(V::kVoiceLine, 4), Wipe::Red));

    // Filter.
    t.push_back(Toggle(s::kFilterOn, Bridge(V::kFilterOn), Img::OnBut, Img::OffBut));
    t.push_back(Knob(s::kCutoffKnob, TP(V::kFilterLine, 0), Wipe::Green));
    t.push_back(Knob(s::kResonanceKnob, TP(V::kFilterLine, 2), Wipe::Green));
    t.push_back(Single(Kind::FilterSelector, At(s::kFilterSelector), TP(V::kFilterLine, 1)));
    t.push_back(Toggle(s::kKeyFollow, Bridge(V::kCutoffFollowsNote)));

    // The vector bowl: X is value 0, Y value 1 of the wave line.
    t.push_back(Single(Kind::Bowl, At(s::kBowl), TP(V::kWaveLine, 0)));

    // Sends (effects line).
    t.push_back(HSlider(s::kDelaySend, TP(V::kEffectsLine, 2)));
    t.push_back(HSlider(s::kReverbSend, TP(V::kEffectsLine, 1)));
    t.push_back(HSlider(s::kDistortionSend, TP(V::kEffectsLine, 3)));

    // LFOs.
    int const rate[2] = {1, 4};
    int const shape[2] = {2, 5};
    int const sync[2] = {V::kLFO1Sync, V::kLFO2Sync};
    int const freeRunning[2] = {V::kLFO1FreeRunning, V::kLFO2FreeRunning};
    int const positive[2] = {V::kLFO1PositiveOnly, V::kLFO2PositiveOnly};
    for (int l = 0; l < 2; ++l)
    {
        t.push_back(Knob(s::kLfoRate[l], TP(V::kModulationLine, rate[l])));
        t.push_back(Single(Kind::WaveSelector, At(s::kLfoShape[l]), TP(V::kModulationLine, shape[l])));
        t.push_back(Toggle(s::kLfoSync[l], Bridge(sync[l])));
        t.push_back(Toggle(s::kLfoFree[l], Bridge(freeRunning[l])));
        t.push_back(Toggle(s::kLfoPositive[l], Bridge(positive[l]), Img::PositiveOn, Img::PositiveOff));
    }

    // Modulation matrix and its menu.
    t.push_back(Single(Kind::ModDisplay, s::kModDisplay));
    t.push_back(FileButton(s::kMatrixMenu, 34, "MenuCyanUp.png", "MenuCyanDown.png"));

    // Wave displays, then their browse and edit buttons.
    for (int w = 0; w < 4; ++w)
        t.push_back(Single(Kind::MiniWave, At(s::kMiniWaves[w]), {}, w));
    for (int w = 0; w < 4; ++w)
    {
        t.push_back(ImageButton(s::kWaveLoad[w], 2 * w, Img::WaveLoadUp, Img::WaveLoadDown));
        t.push_back(ImageButton(s::kWaveEdit[w], 2 * w + 1, Img::WaveEditUp, Img::WaveEditDown));
    }
    t.push_back(HSlider(s::kNoiseSlider, TP(V::kWaveLine, 2)));

    // The timeline and its tools.
    t.push_back(Single(Kind::Timeline, s::kTimeline));
    t.push_back(HotZone(s::kZoomOut, 8));
    t.push_back(HotZone(s::kZoomIn, 9));
    t.push_back(FileButton(s::kCopyAll, 10, "CopyAllButUp.png", "CopyAllButDown.png"));
    t.push_back(FileButton(s::kPasteAll, 11, "PasteAllButUp.png", "PasteAllButDown.png"));
    for (int l = 0; l < 5; ++l)
        t.push_back(FileButton({s::kPasteLineX, s::kLineRowY[l]}, 12 + l, kPasteUp[l], kPasteDown[l]));
    for (int l = 0; l < 5; ++l)
        t.push_back(ImageButton({s::kPrevBreakpointX, s::kLineRowY[l]}, 17 + l, Img::PrevUp, Img::PrevDown));
    for (int l = 0; l < 5; ++l)
        t.push_back(ImageButton({s::kNextBreakpointX, s::kLineRowY[l]}, 22 + l, Img::NextUp, Img::NextDown));
    t.push_back(IdToggle(s::kLoopToggle, SynthGUI::kLoopToggleId, Img::LoopOn, Img::LoopOff));
    t.push_back(HSlider(s::kReleaseSlider, Bridge(V::kReleaseTime)));
    t.push_back(Toggle(s::kReleaseSwitch, Bridge(V::kLoopAfterRelease)));
    t.push_back(FileButton(s::kAmplitudeMenu, 33, "MenuGreyUp.png", "MenuGreyDown.png"));
    t.push_back(Toggle(s::kTimeFreeze, {Source::TimeFreeze}, Img::TimeFreezeOn, Img::TimeFreezeOff));
    t.push_back(ImageButton(s::kTimeFreezeLearn, 35, Img::LearnUp, Img::LearnDown));
    t.push_back(Toggle(s::kTempoSwitch, Bridge(V::kTimelineInTempo)));
    t.push_back(Single(Kind::SnapLabel, s::kSnapLabel));
    t.push_back(Toggle(s::kFollowPlayback, {Source::FollowPlayback}));
    for (int l = 0; l < 5; ++l)
        t.push_back(FileButton({s::kLineMenuX, s::kLineMenuY[l]}, 27 + l, kMenuUp[l], kMenuDown[l]));
    t.push_back(FileButton(s::kVoiceMenu, 32, "MenuGreyUp.png", "MenuGreyDown.png"));

    // Global effects and filters.
    t.push_back(Toggle(s::kDelayOn, Named(Source::Delay, "DELAY_ENABLED")));
    t.push_back(Knob(s::kDelayKnobs[0], Named(Source::Delay, "DELAY_TIME")));
    t.push_back(Knob(s::kDelayKnobs[1], Named(Source::Delay, "DELAY_FEEDBACK")));
    t.push_back(Knob(s::kDelayKnobs[2], Named(Source::Delay, "DELAY_MIX")));
    t.push_back(Toggle(s::kDelayStereo, Named(Source::Delay, "DELAY_STEREO"), Img::StereoOn, Img::StereoOff));
    t.push_back(Toggle(s::kDelaySync, Named(Source::Delay, "SYNC_TO_HOST"), Img::SyncOn, Img::SyncOff));
    t.push_back(Toggle(s::kReverbOn, Named(Source::Reverb, "REVERB_ENABLED")));
    t.push_back(Knob(s::kReverbKnobs[0], Named(Source::Reverb, "REVERB_TIME")));
    t.push_back(Knob(s::kReverbKnobs[1], Named(Source::Reverb, "REVERB_SIZE")));
    t.push_back(Knob(s::kReverbKnobs[2], Named(Source::Reverb, "REVERB_MIX")));
    t.push_back(Toggle(s::kDistortionOn, Named(Source::Distortion, "DISTORTION_ENABLED")));
    t.push_back(Knob(s::kDistortionKnobs[0], Named(Source::Distortion, "DISTORTION_CRUNCH")));
    t.push_back(Knob(s::kDistortionKnobs[1], Named(Source::Distortion, "DISTORTION_DRIVE")));
    t.push_back(Knob(s::kDistortionKnobs[2], Named(Source::Distortion, "DISTORTION_HIGHCUT")));
    t.push_back(Toggle(s::kLowCutOn, Named(Source::LowFilter, "STEREOFILTER_ENABLED")));
    t.push_back(Knob(s::kLowCutKnob, Named(Source::LowFilter, "STEREOFILTER_CUTOFF")));
    t.push_back(Toggle(s::kHighCutOn, Named(Source::HighFilter, "STEREOFILTER_ENABLED")));
    t.push_back(Knob(s::kHighCutKnob, Named(Source::HighFilter, "STEREOFILTER_CUTOFF")));

    // Mixer and global settings.
    for (int v = 0; v < 4; ++v)
        t.push_back(Fader(s::kVoiceFaders[v], Layer(v, V::kLevel)));
    t.push_back(Fader(s::kMasterFader, Named(Source::Instrument, "MasterVolume")));
    t.push_back(Knob(s::kBendKnob, Named(Source::Instrument, "PitchBendRange")));
    t.push_back(Number(s::kBendNumber, Named(Source::Instrument, "PitchBendRange")));
    Control keyMode{Kind::Slider,
                    {s::kKeyMode.at.x, s::kKeyMode.at.y, s::kKeyMode.length, 0},
                    Named(Source::Instrument, "KeyMode")};
    keyMode.on = Img::SliderLeft;
    keyMode.vertical = true;
    t.push_back(keyMode);
    t.push_back(Knob(s::kPortamentoKnob, Named(Source::Instrument, "PortamentoTime")));
    t.push_back(Knob(s::kPolyphonyKnob, Named(Source::Instrument, "Polyphony")));
    t.push_back(Number(s::kPolyphonyNumber, Named(Source::Instrument, "Polyphony")));
    return t;
}
} // namespace

// Never destroyed: an editor may still be built while a host exits.
std::vector<Control> const& kControls = *new std::vector<Control>(MakeTable());

std::size_t Count(Kind kind)
{
    std::size_t n = 0;
    for (Control const& c : kControls)
        if (c.kind == kind) ++n;
    return n;
}
} // namespace synthpage

using namespace synthpage;

namespace
{
Colour WipeColour(Wipe w)
{
    return w == Wipe::Red ? Colour(layout::kWipeRed.r, layout::kWipeRed.g, layout::kWipeRed.b, 255)
                          : Colour(layout::kWipeGreen.r, layout::kWipeGreen.g, layout::kWipeGreen.b, 255);
}

bool Made(Window const& w)
{
    return w.GetView() != nullptr;
}

// The instrument's TParams, found by the line and value they stand for.
TParam Torvane::*const kTParams[] = {
    &Torvane::pitchParam,        &Torvane::finePitchParam,       &Torvane::panParam,
    &Torvane::unisonDetuneParam, &Torvane::unisonSpreadParam,    &Torvane::filterCutoffParam,
    &Torvane::filterTypeParam,   &Torvane::filterResonanceParam, &Torvane::vectorXParam,
    &Torvane::vectorYParam,      &Torvane::oscNoiseBalanceParam, &Torvane::effectsValue0Param,
    &Torvane::reverbSendParam,   &Torvane::delaySendParam,       &Torvane::distortionSendParam,
    &Torvane::lfo1DepthParam,    &Torvane::lfo1RateParam,        &Torvane::lfo1ShapeParam,
    &Torvane::lfo2DepthParam,    &Torvane::lfo2RateParam,        &Torvane::lfo2ShapeParam,
};

// The bridge standing for layer parameter n of the current layer.
BridgeParameter Torvane::*const kBridges[VoiceDef::kNumParameters] = {
    &Torvane::layerOnBridge,
    &Torvane::unisonBridge,
    &Torvane::filterOnBridge,
    &Torvane::keyFollowBridge,
    &Torvane::releaseBridge,
    &Torvane::loopAfterReleaseBridge,
    &Torvane::lfo1SyncBridge,
    &Torvane::lfo2SyncBridge,
    &Torvane::lfo1PositiveOnlyBridge,
    &Torvane::lfo2PositiveOnlyBridge,
    &Torvane::lfo1FreeRunningBridge,
    &Torvane::lfo2FreeRunningBridge,
    &Torvane::tempoBridge,
    nullptr,
};

TParam* FindTParam(Torvane& t, int line, int value)
{
    for (TParam Torvane::*member : kTParams)
    {
        TParam& p = t.*member;
        if (p.GetLine() == line && p.GetValueIndex() == value) return &p;
    }
    return nullptr;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Construction

SynthGUI::SynthGUI(GUI* owner)
    : ParameterHost(0), gui(owner),
      toggles(synthpage::Count(Kind::Toggle) + synthpage::Count(Kind::IdToggle)),
      knobs(synthpage::Count(Kind::Knob)), sliders(synthpage::Count(Kind::Slider)),
      numbers(synthpage::Count(Kind::Number)), imageButtons(synthpage::Count(Kind::ImageButton)),
      fileButtons(synthpage::Count(Kind::FileButton)), hotZones(synthpage::Count(Kind::HotZone)),
      waveSelectors(synthpage::Count(Kind::WaveSelector)), built(kControls.size(), nullptr)
{
    // The switch exists (off, telling nobody) before its toggle binds it; the end of the
    // building sets it to the instrument's choice.
    followPlayback.CreateBool("", this, Parameter::Internal);
    followPlayback.SetTransient(true);
    try
    {
        Build();
    }
    catch (String const& error)
    {
        MessagePopup(error, "Torvane Error in SynthGUI");
    }
}

SynthGUI::~SynthGUI()
{
    StopTimer(kFollowTimer);
    StopTimer(kPanelTimer);
    slide.reset();
    closingPanel.reset();
    panel.reset();
}

Torvane* SynthGUI::Instrument() const
{
    return gui ? gui->GetTorvane() : nullptr;
}

Image* SynthGUI::Picture(Img which)
{
    if (which == Img::None) return nullptr;
    Image& image = images[static_cast<std::size_t>(which)];
    if (!image.IsLoaded()) image.LoadFromFile(MakeImagePath(kImageFiles[static_cast<std::size_t>(which)]));
    return &image;
}

Parameter* SynthGUI::Resolve(Binding const& b)
{
    Torvane* const t = Instrument();
    if (t == nullptr && b.source != Source::FollowPlayback) return nullptr;
    switch (b.source)
    {
    case Source::TParam:
        return FindTParam(*t, b.line, b.value);
    case Source::Bridge:
        return b.value >= 0 && b.value < VoiceDef::kNumParameters && kBridges[b.value]
                   ? &(t->*kBridges[b.value])
                   : nullptr;
    case Source::LayerParam:
    {
        VoiceDef* const def = t->GetVoiceDef(b.line);
        return def && b.value >= 0 && b.value < VoiceDef::kNumParameters ? &def->parameters[b.value]
                                                                         : nullptr;
    }
    case Source::Instrument:
        return t->FindParameter(b.name, false);
    case Source::Delay:
        return t->GetDelayEffect()->FindParameter(b.name, true);
    case Source::Reverb:
        return t->GetReverbEffect()->FindParameter(b.name, true);
    case Source::Distortion:
        return t->GetDistortionEffect()->FindParameter(b.name, true);
    case Source::LowFilter:
        return t->GetGlobalLowFilter()->FindParameter(b.name, true);
    case Source::HighFilter:
        return t->GetGlobalHighFilter()->FindParameter(b.name, true);
    case Source::TimeFreeze:
        return &t->timeFreeze;
    case Source::FollowPlayback:
        return &followPlayback;
    case Source::None:
        break;
    }
    return nullptr;
}

void SynthGUI::Build()
{
    CreateChildWindow(gui, layout::synth::kSize.w, layout::synth::kSize.h, layout::root::kSynthPage.x,
                      layout::root::kSynthPage.y);
    for (std::size_t i = 0; i < kFirstImages; ++i)
        Picture(static_cast<Img>(i));

    for (int i = 0; i < kNumSnaps; ++i)
    {
        if (i == kStraightSnaps) snapMenu.AddSeparator();
        snapMenu.AddItem(kSnaps[i].name, i, nullptr, false);
    }

    for (std::size_t row = 0; row < kControls.size(); ++row)
        BuildRow(row);

    Torvane* const t = Instrument();
    showingAnimation = false;
    savedEditTime = t ? t->GetEditTime() : 0.0f;
    complete = true;
    // Always tells the page: on starts the timer, off runs the switching-off steps (the edit
    // time stays where it is).
    followPlayback.Set(t && t->animationEnabled.GetBool() ? 1.0f : 0.0f, nullptr);
    UpdateAll();
}

void SynthGUI::BuildRow(std::size_t row)
{
    Control const& c = kControls[row];
    // Counts of each kind built so far pick the next member of that kind.
    std::size_t slot = 0;
    for (std::size_t i = 0; i < row; ++i)
    {
        Kind const k = kControls[i].kind;
        bool const sameGroup = k == c.kind || ((k == Kind::Toggle || k == Kind::IdToggle) &&
                                               (c.kind == Kind::Toggle || c.kind == Kind::IdToggle));
        if (sameGroup) ++slot;
    }
    Torvane* const t = Instrument();
    Window* made = nullptr;
    switch (c.kind)
    {
    case Kind::Toggle:
    {
        Image* const on = Picture(c.on);
        Image* const off = Picture(c.off);
        toggles[slot].Create(this, Resolve(c.bind), c.at.x, c.at.y, on, off);
        made = &toggles[slot];
        break;
    }
    case Kind::IdToggle:
    {
        Image* const on = Picture(c.on);
        Image* const off = Picture(c.off);
        ToggleBox& box = toggles[slot];
        box.Create(this, c.id, c.at.x, c.at.y, on, off, true);
        box.SetListener(this);
        if (c.id == kLoopToggleId && t) box.SetOn(t->GetLoopFlag(-1));
        made = &box;
        break;
    }
    case Kind::Knob:
    {
        TPot& knob = knobs[slot];
        if (c.wipe != Wipe::Default) knob.SetWipeColour(WipeColour(c.wipe));
        if (c.markerStep > 0) knob.SetDiscreteMarkerStep(c.markerStep);
        knob.Create(this, c.at.x, c.at.y, Resolve(c.bind), 0, -1);
        made = &knob;
        break;
    }
    case Kind::Slider:
    {
        Slider& slider = sliders[slot];
        Image* const thumb = Picture(c.on);
        if (c.flip) slider.Flip(true);
        slider.Create(this, c.at.x, c.at.y, c.vertical, c.at.w, Resolve(c.bind), thumb);
        made = &slider;
        break;
    }
    case Kind::Number:
        numbers[slot].Create(this, GRectangle(c.at.x, c.at.y, c.at.w, c.at.h), Resolve(c.bind),
                             NumericDisplay::kByType);
        made = &numbers[slot];
        break;
    case Kind::ImageButton:
    {
        Image* const up = Picture(c.on);
        Image* const down = Picture(c.off);
        imageButtons[slot].Create(this, c.id, this, c.at.x, c.at.y, up, down);
        made = &imageButtons[slot];
        break;
    }
    case Kind::FileButton:
        fileButtons[slot].Create(this, c.id, this, c.at.x, c.at.y, c.upFile, c.downFile);
        made = &fileButtons[slot];
        break;
    case Kind::HotZone:
        hotZones[slot].Create(this, c.id, this, GRectangle(c.at.x, c.at.y, c.at.w, c.at.h));
        made = &hotZones[slot];
        break;
    case Kind::Bowl:
    {
        Binding y = c.bind;
        y.value += 1;
        bowl.Create(this, c.at.x, c.at.y, Resolve(c.bind), Resolve(y));
        made = &bowl;
        break;
    }
    case Kind::MiniWave:
        miniWaves[slot].Create(this, c.at.x, c.at.y);
        made = &miniWaves[slot];
        // Once the four exist they show the current layer's waves.
        if (slot + 1 == miniWaves.size()) UpdateWaveDisplays();
        break;
    case Kind::WaveSelector:
        waveSelectors[slot].Create(this, c.at.x, c.at.y, Resolve(c.bind));
        made = &waveSelectors[slot];
        break;
    case Kind::FilterSelector:
        filterSelector.Create(this, c.at.x, c.at.y, Resolve(c.bind));
        made = &filterSelector;
        break;
    case Kind::ModDisplay:
        modDisplay.Create(this, t, c.at.x, c.at.y);
        made = &modDisplay;
        break;
    case Kind::SnapLabel:
        snapLabel.Create(this, kSnaps[1].name, c.at.w, c.at.h, c.at.x, c.at.y);
        made = &snapLabel;
        UpdateSnapLabel();
        break;
    case Kind::Timeline:
        eventsDisplay.Create(this, t, c.at.x, c.at.y);
        made = &eventsDisplay;
        snapTiming = SNAP_1_4;
        eventsDisplay.SetSnapTiming(snapTiming);
        break;
    }
    built[row] = made;
}

// ---------------------------------------------------------------------------------------------
// Lookups

Window* SynthGUI::ControlOfRow(std::size_t row)
{
    if (row >= built.size() || built[row] == nullptr || !Made(*built[row])) return nullptr;
    return built[row];
}

Window* SynthGUI::ControlAt(int x, int y)
{
    for (std::size_t row = 0; row < kControls.size(); ++row)
        if (kControls[row].at.x == x && kControls[row].at.y == y) return ControlOfRow(row);
    return nullptr;
}

ToggleBox* SynthGUI::VoiceTab(int i)
{
    if (i < 0 || i > 3) return nullptr;
    for (std::size_t row = 0; row < kControls.size(); ++row)
        if (kControls[row].kind == Kind::IdToggle && kControls[row].id == i)
            return static_cast<ToggleBox*>(ControlOfRow(row));
    return nullptr;
}

ToggleBox* SynthGUI::LoopToggle()
{
    for (std::size_t row = 0; row < kControls.size(); ++row)
        if (kControls[row].kind == Kind::IdToggle && kControls[row].id == kLoopToggleId)
            return static_cast<ToggleBox*>(ControlOfRow(row));
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Refreshes

void SynthGUI::UpdateAll()
{
    UpdateVoiceToggles();
    UpdateWaveDisplays();
    UpdateModDisplay();
    UpdateEventLines();
    Torvane* const t = Instrument();
    if (ToggleBox* loop = LoopToggle(); loop && t) loop->SetOn(t->GetLoopFlag(-1));
}

void SynthGUI::UpdateVoiceToggles()
{
    Torvane* const t = Instrument();
    if (t == nullptr) return;
    int const current = t->GetCurrentVoice();
    for (int i = 0; i < 4; ++i)
    {
        if (ToggleBox* tab = VoiceTab(i))
        {
            tab->SetOn(i == current);
            tab->ForceRepaint();
        }
    }
}

void SynthGUI::UpdateWaveDisplays()
{
    Torvane* const t = Instrument();
    for (std::size_t i = 0; i < miniWaves.size(); ++i)
        if (Made(miniWaves[i])) miniWaves[i].SetWave(t, -1, static_cast<int>(i));
}

void SynthGUI::UpdateModDisplay()
{
    if (Made(modDisplay)) modDisplay.ForceRepaint();
}

void SynthGUI::UpdateEventLines()
{
    if (Made(eventsDisplay)) eventsDisplay.Update(true);
}

void SynthGUI::UpdatedEditTime()
{
    UpdateModDisplay();
    UpdateEventLines();
}

void SynthGUI::PatchLoaded()
{
    Torvane* const t = Instrument();
    if (t == nullptr) return;
    int first = 0;
    for (int v = 0; v < Torvane::kNumLayers; ++v)
    {
        VoiceDef* const def = t->GetVoiceDef(v);
        if (def && def->parameters[VoiceDef::kLayerOn].GetBool())
        {
            first = v;
            break;
        }
    }
    if (first != t->GetCurrentVoice()) t->SetCurrentVoice(first);
    DeselectBreakpoints();
}

void SynthGUI::DeselectBreakpoints()
{
    if (Made(eventsDisplay)) eventsDisplay.Deselect();
}

void SynthGUI::UpdateSnapLabel()
{
    if (!Made(snapLabel)) return;
    char const* text = "";
    for (Snap const& snap : kSnaps)
    {
        if (snap.value == snapTiming)
        {
            text = snap.name;
            break;
        }
    }
    Torvane* const t = Instrument();
    bool const tempo = t && t->tempoBridge.GetBool();
    snapLabel.SetTextColour(tempo ? Colour(255, 255, 255, 255) : Colour(180, 180, 180, 255), false);
    snapLabel.SetLabel(text, true);
}

void SynthGUI::SetSnapTiming(float timing)
{
    if (!std::isfinite(timing) || !(timing > 0.0f)) return;
    snapTiming = timing;
    eventsDisplay.SetSnapTiming(timing);
}

// ---------------------------------------------------------------------------------------------
// Toggles, buttons, the snap menu

void SynthGUI::OnToggle(int id, bool on)
{
    Torvane* const t = Instrument();
    if (t == nullptr) return;
    if (id == kLoopToggleId)
    {
        t->SetLoopFlag(-1, on);
        UpdateEventLines();
        return;
    }
    // Clicking the current layer's tab turns it off; the refresh that follows the switch turns
    // it on again.
    t->SetCurrentVoice(id);
}

void SynthGUI::LButtonDown(long x, long y)
{
    layout::Rect const r = layout::synth::kSnapLabelPress;
    if (x < r.x || y < r.y || x >= r.Right() || y >= r.Bottom() || !Made(snapLabel)) return;
    CascadeList::Item* const chosen =
        snapMenu.DoPopup(this, layout::synth::kSnapMenu.x, layout::synth::kSnapMenu.y);
    if (chosen == nullptr || chosen->id < 0 || chosen->id >= kNumSnaps) return;
    SetSnapTiming(kSnaps[chosen->id].value);
    UpdateSnapLabel();
}

// ---------------------------------------------------------------------------------------------
// Follow playback

void SynthGUI::ParameterUpdated(float, Parameter* changed)
{
    if (changed != &followPlayback || !complete) return;
    FollowSwitched(followPlayback.GetBool());
}

void SynthGUI::FollowSwitched(bool on)
{
    Torvane* const t = Instrument();
    if (t == nullptr) return;
    if (on)
    {
        StartTimer(kFollowTimer, kFollowPeriodMs);
        savedEditTime = t->GetEditTime();
        t->animationEnabled.SetBool(true);
        return;
    }
    StopTimer(kFollowTimer);
    showingAnimation = false;
    t->AnimationEnded();
    // Following gives back the time it took; "Freeze Position" never moved with it. A followed
    // time frozen meanwhile (Time Freeze switched on) became the user's: the switch that ends
    // following moves it back as the user's change.
    if (t->EditTimeFollowed())
        t->FollowEditTime(savedEditTime);
    else if (t->GetEditTime() != savedEditTime)
        t->SetEditTime(savedEditTime);
    t->animationEnabled.SetBool(false);
}

void SynthGUI::TimerEvent(int id)
{
    if (id == kPanelTimer)
    {
        if (slide && !slide->IsFinished()) return;
        StopTimer(kPanelTimer);
        slide.reset();
        // Out of every panel handler: the closed panel goes now.
        closingPanel.reset();
        return;
    }
    Torvane* const t = Instrument();
    if (id != kFollowTimer || !complete || t == nullptr || !followPlayback.GetBool()) return;
    if (t->timeFreeze.GetBool())
    {
        showingAnimation = false;
        UpdateEventLines();
        return;
    }
    float const time = t->GetAnimationTime();
    if (time < 0.0f)
    {
        if (showingAnimation)
        {
            showingAnimation = false;
            t->FollowEditTime(savedEditTime);
        }
        return;
    }
    if (!showingAnimation)
    {
        showingAnimation = true;
        savedEditTime = t->GetEditTime();
    }
    // What the editor shows moves; no host parameter does.
    t->FollowEditTime(time);
}

// ---------------------------------------------------------------------------------------------
// Selection

std::vector<MultipleSelectionBreakpoint> SynthGUI::CollectSelection(int line, Selection which)
{
    std::vector<MultipleSelectionBreakpoint> out;
    Torvane* const t = Instrument();
    if (t == nullptr || line < -1 || line >= VoiceDef::kNumLines) return out;
    Torvane::TimelineSnapshot snapshot;
    if (!t->CopyTimeline(-1, snapshot)) return out;
    float const editTime = t->GetEditTime();
    int const first = line < 0 ? 0 : line;
    int const last = line < 0 ? VoiceDef::kNumLines - 1 : line;
    for (int l = first; l <= last; ++l)
    {
        Envelope const& env = snapshot.lines[static_cast<std::size_t>(l)];
        for (long i = 0; i < env.Size(); ++i)
        {
            Breakpoint const& point = env[i];
            bool const take = which == Selection::All ||
                              (which == Selection::Before && point.time <= editTime) ||
                              (which == Selection::After && point.time >= editTime);
            if (!take) continue;
            MultipleSelectionBreakpoint record;
            record.line = l;
            record.time = point.time;
            record.values.assign(point.values, point.values + point.numValues);
            out.push_back(std::move(record));
        }
    }
    return out;
}

void SynthGUI::SelectAll(int line)
{
    std::vector<MultipleSelectionBreakpoint> selection = CollectSelection(line, Selection::All);
    HandOverSelection(selection);
}

void SynthGUI::SelectBeforeCurrentTime(int line)
{
    std::vector<MultipleSelectionBreakpoint> selection = CollectSelection(line, Selection::Before);
    HandOverSelection(selection);
}

void SynthGUI::SelectAfterCurrentTime(int line)
{
    std::vector<MultipleSelectionBreakpoint> selection = CollectSelection(line, Selection::After);
    HandOverSelection(selection);
}

// The timeline display takes the selection here once it is part of the page.
void SynthGUI::HandOverSelection(std::vector<MultipleSelectionBreakpoint>& selection)
{
    if (Made(eventsDisplay)) eventsDisplay.SetSelection(selection);
}

// ---------------------------------------------------------------------------------------------
// The multiple-selection panel

void SynthGUI::Slide(MultipleSelectionPanel* which, long toY)
{
    // A new slide replaces the running one (its player lets the tween go first).
    slide.reset();
    auto tween =
        std::make_shared<Animation::WindowTween>(which, which->GetWindowX(), which->GetWindowX(),
                                                 which->GetPosition().y, toY, 1.0f, 1.0f, kPanelSlideMs);
    slide = std::make_unique<Animation::EasyAnimation::Player>(tween, false);
    StartTimer(kPanelTimer, kPanelPeriodMs);
}

void SynthGUI::OpenMultipleSelectionPanel()
{
    if (!Made(eventsDisplay)) return;
    long const openY = layout::synth::kSelectionPanel.y - 93;
    if (panel) return; // already open (or opening): it keeps its place and its controls
    if (closingPanel)
    {
        panel = std::move(closingPanel);
        Slide(panel.get(), openY);
        return;
    }
    panel = std::make_shared<MultipleSelectionPanel>();
    panel->Create(this, &eventsDisplay, layout::synth::kSelectionPanel.x, layout::synth::kSelectionPanel.y);
    Slide(panel.get(), openY);
}

void SynthGUI::CloseMultipleSelectionPanel()
{
    if (!panel) return;
    closingPanel = std::move(panel);
    Slide(closingPanel.get(), layout::synth::kSelectionPanel.y);
}
