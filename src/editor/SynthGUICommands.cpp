// The synthesizer page's buttons and menus: waves browsed and edited, the timeline's clipboard
// and breakpoint stepping, line, voice, amplitude and matrix commands, MIDI learn. Every change
// of a layer's lines or matrix goes through the instrument's own operations, which take the
// plug-in mutex for the copy.

#include <vector>

#include "editor/GUI.h"
#include "editor/SynthGUI.h"
#include "editor/TWaveBrowser.h"
#include "editor/TimelinePresetDlg.h"
#include "editor/WaveEditor.h"
#include "engine/VoiceDef.h"
#include "platform/CascadeList.h"
#include "platform/MessagePopup.h"

namespace
{
constexpr int kNumMatrixRows = 5;
constexpr int kAllOthersChoice = 4;
// Menu entries.
constexpr long kClearId = 5;
constexpr long kResetVoiceId = 5;
constexpr long kLoadPresetId = 6;
constexpr long kSavePresetId = 7;
constexpr long kSelectId = 8;
constexpr long kSelectAllId = 9;
constexpr long kSelectBeforeId = 10;
constexpr long kSelectAfterId = 11;
// Sub-lists of the amplitude menu.
constexpr long kCopyAmplitude = 0;
constexpr long kCopyRelease = 1;
constexpr long kCopyBoth = 2;

struct Place
{
    long x;
    long y;
};
constexpr Place kBrowserAt[4] = {{50, 50}, {80, 20}, {100, 50}, {80, 80}};
constexpr Place kEditorAt[4] = {{10, 50}, {50, 10}, {80, 50}, {50, 70}};

// "Voice 1" .. "Voice 4" (0-3) without the current one, then "All other voices" (4).
void AddVoiceItems(CascadeList* list, int current)
{
    static char const* const names[4] = {"Voice 1", "Voice 2", "Voice 3", "Voice 4"};
    for (int v = 0; v < 4; ++v)
        if (v != current) list->AddItem(names[v], v, nullptr, false);
    list->AddItem("All other voices", kAllOthersChoice, nullptr, false);
}

void AddSelectItems(CascadeList& menu)
{
    CascadeList* select = menu.AddSubList("Select..", kSelectId, nullptr, false)->subList;
    select->AddItem("All", kSelectAllId, nullptr, false);
    select->AddItem("Before current time", kSelectBeforeId, nullptr, false);
    select->AddItem("After current time", kSelectAfterId, nullptr, false);
}

// The id of the sub-list a chosen entry sits in, -1 at the top level.
long ParentId(CascadeList::Item const* item)
{
    CascadeList::Item const* parent = item->parent != nullptr ? item->parent->GetParentItem() : nullptr;
    return parent != nullptr ? parent->id : -1;
}
} // namespace

void SynthGUI::ButtonPressed(int id)
{
    Torvane* const t = Instrument();
    if (t == nullptr || id < 0 || id > kFreezeLearnId) return;
    if (id < kZoomOutId)
    {
        if (id % 2 == 0)
            BrowseWave(id / 2);
        else
            EditWave(id / 2);
        return;
    }
    if (id >= kFirstPasteLineId && id < kFirstPrevBreakpointId)
    {
        PasteAtEditTime(id - kFirstPasteLineId + 1);
        return;
    }
    if (id >= kFirstPrevBreakpointId && id < kFirstNextBreakpointId)
    {
        StepBreakpoint(id - kFirstPrevBreakpointId + 1, false);
        return;
    }
    if (id >= kFirstNextBreakpointId && id < kFirstLineMenuId)
    {
        StepBreakpoint(id - kFirstNextBreakpointId + 1, true);
        return;
    }
    if (id >= kFirstLineMenuId && id < kVoiceMenuId)
    {
        LineMenu(id - kFirstLineMenuId + 1);
        return;
    }
    switch (id)
    {
    case kZoomOutId:
        ZoomTimeline(false);
        break;
    case kZoomInId:
        ZoomTimeline(true);
        break;
    case kCopyAllId:
        t->CopyAll(-1);
        break;
    case kPasteAllId:
        PasteAtEditTime(-1);
        break;
    case kVoiceMenuId:
        VoiceMenu();
        break;
    case kAmplitudeMenuId:
        AmplitudeMenu();
        break;
    case kMatrixMenuId:
        MatrixMenu();
        break;
    case kFreezeLearnId:
        FreezeLearn();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Waves

void SynthGUI::BrowseWave(int slot)
{
    long x = kBrowserAt[slot].x;
    long y = kBrowserAt[slot].y;
    ConvertLocalToScreen(x, y);
    {
        TWaveBrowser browser;
        browser.Create(this, slot, x, y, Instrument());
    }
    UpdateWaveDisplays();
}

void SynthGUI::EditWave(int slot)
{
    Torvane* const t = Instrument();
    VoiceDef* const def = t->GetVoiceDef(-1);
    if (def == nullptr) return;
    long x = kEditorAt[slot].x;
    long y = kEditorAt[slot].y;
    ConvertLocalToScreen(x, y);
    {
        WaveEditor editor;
        editor.Create(this, t, x, y, &def->waveDef, slot);
    }
    UpdateWaveDisplays();
}

// ---------------------------------------------------------------------------------------------
// Clipboard and breakpoints

void SynthGUI::PasteAtEditTime(int line)
{
    Torvane* const t = Instrument();
    if (t->tempoBridge.GetBool()) t->SetEditTime(SnapTime(t->GetEditTime()));
    if (line < 0)
        t->PasteAll(-1);
    else
        t->Paste(-1, line);
    UpdateAll();
}

void SynthGUI::StepBreakpoint(int line, bool next)
{
    Torvane* const t = Instrument();
    if (next)
        t->NextBreakpoint(line);
    else
        t->PrevBreakpoint(line);
    PanTimelineTo(t->GetEditTime());
}

// The timeline display's part (nothing, or the time as it stands, when it was not built).
void SynthGUI::ZoomTimeline(bool in)
{
    if (eventsDisplay.GetView() == nullptr) return;
    if (in)
        eventsDisplay.ZoomIn();
    else
        eventsDisplay.ZoomOut();
}

float SynthGUI::SnapTime(float time)
{
    return eventsDisplay.GetView() != nullptr ? eventsDisplay.Snap(time) : time;
}

void SynthGUI::PanTimelineTo(float time)
{
    if (eventsDisplay.GetView() != nullptr) eventsDisplay.PanToShowTime(time, true);
}

// ---------------------------------------------------------------------------------------------
// Menus

std::vector<int> SynthGUI::Targets(int choice) const
{
    std::vector<int> out;
    Torvane* const t = Instrument();
    int const current = t->GetCurrentVoice();
    for (int v = 0; v < Torvane::kNumLayers; ++v)
        if (v != current && (choice == kAllOthersChoice || choice == v)) out.push_back(v);
    return out;
}

void SynthGUI::LineMenu(int line)
{
    Torvane* const t = Instrument();
    CascadeList menu;
    AddVoiceItems(menu.AddSubList("Copy Line To..", 0, nullptr, false)->subList, t->GetCurrentVoice());
    menu.AddSeparator();
    menu.AddItem("Clear this line", kClearId, nullptr, false);
    menu.AddSeparator();
    AddSelectItems(menu);
    CascadeList::Item* chosen = menu.DoPopup(this, 635, 315 + 20 * line);
    if (chosen == nullptr) return;
    long const parent = ParentId(chosen);
    if (parent == 0)
    {
        t->CopyLine(-1, line,
                    chosen->id == kAllOthersChoice ? Torvane::kAllOtherLayers : static_cast<int>(chosen->id));
        return;
    }
    switch (chosen->id)
    {
    case kClearId:
        t->ClearLine(-1, line);
        // The voice line holds the unison voices: back to the fewest.
        if (line == VoiceDef::kVoiceLine) t->unisonBridge.Set(0.0f, nullptr);
        t->UpdateGUI();
        UpdateEventLines();
        break;
    case kSelectAllId:
        SelectAll(line);
        break;
    case kSelectBeforeId:
        SelectBeforeCurrentTime(line);
        break;
    case kSelectAfterId:
        SelectAfterCurrentTime(line);
        break;
    default:
        break;
    }
}

void SynthGUI::VoiceMenu()
{
    Torvane* const t = Instrument();
    CascadeList menu;
    AddVoiceItems(menu.AddSubList("Copy Voice To..", 0, nullptr, false)->subList, t->GetCurrentVoice());
    menu.AddSeparator();
    menu.AddItem("Reset this voice", kResetVoiceId, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("Load Timeline preset", kLoadPresetId, nullptr, false);
    menu.AddItem("Save Timeline preset", kSavePresetId, nullptr, false);
    menu.AddSeparator();
    AddSelectItems(menu);
    CascadeList::Item* chosen = menu.DoPopup(this, 635, 295);
    if (chosen == nullptr) return;
    if (ParentId(chosen) == 0)
    {
        t->CopyLayer(-1, chosen->id == kAllOthersChoice ? Torvane::kAllOtherLayers
                                                        : static_cast<int>(chosen->id));
        return;
    }
    switch (chosen->id)
    {
    case kResetVoiceId:
        if (MessageYesNoPopup("Reset whole voice to defaults? All settings on this voice will be lost",
                              "Reset voice"))
            t->ResetVoice(-1);
        break;
    case kLoadPresetId:
    case kSavePresetId:
    {
        TimelinePresetDlg dialog(this, *t, chosen->id == kLoadPresetId);
        dialog.RunModal();
        break;
    }
    case kSelectAllId:
        SelectAll(-1);
        break;
    case kSelectBeforeId:
        SelectBeforeCurrentTime(-1);
        break;
    case kSelectAfterId:
        SelectAfterCurrentTime(-1);
        break;
    default:
        break;
    }
}

void SynthGUI::CopyRelease(int choice)
{
    Torvane* const t = Instrument();
    VoiceDef* const from = t->GetVoiceDef(-1);
    for (int v : Targets(choice))
    {
        VoiceDef* const to = t->GetVoiceDef(v);
        to->parameters[VoiceDef::kReleaseTime] = from->parameters[VoiceDef::kReleaseTime];
        to->parameters[VoiceDef::kLoopAfterRelease] = from->parameters[VoiceDef::kLoopAfterRelease];
    }
}

void SynthGUI::AmplitudeMenu()
{
    Torvane* const t = Instrument();
    int const current = t->GetCurrentVoice();
    CascadeList menu;
    AddVoiceItems(
        menu.AddSubList("Copy Amplitude Graph settings to..", kCopyAmplitude, nullptr, false)->subList,
        current);
    menu.AddItem("Reset Amplitude Graph", kClearId, nullptr, false);
    menu.AddSeparator();
    AddVoiceItems(menu.AddSubList("Copy Release settings to..", kCopyRelease, nullptr, false)->subList,
                  current);
    menu.AddSeparator();
    AddVoiceItems(
        menu.AddSubList("Copy Amplitude and Release settings to..", kCopyBoth, nullptr, false)->subList,
        current);
    menu.AddSeparator();
    AddSelectItems(menu);
    CascadeList::Item* chosen = menu.DoPopup(this, 590, 270);
    if (chosen == nullptr) return;
    long const parent = ParentId(chosen);
    int const choice = static_cast<int>(chosen->id);
    int const to = choice == kAllOthersChoice ? Torvane::kAllOtherLayers : choice;
    if (parent == kCopyAmplitude || parent == kCopyBoth) t->CopyLine(-1, VoiceDef::kAmplitudeLine, to);
    if (parent == kCopyRelease || parent == kCopyBoth) CopyRelease(choice);
    if (parent >= kCopyAmplitude && parent <= kCopyBoth) return;
    switch (chosen->id)
    {
    case kClearId:
        if (MessageYesNoPopup("Reset amplitude graph?", "Confirm"))
        {
            t->ClearLine(-1, VoiceDef::kAmplitudeLine);
            UpdateEventLines();
        }
        break;
    case kSelectAllId:
        SelectAll(VoiceDef::kAmplitudeLine);
        break;
    case kSelectBeforeId:
        SelectBeforeCurrentTime(VoiceDef::kAmplitudeLine);
        break;
    case kSelectAfterId:
        SelectAfterCurrentTime(VoiceDef::kAmplitudeLine);
        break;
    default:
        break;
    }
}

void SynthGUI::CopyMatrix(int choice)
{
    Torvane* const t = Instrument();
    for (int v : Targets(choice))
    {
        for (int row = 0; row < kNumMatrixRows; ++row)
        {
            t->SetModulationEnabled(row, t->GetModulationEnabled(row, -1), v);
            t->SetModulationSource(row, t->GetModulationSource(row, -1), v);
            t->SetModulationTarget(row, t->GetModulationTarget(row, -1), v);
        }
    }
}

void SynthGUI::MatrixMenu()
{
    Torvane* const t = Instrument();
    CascadeList menu;
    AddVoiceItems(menu.AddSubList("Copy matrix routings to..", 0, nullptr, false)->subList,
                  t->GetCurrentVoice());
    menu.AddSeparator();
    menu.AddItem("Clear routings", kClearId, nullptr, false);
    CascadeList::Item* chosen = menu.DoPopup(this, 600, 130);
    if (chosen == nullptr) return;
    if (ParentId(chosen) == 0)
    {
        CopyMatrix(static_cast<int>(chosen->id));
        return;
    }
    if (chosen->id != kClearId) return;
    for (int row = 0; row < kNumMatrixRows; ++row)
    {
        t->SetModulationEnabled(row, false, -1);
        t->SetModulationSource(row, -1, -1);
        t->SetModulationTarget(row, -1, -1);
    }
    UpdateModDisplay();
}

void SynthGUI::FreezeLearn()
{
    Torvane* const t = Instrument();
    if (!t->timeFreeze.GetBool())
    {
        MessagePopup("Enable Time Freeze before using MIDI learn", "");
        return;
    }
    t->freezePosition.MidiLearnShowPopup(this, 88, 460);
}
