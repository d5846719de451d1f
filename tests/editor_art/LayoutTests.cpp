// The shared layout constants agree with each other where pages and art derive one from another.

#include "editor/Layout.h"

#include <gtest/gtest.h>

#include <iterator>
#include <vector>

namespace
{

using namespace layout;

constexpr bool Same(Rect a, Rect b)
{
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

// Patch lists: the scroll bar's track sits in the list's last ten pixels.
static_assert(Same(ListScrollTrack(ListBox(preset::kCategoryList + root::kPresetPage, preset::kListWidth,
                                           preset::kListRows)),
                   {355, 120, 10, 345}));
static_assert(Same(ListScrollTrack(ListBox(preset::kPatchList + root::kPresetPage, preset::kListWidth,
                                           preset::kListRows)),
                   {695, 120, 10, 345}));
static_assert(Same(ListScrollTrack(ListBox(savedialog::kCategoryList, savedialog::kListWidth,
                                           savedialog::kListRows)),
                   {193, 81, 10, 225}));
static_assert(Same(ListScrollTrack(ListBox(wavebrowser::kCategoryList, wavebrowser::kListWidth,
                                           wavebrowser::kListRows)),
                   {149, 34, 10, 225}));
static_assert(Same(ListScrollTrack(ListBox(wavebrowser::kWaveList, wavebrowser::kListWidth,
                                           wavebrowser::kListRows)),
                   {309, 34, 10, 225}));
static_assert(Same(ListScrollTrack(ListBox(timelinepreset::kCategoryList, timelinepreset::kListWidth,
                                           timelinepreset::kListRows)),
                   {280, 50, 10, 180}));
static_assert(Same(ListScrollTrack(ListBox(timelinepreset::kPresetList, timelinepreset::kListWidth,
                                           timelinepreset::kListRows)),
                   {470, 50, 10, 180}));

// The bowl window's centre is the bowl circle's; the splash is centred under the version text.
static_assert(synth::kBowl.x + synth::kBowlRadius == synth::kBowlCentre.x);
static_assert(synth::kBowl.y + synth::kBowlRadius == synth::kBowlCentre.y);
static_assert(root::kVersionText.x - root::kSplashImage.x == 187 &&
              root::kVersionText.y - root::kSplashImage.y == 35);

TEST(Layout, PagesFitTheEditorAndControlsStayApart)
{
    // Root = page + offset: the timeline backdrop the art draws lies where the page puts the display.
    EXPECT_TRUE(Same(synth::kTimeline.Offset(root::kSynthPage), {105, 294, 420, 240}));
    EXPECT_TRUE(Same(synth::kModDisplay.Offset(root::kSynthPage), {450, 196, 228, 81}));
    // Six perform blocks, none overlapping; the lower row's empty bottom margin runs 20 pixels past
    // the 430-high page, but everything a block draws or hits stays on it, and the blocks' art
    // stays inside the editor.
    const Rect page{0, 0, perform::kSize.w, perform::kSize.h};
    const Rect editor{0, 0, root::kSize.w, root::kSize.h};
    for (int i = 0; i < 6; ++i)
    {
        const Rect a = At(perform::kBlocks[i], perform::kBlock);
        EXPECT_TRUE(editor.Contains(a.Offset(root::kPerformPage))) << i;
        EXPECT_TRUE(page.Contains(perform::kPad.Offset(a.TopLeft()))) << i;
        EXPECT_TRUE(page.Contains(perform::kLearnX.Offset(a.TopLeft()))) << i;
        EXPECT_TRUE(page.Contains(perform::kLearnY.Offset(a.TopLeft()))) << i;
        for (int j = i + 1; j < 6; ++j)
        {
            const Rect b = At(perform::kBlocks[j], perform::kBlock);
            EXPECT_TRUE(a.Right() <= b.x || b.Right() <= a.x || a.Bottom() <= b.y || b.Bottom() <= a.y)
                << i << j;
        }
    }
    // Knob windows of one row never overlap.
    for (const Point* row : {synth::kDelayKnobs, synth::kReverbKnobs, synth::kDistortionKnobs})
    {
        EXPECT_LE(synth::KnobWindow(row[0]).Right(), synth::KnobWindow(row[1]).x + 1);
        EXPECT_LE(synth::KnobWindow(row[1]).Right(), synth::KnobWindow(row[2]).x + 1);
    }
    // The timeline's line-tool rows fall inside its five rows.
    for (int l = 0; l < 5; ++l)
    {
        const Rect row = timeline::Row(l).Offset(synth::kTimeline.TopLeft());
        EXPECT_GE(synth::kLineRowY[l], row.y);
        EXPECT_LT(synth::kLineRowY[l], row.Bottom());
    }
}

TEST(Layout, SynthPanelsHoldTheirKnobsAndStayApart)
{
    using namespace synth;
    struct Section
    {
        Rect panel;
        std::vector<Point> knobs;
    };
    const Section sections[] = {
        {kOscillatorPanel, {kPitchKnob, kFineKnob, kDetuneKnob, kSpreadKnob}},
        {kFilterPanel, {kCutoffKnob, kResonanceKnob}},
        {kLfoMatrixPanel, {kLfoRate[0], kLfoRate[1]}},
        {kDelayPanel, {kDelayKnobs[0], kDelayKnobs[1], kDelayKnobs[2]}},
        {kReverbPanel, {kReverbKnobs[0], kReverbKnobs[1], kReverbKnobs[2]}},
        {kDistortionPanel, {kDistortionKnobs[0], kDistortionKnobs[1], kDistortionKnobs[2]}},
        {kGlobalFiltersPanel, {kLowCutKnob, kHighCutKnob}},
        {kGlobalPanel, {kBendKnob, kPortamentoKnob, kPolyphonyKnob}},
    };
    for (const Section& s : sections)
        for (Point k : s.knobs)
        {
            // Inside the panel's border.
            EXPECT_TRUE(s.panel.Inset(1).Contains(KnobWindow(k))) << k.x << ", " << k.y;
        }
    // The LFO knobs end above the rule that parts them from the matrix; the rule stops short of
    // the matrix menu and passes above the matrix display.
    for (Point k : kLfoRate)
    {
        EXPECT_LE(KnobWindow(k).Bottom(), kLfoMatrixRuleY);
    }
    EXPECT_LT(kLfoMatrixRuleY, kModDisplay.y - 1);
    EXPECT_TRUE(kLfoMatrixPanel.Inset(1).Contains({kMatrixMenu.x, kMatrixMenu.y, 18, 15}));

    // Panels never overlap one another and stay on the part of the page the editor shows.
    const Rect all[] = {kOscillatorPanel,    kWavesPanel,    kFilterPanel, kLfoMatrixPanel, kSendsPanel,
                        kLineLegendPanel,    kTimelinePanel, kDelayPanel,  kReverbPanel,    kDistortionPanel,
                        kGlobalFiltersPanel, kMixerPanel,    kGlobalPanel};
    const Rect shown{0, 0, kSize.w, root::kSize.h - root::kSynthPage.y};
    for (std::size_t i = 0; i < std::size(all); ++i)
    {
        EXPECT_TRUE(shown.Contains(all[i])) << i;
        for (std::size_t j = i + 1; j < std::size(all); ++j)
        {
            const Rect a = all[i], b = all[j];
            EXPECT_TRUE(a.Right() <= b.x || b.Right() <= a.x || a.Bottom() <= b.y || b.Bottom() <= a.y)
                << i << " " << j;
        }
    }
}

TEST(Layout, ModulationDisplayCellsFillItsWidthAndHeight)
{
    const Rect last = moddisplay::Source(moddisplay::kRows - 1);
    EXPECT_EQ(last.Bottom() + 1, synth::kModDisplay.h);
    EXPECT_LE(moddisplay::Amount(0).Right(), synth::kModDisplay.w);
    EXPECT_EQ(moddisplay::Toggle(0).Right(), moddisplay::Source(0).x);
    EXPECT_EQ(moddisplay::Source(0).Right(), moddisplay::Target(0).x);
    EXPECT_EQ(moddisplay::Target(0).Right(), moddisplay::Amount(0).x);
}

} // namespace
