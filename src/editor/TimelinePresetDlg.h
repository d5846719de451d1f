#pragma once

#include <array>
#include <memory>
#include <string>

#include "editor/CloseBut.h"
#include "editor/TButton.h"
#include "editor/TPatchList.h"
#include "framework/Events.h"
#include "framework/String.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Frame.h"
#include "toolkit/Image.h"
#include "toolkit/TextControl.h"

class PresetManager;
class Reader;
class Torvane;
class Writer;

// The modal dialog that saves the current voice's timeline lines as a timeline preset, or
// loads chosen lines of a stored preset into the current voice. In load mode a preset is
// previewed when clicked: its lines become available; the line toggles say which of them are
// wanted. The availability always describes the preset selected: when another one is selected
// without a preview, no line is available until it is clicked. Built on the opener's stack:
// construct, RunModal, let it go. Editor thread only.
class TimelinePresetDlg : public Frame, public TPatchListListener, public ButtonListener, public EventHandler
{
public:
    static constexpr int kNumLines = 6;
    enum Id
    {
        kCloseId = 0,
        kSaveId = 1,
        kLoadId = 2,
        kAddCategoryId = 3,
        kDeleteCategoryId = 4,
        kRenameCategoryId = 5,
        kDeletePresetId = 6,
        kRenamePresetId = 7,
    };
    static constexpr int kCategoryListId = 0;
    static constexpr int kPresetListId = 1;

    struct LineInfo
    {
        bool available = false; // the line can be chosen (load mode: the previewed file holds it)
        bool wanted = true;     // the user wants it
    };

    // One line's check box with its label; a click anywhere flips the line's wish.
    class Toggle : public Window
    {
    public:
        // Loads its three pictures (a missing one is thrown) and creates itself in the dialog.
        Toggle(TimelinePresetDlg& dialog, LineInfo& info, int index, long x, long y, char const* label);
        void Repaint(GraphicsContext& gc) override;
        void LButtonDown(long x, long y) override;
        void LButtonUp(long x, long y) override;

    private:
        TimelinePresetDlg& dialog;
        LineInfo& info;
        int index;
        String label;
        Image on;
        Image off;
        Image unavailable;
    };

    // A frame at the parent's local point (120, 120) (on the screen without a parent).
    TimelinePresetDlg(Window* parent, Torvane& instrument, bool load);
    ~TimelinePresetDlg() override;

    void Repaint(GraphicsContext& gc) override;
    void PatchListSelection(int listId, int index, CascadeList::Item* item) override;
    void ButtonPressed(int id) override;

    // The wanted and available lines into (out of) the stream; false when the instrument
    // refused it.
    bool Save(Writer& w);
    bool Load(Reader& r);
    // Reads the file's lines: each becomes available when the file holds it. False (and no line
    // available) for a stream too short to tell.
    bool Preview(Reader& r);
    void ToggleUpdate(int i);
    void LineInfoUpdated(int i);
    void LineInfosUpdated();
    void SetAllWanted(bool wanted);
    void SetAllAvailability(bool available);

    LineInfo const& GetLineInfo(int i) const { return lineInfos[static_cast<std::size_t>(i)]; }
    Toggle* GetToggle(int i) const { return toggles[static_cast<std::size_t>(i)].get(); }
    TPatchList& GetCategoryList() { return categoryList; }
    TPatchList& GetPresetList() { return presetList; }
    TextControl& GetNameField() { return nameField; }
    bool IsLoadMode() const { return load; }

protected:
    // Escape closes, as the Close button does. Return saves in the save dialog, as its Save
    // button does (a preset of that name is replaced only when confirmed); the load dialog has
    // no default: a load replaces the voice's lines.
    bool CancelByKey() override
    {
        ButtonPressed(kCloseId);
        return true;
    }
    bool DefaultByKey() override
    {
        if (load) return false;
        ButtonPressed(kSaveId);
        return true;
    }

private:
    void Build(Window* parent);
    void SaveSelected();
    void LoadSelected();
    void AddCategory();
    void DeleteCategory();
    void RenameCategory();
    void DeletePreset();
    void RenamePreset();
    void ShowPresetsOfSelectedCategory();
    void ManagerRebuilt();
    // Clears the availability when the selected preset is not the one previewed.
    void SyncAvailability();

    Torvane& torvane;
    PresetManager* manager;
    std::array<LineInfo, kNumLines> lineInfos;
    bool load;
    Image background;
    TPatchList categoryList;
    TPatchList presetList;
    std::array<std::shared_ptr<Toggle>, kNumLines> toggles;
    TextControl nameField;
    TButton closeButton;
    TButton saveButton;
    TButton loadButton;
    CloseBut closeBox;
    Image addUp;
    Image addDown;
    CustomButton addCategoryButton;
    TButton deleteCategoryButton;
    TButton renameCategoryButton;
    TButton deletePresetButton;
    TButton renamePresetButton;
    // The category and preset whose lines the availability describes (none: empty names).
    bool previewed = false;
    std::string previewedCategory;
    std::string previewedPreset;
};
