#include "editor/GUI.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

#include "editor/EditorImages.h"
#include "editor/EditorPlugin.h"
#include "editor/Layout.h"
#include "editor/PerformGUI.h"
#include "editor/PresetGUI.h"
#include "editor/SynthGUI.h"
#include "editor/TSaveDialog.h"
#include "editor/TSplash.h"
#include "engine/Torvane.h"
#include "framework/MidiLearn.h"
#include "framework/Paths.h"
#include "framework/SaveReport.h"
#include "platform/CascadeList.h"
#include "platform/MessagePopup.h"
#include "platform/gfx/RunLoop.h"
#include "toolkit/Frame.h"
#include "toolkit/GraphicsContext.h"

extern char** environ;

namespace
{
constexpr char const* kUntitled = "<untitled>";
constexpr char const* kManual = "%s/Corvella Audio/Torvane/Torvane 1.0 User Manual.pdf";

GRectangle Rect(layout::Rect r)
{
    return GRectangle(r.x, r.y, r.w, r.h);
}

void Load(Image& image, char const* name)
{
    image.LoadFromFile(MakeImagePath(name));
}

// A name the patch can be saved under as it stands.
bool IsRealName(char const* text)
{
    return text != nullptr && *text != '\0' && String(text) != kUntitled;
}

// Hands the file to the desktop's opener without waiting for the viewer it starts: a shell
// starts the opener in the background and returns at once. False when there is no opener.
bool StartOpener(char const* path)
{
    char shell[] = "/bin/sh";
    char dashC[] = "-c";
    char script[] = "command -v xdg-open >/dev/null 2>&1 || exit 127\n"
                    "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &";
    char name[] = "sh";
    std::string argument = path;
    char* argv[] = {shell, dashC, script, name, argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, shell, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
} // namespace

GUI::GUI(void* effect) : EffectGUIBase(effect, EditedPluginOf(effect))
{
    autoSave.owner = this;
}

GUI::~GUI()
{
    // No request of the instrument reaches a root being torn down.
    Detach();
    alive.reset();
    autoSave.StopTimer(0);
    SavePendingMappings();
    splash.reset();
    page.reset();
}

void GUI::GetDimensions(long& w, long& h)
{
    w = layout::root::kSize.w;
    h = layout::root::kSize.h;
}

void GUI::CreateContent()
{
    name = "GUI";
    RegisterEditorImages();
    autoSave.StartTimer(0, kAutoSavePeriodMs);
    try
    {
        Load(synthBackground, "TorvaneBackground.png");
        Load(performBackground, "PerformBackground.png");
        Load(presetBackground, "PresetBackground.png");
        Load(aboutUp, "AboutButUp.png");
        Load(aboutDown, "AboutButDown.png");
        aboutButton.Create(this, kAboutId, this, layout::root::kAboutButton.x, layout::root::kAboutButton.y,
                           &aboutUp, &aboutDown);
        Load(helpUp, "Help But Up.png");
        Load(helpDown, "Help But Down.png");
        helpButton.Create(this, kHelpId, this, layout::root::kHelpButton.x, layout::root::kHelpButton.y,
                          &helpUp, &helpDown);

        synthTab.Create(this, kSynthTabId, this, Rect(layout::root::kSynthTab));
        performTab.Create(this, kPerformTabId, this, Rect(layout::root::kPerformTab));
        presetTab.Create(this, kPresetTabId, this, Rect(layout::root::kPresetTab));

        Load(previousUp, "PresetPreviousButUp.png");
        Load(previousDown, "PresetPreviousButDown.png");
        Load(nextUp, "PresetNextButUp.png");
        Load(nextDown, "PresetNextButDown.png");
        previousButton.Create(this, kPreviousPatchId, this, layout::root::kPreviousPatchButton.x,
                              layout::root::kPreviousPatchButton.y, &previousUp, &previousDown);
        nextButton.Create(this, kNextPatchId, this, layout::root::kNextPatchButton.x,
                          layout::root::kNextPatchButton.y, &nextUp, &nextDown);

        patchNameLabel.SetFont(10, true, false);
        patchNameLabel.SetTextColour(Colour(255, 255, 255, 255), false);
        Torvane* const t = GetTorvane();
        String const patchName = t ? t->GetPatchName() : String("");
        layout::Rect const l = layout::root::kPatchNameLabel;
        patchNameLabel.Create(this, patchName, l.w, l.h, l.x, l.y);

        fileButton.Create(this, kFileMenuId, this, layout::root::kFileButton.x, layout::root::kFileButton.y,
                          "FileButUp.png", "FileButDown.png");
        SetEditMode(kSynthMode);
    }
    catch (String const& error)
    {
        MessagePopup(error, "");
    }
}

void GUI::Repaint(GraphicsContext& gc)
{
    switch (editMode)
    {
    case kSynthMode:
        synthBackground.Draw(&gc, 0, 0);
        break;
    case kPerformMode:
        performBackground.Draw(&gc, 0, 0);
        break;
    case kPresetMode:
        presetBackground.Draw(&gc, 0, 0);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Pages

void GUI::SetEditMode(int mode)
{
    if (mode == wantedMode) return;
    wantedMode = mode;
    if (switchPending) return;
    switchPending = true;
    // A page may be asking from one of its own handlers, or a handler may be waiting in a nested
    // loop: the old page goes once no handler runs (at once when none does).
    std::weak_ptr<int> const life = alive;
    gfx::RunLoop::DeferRelease(
        [this, life]
        {
            if (!life.expired()) ApplyEditMode();
        });
}

void GUI::ApplyEditMode()
{
    switchPending = false;
    if (wantedMode == editMode) return;
    editMode = wantedMode;
    page.reset();
    if (editMode < kSynthMode || editMode > kPresetMode) return;
    ForceRepaint();
    page = MakePage(editMode);
}

std::unique_ptr<TSubEditor> GUI::MakePage(int mode)
{
    if (mode == kSynthMode) return std::make_unique<SynthGUI>(this);
    Torvane* const t = GetTorvane();
    if (t == nullptr) return nullptr;
    if (mode == kPerformMode)
    {
        auto perform = std::make_unique<PerformGUI>();
        perform->Create(this, t);
        return perform;
    }
    if (mode == kPresetMode)
    {
        String const category = t->GetPatchCategory();
        String const patchName = t->GetPatchName();
        auto preset = std::make_unique<PresetGUI>();
        preset->Create(this, t, category, patchName);
        return preset;
    }
    return nullptr;
}

SynthGUI* GUI::GetSynthPage() const
{
    return editMode == kSynthMode ? dynamic_cast<SynthGUI*>(page.get()) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Header commands

void GUI::ButtonPressed(int id)
{
    switch (id)
    {
    case kHelpId:
        ShowHelp();
        break;
    case kAboutId:
        ShowSplash();
        break;
    case kSynthTabId:
        SetEditMode(kSynthMode);
        break;
    case kPerformTabId:
        SetEditMode(kPerformMode);
        break;
    case kPresetTabId:
        SetEditMode(kPresetMode);
        break;
    case kPreviousPatchId:
        StepPatch(false);
        break;
    case kNextPatchId:
        StepPatch(true);
        break;
    case kFileMenuId:
        OpenFileMenu();
        break;
    default:
        break;
    }
}

void GUI::ShowHelp()
{
    String path;
    path.Format(kManual, static_cast<char const*>(PathManager::GetApplicationDataPath()));
    // A missing manual is found before anything runs, and the viewer is never waited for.
    if (!PathManager::Exists(path) || !StartOpener(path))
    {
        String text;
        text.Format("Could not find the help file in the expected place:\n\n%s",
                    static_cast<char const*>(path));
        MessagePopup(text, "");
    }
}

void GUI::ShowSplash()
{
    if (splash) return;
    std::weak_ptr<int> const life = alive;
    splash = std::make_unique<TSplash>(this);
    if (life.expired()) return;
    if (!splash->IsShown())
    {
        splash.reset();
        return;
    }
    TSplash* const shown = splash.get();
    shown->onFadedOut = [this, life, shown]
    {
        // Called inside the splash's click handler: it goes once that has returned.
        gfx::RunLoop::DeferRelease(
            [this, life, shown]
            {
                if (!life.expired() && splash.get() == shown) splash.reset();
            });
    };
}

void GUI::StepPatch(bool forward)
{
    Torvane* const t = GetTorvane();
    if (t == nullptr) return;
    {
        WaitCursor busy;
        if (forward)
            t->NextPatch();
        else
            t->PreviousPatch();
    }
    UpdatePatchName();
}

// ---------------------------------------------------------------------------------------------
// File menu

void GUI::OpenFileMenu()
{
    CascadeList menu;
    menu.AddItem("Save", kSaveItem, nullptr, false);
    menu.AddItem("Save As..", kSaveAsItem, nullptr, false);
    menu.AddSeparator();
    menu.AddItem("Reset Patch", kResetItem, nullptr, false);
    std::weak_ptr<int> const life = alive;
    CascadeList::Item* const chosen =
        menu.DoPopup(this, layout::root::kFileMenu.x, layout::root::kFileMenu.y);
    if (chosen == nullptr || life.expired()) return;
    switch (chosen->id)
    {
    case kSaveItem:
        SaveCurrentPatch();
        break;
    case kSaveAsItem:
        SavePatchAs();
        break;
    case kResetItem:
        ResetPatch();
        break;
    default:
        break;
    }
}

void GUI::SaveCurrentPatch()
{
    Torvane* const t = GetTorvane();
    if (t == nullptr) return;
    String const category = t->GetPatchCategory();
    String const patchName = t->GetPatchName();
    if (IsRealName(category) && IsRealName(patchName))
    {
        SavePatch(category, patchName);
        return;
    }
    String chosenCategory;
    String chosenName;
    if (RunSaveDialog(false, chosenCategory, chosenName)) SavePatch(chosenCategory, chosenName);
}

void GUI::SavePatchAs()
{
    String chosenCategory;
    String chosenName;
    if (RunSaveDialog(true, chosenCategory, chosenName)) SavePatch(chosenCategory, chosenName);
}

bool GUI::RunSaveDialog(bool preselect, String& category, String& patchName)
{
    Torvane* const t = GetTorvane();
    if (t == nullptr) return false;
    long px = layout::root::kSaveDialog.x;
    long py = layout::root::kSaveDialog.y;
    ConvertLocalToScreen(px, py);
    String const currentCategory = t->GetPatchCategory();
    String const currentName = t->GetPatchName();
    TSaveDialog dialog;
    return dialog.Create(this, px, py, t->GetPatchPresetManager(), category, patchName, "Save Patch As..",
                         preselect ? static_cast<char const*>(currentCategory) : nullptr,
                         preselect ? static_cast<char const*>(currentName) : "");
}

void GUI::SavePatch(char const* category, char const* patchName)
{
    Torvane* const t = GetTorvane();
    if (t == nullptr) return;
    SaveOutcome outcome;
    t->SavePatch(category, patchName, &outcome);
    if (!ReportSave(outcome, "Error: Could not save patch", "The patch was saved", "Torvane error")) return;
    UpdatePatchName();
    if (editMode != kPresetMode || !page) return;
    // The page lists the saved patch under the name the save gave it.
    if (auto* preset = dynamic_cast<PresetGUI*>(page.get()))
    {
        String const saved = t->GetPatchName();
        preset->RescanPatchFolder();
        preset->SetSelection(category, saved);
    }
    else
    {
        page->UpdateAll();
    }
}

void GUI::ResetPatch()
{
    Torvane* const t = GetTorvane();
    if (t == nullptr) return;
    if (!MessageYesNoPopup("Sure you want clear this patch?", "Reset Patch")) return;
    t->DefaultPatch();
    UpdatePatchName();
}

// ---------------------------------------------------------------------------------------------
// The instrument's calls

Torvane* GUI::GetTorvane() const
{
    return dynamic_cast<Torvane*>(EditedInstrument(*this));
}

void GUI::UpdateAll()
{
    if (page) page->UpdateAll();
}

void GUI::PatchLoaded()
{
    if (!page) return;
    switch (editMode)
    {
    case kPerformMode:
        page->ForceRepaint();
        break;
    case kPresetMode:
        page->UpdateAll();
        break;
    default:
        if (SynthGUI* synth = GetSynthPage())
        {
            synth->UpdateWaveDisplays();
            synth->UpdateModDisplay();
            synth->PatchLoaded();
            synth->UpdateEventLines();
        }
        else
        {
            page->UpdateAll();
        }
        break;
    }
}

void GUI::UpdatePatchName()
{
    Torvane* const t = GetTorvane();
    if (t == nullptr || patchNameLabel.GetView() == nullptr) return;
    patchNameLabel.SetLabel(t->GetPatchName(), true);
}

// The synthesizer page's own updates: nothing while another page (or none) is shown.
void GUI::UpdateEventLines()
{
    if (SynthGUI* synth = GetSynthPage()) synth->UpdateEventLines();
}
void GUI::UpdateSnapLabel()
{
    if (SynthGUI* synth = GetSynthPage()) synth->UpdateSnapLabel();
}
void GUI::UpdatedEditTime()
{
    if (SynthGUI* synth = GetSynthPage()) synth->UpdatedEditTime();
}
void GUI::DeselectBreakpoints()
{
    if (SynthGUI* synth = GetSynthPage()) synth->DeselectBreakpoints();
}
void GUI::UpdateWaveDisplays()
{
    if (SynthGUI* synth = GetSynthPage()) synth->UpdateWaveDisplays();
}
void GUI::UpdateVoiceToggles()
{
    if (SynthGUI* synth = GetSynthPage()) synth->UpdateVoiceToggles();
}

// ---------------------------------------------------------------------------------------------
// MIDI learn

void GUI::SavePendingMappings()
{
    Torvane* const t = GetTorvane();
    if (t == nullptr) return;
    MidiLearnManager* const learn = t->GetMidiLearnManager();
    learn->DoPendingAutoSave();
    std::string const report = learn->TakeSaveReport();
    if (!report.empty()) MessagePopup(report.c_str(), "Torvane error");
}

void GUI::AutoSaveTimer::TimerEvent(int)
{
    owner->SavePendingMappings();
}
