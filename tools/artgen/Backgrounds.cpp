// The page and dialog backdrops: every caption, frame, track and field the controls do not draw.

#include <cmath>
#include <cstdio>

#include "Paint.h"

namespace artgen
{
namespace
{

using namespace layout;

constexpr double kCaptionSize = 8.5;
const char* const kLineTitles[5] = {"Voice", "Wave", "Filter", "Modulation", "Effects"};

void Caption(cairo_t* cr, const char* text, double x, double baseline, Align align = Align::Left)
{
    Text(cr, text, x, baseline, kCaptionSize, theme::kCaption, align);
}

// A caption centred under a knob's window.
void KnobCaption(cairo_t* cr, Point knob, const char* text)
{
    const Rect w = synth::KnobWindow(knob);
    Caption(cr, text, w.x + w.w / 2.0 + 0.5, w.Bottom() + 9, Align::Centre);
}

// A caption centred over a knob's window.
void KnobCaptionAbove(cairo_t* cr, Point knob, const char* text)
{
    const Rect w = synth::KnobWindow(knob);
    Caption(cr, text, w.x + w.w / 2.0 + 0.5, w.y - 3, Align::Centre);
}

void SliderTrack(cairo_t* cr, synth::HSlider s)
{
    HTrack(cr, synth::HSliderTrack(s));
}

void PageBase(cairo_t* cr)
{
    Fill(cr, {0, 0, root::kSize.w, root::kSize.h}, theme::kPage);
}

// The header bar with the tab of the given index lit (0 synth, 1 presets, 2 perform).
void Header(cairo_t* cr, int lit)
{
    VerticalGradient(cr, {0, 0, root::kSize.w, root::kHeaderHeight}, 0, theme::kHeaderTop,
                     theme::kHeaderBottom);
    Line(cr, 0, root::kHeaderHeight - 0.5, root::kSize.w, root::kHeaderHeight - 0.5, Rgb8(10, 11, 13));
    Line(cr, 0, 0.5, root::kSize.w, 0.5, Rgb8(70, 74, 84));

    const Rect tabs[3] = {root::kSynthTab, root::kPresetTab, root::kPerformTab};
    const char* const names[3] = {"Synth", "Presets", "Perform"};
    for (int i = 0; i < 3; ++i)
    {
        const Rect face{tabs[i].x + 2, 8, tabs[i].w - 4, 26};
        if (i == lit)
        {
            FillRound(cr, face, 4, Rgb8(12, 13, 15));
            VerticalGradient(cr, face.Inset(1), 3, Rgb8(82, 90, 106), Rgb8(58, 63, 75));
            Fill(cr, {face.x + 4, face.Bottom() - 4, face.w - 8, 2}, theme::kAccent);
            TextIn(cr, names[i], {face.x, face.y, face.w, face.h - 2}, 11, Rgb8(255, 255, 255), true);
        }
        else
        {
            FillRound(cr, face, 4, Rgb8(20, 21, 25));
            VerticalGradient(cr, face.Inset(1), 3, Rgb8(46, 49, 56), Rgb8(36, 38, 44));
            TextIn(cr, names[i], {face.x, face.y, face.w, face.h - 2}, 11, Rgb8(160, 165, 176), false);
        }
    }

    // The patch name field between the previous and next buttons.
    const Rect name = root::kPatchNameLabel;
    FillRound(cr, {name.x - 1, name.y - 1, name.w + 2, name.h + 2}, 3, theme::kFieldBorder);
    FillRound(cr, name, 2.5, theme::kField);

    // Product mark at the right.
    Text(cr, "TORVANE", root::kSize.w - 12, 26, 15, Rgb8(215, 220, 230), Align::Right, true);
    Text(cr, "Corvella Audio", root::kSize.w - 12, 39, 8.5, theme::kDimCaption, Align::Right);
}

void SynthPage(cairo_t* cr)
{
    using namespace synth;

    // Voice strip.
    Caption(cr, "Voices", kVoiceOn[0].x - 6, 20, Align::Right);

    // Oscillator.
    Panel(cr, kOscillatorPanel);
    Caption(cr, "Voice on", kCurrentVoiceOn.x + 34, 42);
    Text(cr, "Oscillator", 40, 67, 9, theme::kTitle, Align::Left, true);
    DarkField(cr, kPitchNumber);
    KnobCaption(cr, kPitchKnob, "Pitch");
    KnobCaption(cr, kFineKnob, "Fine");
    SliderTrack(cr, kPanSlider);
    Caption(cr, "Pan", kPanSlider.at.x, kPanSlider.at.y - 3);
    Caption(cr, "L", kPanSlider.at.x - 8, kPanSlider.at.y + 12);
    Caption(cr, "R", kPanSlider.at.x + kPanSlider.length + 3, kPanSlider.at.y + 12);
    SliderTrack(cr, kUnisonSlider);
    Caption(cr, "Unison", kUnisonSlider.at.x, kUnisonSlider.at.y - 3);
    KnobCaption(cr, kDetuneKnob, "Detune");
    KnobCaption(cr, kSpreadKnob, "Spread");

    // Waves and vector.
    Panel(cr, kWavesPanel, "Waves & vector");
    {
        const double cx = kBowlCentre.x, cy = kBowlCentre.y, r = kBowlRadius;
        cairo_pattern_t* p = cairo_pattern_create_radial(cx, cy - 10, 4, cx, cy, r);
        cairo_pattern_add_color_stop_rgb(p, 0, 0.11, 0.12, 0.15);
        cairo_pattern_add_color_stop_rgb(p, 1, 0.05, 0.055, 0.07);
        cairo_set_source(cr, p);
        cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
        cairo_fill(cr);
        cairo_pattern_destroy(p);
        cairo_set_line_width(cr, 1);
        cairo_set_source_rgb(cr, 0.2, 0.22, 0.26);
        for (double rr : {r * 0.66, r * 0.33})
        {
            cairo_arc(cr, cx, cy, rr, 0, 2 * M_PI);
            cairo_stroke(cr);
        }
        Line(cr, cx - r + 4, cy, cx + r - 4, cy, Rgb8(50, 54, 63));
        Line(cr, cx, cy - r + 4, cx, cy + r - 4, Rgb8(50, 54, 63));
        cairo_set_line_width(cr, 1.5);
        cairo_set_source_rgb(cr, 0.36, 0.39, 0.46);
        cairo_arc(cr, cx, cy, r - 0.5, 0, 2 * M_PI);
        cairo_stroke(cr);
    }
    for (Point w : kMiniWaves)
    {
        DarkField(cr, At(w, kMiniWave));
    }
    SliderTrack(cr, kNoiseSlider);
    Caption(cr, "Noise", kNoiseSlider.at.x, kNoiseSlider.at.y - 3);

    // Filter.
    Panel(cr, kFilterPanel, "Filter");
    {
        const Rect cut = KnobWindow(kCutoffKnob);
        const Rect res = KnobWindow(kResonanceKnob);
        Caption(cr, "Cutoff", cut.Right() + 3, cut.y + 19);
        Text(cr, "Resonance", res.Right() + 3, res.y + 19, 8, theme::kCaption);
        Caption(cr, "Type", kFilterSelector.x + 49, kFilterSelector.y + 12);
        Caption(cr, "Key follow", kKeyFollow.x + 16, kKeyFollow.y + 10);
    }

    // LFOs and, below the rule, the modulation matrix.
    Panel(cr, kLfoMatrixPanel);
    KnobCaptionAbove(cr, kLfoRate[0], "Rate");
    Caption(cr, "Shape", kLfoShape[0].x + 22.5, kLfoRate[0].y - 7, Align::Centre);
    Caption(cr, "Sync", kLfoSync[0].x + 6, kLfoRate[0].y - 7, Align::Centre);
    Caption(cr, "Free", kLfoFree[0].x + 6, kLfoRate[0].y - 7, Align::Centre);
    Caption(cr, "Pos", kLfoPositive[0].x + 8, kLfoRate[0].y - 7, Align::Centre);
    Text(cr, "LFO 1", 642, kLfoSync[0].y + 10, 9, theme::kTitle, Align::Left, true);
    Text(cr, "LFO 2", 642, kLfoSync[1].y + 10, 9, theme::kTitle, Align::Left, true);
    Line(cr, 452, 94.5, 684, 94.5, Rgb8(50, 53, 61));
    Line(cr, kLfoMatrixPanel.x + 6, kLfoMatrixRuleY + 0.5, kMatrixMenu.x - 4, kLfoMatrixRuleY + 0.5,
         theme::kPanelBorder);

    // Modulation matrix.
    DarkField(cr, kModDisplay);
    {
        const Rect d = kModDisplay;
        const Rect source = moddisplay::Source(0), target = moddisplay::Target(0),
                   amount = moddisplay::Amount(0);
        Caption(cr, "Source", d.x + source.x + 3, d.y - 5);
        Caption(cr, "Target", d.x + target.x + 3, d.y - 5);
        Caption(cr, "Amount", d.x + amount.x + amount.w / 2.0, d.y - 5, Align::Centre);
        for (int x : {target.x, amount.x})
        {
            Line(cr, d.x + x + 0.5, d.y + 2, d.x + x + 0.5, d.Bottom() - 2, Rgb8(28, 30, 35));
        }
        const double zero = d.x + amount.x + amount.w / 2.0 + 0.5;
        Line(cr, zero, d.y + 2, zero, d.Bottom() - 2, Rgb8(24, 26, 30));
    }

    // Sends.
    Panel(cr, kSendsPanel, "Sends");
    Caption(cr, "Delay", kDelaySend.at.x, kDelaySend.at.y - 3);
    SliderTrack(cr, kDelaySend);
    Caption(cr, "Reverb", kReverbSend.at.x, kReverbSend.at.y - 3);
    SliderTrack(cr, kReverbSend);
    Text(cr, "Distortion", kDistortionSend.at.x, kDistortionSend.at.y - 3, 8, theme::kCaption);
    SliderTrack(cr, kDistortionSend);

    // Timeline: line legend at the left, the display's backdrop and the line tools.
    Panel(cr, kLineLegendPanel, "Timeline");
    {
        const double ampCentre = kTimeline.y + timeline::kAmplitude.y + timeline::kAmplitude.h / 2.0;
        Fill(cr, {12, (int)ampCentre - 4, 8, 8}, Rgb8(255, 255, 255));
        Caption(cr, "Amplitude", 24, ampCentre + 3);
        for (int l = 0; l < 5; ++l)
        {
            const Rect row = timeline::Row(l);
            const double centre = kTimeline.y + row.y + row.h / 2.0;
            Fill(cr, {12, (int)centre - 4, 8, 8}, FromLayout(kLineColours[l]));
            Caption(cr, kLineTitles[l], 24, centre + 3);
        }
    }
    Panel(cr, kTimelinePanel);
    DarkField(cr, kTimelineBackdrop);
    Caption(cr, "Zoom", kZoomOut.x - 3, kZoomOut.y + 10, Align::Right);
    for (Rect z : {kZoomOut, kZoomIn})
    {
        FillRound(cr, z, 2, Rgb8(12, 12, 14));
        VerticalGradient(cr, z.Inset(1), 1.5, Rgb8(84, 88, 100), Rgb8(60, 64, 73));
    }
    Glyph(cr, "#minus", kZoomOut, Rgb8(235, 238, 244));
    Glyph(cr, "#plus", kZoomIn, Rgb8(235, 238, 244));
    Caption(cr, "Tempo", kTempoSwitch.x - 3, kTempoSwitch.y + 10, Align::Right);
    Caption(cr, "Snap", kSnapLabel.x + kSnapLabel.w / 2.0, kSnapLabel.y - 4, Align::Centre);
    DarkField(cr, kSnapLabel);
    SliderTrack(cr, kReleaseSlider);
    Caption(cr, "Release", kReleaseSlider.at.x, kReleaseSlider.at.y + 22);
    Caption(cr, "Loop", kReleaseSwitch.x - 3, kReleaseSwitch.y + 10, Align::Right);
    Caption(cr, "Amplitude", kAmplitudeMenu.x + 21, kAmplitudeMenu.y + 11);
    Caption(cr, "Voice", kVoiceMenu.x + 21, kVoiceMenu.y + 11);
    Caption(cr, "All lines", kPasteAll.x + 34, kPasteAll.y + 12);
    for (int l = 0; l < 5; ++l)
    {
        const int y = kLineRowY[l];
        const Colour c = FromLayout(kLineColours[l]);
        Fill(cr, {kLineMenuX + 21, y, 3, 13}, c);
        Text(cr, kLineTitles[l], kLineMenuX + 27, y + 10, kCaptionSize, Mix(c, Rgb8(255, 255, 255), 0.35));
        // A thin rule in the line colour joins the row's tools.
        Line(cr, kTimeline.Right() + 2, y + 15.5, kLineMenuX + 18, y + 15.5, Colour{c.r, c.g, c.b, 0.35});
    }
    Caption(cr, "Follow", kFollowPlayback.x + 16, kFollowPlayback.y + 10);

    // Bottom row: effects.
    struct Effect
    {
        Rect panel;
        const char* title;
        Point led;
        const Point* knobs;
        const char* names[3];
    };
    const Effect effects[3] = {
        {kDelayPanel, "Delay", kDelayOn, kDelayKnobs, {"Time", "Feedback", "Mix"}},
        {kReverbPanel, "Reverb", kReverbOn, kReverbKnobs, {"Time", "Size", "Mix"}},
        {kDistortionPanel, "Distortion", kDistortionOn, kDistortionKnobs, {"Crunch", "Drive", "High cut"}},
    };
    for (const Effect& fx : effects)
    {
        Panel(cr, fx.panel, fx.title);
        Caption(cr, "On", fx.led.x - 3, fx.led.y + 10, Align::Right);
        for (int k = 0; k < 3; ++k)
        {
            const Rect w = KnobWindow(fx.knobs[k]);
            Text(cr, fx.names[k], w.x + w.w / 2.0 + 0.5, w.Bottom() + 9, 8, theme::kCaption, Align::Centre);
        }
    }
    Panel(cr, kGlobalFiltersPanel, "Filters");
    KnobCaptionAbove(cr, kLowCutKnob, "Low cut");
    KnobCaptionAbove(cr, kHighCutKnob, "High cut");

    // Mixer.
    Panel(cr, kMixerPanel, "Mixer");
    for (int v = 0; v < 4; ++v)
    {
        const Rect t = FaderTrack(kVoiceFaders[v]);
        VTrack(cr, t);
        char n[2] = {static_cast<char>('1' + v), 0};
        Caption(cr, n, t.x + 1.5, t.Bottom() + 10, Align::Centre);
    }

    // Global settings.
    Panel(cr, kGlobalPanel);
    {
        const Rect key = KeyModeTrack(kKeyMode);
        VTrack(cr, key);
        Caption(cr, "Key mode", 550, key.y - 8);
        Text(cr, "Poly", key.x - 4, key.y + 4, 8, theme::kCaption, Align::Right);
        Text(cr, "Mono", key.x - 4, key.y + key.h / 2.0 + 3, 8, theme::kCaption, Align::Right);
        Text(cr, "Legato", key.x - 4, key.Bottom() + 2, 8, theme::kCaption, Align::Right);
        DarkField(cr, kPolyphonyNumber);
        KnobCaptionAbove(cr, kPolyphonyKnob, "Polyphony");
        Text(cr, "Portamento", KnobWindow(kPortamentoKnob).Right() + 3, KnobWindow(kPortamentoKnob).y + 19, 8,
             theme::kCaption);
        DarkField(cr, kBendNumber);
        KnobCaption(cr, kBendKnob, "Bend");
        const Rect master = FaderTrack(kMasterFader);
        VTrack(cr, master);
        Caption(cr, "Master", master.Right(), master.Bottom() + 12, Align::Right);
    }
}

} // namespace

void PaintSynthBackground(cairo_t* cr, const ArtEntry&)
{
    PageBase(cr);
    Header(cr, 0);
    cairo_save(cr);
    cairo_translate(cr, root::kSynthPage.x, root::kSynthPage.y);
    SynthPage(cr);
    cairo_restore(cr);
}

void PaintPerformBackground(cairo_t* cr, const ArtEntry&)
{
    PageBase(cr);
    Header(cr, 2);
    Text(cr, "Perform", 14, 80, 14, theme::kTitle, Align::Left, true);
    Text(cr, "Drag a pad to move its two targets; assign each axis with its tag, or learn a MIDI controller.",
         14, 98, 9, theme::kDimCaption);
    for (int i = 0; i < 6; ++i)
    {
        const Point o = perform::kBlocks[i] + root::kPerformPage;
        const Rect block = At(o, perform::kBlock);
        FillRound(cr, block, 5, theme::kPanelBorder);
        FillRound(cr, block.Inset(1), 4, theme::kPanel);
        const Rect pad = perform::kPad.Offset(o);
        FillRound(cr, {pad.x - 1, pad.y - 1, pad.w + 2, pad.h + 2}, 2, Rgb8(40, 42, 48));
        Fill(cr, pad, Rgb8(22, 23, 27));
        for (int g = 1; g < 4; ++g)
        {
            if (g == 2) continue;
            Line(cr, pad.x + g * 25 + 0.5, pad.y + 1, pad.x + g * 25 + 0.5, pad.Bottom() - 1,
                 Rgb8(36, 38, 44));
            Line(cr, pad.x + 1, pad.y + g * 25 + 0.5, pad.Right() - 1, pad.y + g * 25 + 0.5,
                 Rgb8(36, 38, 44));
        }
        Line(cr, pad.x + 50.5, pad.y + 1, pad.x + 50.5, pad.Bottom() - 1, Rgb8(72, 76, 88));
        Line(cr, pad.x + 1, pad.y + 50.5, pad.Right() - 1, pad.y + 50.5, Rgb8(72, 76, 88));
        Text(cr, "X", pad.Right() - 9, pad.y + 48, 8, Rgb8(120, 125, 136));
        Text(cr, "Y", pad.x + 53, pad.y + 10, 8, Rgb8(120, 125, 136));
        for (Point v : {perform::kXValue, perform::kYValue})
        {
            const Rect well = perform::ValueWell(v).Offset(o);
            FillRound(cr, {well.x - 1, well.y - 1, well.w + 2, well.h + 2}, 3, Rgb8(84, 85, 90));
            FillRound(cr, well, 2, Rgb8(30, 31, 36));
        }
        char title[8];
        std::snprintf(title, sizeof title, "Pad %d", i + 1);
        Text(cr, title, o.x + 196, o.y + 123, 10, theme::kDimCaption, Align::Right, true);
    }
}

void PaintPresetBackground(cairo_t* cr, const ArtEntry&)
{
    PageBase(cr);
    Header(cr, 1);
    const Point page = root::kPresetPage;
    Panel(cr, {40, 64, 687, 500});
    Text(cr, "Patch library", 52, 84, 12, theme::kTitle, Align::Left, true);
    Text(cr, "Categories", preset::kCategoryList.x + page.x, page.y + 5, 10, theme::kCaption, Align::Left,
         true);
    Text(cr, "Patches", preset::kPatchList.x + page.x, page.y + 5, 10, theme::kCaption, Align::Left, true);
    for (Point p : {preset::kCategoryList, preset::kPatchList})
    {
        ListBox(cr, ListBox(p + page, preset::kListWidth, preset::kListRows));
    }
}

void PaintSplash(cairo_t* cr, const ArtEntry& e)
{
    const Rect r{0, 0, e.w, e.h};
    Fill(cr, r, Rgb8(70, 74, 86));
    VerticalGradient(cr, r.Inset(1), 0, Rgb8(22, 24, 30), Rgb8(9, 10, 13));
    // Five wave lines in the timeline's colours across the lower half.
    cairo_save(cr);
    cairo_rectangle(cr, 1, 1, e.w - 2, e.h - 2);
    cairo_clip(cr);
    for (int l = 0; l < 5; ++l)
    {
        const Colour c = FromLayout(kLineColours[l], 0.55);
        cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
        cairo_set_line_width(cr, 1.6);
        for (int i = 0; i <= 100; ++i)
        {
            const double t = i / 100.0;
            const double x = t * e.w;
            const double y = 190 + 6 * l - 8 * l * 0.2 +
                             (14 - 2 * l) * std::sin(t * (3 + l * 0.7) * M_PI + l * 0.9) * std::sin(t * M_PI);
            if (i == 0)
                cairo_move_to(cr, x, y);
            else
                cairo_line_to(cr, x, y);
        }
        cairo_stroke(cr);
    }
    cairo_restore(cr);
    Text(cr, "Torvane", e.w / 2.0, 122, 46, Rgb8(238, 241, 247), Align::Centre, true);
    Fill(cr, {e.w / 2 - 60, 134, 120, 2}, theme::kAccent);
    Text(cr, "Corvella Audio", e.w / 2.0, 156, 13, theme::kCaption, Align::Centre);
    Text(cr, "Click to close", e.w / 2.0, e.h - 10, 8.5, theme::kDimCaption, Align::Centre);
}

void PaintSelectionBar(cairo_t* cr, const ArtEntry& e)
{
    const Rect r{0, 0, e.w, e.h};
    Fill(cr, r, theme::kPanelBorder);
    VerticalGradient(cr, r.Inset(1), 0, Rgb8(46, 49, 56), Rgb8(32, 34, 39));
    Text(cr, "Selected breakpoints", selection::kCopy.x, 20, 10, theme::kTitle, Align::Left, true);
    Caption(cr, "Mode", selection::kModeRadios[0].x - 8, selection::kModeRadios[0].y + 14, Align::Right);
    const char* const modes[3] = {"Off", "Relative", "Absolute"};
    for (int i = 0; i < 3; ++i)
    {
        const Point p = selection::kModeRadios[i];
        Text(cr, modes[i], p.x + 26, p.y + 14, 10, theme::kCaption);
    }
}

void PaintTimelinePresetDialog(cairo_t* cr, const ArtEntry& e)
{
    using namespace timelinepreset;
    const Rect r{0, 0, e.w, e.h};
    Fill(cr, r, theme::kPanelBorder);
    Fill(cr, r.Inset(1), Rgb8(30, 32, 37));
    Fill(cr, {1, 1, e.w - 2, 24}, Rgb8(20, 21, 25));
    // The left 300 pixels stand alone as the save dialog: a border closes them.
    Line(cr, kSaveSize.w - 0.5, 0, kSaveSize.w - 0.5, e.h, theme::kPanelBorder);
    Fill(cr, {kSaveSize.w - 1, 0, 1, 1}, theme::kPanelBorder);
    for (Point p : {kCategoryList, kPresetList})
    {
        ListBox(cr, ListBox(p, kListWidth, kListRows));
    }
    Fill(cr, {1, 284, kSaveSize.w - 2, 1}, Rgb8(48, 51, 58));
    Fill(cr, {kSaveSize.w, 284, e.w - kSaveSize.w - 1, 1}, Rgb8(48, 51, 58));
}

void PaintSaveDialog(cairo_t* cr, const ArtEntry& e)
{
    using namespace savedialog;
    const Rect r{0, 0, e.w, e.h};
    Fill(cr, r, theme::kPanelBorder);
    Fill(cr, r.Inset(1), Rgb8(34, 36, 42));
    Fill(cr, {1, 1, e.w - 2, kTitleStripHeight}, theme::kLightPanel);
    DarkField(cr, kNameField);
    Caption(cr, "Category", kCategoryList.x, kCategoryList.y - 5);
    ListBox(cr, ListBox(kCategoryList, kListWidth, kListRows));
}

void PaintWaveBrowser(cairo_t* cr, const ArtEntry& e)
{
    using namespace wavebrowser;
    const Rect r{0, 0, e.w, e.h};
    Fill(cr, r, theme::kPanelBorder);
    Fill(cr, r.Inset(1), Rgb8(30, 32, 37));
    Text(cr, "Waveforms", 9, 16, 11, theme::kTitle, Align::Left, true);
    Caption(cr, "Categories", kCategoryList.x, kCategoryList.y - 5);
    Caption(cr, "Waveforms", kWaveList.x, kWaveList.y - 5);
    Caption(cr, "Preview", kPreview.x, kPreview.y - 5);
    for (Point p : {kCategoryList, kWaveList})
    {
        ListBox(cr, ListBox(p, kListWidth, kListRows));
    }
    Fill(cr, {kPreview.x - 1, kPreview.y - 1, kPreview.w + 2, kPreview.h + 2}, Rgb8(90, 95, 108));
    Fill(cr, kPreview, theme::kLightPanel);
    Line(cr, kPreview.x + 1, kPreview.y + kPreview.h / 2.0, kPreview.Right() - 1,
         kPreview.y + kPreview.h / 2.0, Rgb8(196, 200, 210));

    // The four standard shapes (saw, square, sine, silence); the strip over them only highlights.
    Caption(cr, "Standard shapes", kStandardShapes.x - 8, kStandardShapes.y - 5);
    for (int k = 0; k < 4; ++k)
    {
        const Rect icon{kStandardShapes.x + kStandardShapeStep * k + 1, kStandardShapes.y + 1, 14, 15};
        FillRound(cr, icon, 2, Rgb8(16, 17, 20));
        cairo_set_source_rgb(cr, 0.85, 0.87, 0.92);
        cairo_set_line_width(cr, 1.2);
        const double x0 = icon.x + 2, x1 = icon.Right() - 2, top = icon.y + 3, bottom = icon.Bottom() - 3;
        const double mid = (top + bottom) / 2;
        if (k == 0)
        {
            cairo_move_to(cr, x0, bottom);
            cairo_line_to(cr, x1, top);
            cairo_line_to(cr, x1, bottom);
        }
        else if (k == 1)
        {
            const double xm = (x0 + x1) / 2;
            cairo_move_to(cr, x0, bottom);
            cairo_line_to(cr, x0, top);
            cairo_line_to(cr, xm, top);
            cairo_line_to(cr, xm, bottom);
            cairo_line_to(cr, x1, bottom);
            cairo_line_to(cr, x1, top);
        }
        else if (k == 2)
        {
            for (int i = 0; i <= 16; ++i)
            {
                const double t = i / 16.0;
                const double y = mid - std::sin(t * 2 * M_PI) * (mid - top);
                if (i == 0)
                    cairo_move_to(cr, x0 + t * (x1 - x0), y);
                else
                    cairo_line_to(cr, x0 + t * (x1 - x0), y);
            }
        }
        else
        {
            cairo_move_to(cr, x0, mid);
            cairo_line_to(cr, x1, mid);
        }
        cairo_stroke(cr);
    }
}

void PaintWaveEditor(cairo_t* cr, const ArtEntry& e)
{
    using namespace waveeditor;
    const Rect r{0, 0, e.w, e.h};
    Fill(cr, r, theme::kPanelBorder);
    Fill(cr, r.Inset(1), Rgb8(30, 32, 37));
    Text(cr, "Waveform editor", 10, 17, 11, theme::kTitle, Align::Left, true);
    Caption(cr, "Wave", kWaveGraph.x, kWaveGraph.y - 4);
    DarkField(cr, kWaveGraph);
    Line(cr, kWaveGraph.x, kWaveCentreY + 0.5, kWaveGraph.Right(), kWaveCentreY + 0.5, Rgb8(40, 43, 50));

    // The partial graph: amplitude bars, phase bars, then the pan track, zoom and partial labels.
    const Point g = kPartialGraph.TopLeft();
    Caption(cr, "Partials", g.x, g.y - 4);
    const Rect graph{g.x, g.y, kAmplitudeBars.w, e.h - 45 - g.y};
    Fill(cr, {graph.x - 1, graph.y - 1, graph.w + 2, graph.h + 2}, theme::kFieldBorder);
    Fill(cr, graph, kWaveEditorGraph);
    Line(cr, graph.x, g.y + kAmplitudeBars.Bottom() + 0.5, graph.Right(), g.y + kAmplitudeBars.Bottom() + 0.5,
         Rgb8(40, 43, 50));
    Line(cr, graph.x, g.y + kPhaseBars.Bottom() + 1.5, graph.Right(), g.y + kPhaseBars.Bottom() + 1.5,
         Rgb8(40, 43, 50));
    Caption(cr, "Level", graph.Right() + 4, g.y + kAmplitudeBars.y + kAmplitudeBars.h / 2.0 + 3);
    Caption(cr, "Phase", graph.Right() + 4, g.y + kPhaseBars.y + kPhaseBars.h / 2.0 + 3);
    Fill(cr, {1, e.h - 34, e.w - 2, 33}, Rgb8(24, 25, 29));
}

} // namespace artgen
