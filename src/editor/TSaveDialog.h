#pragma once

#include "editor/TPatchList.h"
#include "framework/Events.h"
#include "framework/String.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Frame.h"
#include "toolkit/Image.h"
#include "toolkit/TextControl.h"

class PresetManager;

// The modal dialog in which the user picks a category of a preset manager and types a name to
// save under; it also creates, deletes and renames categories. It saves nothing itself: the
// caller saves what it returns. Save refuses a name the manager could not save under and asks
// before the save would replace a file. Built on the opener's stack, used for one run.
// Editor thread only.
class TSaveDialog : public Frame, public TPatchListListener, public ButtonListener, public EventHandler
{
public:
    enum Id
    {
        kCancelId = 0,
        kSaveId = 1,
        kAddCategoryId = 2,
        kDeleteCategoryId = 3,
        kRenameCategoryId = 4,
    };
    static constexpr int kCategoryListId = 0;

    TSaveDialog() = default;
    ~TSaveDialog() override = default;

    // Runs the dialog at (x, y) on the screen with category categoryIndex of the manager's list
    // selected (-1: none) and initialName in the name field. True when the user saved: category
    // then holds the chosen category and name the typed name; on false both stay as they were.
    // A missing picture is shown ("Torvane error in TSaveDialog::Create") and gives false.
    bool Create(Window* parent, long x, long y, PresetManager* manager, String& category, String& name,
                char const* title, int categoryIndex, char const* initialName);
    // As above with the first category of that name selected (none when null or unknown).
    bool Create(Window* parent, long x, long y, PresetManager* manager, String& category, String& name,
                char const* title, char const* categoryName, char const* initialName);

    void ButtonPressed(int id) override;
    void PatchListSelection(int, int, CascadeList::Item*) override {}
    void Repaint(GraphicsContext& gc) override;

    TPatchList& GetCategoryList() { return categoryList; }
    TextControl& GetNameField() { return nameField; }

protected:
    // Escape cancels, as the Cancel button does; Return saves, as the Save button does (the
    // name field passes both on).
    bool CancelByKey() override
    {
        ButtonPressed(kCancelId);
        return true;
    }
    bool DefaultByKey() override
    {
        ButtonPressed(kSaveId);
        return true;
    }

private:
    void Build(int categoryIndex, char const* initialName);
    void Save();
    void AddCategory();
    void DeleteCategory();
    void RenameCategory();
    void ManagerRebuilt();

    bool result = false;
    PresetManager* manager = nullptr;
    TPatchList categoryList;
    Image background;
    Image cancelUp;
    Image cancelDown;
    CustomButton cancelButton;
    Image saveUp;
    Image saveDown;
    CustomButton saveButton;
    Image addUp;
    Image addDown;
    CustomButton addButton;
    Image deleteUp;
    Image deleteDown;
    Image deleteDisabled;
    CustomButton deleteButton;
    Image renameUp;
    Image renameDown;
    Image renameDisabled;
    CustomButton renameButton;
    TextControl nameField;
    String enteredName;
    String title;
};

// The name a preset saved as `name` gets in its file: "(User)" appended unless it ends so.
String SavedPresetName(char const* name);
// Refuses a name that the manager could not save under (empty, "." or "..", '/', '\\' or control
// characters, too long for a file name with its endings), with a message that says why; true
// when refused. The caller keeps its dialog open and the typed name as it was.
bool RefuseSaveName(PresetManager const& manager, char const* name);
// Asks before a save as `name` into `category` would replace a file of the manager; true when
// nothing is there or the user agreed.
bool ConfirmReplace(PresetManager& manager, char const* category, char const* name);
