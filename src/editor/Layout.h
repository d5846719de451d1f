#pragma once

// Every position and size the editor's pages, dialogs and artwork share. The pages place their
// controls with these numbers and the art generator draws captions, frames and tracks under them,
// so a control and its picture never drift apart. Coordinates are pixels in the window named by
// each namespace (the editor root, a page, a dialog); helpers convert where the art needs it.
// Pure constants: no dependencies, usable from any layer and from the build-time tools.

namespace layout
{

struct Point
{
    int x;
    int y;
};

struct Size
{
    int w;
    int h;
};

struct Rect
{
    int x;
    int y;
    int w;
    int h;

    constexpr int Right() const { return x + w; }
    constexpr int Bottom() const { return y + h; }
    constexpr Point TopLeft() const { return {x, y}; }
    constexpr Rect Offset(Point by) const { return {x + by.x, y + by.y, w, h}; }
    constexpr Rect Inset(int d) const { return {x + d, y + d, w - 2 * d, h - 2 * d}; }
    constexpr bool Contains(Rect r) const
    {
        return r.x >= x && r.y >= y && r.Right() <= Right() && r.Bottom() <= Bottom();
    }
};

constexpr Point operator+(Point a, Point b)
{
    return {a.x + b.x, a.y + b.y};
}
constexpr Rect At(Point p, Size s)
{
    return {p.x, p.y, s.w, s.h};
}

// The five timeline line colours (lines 1-5 of a voice), and the knob wipe colours.
struct Rgb
{
    int r;
    int g;
    int b;
};
constexpr Rgb kLineColours[5] = {{255, 0, 0}, {0, 130, 255}, {0, 255, 0}, {0, 200, 210}, {240, 225, 0}};
constexpr Rgb kWipeRed{200, 70, 70};
constexpr Rgb kWipeGreen{25, 200, 25};

// A patch list: rows of kListRowHeight with a scroll bar of kListScrollWidth at its right whose
// arrow zones are kListArrowHeight high at either end.
constexpr int kListRowHeight = 15;
constexpr int kListScrollWidth = 10;
constexpr int kListArrowHeight = 15;
constexpr Rect ListBox(Point at, int width, int rows)
{
    return {at.x, at.y, width, rows * kListRowHeight};
}
constexpr Rect ListScrollTrack(Rect box)
{
    return {box.Right() - kListScrollWidth, box.y, kListScrollWidth, box.h};
}

// ---------------------------------------------------------------------------------------------
// The editor root (header and page placement).
namespace root
{
constexpr Size kSize{767, 638};
constexpr int kHeaderHeight = 50;

constexpr Point kHelpButton{7, 9};
constexpr Point kAboutButton{39, 4};
constexpr Point kFileButton{77, 4};
constexpr Point kPreviousPatchButton{338, 6};
constexpr Point kNextPatchButton{516, 6};
constexpr Rect kSynthTab{118, 4, 68, 32};
constexpr Rect kPresetTab{187, 4, 68, 30};
constexpr Rect kPerformTab{255, 4, 70, 30};
constexpr Rect kPatchNameLabel{364, 14, 150, 20};
constexpr Point kFileMenu{75, 16};
constexpr Point kSaveDialog{170, 30};

constexpr Point kSynthPage{0, 50};
constexpr Point kPerformPage{0, 110};
constexpr Point kPresetPage{0, 110};

// The about splash: centred horizontally at y 80, with the version drawn over it.
constexpr Size kSplashSize{400, 240};
constexpr int kSplashY = 80;
constexpr Point kSplashImage{kSize.w / 2 - kSplashSize.w / 2, kSplashY};
constexpr Point kVersionText{370, 115};
} // namespace root

// ---------------------------------------------------------------------------------------------
// The synthesizer page: a 760 x 600 child of the root at root::kSynthPage.
namespace synth
{
constexpr Size kSize{760, 600};

// A knob at p owns the 31 x 32 window at (p.x - 3, p.y - 4); its face is drawn at (2, 3) in it.
constexpr Size kKnobWindow{31, 32};
constexpr Rect KnobWindow(Point p)
{
    return {p.x - 3, p.y - 4, kKnobWindow.w, kKnobWindow.h};
}
constexpr Point kKnobImageInWindow{2, 3};

// A horizontal slider at p with length L: its thumb points down at a track from (p.x, p.y + 8)
// to (p.x + L, p.y + 10).
struct HSlider
{
    Point at;
    int length;
};
constexpr Rect HSliderTrack(HSlider s)
{
    return {s.at.x, s.at.y + 8, s.length, 3};
}
// A vertical slider at p with length L (the key mode): the thumb points left at a track just left
// of p.x; a fader cap slides over a track centred at p.x + 6 from p.y to p.y + L.
struct VSlider
{
    Point at;
    int length;
};
constexpr Rect KeyModeTrack(VSlider s)
{
    return {s.at.x - 4, s.at.y, 3, s.length};
}
constexpr Rect FaderTrack(VSlider s)
{
    return {s.at.x + 5, s.at.y, 3, s.length};
}

// Voice tabs, voice switches and the current voice's switch.
constexpr Point kVoiceTabs[4] = {{295, 8}, {395, 8}, {495, 8}, {595, 8}};
constexpr Point kVoiceOn[4] = {{269, 10}, {369, 10}, {469, 10}, {569, 10}};
constexpr Point kCurrentVoiceOn{27, 30};

// Oscillator (voice line).
constexpr Point kPitchKnob{18, 76};
constexpr Rect kPitchNumber{15, 60, 20, 10};
constexpr Point kFineKnob{55, 76};
constexpr HSlider kPanSlider{{25, 140}, 48};
constexpr HSlider kUnisonSlider{{35, 169}, 48};
constexpr Point kDetuneKnob{18, 193};
constexpr Point kSpreadKnob{55, 193};

// Filter.
constexpr Point kFilterOn{367, 60};
constexpr Point kCutoffKnob{360, 90};
constexpr Point kResonanceKnob{360, 125};
constexpr Point kFilterSelector{366, 165};
constexpr Point kKeyFollow{378, 200};

// Vector bowl, wave displays and wave buttons.
constexpr Point kBowl{169, 82};
constexpr Point kBowlCentre{222, 135};
constexpr int kBowlRadius = 53;
constexpr Size kMiniWave{44, 29};
constexpr Point kMiniWaves[4] = {{114, 115}, {198, 43}, {283, 115}, {198, 193}};
constexpr Point kWaveLoad[4] = {{116, 149}, {245, 43}, {285, 149}, {245, 195}};
constexpr Point kWaveEdit[4] = {{116, 164}, {245, 58}, {285, 164}, {245, 210}};
constexpr HSlider kNoiseSlider{{125, 220}, 50};

// LFOs (row 0: LFO 1, row 1: LFO 2) and the modulation matrix.
constexpr int kLfoRowY[2] = {58, 104};
constexpr Point kLfoRate[2] = {{468, 58}, {468, 104}};
constexpr Point kLfoShape[2] = {{500, 58}, {500, 103}};
constexpr Point kLfoSync[2] = {{551, 60}, {551, 105}};
constexpr Point kLfoFree[2] = {{585, 60}, {585, 105}};
constexpr Point kLfoPositive[2] = {{619, 59}, {619, 104}};
constexpr Rect kModDisplay{450, 146, 228, 81};
constexpr Point kMatrixMenu{644, 130};

// Sends (effects line).
constexpr HSlider kDelaySend{{700, 105}, 40};
constexpr HSlider kReverbSend{{700, 158}, 40};
constexpr HSlider kDistortionSend{{700, 210}, 40};

// Timeline display and its tools.
constexpr Rect kTimeline{105, 244, 420, 240};
constexpr Rect kZoomOut{554, 263, 13, 13};
constexpr Rect kZoomIn{571, 263, 13, 13};
constexpr Point kCopyAll{554, 351};
constexpr Point kPasteAll{557, 330};
constexpr int kLineRowY[5] = {352, 372, 391, 410, 429};
constexpr int kLineMenuY[5] = {350, 370, 389, 408, 428};
constexpr int kPrevBreakpointX = 518;
constexpr int kNextBreakpointX = 535;
// The display's dark backdrop (which the display does not paint) covers its time area and stops
// short of the line tools at its right: its border ends a pixel before the previous-breakpoint
// arrows.
constexpr Rect kTimelineBackdrop{kTimeline.x, kTimeline.y, kPrevBreakpointX - 2 - kTimeline.x, kTimeline.h};
constexpr int kPasteLineX = 590;
constexpr int kLineMenuX = 636;
constexpr Point kLoopToggle{523, 449};
constexpr HSlider kReleaseSlider{{529, 282}, 52};
constexpr Point kReleaseSwitch{560, 308};
constexpr Point kAmplitudeMenu{590, 289};
constexpr Point kTimeFreeze{17, 450};
constexpr Point kTimeFreezeLearn{80, 451};
constexpr Point kTempoSwitch{675, 250};
constexpr Rect kSnapLabel{709, 256, 22, 12};
// A press here opens the snap menu at kSnapMenu.
constexpr Rect kSnapLabelPress{709, 256, 22, 11};
constexpr Point kSnapMenu{690, 230};
constexpr Point kFollowPlayback{700, 460};
constexpr Point kVoiceMenu{657, 307};

// Bottom row: global effects and filters.
constexpr Point kDelayOn{52, 517};
constexpr Point kDelayKnobs[3] = {{20, 545}, {50, 545}, {80, 545}};
constexpr Point kDelayStereo{81, 509};
constexpr Point kDelaySync{81, 526};
constexpr Point kReverbOn{162, 517};
constexpr Point kReverbKnobs[3] = {{130, 545}, {160, 545}, {190, 545}};
constexpr Point kDistortionOn{272, 517};
constexpr Point kDistortionKnobs[3] = {{240, 545}, {270, 545}, {300, 545}};
constexpr Point kLowCutOn{352, 570};
constexpr Point kLowCutKnob{350, 538};
constexpr Point kHighCutOn{412, 570};
constexpr Point kHighCutKnob{410, 538};

// Mixer and global settings.
constexpr VSlider kVoiceFaders[4] = {{{465, 535}, 40}, {{485, 535}, 40}, {{505, 535}, 40}, {{525, 535}, 40}};
constexpr VSlider kMasterFader{{748, 525}, 40};
constexpr Point kBendKnob{690, 518};
constexpr Rect kBendNumber{670, 526, 15, 15};
constexpr VSlider kKeyMode{{582, 532}, 43};
constexpr Point kPortamentoKnob{615, 550};
constexpr Point kPolyphonyKnob{615, 510};
constexpr Rect kPolyphonyNumber{595, 517, 15, 15};

// The multiple-selection panel slides in at the bottom of the page.
constexpr Point kSelectionPanel{0, 590};

// The section panels the art draws under the controls; each holds its controls' windows whole.
// The LFOs and the modulation matrix share one: LFO 2's knob reaches down level with the matrix
// menu, so a rule below the knob, stopping short of the menu, parts the two.
constexpr Rect kOscillatorPanel{6, 24, 92, 216};
constexpr Rect kWavesPanel{104, 34, 232, 204};
constexpr Rect kFilterPanel{340, 34, 102, 204};
constexpr Rect kLfoMatrixPanel{446, 34, 244, 204};
constexpr int kLfoMatrixRuleY = 133;
constexpr Rect kSendsPanel{694, 34, 65, 204};
constexpr Rect kLineLegendPanel{6, 244, 92, 246};
constexpr Rect kTimelinePanel{100, 238, 659, 252};
// The bottom row runs down to the last row of the page the editor shows.
constexpr int kBottomRowY = 494;
constexpr int kBottomRowHeight = root::kSize.h - root::kSynthPage.y - kBottomRowY - 1;
constexpr Rect kDelayPanel{6, kBottomRowY, 108, kBottomRowHeight};
constexpr Rect kReverbPanel{118, kBottomRowY, 106, kBottomRowHeight};
constexpr Rect kDistortionPanel{228, kBottomRowY, 106, kBottomRowHeight};
constexpr Rect kGlobalFiltersPanel{338, kBottomRowY, 104, kBottomRowHeight};
constexpr Rect kMixerPanel{446, kBottomRowY, 96, kBottomRowHeight};
constexpr Rect kGlobalPanel{546, kBottomRowY, 213, kBottomRowHeight};
} // namespace synth

// ---------------------------------------------------------------------------------------------
// Inside the timeline display (420 x 240 at synth::kTimeline).
namespace timeline
{
constexpr int kX0 = 10;
constexpr int kWidth = 400;
constexpr Rect kRuler{kX0, 20, kWidth, 10};
constexpr Rect kAmplitude{kX0, 40, kWidth, 57};
constexpr int kRowHeight = 19;
constexpr Rect Row(int i)
{
    return {kX0, 105 + kRowHeight * i, kWidth, kRowHeight};
}
constexpr Rect kRubberBand{0, 33, 413, 168};
// The ruler's face, dark enough for its white labels.
constexpr Rgb kRulerFace{46, 48, 55};
} // namespace timeline

// Inside the modulation display (synth::kModDisplay): five rows of toggle, source, target, amount.
namespace moddisplay
{
constexpr int kRows = 5;
constexpr int kRowHeight = 16;
constexpr Rect Toggle(int r)
{
    return {0, kRowHeight * r, 10, kRowHeight};
}
constexpr Rect Source(int r)
{
    return {10, kRowHeight * r, 60, kRowHeight};
}
constexpr Rect Target(int r)
{
    return {70, kRowHeight * r, 60, kRowHeight};
}
constexpr Rect Amount(int r)
{
    return {130, kRowHeight * r, 80, kRowHeight};
}
} // namespace moddisplay

// ---------------------------------------------------------------------------------------------
// The multiple-selection panel (727 x 91).
namespace selection
{
constexpr Size kSize{727, 91};
constexpr Point kCopy{15, 30};
constexpr Point kPaste{79, 30};
constexpr Point kDelete{15, 55};
constexpr Point kDeselect{260, 30};
constexpr Point kRescale{170, 30};
constexpr Point kModeRadios[3] = {{480, 5}, {480, 35}, {480, 65}};
} // namespace selection

// ---------------------------------------------------------------------------------------------
// The perform page: a 770 x 430 child of the root at root::kPerformPage, with six pad blocks.
namespace perform
{
constexpr Size kSize{770, 430};
constexpr Size kBlock{205, 200};
constexpr Point kBlocks[6] = {{10, 30}, {280, 30}, {550, 30}, {10, 250}, {280, 250}, {550, 250}};
constexpr Rect kPad{5, 5, 100, 100};
constexpr Point kAssignX{13, 117};
constexpr Point kAssignY{120, 10};
constexpr Rect kLearnX{111, 154, 60, 23};
constexpr Rect kLearnY{144, 82, 60, 23};
// Where the block writes its values and names.
constexpr Point kXValue{67, 120};
constexpr Point kYValue{175, 13};
constexpr Point kXTarget{16, 138};
constexpr Point kYTarget{122, 33};
constexpr Point kXVoice{16, 158};
constexpr Point kYVoice{122, 53};
// Text written at p starts at p.x + 2 with its baseline at p.y + 8 (8-pixel face): the art puts
// a dark well under each value, which is drawn light and translucent, while the names, white
// while their axis is assigned and grey while not, sit on the block's dark face.
constexpr Rect ValueWell(Point p)
{
    return {p.x, p.y, 26, 12};
}
// The names of an axis with no target: dimmer than white, still readable on the block's face.
constexpr Rgb kUnassignedInk{165, 165, 170};
constexpr Point kAssignMenuX{50, 50};
constexpr Point kAssignMenuY{150, 20};
} // namespace perform

// ---------------------------------------------------------------------------------------------
// The preset page: a 770 x 470 child of the root at root::kPresetPage.
namespace preset
{
constexpr Size kSize{770, 470};
constexpr int kListWidth = 310;
constexpr int kListRows = 23;
constexpr Point kCategoryList{55, 10};
constexpr Point kPatchList{395, 10};
constexpr Point kAddCategory{58, 365};
constexpr Point kDeleteCategory{110, 365};
constexpr Point kRenameCategory{162, 365};
constexpr Point kDeletePatch{404, 365};
constexpr Point kRenamePatch{456, 365};
constexpr Point kShowFolder{58, 420};
} // namespace preset

// ---------------------------------------------------------------------------------------------
// Dialogs.
namespace namepopup
{
constexpr Size kSize{300, 150};
constexpr Point kPrompt{5, 5};
constexpr Rect kField{50, 50, 200, 15};
constexpr Point kOk{70, 100};
constexpr Point kCancel{180, 100};
} // namespace namepopup

namespace timelinepreset
{
constexpr Point kAt{120, 120};
constexpr Size kLoadSize{490, 320};
constexpr Size kSaveSize{300, 320};
constexpr Point kTitle{5, 5};
constexpr Point kItemsCaption{5, 40};
constexpr Point kCategoryCaption{155, 34};
constexpr Point kPresetCaption{345, 34};
constexpr Point kToggle0{10, 70};
constexpr int kToggleStep = 25;
constexpr int kToggleLabelWidth = 125;
constexpr int kListWidth = 140;
constexpr int kListRows = 12;
constexpr Point kCategoryList{150, 50};
constexpr Point kPresetList{340, 50};
constexpr Point kAddCategory{150, 240};
constexpr Point kDeleteCategory{150, 261};
constexpr Point kRenameCategory{218, 240};
constexpr Point kRenamePreset{340, 240};
constexpr Point kDeletePreset{410, 240};
constexpr Point kClose{436, 292};
constexpr Point kLoad{368, 292};
constexpr Point kSaveClose{245, 292};
constexpr Point kSave{179, 292};
constexpr Point kCloseBox{475, 0};
constexpr Rect kNameField{150, 5, 140, 20};
} // namespace timelinepreset

namespace savedialog
{
constexpr Size kSize{230, 345};
constexpr Point kTitle{5, 5};
constexpr int kTitleStripHeight = 18;
constexpr Rect kNameField{8, 20, 140, 17};
constexpr int kListWidth = 180;
constexpr int kListRows = 15;
constexpr Point kCategoryList{23, 81};
constexpr Point kCancel{160, 45};
constexpr Point kSave{160, 18};
constexpr Point kAddCategory{23, 315};
constexpr Point kDeleteCategory{83, 315};
constexpr Point kRenameCategory{143, 315};
} // namespace savedialog

namespace wavebrowser
{
constexpr Size kSize{445, 325};
constexpr int kListWidth = 150;
constexpr int kListRows = 15;
constexpr Point kCategoryList{9, 34};
constexpr Point kWaveList{169, 34};
constexpr Point kClose{357, 280};
constexpr Point kCloseBox{428, 5};
constexpr Point kImport{350, 150};
constexpr Point kSave{350, 180};
constexpr Point kAddCategory{18, 280};
constexpr Point kDeleteCategory{72, 280};
constexpr Point kRenameCategory{18, 300};
constexpr Point kDeleteWave{180, 280};
constexpr Point kRenameWave{235, 280};
constexpr Rect kPreview{330, 33, 100, 100};
constexpr Rect kStandardShapes{348, 240, 66, 17};
constexpr int kStandardShapeStep = 16;
constexpr int kStandardShapeIcon = 17;
} // namespace wavebrowser

namespace waveeditor
{
constexpr Size kSize{573, 503};
constexpr Rect kWaveGraph{28, 32, 513, 147};
constexpr int kWaveCentreY = 105;
constexpr Rect kPartialGraph{28, 213, 620, 245};
// Inside the partial graph.
constexpr Rect kAmplitudeBars{0, 0, 512, 105};
constexpr Rect kPhaseBars{0, 106, 512, 105};
constexpr Point kPanTrack{0, 216};
constexpr Point kZoomLabel{130, 226};
constexpr Point kZoomOut{180, 228};
constexpr Point kZoomIn{195, 228};
constexpr Rect kZoomText{165, 228, 12, 12};
constexpr Rect kPartialText{0, 224, 65, 10};
// In the editor.
constexpr Point kClose{50, 475};
constexpr Point kSave{110, 475};
constexpr Point kCloseBox{555, 3};
} // namespace waveeditor

} // namespace layout
