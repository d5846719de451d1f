#include "Manifest.h"

#include <cstring>

#include "Paint.h"

namespace artgen
{
namespace
{

using namespace layout;

struct Builder
{
    std::vector<ArtEntry> list;

    void Add(ArtEntry e) { list.push_back(e); }

    // A push button: raised and pressed pictures of one size.
    void Button(const char* up, const char* down, int w, int h, int maxW, int maxH, const char* label,
                ArtPainter paint = PaintButton, Rgb colour = {0, 0, 0})
    {
        Add({up, w, h, ArtKind::Button, maxW, maxH, ArtState::Raised, down, paint, label, colour});
        Add({down, w, h, ArtKind::Button, maxW, maxH, ArtState::Pressed, up, paint, label, colour});
    }

    // A switch: on and off pictures of one size.
    void Toggle(const char* on, const char* off, int w, int h, int maxW, int maxH, const char* label,
                ArtPainter paint, Rgb colour = {0, 0, 0})
    {
        Add({on, w, h, ArtKind::Toggle, maxW, maxH, ArtState::On, off, paint, label, colour});
        Add({off, w, h, ArtKind::Toggle, maxW, maxH, ArtState::Off, on, paint, label, colour});
    }

    void Backdrop(const char* name, Size s, ArtPainter paint)
    {
        Add({name, s.w, s.h, ArtKind::Background, s.w, s.h, ArtState::None, nullptr, paint, nullptr, {}});
    }

    void Sprite(const char* name, int w, int h, int maxW, int maxH, ArtPainter paint,
                const char* label = nullptr)
    {
        Add({name, w, h, ArtKind::Sprite, maxW, maxH, ArtState::None, nullptr, paint, label, {}});
    }
};

const char* const kLineNames[5] = {"Red", "Blue", "Green", "Cyan", "Yellow"};

std::vector<ArtEntry> BuildManifest()
{
    Builder b;

    // Editor root: backgrounds and header buttons.
    b.Backdrop("TorvaneBackground.png", root::kSize, PaintSynthBackground);
    b.Backdrop("PerformBackground.png", root::kSize, PaintPerformBackground);
    b.Backdrop("PresetBackground.png", root::kSize, PaintPresetBackground);
    const int headerRoom = root::kHeaderHeight;
    b.Button("AboutButUp.png", "AboutButDown.png", 34, 30, root::kFileButton.x - root::kAboutButton.x,
             headerRoom - root::kAboutButton.y, "#info");
    b.Button("Help But Up.png", "Help But Down.png", 26, 26, root::kAboutButton.x - root::kHelpButton.x,
             headerRoom - root::kHelpButton.y, "?");
    b.Button("FileButUp.png", "FileButDown.png", 38, 30, root::kSynthTab.x - root::kFileButton.x,
             headerRoom - root::kFileButton.y, "File");
    b.Button("PresetPreviousButUp.png", "PresetPreviousButDown.png", 24, 26,
             root::kPatchNameLabel.x - root::kPreviousPatchButton.x,
             headerRoom - root::kPreviousPatchButton.y, "#left");
    b.Button("PresetNextButUp.png", "PresetNextButDown.png", 24, 26, 40,
             headerRoom - root::kNextPatchButton.y, "#right");

    // Dialog close box: 15 wide fits the timeline preset dialog's right edge.
    b.Button("CloseSmallBut Up.png", "CloseSmallBut Down.png", 15, 15,
             timelinepreset::kLoadSize.w - timelinepreset::kCloseBox.x, 15, "#x", PaintSmallButton);

    // Knob, bowl dot, matrix LED.
    b.Sprite("Knob.png", 28, 28, synth::kKnobWindow.w - synth::kKnobImageInWindow.x,
             synth::kKnobWindow.h - synth::kKnobImageInWindow.y, PaintKnob);
    b.Sprite("KnobPointer.png", 6, 6, 8, 8, PaintKnobPointer);
    b.Sprite("BowlDot.png", 12, 12, 20, 20, PaintBowlDot);
    b.Sprite("ModulationOn.png", 10, 12, 10, 16, PaintModulationOn);

    // Wave and filter selectors.
    b.Sprite("WaveBackground.png", 45, 16, synth::kLfoSync[0].x - synth::kLfoShape[0].x,
             synth::kLfoShape[1].y - synth::kLfoShape[0].y, PaintSelectorFrame);
    b.Button("WaveLeft.png", "WaveLeftPressed.png", 11, 16, 12, 16, "#left", PaintSelectorArrow);
    b.Button("WaveRight.png", "WaveRightPressed.png", 11, 16, 12, 16, "#right", PaintSelectorArrow);
    for (const char* icon : {"WaveSine.png", "WaveSquare.png", "WaveRamp.png", "WaveRandom.png",
                             "FilterLP.png", "FilterBP.png", "FilterHP.png"})
    {
        b.Sprite(icon, 19, 16, 19, 16, PaintShapeIcon);
    }

    // Splash and name popup.
    b.Add({"TorvaneSplash.png",
           root::kSplashSize.w,
           root::kSplashSize.h,
           ArtKind::Background,
           root::kSize.w,
           root::kSize.h - root::kSplashY,
           ArtState::None,
           nullptr,
           PaintSplash,
           nullptr,
           {}});
    b.Button("Ok But Up.png", "Ok But Down.png", 60, 22, namepopup::kCancel.x - namepopup::kOk.x, 50, "Ok");
    b.Button("Cancel But Up.png", "Cancel But Down.png", 60, 22, namepopup::kSize.w - namepopup::kCancel.x,
             namepopup::kSize.h - namepopup::kCancel.y, "Cancel");

    // Multiple-selection panel.
    b.Backdrop("MultipleSelection Bar.png", selection::kSize, PaintSelectionBar);
    b.Button("CopyBut Up.png", "CopyBut Down.png", 60, 22, selection::kPaste.x - selection::kCopy.x,
             selection::kDelete.y - selection::kCopy.y, "Copy");
    b.Button("PasteBut Up.png", "PasteBut Down.png", 60, 22, selection::kRescale.x - selection::kPaste.x,
             selection::kDelete.y - selection::kPaste.y, "Paste");
    // The file named Down holds the raised picture of this button.
    b.Button("DeleteMulti Down.png", "DeleteMulti Up.png", 60, 22, 64,
             selection::kSize.h - selection::kDelete.y, "Delete");
    b.Button("UnselectBut Up.png", "UnselectBut Down.png", 70, 22,
             selection::kModeRadios[0].x - selection::kDeselect.x, 25, "Deselect");
    b.Toggle("RescaleBut Down.png", "RescaleBut Up.png", 80, 22,
             selection::kDeselect.x - selection::kRescale.x, 25, "Rescale", PaintLabelToggle);
    b.Toggle("GroupToggle Down.png", "GroupToggle Up.png", 20, 20, 26,
             selection::kModeRadios[1].y - selection::kModeRadios[0].y - 4, nullptr, PaintRadio);

    // Perform pads.
    b.Button("AssignXUp.png", "AssignXDown.png", 50, 18, perform::kXValue.x - perform::kAssignX.x - 3,
             perform::kXTarget.y - perform::kAssignX.y, "Assign X", PaintTag);
    b.Button("AssignYUp.png", "AssignYDown.png", 50, 18, perform::kYValue.x - perform::kAssignY.x,
             perform::kYTarget.y - perform::kAssignY.y, "Assign Y", PaintTag);
    b.Sprite("MIDILearnImg.png", perform::kLearnX.w, perform::kLearnX.h, perform::kLearnX.w,
             perform::kLearnX.h, PaintTag, "MIDI learn");

    // Synthesizer page.
    b.Toggle("OnBut.png", "OffBut.png", 30, 16, 40,
             synth::KnobWindow(synth::kCutoffKnob).y - synth::kFilterOn.y, nullptr, PaintSwitch);
    b.Toggle("SmallOn.png", "SmallOff.png", 12, 12, synth::kVoiceTabs[0].x - synth::kVoiceOn[0].x, 16,
             nullptr, PaintLed);
    b.Sprite("SliderDownPointer.png", 9, 8, 12, 8, PaintSliderPointer, "#down");
    b.Sprite("SliderLeftPointer.png", 8, 9, 10, 12, PaintSliderPointer, "#left");
    b.Sprite("Fader.png", 12, 7, synth::kSize.w - synth::kMasterFader.at.x, 12, PaintFader);
    static const char* const kVoiceTabNames[4][3] = {{"Voice1Down.png", "Voice1Up.png", "Voice 1"},
                                                     {"Voice2Down.png", "Voice2Up.png", "Voice 2"},
                                                     {"Voice3Down.png", "Voice3Up.png", "Voice 3"},
                                                     {"Voice4Down.png", "Voice4Up.png", "Voice 4"}};
    for (int v = 0; v < 4; ++v)
    {
        const int room = (v < 3 ? synth::kVoiceOn[v + 1].x : synth::kSize.w) - synth::kVoiceTabs[v].x;
        b.Toggle(kVoiceTabNames[v][0], kVoiceTabNames[v][1], 70, 20, room < 74 ? room : 74, 26,
                 kVoiceTabNames[v][2], PaintVoiceTab);
    }
    const int waveButtonRoom = synth::kWaveEdit[0].y - synth::kWaveLoad[0].y;
    b.Button("WaveLoadUp.png", "WaveLoadDown.png", 36, 14, synth::kBowl.x - synth::kWaveLoad[0].x,
             waveButtonRoom, "Load");
    b.Button("WaveEditUp.png", "WaveEditDown.png", 36, 14, synth::kBowl.x - synth::kWaveLoad[0].x,
             waveButtonRoom, "Edit");
    b.Toggle("TimeFreezeOn.png", "TimeFreezeOff.png", 58, 16,
             synth::kTimeFreezeLearn.x - synth::kTimeFreeze.x, 26, "Time Freeze", PaintLabelToggle);
    b.Button("MIDILearn Small Up.png", "MIDILearn Small Down.png", 20, 14, 30, 20, "M");
    b.Toggle("LoopButOn.png", "LoopButOff.png", 30, 14, 40, 20, "Loop", PaintLabelToggle);
    b.Toggle("PositiveOnlyOn.png", "PositiveOnlyOff.png", 16, 12,
             synth::kLfoPositive[0].x - synth::kLfoFree[0].x, 16, "+", PaintLed);
    b.Toggle("SyncBut On.png", "SyncBut Off.png", 30, 14, 40,
             synth::KnobWindow(synth::kDelayKnobs[2]).y - synth::kDelaySync.y + 1, "Sync", PaintLabelToggle);
    b.Toggle("StereoBut On.png", "StereoBut Off.png", 30, 14, 40, synth::kDelaySync.y - synth::kDelayStereo.y,
             "Stereo", PaintLabelToggle);
    b.Button("PrevButUp.png", "PrevButDown.png", 15, 13, synth::kNextBreakpointX - synth::kPrevBreakpointX,
             19, "#left");
    b.Button("NextButUp.png", "NextButDown.png", 15, 13, synth::kCopyAll.x - synth::kNextBreakpointX, 19,
             "#right");
    b.Button("CopyAllButUp.png", "CopyAllButDown.png", 32, 18, synth::kPasteLineX - synth::kCopyAll.x, 21,
             "Copy");
    b.Button("PasteAllButUp.png", "PasteAllButDown.png", 30, 18, 33, synth::kCopyAll.y - synth::kPasteAll.y,
             "Paste");
    static const char* const kPasteNames[5][2] = {{"PasteRedUp.png", "PasteRedDown.png"},
                                                  {"PasteBlueUp.png", "PasteBlueDown.png"},
                                                  {"PasteGreenUp.png", "PasteGreenDown.png"},
                                                  {"PasteCyanUp.png", "PasteCyanDown.png"},
                                                  {"PasteYellowUp.png", "PasteYellowDown.png"}};
    static const char* const kMenuNames[5][2] = {{"MenuRedUp.png", "MenuRedDown.png"},
                                                 {"MenuBlueUp.png", "MenuBlueDown.png"},
                                                 {"MenuGreenUp.png", "MenuGreenDown.png"},
                                                 {"MenuCyanUp.png", "MenuCyanDown.png"},
                                                 {"MenuYellowUp.png", "MenuYellowDown.png"}};
    (void)kLineNames;
    for (int l = 0; l < 5; ++l)
    {
        b.Button(kPasteNames[l][0], kPasteNames[l][1], 40, 15, synth::kLineMenuX - synth::kPasteLineX, 19,
                 "Paste", PaintTintedButton, kLineColours[l]);
    }
    for (int l = 0; l < 5; ++l)
    {
        b.Button(kMenuNames[l][0], kMenuNames[l][1], 18, 15, 20, 19, "#menu", PaintTintedButton,
                 kLineColours[l]);
    }
    b.Button("MenuGreyUp.png", "MenuGreyDown.png", 18, 15, 20, 19, "#menu", PaintTintedButton,
             {150, 154, 164});

    // Dialogs, lists and the preset page.
    b.Backdrop("TimelinePresetBackground.png", timelinepreset::kLoadSize, PaintTimelinePresetDialog);
    b.Add({"Toggle On.png",
           15,
           15,
           ArtKind::Toggle,
           timelinepreset::kCategoryList.x - timelinepreset::kToggle0.x - timelinepreset::kToggleLabelWidth,
           timelinepreset::kToggleStep,
           ArtState::On,
           "Toggle Off.png",
           PaintCheckbox,
           nullptr,
           {}});
    b.Add({"Toggle Off.png",
           15,
           15,
           ArtKind::Toggle,
           15,
           timelinepreset::kToggleStep,
           ArtState::Off,
           "Toggle On.png",
           PaintCheckbox,
           nullptr,
           {}});
    b.Add({"Toggle Unavailable.png",
           15,
           15,
           ArtKind::Toggle,
           15,
           timelinepreset::kToggleStep,
           ArtState::Unavailable,
           "Toggle On.png",
           PaintCheckbox,
           nullptr,
           {}});
    const int smallButtonW = preset::kDeleteCategory.x - preset::kAddCategory.x;
    const int smallButtonH = wavebrowser::kRenameCategory.y - wavebrowser::kAddCategory.y;
    b.Button("AddUpBut.png", "AddDownBut.png", 50, 18, smallButtonW, smallButtonH, "Add");
    b.Button("DeleteUpBut.png", "DeleteDownBut.png", 50, 18, smallButtonW, smallButtonH, "Delete");
    b.Button("RenameUpBut.png", "RenameDownBut.png", 50, 18, smallButtonW, smallButtonH, "Rename");
    b.Button("CloseUp.png", "CloseDown.png", 50, 20, timelinepreset::kLoadSize.w - timelinepreset::kClose.x,
             waveeditor::kSize.h - waveeditor::kClose.y, "Close");
    b.Button("LoadUpBut.png", "LoadDownBut.png", 50, 20, timelinepreset::kClose.x - timelinepreset::kLoad.x,
             28, "Load");
    b.Button("SaveUpBut.png", "SaveDownBut.png", 50, 20,
             timelinepreset::kSaveClose.x - timelinepreset::kSave.x,
             savedialog::kCancel.y - savedialog::kSave.y, "Save");
    b.Backdrop("SaveDialog.png", savedialog::kSize, PaintSaveDialog);
    b.Button("CancelUpBut.png", "CancelDownBut.png", 50, 20, savedialog::kSize.w - savedialog::kCancel.x,
             savedialog::kCategoryList.y - savedialog::kCancel.y, "Cancel");
    b.Add({"DeleteDisabledBut.png",
           50,
           18,
           ArtKind::Button,
           smallButtonW,
           smallButtonH,
           ArtState::Unavailable,
           "DeleteUpBut.png",
           PaintButton,
           "Delete",
           {}});
    b.Add({"RenameDisabledBut.png",
           50,
           18,
           ArtKind::Button,
           smallButtonW,
           smallButtonH,
           ArtState::Unavailable,
           "RenameUpBut.png",
           PaintButton,
           "Rename",
           {}});
    b.Backdrop("WaveformBrowser.png", wavebrowser::kSize, PaintWaveBrowser);
    b.Button("ImportUpBut.png", "ImportDownBut.png", 50, 20, wavebrowser::kSize.w - wavebrowser::kImport.x,
             wavebrowser::kSave.y - wavebrowser::kImport.y, "Import");
    b.Backdrop("WaveEditorBackground.png", waveeditor::kSize, PaintWaveEditor);
    b.Button("Minus.png", "MinusPressed.png", 12, 12, waveeditor::kZoomIn.x - waveeditor::kZoomOut.x, 17,
             "#minus", PaintSmallButton);
    b.Button("Plus.png", "PlusPressed.png", 12, 12, 15, 17, "#plus", PaintSmallButton);
    b.Sprite("ZoomLabel.png", 32, 12, waveeditor::kZoomText.x - waveeditor::kZoomLabel.x, 16, PaintZoomLabel,
             "Zoom");
    b.Sprite("PartialScrollBar.png", 512, 9, waveeditor::kAmplitudeBars.w, 9, PaintPanTrack);
    b.Button("ShowFolder But Up.png", "ShowFolder But Down.png", 90, 20,
             preset::kSize.w - preset::kShowFolder.x, preset::kSize.h - preset::kShowFolder.y, "Show Folder");
    return b.list;
}

std::vector<TextZone> BuildTextZones()
{
    std::vector<TextZone> z;
    const Rgb white{255, 255, 255};
    const Point page = root::kSynthPage;
    const char* synthBg = "TorvaneBackground.png";

    // The header's patch name, the number displays and the snap label.
    z.push_back({synthBg, root::kPatchNameLabel, white, 7.0, "patch name"});
    for (Rect r : {synth::kPitchNumber, synth::kBendNumber, synth::kPolyphonyNumber})
    {
        z.push_back({synthBg, r.Offset(page), white, 7.0, "number display"});
    }
    z.push_back({synthBg, synth::kSnapLabel.Offset(page), white, 7.0, "snap label"});
    z.push_back({synthBg, synth::kSnapLabel.Offset(page), {180, 180, 180}, 4.5, "snap label (grey)"});
    z.push_back({synthBg, synth::kModDisplay.Offset(page), {180, 180, 180}, 4.5, "modulation words"});
    z.push_back({synthBg, synth::kModDisplay.Offset(page), {200, 0, 0}, 2.5, "modulation amount bars"});
    for (Point w : synth::kMiniWaves)
    {
        z.push_back({synthBg, At(w, synth::kMiniWave).Offset(page), {205, 210, 220}, 4.5, "mini wave line"});
    }
    for (int l = 0; l < 5; ++l)
    {
        z.push_back(
            {synthBg, synth::kTimelineBackdrop.Offset(page), kLineColours[l], 3.0, "timeline breakpoints"});
    }
    z.push_back({synthBg, synth::kTimelineBackdrop.Offset(page), white, 7.0, "timeline grid and labels"});
    // Knob value arcs: the wipe colours ring the knob face over the page.
    const Point redKnobs[] = {synth::kPitchKnob, synth::kFineKnob, synth::kDetuneKnob, synth::kSpreadKnob};
    for (Point k : redKnobs)
    {
        z.push_back({synthBg, synth::KnobWindow(k).Offset(page), kWipeRed, 3.0, "red knob arc"});
    }
    for (Point k : {synth::kCutoffKnob, synth::kResonanceKnob})
    {
        z.push_back({synthBg, synth::KnobWindow(k).Offset(page), kWipeGreen, 3.0, "green knob arc"});
    }

    // Perform blocks: each name, white while its axis is assigned and grey while not, on the
    // block's dark face; the values, (230, 230, 255) through the pen's alpha twice, in their wells.
    // The areas are the text's rows (baseline 8 below the point, 7 up, 2 down).
    const double valueAlpha = (200.0 / 255.0) * (200.0 / 255.0);
    for (Point b : perform::kBlocks)
    {
        const Point o = b + root::kPerformPage;
        const int right = perform::kBlock.w - 2;
        for (Point v : {perform::kXValue, perform::kYValue})
        {
            const Rect ink{v.x + 1, v.y + 1, perform::ValueWell(v).w - 2, 10};
            z.push_back(
                {"PerformBackground.png", ink.Offset(o), {230, 230, 255}, 3.0, "perform values", valueAlpha});
        }
        const Rect names[] = {
            {perform::kXTarget.x + 1, perform::kXTarget.y + 1, right - perform::kXTarget.x, 10},
            {perform::kXVoice.x + 1, perform::kXVoice.y + 1, perform::kLearnX.x - perform::kXVoice.x - 1, 10},
            {perform::kYTarget.x + 1, perform::kYTarget.y + 1, right - perform::kYTarget.x, 10},
            {perform::kYVoice.x + 1, perform::kYVoice.y + 1, right - perform::kYVoice.x, 10},
        };
        for (Rect r : names)
        {
            z.push_back({"PerformBackground.png", r.Offset(o), white, 3.0, "perform names (assigned)"});
            z.push_back({"PerformBackground.png", r.Offset(o), perform::kUnassignedInk, 3.0,
                         "perform names (not assigned)"});
        }
    }

    // Patch lists: white names.
    for (Point p : {preset::kCategoryList, preset::kPatchList})
    {
        const Rect box = ListBox(p, preset::kListWidth - kListScrollWidth, preset::kListRows);
        z.push_back({"PresetBackground.png", box.Offset(root::kPresetPage), white, 7.0, "patch list"});
    }
    for (Point p : {timelinepreset::kCategoryList, timelinepreset::kPresetList})
    {
        const Rect box = ListBox(p, timelinepreset::kListWidth - kListScrollWidth, timelinepreset::kListRows);
        z.push_back({"TimelinePresetBackground.png", box, white, 7.0, "preset list"});
    }
    z.push_back({"TimelinePresetBackground.png", {5, 3, 200, 18}, white, 7.0, "dialog title"});
    z.push_back({"TimelinePresetBackground.png", {5, 38, 140, 16}, white, 7.0, "items caption"});
    z.push_back({"TimelinePresetBackground.png", {150, 32, 130, 16}, white, 7.0, "category caption"});
    z.push_back({"TimelinePresetBackground.png", {340, 32, 130, 16}, white, 7.0, "preset caption"});
    z.push_back({"TimelinePresetBackground.png",
                 {timelinepreset::kToggle0.x + 15, timelinepreset::kToggle0.y,
                  timelinepreset::kToggleLabelWidth, 6 * timelinepreset::kToggleStep},
                 white,
                 7.0,
                 "line toggle labels"});
    z.push_back({"SaveDialog.png", {2, 2, 150, 16}, {0, 0, 0}, 7.0, "save dialog title"});
    z.push_back(
        {"SaveDialog.png",
         ListBox(savedialog::kCategoryList, savedialog::kListWidth - kListScrollWidth, savedialog::kListRows),
         white, 7.0, "category list"});
    for (Point p : {wavebrowser::kCategoryList, wavebrowser::kWaveList})
    {
        z.push_back({"WaveformBrowser.png",
                     ListBox(p, wavebrowser::kListWidth - kListScrollWidth, wavebrowser::kListRows), white,
                     7.0, "browser list"});
    }
    z.push_back({"WaveformBrowser.png", wavebrowser::kPreview.Inset(1), {30, 30, 100}, 7.0, "preview wave"});
    z.push_back({"WaveEditorBackground.png", waveeditor::kWaveGraph, {150, 150, 205}, 4.5, "wave line"});
    const Point graph = waveeditor::kPartialGraph.TopLeft();
    z.push_back({"WaveEditorBackground.png",
                 waveeditor::kAmplitudeBars.Offset(graph),
                 {255, 0, 0},
                 3.0,
                 "partial bars"});
    z.push_back({"WaveEditorBackground.png",
                 waveeditor::kPhaseBars.Offset(graph),
                 {150, 150, 160},
                 4.5,
                 "phase bars"});
    z.push_back({"WaveEditorBackground.png", waveeditor::kZoomText.Offset(graph), white, 7.0, "zoom text"});
    z.push_back(
        {"WaveEditorBackground.png", waveeditor::kPartialText.Offset(graph), white, 7.0, "partial text"});

    // The splash's version text.
    const Point version{root::kVersionText.x - root::kSplashImage.x,
                        root::kVersionText.y - root::kSplashImage.y};
    z.push_back({"TorvaneSplash.png", {version.x - 2, version.y - 13, 44, 28}, white, 7.0, "version"});
    return z;
}

} // namespace

std::span<const ArtEntry> Manifest()
{
    static const std::vector<ArtEntry> entries = BuildManifest();
    return entries;
}

const ArtEntry* FindEntry(const char* name)
{
    for (const ArtEntry& e : Manifest())
    {
        if (std::strcmp(e.name, name) == 0) return &e;
    }
    return nullptr;
}

std::span<const TextZone> TextZones()
{
    static const std::vector<TextZone> zones = BuildTextZones();
    return zones;
}

} // namespace artgen
