#include "editor/PresetGUI.h"

#include <string>

#include "editor/CategoryCommands.h"
#include "editor/Layout.h"
#include "editor/NamePopup.h"
#include "engine/Torvane.h"
#include "framework/Paths.h"
#include "framework/PresetManager.h"
#include "platform/MessagePopup.h"
#include "toolkit/Frame.h"

namespace
{
void Load(Image& image, char const* name)
{
    image.LoadFromFile(MakeImagePath(name));
}
} // namespace

void PresetGUI::Create(Window* parent, Torvane* instrument, char const* category, char const* patchName)
{
    namespace pp = layout::preset;
    name = "PresetGUI";
    torvane = instrument;
    CreateChildWindow(parent, pp::kSize.w, pp::kSize.h, layout::root::kPresetPage.x,
                      layout::root::kPresetPage.y);
    ForceRepaint();
    if (torvane == nullptr) return;
    manager = torvane->GetPatchPresetManager();

    categoryList.Create(this, kCategoryListId, pp::kCategoryList.x, pp::kCategoryList.y, pp::kListWidth,
                        pp::kListRows);
    categoryList.SetList(&manager->GetList());
    categoryList.SetListener(this);
    patchList.Create(this, kPatchListId, pp::kPatchList.x, pp::kPatchList.y, pp::kListWidth, pp::kListRows);
    ShowSubList(manager->GetList().GetItem(0));
    patchList.SetListener(this);
    patchList.SetSelection(-1);
    if (category != nullptr && patchName != nullptr)
    {
        int const found = categoryList.FindItem(category);
        if (found >= 0)
        {
            categoryList.SetSelection(found);
            ShowSubList(categoryList.GetSelectedItem());
            patchList.SetSelection(patchList.FindItem(patchName));
        }
    }
    manager->rebuilt.AddHandler(this, &PresetGUI::ManagerRebuilt);

    try
    {
        Load(closeUp, "CloseUp.png");
        Load(closeDown, "CloseDown.png");
        Load(addUp, "AddUpBut.png");
        Load(addDown, "AddDownBut.png");
        addButton.Create(this, kAddCategoryId, this, pp::kAddCategory.x, pp::kAddCategory.y, &addUp,
                         &addDown);
        deleteCategoryButton.Create(this, kDeleteCategoryId, this, pp::kDeleteCategory.x,
                                    pp::kDeleteCategory.y, "DeleteUpBut.png", "DeleteDownBut.png");
        renameCategoryButton.Create(this, kRenameCategoryId, this, pp::kRenameCategory.x,
                                    pp::kRenameCategory.y, "RenameUpBut.png", "RenameDownBut.png");
        deletePatchButton.Create(this, kDeletePatchId, this, pp::kDeletePatch.x, pp::kDeletePatch.y,
                                 "DeleteUpBut.png", "DeleteDownBut.png");
        renamePatchButton.Create(this, kRenamePatchId, this, pp::kRenamePatch.x, pp::kRenamePatch.y,
                                 "RenameUpBut.png", "RenameDownBut.png");
        showFolderButton.Create(this, kShowFolderId, this, pp::kShowFolder.x, pp::kShowFolder.y,
                                "ShowFolder But Up.png", "ShowFolder But Down.png");
    }
    catch (String const& error)
    {
        MessagePopup(error, "Torvane error in PresetGUI::Create");
    }
}

void PresetGUI::ShowSubList(CascadeList::Item* category)
{
    patchList.SetList(category != nullptr && category->isSubList ? category->subList : nullptr);
}

void PresetGUI::UpdateAll()
{
    if (torvane == nullptr) return;
    String const category = torvane->GetPatchCategory();
    String const patchName = torvane->GetPatchName();
    SetSelection(category, patchName);
}

void PresetGUI::SetSelection(char const* category, char const* patchName)
{
    if (manager == nullptr) return;
    int const found = categoryList.FindItem(category);
    if (found < 0) return;
    categoryList.SetSelection(found);
    ShowSubList(categoryList.GetSelectedItem());
    int const patch = patchList.FindItem(patchName);
    if (patch >= 0 && patch != patchList.GetSelection()) patchList.SetSelection(patch);
}

void PresetGUI::RescanPatchFolder()
{
    if (manager == nullptr) return;
    manager->Refresh();
    categoryList.SetList(&manager->GetList());
    patchList.SetList(nullptr);
}

void PresetGUI::ManagerRebuilt()
{
    ResetPatchLists(*manager, categoryList, &patchList);
}

// ---------------------------------------------------------------------------------------------
// Clicks

void PresetGUI::PatchListSelection(int listId, int index, CascadeList::Item*)
{
    if (manager == nullptr) return;
    if (listId == kCategoryListId)
    {
        CascadeList::Item* category = manager->GetList().GetItem(index);
        if (category == nullptr || !category->isSubList) return;
        patchList.SetList(category->subList);
        // Choosing a category loads its first patch.
        if (patchList.GetSelectedItem() != nullptr) LoadSelectedPatch();
    }
    else if (listId == kPatchListId)
    {
        LoadSelectedPatch();
    }
}

void PresetGUI::LoadSelectedPatch()
{
    if (categoryList.GetSelection() < 0 || patchList.GetSelection() < 0) return;
    // Copies: a load may have the lists set again.
    std::string const category = categoryList.GetSelectedName();
    std::string const patch = patchList.GetSelectedName();
    WaitCursor busy;
    // The instrument reports its own failures; the list goes back to the patch that is loaded.
    if (torvane->LoadPatch(category.c_str(), patch.c_str()) == 0) ShowLoadedPatch();
}

void PresetGUI::ShowLoadedPatch()
{
    String const category = torvane->GetPatchCategory();
    String const loaded = torvane->GetPatchName();
    bool const shown = categoryList.GetSelection() >= 0 &&
                       categoryList.GetSelectedName() == static_cast<char const*>(category);
    patchList.SetSelection(shown ? patchList.FindItem(loaded) : -1);
}

void PresetGUI::ButtonPressed(int id)
{
    if (manager == nullptr) return;
    switch (id)
    {
    case kAddCategoryId:
        AddCategory();
        break;
    case kDeleteCategoryId:
        DeleteCategory();
        break;
    case kRenameCategoryId:
        RenameCategory();
        break;
    case kDeletePatchId:
        DeletePatch();
        break;
    case kRenamePatchId:
        RenamePatch();
        break;
    case kShowFolderId:
        // The folder the patches are in; whether a file browser opened is not checked.
        Shell::ExploreFolder(manager->GetRoot());
        break;
    default:
        break;
    }
}

void PresetGUI::AddCategory()
{
    categorycommands::AddCategory(*manager, categoryList, &patchList, categorycommands::NameAskerOver(*this));
}

void PresetGUI::DeleteCategory()
{
    categorycommands::DeleteCategory(*manager, categoryList, &patchList);
}

void PresetGUI::RenameCategory()
{
    categorycommands::RenameCategory(*manager, categoryList, &patchList,
                                     categorycommands::NameAskerOver(*this));
}

void PresetGUI::DeletePatch()
{
    if (categorycommands::DeletePreset(*manager, categoryList, patchList))
        ShowSubList(categoryList.GetSelectedItem());
}

void PresetGUI::RenamePatch()
{
    categorycommands::RenamePreset(*manager, categoryList, patchList, categorycommands::NameAskerOver(*this),
                                   [this] { ShowSubList(categoryList.GetSelectedItem()); });
}
