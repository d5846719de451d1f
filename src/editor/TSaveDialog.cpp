#include "editor/TSaveDialog.h"

#include <cstring>

#include "editor/CategoryCommands.h"
#include "editor/Layout.h"
#include "editor/NamePopup.h"
#include "framework/Paths.h"
#include "framework/PresetManager.h"
#include "platform/MessagePopup.h"
#include "platform/gfx/Types.h"
#include "toolkit/GraphicsContext.h"

namespace
{
void Load(Image& image, char const* name)
{
    image.LoadFromFile(MakeImagePath(name));
}
} // namespace

String SavedPresetName(char const* name)
{
    String saved(name != nullptr ? name : "");
    if (!PresetManager::IsUserPresetName(saved)) saved += "(User)";
    return saved;
}

bool RefuseSaveName(PresetManager const& manager, char const* name)
{
    switch (manager.CheckSaveName(name))
    {
    case PresetManager::NameProblem::None:
        return false;
    case PresetManager::NameProblem::Empty:
        MessagePopup("Please enter a name: the name is empty", "");
        break;
    case PresetManager::NameProblem::Reserved:
        MessagePopup("Please enter another name: '.' and '..' can't name a file", "");
        break;
    case PresetManager::NameProblem::Characters:
        MessagePopup("Please enter a name without '/', '\\' or control characters", "");
        break;
    case PresetManager::NameProblem::TooLong:
    {
        String text;
        text.Format("Please enter a shorter name: this one has %lu bytes, a file name takes at most %lu",
                    static_cast<unsigned long>(std::strlen(name)),
                    static_cast<unsigned long>(manager.MaxSaveNameBytes()));
        MessagePopup(text, "");
        break;
    }
    }
    return true;
}

bool ConfirmReplace(PresetManager& manager, char const* category, char const* name)
{
    String const saved = SavedPresetName(name);
    String const path = manager.MakePresetPath(category, saved);
    if (path.GetLength() == 0 || !PathManager::Exists(path)) return true;
    String question;
    question.Format("'%s' already exists in the category '%s'. Replace it?", static_cast<char const*>(saved),
                    category);
    return MessageYesNoPopup(question, "Replace File");
}

bool TSaveDialog::Create(Window* parent, long px, long py, PresetManager* presetManager, String& category,
                         String& chosenName, char const* dialogTitle, char const* categoryName,
                         char const* initialName)
{
    int index = -1;
    if (categoryName != nullptr && presetManager != nullptr)
    {
        BankList& list = presetManager->GetList();
        for (int i = 0; i < list.NumItems(); ++i)
            if (list.GetItem(i)->name == categoryName)
            {
                index = i;
                break;
            }
    }
    return Create(parent, px, py, presetManager, category, chosenName, dialogTitle, index, initialName);
}

bool TSaveDialog::Create(Window* parent, long px, long py, PresetManager* presetManager, String& category,
                         String& chosenName, char const* dialogTitle, int categoryIndex,
                         char const* initialName)
{
    if (presetManager == nullptr) return false;
    manager = presetManager;
    title = dialogTitle != nullptr ? dialogTitle : "";
    try
    {
        Load(background, "SaveDialog.png");
        CreateFrame(parent, px, py, background.GetWidth(), background.GetHeight());
        ForceRepaint();
        Build(categoryIndex, initialName);
    }
    catch (String const& error)
    {
        MessagePopup(error, "Torvane error in TSaveDialog::Create");
        return false;
    }
    result = false;
    RunModal();
    if (!result) return false;
    category = categoryList.GetSelectedName().c_str();
    chosenName = enteredName;
    return true;
}

void TSaveDialog::Build(int categoryIndex, char const* initialName)
{
    namespace sd = layout::savedialog;
    categoryList.Create(this, kCategoryListId, sd::kCategoryList.x, sd::kCategoryList.y, sd::kListWidth,
                        sd::kListRows);
    categoryList.SetList(&manager->GetList());
    categoryList.SetListener(this);
    categoryList.SetSelection(categoryIndex);
    categoryList.MakeSelectionVisible();
    manager->rebuilt.AddHandler(this, &TSaveDialog::ManagerRebuilt);

    Load(cancelUp, "CancelUpBut.png");
    Load(cancelDown, "CancelDownBut.png");
    cancelButton.Create(this, kCancelId, this, sd::kCancel.x, sd::kCancel.y, &cancelUp, &cancelDown);
    Load(saveUp, "SaveUpBut.png");
    Load(saveDown, "SaveDownBut.png");
    saveButton.Create(this, kSaveId, this, sd::kSave.x, sd::kSave.y, &saveUp, &saveDown);
    Load(addUp, "AddUpBut.png");
    Load(addDown, "AddDownBut.png");
    addButton.Create(this, kAddCategoryId, this, sd::kAddCategory.x, sd::kAddCategory.y, &addUp, &addDown);
    Load(deleteUp, "DeleteUpBut.png");
    Load(deleteDown, "DeleteDownBut.png");
    Load(deleteDisabled, "DeleteDisabledBut.png");
    deleteButton.Create(this, kDeleteCategoryId, this, sd::kDeleteCategory.x, sd::kDeleteCategory.y,
                        &deleteUp, &deleteDown);
    Load(renameUp, "RenameUpBut.png");
    Load(renameDown, "RenameDownBut.png");
    Load(renameDisabled, "RenameDisabledBut.png");
    renameButton.Create(this, kRenameCategoryId, this, sd::kRenameCategory.x, sd::kRenameCategory.y,
                        &renameUp, &renameDown);

    GRectangle const field(sd::kNameField.x, sd::kNameField.y, sd::kNameField.w, sd::kNameField.h);
    nameField.Create(this, field, true, initialName != nullptr ? initialName : "");
    nameField.GiveFocus();
}

void TSaveDialog::Repaint(GraphicsContext& gc)
{
    background.Draw(&gc, 0, 0);
    gc.SetPenColour(0, 0, 0, 1, 255);
    gc.SetFont(10, nullptr, true, false);
    gc.DrawString(title, layout::savedialog::kTitle.x, layout::savedialog::kTitle.y);
}

void TSaveDialog::ButtonPressed(int id)
{
    switch (id)
    {
    case kCancelId:
        result = false;
        QuitModal();
        break;
    case kSaveId:
        Save();
        break;
    case kAddCategoryId:
        AddCategory();
        break;
    case kDeleteCategoryId:
        DeleteCategory();
        break;
    case kRenameCategoryId:
        RenameCategory();
        break;
    default:
        break;
    }
}

void TSaveDialog::Save()
{
    enteredName = nameField.GetText();
    if (categoryList.GetSelection() < 0)
    {
        MessagePopup("Please create or select a category before saving", "");
        return;
    }
    // A name no file can carry would fail the save after the dialog, or write a nameless file:
    // it is refused here, the dialog stays open and the typed name stays in the field.
    if (RefuseSaveName(*manager, enteredName)) return;
    std::string const category = categoryList.GetSelectedName();
    if (!ConfirmReplace(*manager, category.c_str(), enteredName)) return;
    result = true;
    QuitModal();
}

void TSaveDialog::AddCategory()
{
    categorycommands::AddCategory(*manager, categoryList, nullptr, categorycommands::NameAskerOver(*this));
}

void TSaveDialog::DeleteCategory()
{
    categorycommands::DeleteCategory(*manager, categoryList, nullptr);
}

void TSaveDialog::RenameCategory()
{
    // The new name is typed into an empty field here.
    categorycommands::RenameCategory(*manager, categoryList, nullptr,
                                     [this](char const* p, char const*, String& r)
                                     { return categorycommands::AskNameOver(*this, p, "", r); });
}

void TSaveDialog::ManagerRebuilt()
{
    ResetPatchLists(*manager, categoryList, nullptr);
}
