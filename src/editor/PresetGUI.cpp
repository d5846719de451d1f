#include "editor/PresetGUI.h"

#include <string>

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
    // The instrument reports its own failures.
    torvane->LoadPatch(category.c_str(), patch.c_str());
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

bool PresetGUI::AskName(char const* prompt, char const* initial, String& result)
{
    long px = 50;
    long py = 50;
    ConvertLocalToScreen(px, py);
    NamePopup popup;
    return popup.Create(this, px, py, prompt, &result, initial);
}

void PresetGUI::AddCategory()
{
    String newName;
    if (!AskName("New category name:", "", newName)) return;
    if (!manager->CreateNewCategory(newName, true))
    {
        String text;
        text.Format("Error: New category named '%s' could not be created.",
                    static_cast<char const*>(newName));
        MessagePopup(text, "");
        return;
    }
    categoryList.SetList(&manager->GetList());
    int const found = categoryList.FindItem(newName);
    if (found >= 0)
    {
        patchList.SetList(nullptr);
        categoryList.SetSelection(found);
    }
}

void PresetGUI::DeleteCategory()
{
    if (categoryList.GetSelection() < 0) return;
    std::string const category = categoryList.GetSelectedName();
    String question;
    question.Format("Delete the Category '%s' and all its contents?", category.c_str());
    if (!MessageYesNoPopup(question, "Delete Category")) return;
    if (!manager->DeleteCategory(category.c_str(), true))
    {
        // Some of its files may be gone: the lists are read again.
        manager->Refresh();
        MessagePopup("Could not delete Category folder", "Torvane Error");
        return;
    }
    categoryList.SetList(&manager->GetList());
    patchList.SetList(nullptr);
}

void PresetGUI::RenameCategory()
{
    if (categoryList.GetSelection() < 0) return;
    std::string const oldName = categoryList.GetSelectedName();
    String prompt;
    prompt.Format("Choose new name for category '%s':", oldName.c_str());
    String newName;
    if (!AskName(prompt, oldName.c_str(), newName)) return;
    if (!manager->RenameCategory(oldName.c_str(), newName))
    {
        MessagePopup("Could not rename category. The new name is invalid or already in use", "Torvane Error");
        return;
    }
    categoryList.SetList(&manager->GetList());
    categoryList.SetSelection(static_cast<char const*>(newName));
    patchList.SetList(nullptr);
}

void PresetGUI::DeletePatch()
{
    if (categoryList.GetSelection() < 0 || patchList.GetSelection() < 0) return;
    int const categoryIndex = categoryList.GetSelection();
    std::string const patch = patchList.GetSelectedName();
    String question;
    question.Format("Delete the Preset '%s'?", patch.c_str());
    if (!MessageYesNoPopup(question, "Delete Preset")) return;
    if (!manager->DeletePreset(categoryIndex, patch.c_str()))
    {
        MessagePopup("Could not delete Preset", "Torvane Error");
        return;
    }
    ShowSubList(categoryList.GetSelectedItem());
}

void PresetGUI::RenamePatch()
{
    if (categoryList.GetSelection() < 0 || patchList.GetSelection() < 0) return;
    std::string const category = categoryList.GetSelectedName();
    std::string const oldName = patchList.GetSelectedName();
    String prompt;
    prompt.Format("Choose new name for preset '%s':", oldName.c_str());
    String newName;
    if (!AskName(prompt, oldName.c_str(), newName)) return;
    if (!manager->RenamePreset(category.c_str(), oldName.c_str(), newName))
    {
        MessagePopup("Could not rename preset. The new name is invalid or already in use", "Torvane Error");
        return;
    }
    categoryList.SetList(&manager->GetList());
    categoryList.SetSelection(category.c_str());
    ShowSubList(categoryList.GetSelectedItem());
    patchList.SetSelection(static_cast<char const*>(newName));
}
