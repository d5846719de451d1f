// The shared layout constants agree with each other where pages and art derive one from another.

#include "editor/Layout.h"

#include <gtest/gtest.h>

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
