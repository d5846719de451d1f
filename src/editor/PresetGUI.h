#pragma once

#include "editor/TButton.h"
#include "editor/TPatchList.h"
#include "editor/TSubEditor.h"
#include "framework/Events.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Image.h"

class PresetManager;
class Torvane;

// The preset page (edit mode 2): the categories of the instrument's patch folder on the left,
// the patches of the selected category on the right. A click on a patch loads it at once, a
// click on a category loads its first patch. Buttons create, delete and rename categories,
// delete and rename patches and open the patches folder. Whenever the patch manager rebuilds
// its lists (here, in a dialog over the page, or in a save), the page sets its lists again,
// keeping the selections by name. Editor thread only.
class PresetGUI : public TSubEditor, public TPatchListListener, public ButtonListener, public EventHandler
{
public:
    enum Id
    {
        kAddCategoryId = 1,
        kDeleteCategoryId = 2,
        kRenameCategoryId = 3,
        kDeletePatchId = 4,
        kRenamePatchId = 5,
        kShowFolderId = 6,
    };
    static constexpr int kCategoryListId = 0;
    static constexpr int kPatchListId = 1;

    PresetGUI() = default;
    ~PresetGUI() override = default;

    // The page at (0, 110) of parent; selects category and name when both are given (nothing
    // is loaded). A missing picture is shown ("Torvane error in PresetGUI::Create") and ends the
    // building there.
    void Create(Window* parent, Torvane* instrument, char const* category, char const* name);
    // Selects the instrument's patch.
    void UpdateAll() override;
    // Selects the category and, in its patch list, the patch when found; an unknown category
    // changes nothing. Nothing is loaded.
    void SetSelection(char const* category, char const* name);
    // Reads the patch folders again: the category list anew, the patch list empty.
    void RescanPatchFolder();

    void PatchListSelection(int listId, int index, CascadeList::Item* item) override;
    void ButtonPressed(int id) override;

    TPatchList& GetCategoryList() { return categoryList; }
    TPatchList& GetPatchList() { return patchList; }

private:
    void LoadSelectedPatch();
    // Selects the instrument's patch in the patch list when the shown category holds it, else
    // nothing.
    void ShowLoadedPatch();
    void AddCategory();
    void DeleteCategory();
    void RenameCategory();
    void DeletePatch();
    void RenamePatch();
    void ShowSubList(CascadeList::Item* category);
    void ManagerRebuilt();
    // Asks for a name in a popup at the page's (50, 50); true when confirmed.

    Torvane* torvane = nullptr;
    PresetManager* manager = nullptr;
    TPatchList categoryList;
    TPatchList patchList;
    Image closeUp;
    Image closeDown;
    Image addUp;
    Image addDown;
    CustomButton addButton;
    TButton deleteCategoryButton;
    TButton renameCategoryButton;
    TButton deletePatchButton;
    TButton renamePatchButton;
    TButton showFolderButton;
};
