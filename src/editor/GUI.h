#pragma once

#include <memory>

#include "editor/TButton.h"
#include "editor/TSubEditor.h"
#include "engine/InstrumentEditor.h"
#include "framework/String.h"
#include "framework/Timers.h"
#include "toolkit/CustomButton.h"
#include "toolkit/EffectGUIBase.h"
#include "toolkit/Image.h"
#include "toolkit/Label.h"

class Torvane;
class TSplash;
class SynthGUI;

// The editor's root window: the header (page tabs, help, about, file menu, previous/next patch
// and the patch name) over the background of the page shown, and exactly one page at a time,
// rebuilt on every switch. The instrument reaches it only through its editor interface, whose
// calls the plug-in's drain delivers on the editor's thread.
//
// Constructing it loads nothing and touches no display: CreateUI (EffectGUIBase) builds the
// content. Whoever owns it calls Detach before deleting it. Editor thread only.
class GUI : public EffectGUIBase, public InstrumentEditor, public ButtonListener
{
public:
    enum Id
    {
        kHelpId = 0,
        kAboutId = 1,
        kSynthTabId = 2,
        kPerformTabId = 3,
        kPresetTabId = 4,
        kPreviousPatchId = 5,
        kNextPatchId = 6,
        kFileMenuId = 7,
    };
    enum Mode
    {
        kNoMode = -1,
        kSynthMode = 0,
        kPerformMode = 1,
        kPresetMode = 2,
    };
    enum FileMenuId
    {
        kSaveItem = 0,
        kSaveAsItem = 1,
        kResetItem = 2,
    };
    // How often the MIDI-learn mappings a learn changed are written, in milliseconds.
    static constexpr unsigned kAutoSavePeriodMs = 1000;

    // effect: the handle the editor is opened for (the plug-in's effect object).
    explicit GUI(void* effect);
    ~GUI() override;

    void GetDimensions(long& width, long& height) override;
    // The header, then the synthesizer page. A missing picture is shown and ends the building
    // there (a missing background leaves no header and no page); the editor stays safe to use
    // and to close.
    void CreateContent() override;
    void Repaint(GraphicsContext& gc) override;

    // Shows the page of `mode` (0 synthesizer, 1 perform, 2 preset; any other: none). The old
    // page is deleted only once no handler runs (a switch asked for inside a handler or a nested
    // loop takes effect when it has returned); asking for the mode shown, or already asked
    // for, does nothing.
    void SetEditMode(int mode);
    // The mode of the page shown.
    int GetEditMode() const { return editMode; }
    TSubEditor* GetPage() const { return page.get(); }
    // The synthesizer page while it is shown, else null.
    SynthGUI* GetSynthPage() const;

    void ButtonPressed(int id) override;
    void OpenFileMenu();

    // The instrument (null before CreateUI, or when the handle named none).
    Torvane* GetTorvane() const;

    // ---- calls of the instrument (through the drain) and of the pages ------------------------
    void UpdateAll() override;
    void PatchLoaded() override;
    void UpdatePatchName() override;
    void UpdateEventLines() override;
    void UpdateSnapLabel() override;
    void UpdatedEditTime() override;
    void DeselectBreakpoints() override;
    void UpdateWaveDisplays();
    void UpdateVoiceToggles();

    // What the header shows, for the pages and tests.
    Label const& GetPatchNameLabel() const { return patchNameLabel; }
    TSplash* GetSplash() const { return splash.get(); }

protected:
    // The page of a mode, created as a child of this root; null for a mode whose page is not
    // there (its background shows alone).
    virtual std::unique_ptr<TSubEditor> MakePage(int mode);
    // The save dialog: true with the chosen category and name when the user confirmed.
    // preselect: the current patch's category and name are offered, else none and an empty
    // name.
    virtual bool RunSaveDialog(bool preselect, String& category, String& name);

private:
    struct AutoSaveTimer : ::TimerListener
    {
        GUI* owner = nullptr;
        void TimerEvent(int id) override;
    };

    void ApplyEditMode();
    void StepPatch(bool forward);
    void ShowHelp();
    void ShowSplash();
    void SaveCurrentPatch();
    void SavePatchAs();
    void SavePatch(char const* category, char const* name);
    void ResetPatch();
    void SavePendingMappings();

    Image synthBackground;
    Image performBackground;
    Image presetBackground;
    Image aboutUp;
    Image aboutDown;
    Image helpUp;
    Image helpDown;
    std::unique_ptr<TSubEditor> page;
    CustomButton aboutButton;
    CustomButton helpButton;
    TTransparentBut synthTab;
    TTransparentBut presetTab;
    TTransparentBut performTab;
    Image previousUp;
    Image previousDown;
    CustomButton previousButton;
    Image nextUp;
    Image nextDown;
    CustomButton nextButton;
    TButton fileButton;
    Label patchNameLabel;
    int editMode = kNoMode;

    int wantedMode = kNoMode; // the mode asked for last (differs from editMode while pending)
    bool switchPending = false;
    std::unique_ptr<TSplash> splash;
    AutoSaveTimer autoSave;
    // Expires when the root goes: deferred work checks it first.
    std::shared_ptr<int> alive = std::make_shared<int>(0);
};
