#include "editor/CategoryCommands.h"

#include <string>

#include "editor/NamePopup.h"
#include "framework/PresetManager.h"
#include "platform/MessagePopup.h"
#include "toolkit/Window.h"

namespace categorycommands
{
bool AskNameOver(Window& owner, char const* prompt, char const* initial, String& result)
{
    long px = 50;
    long py = 50;
    owner.ConvertLocalToScreen(px, py);
    NamePopup popup;
    return popup.Create(&owner, px, py, prompt, &result, initial);
}

NameAsker NameAskerOver(Window& owner)
{
    return [&owner](char const* prompt, char const* initial, String& result)
    { return AskNameOver(owner, prompt, initial, result); };
}

std::optional<int> AddCategory(PresetManager& manager, TPatchList& categories, TPatchList* items,
                               NameAsker const& askName)
{
    String newName;
    if (!askName("New category name:", "", newName)) return std::nullopt;
    if (!manager.CreateNewCategory(newName, true))
    {
        String text;
        text.Format("Error: New category named '%s' could not be created.",
                    static_cast<char const*>(newName));
        MessagePopup(text, "");
        return std::nullopt;
    }
    categories.SetList(&manager.GetList());
    int const found = categories.FindItem(newName);
    if (found >= 0)
    {
        if (items != nullptr) items->SetList(nullptr);
        categories.SetSelection(found);
    }
    return found;
}

bool DeleteCategory(PresetManager& manager, TPatchList& categories, TPatchList* items)
{
    if (categories.GetSelection() < 0) return false;
    std::string const category = categories.GetSelectedName();
    String question;
    question.Format("Delete the Category '%s' and all its contents?", category.c_str());
    if (!MessageYesNoPopup(question, "Delete Category")) return false;
    String why;
    if (!manager.DeleteCategory(category.c_str(), true, &why))
    {
        // Nothing was removed (or, when the disk changed under it, what could be): the lists are
        // read again either way.
        manager.Refresh();
        String text("Could not delete Category folder");
        if (why.GetLength() > 0)
        {
            text += ": ";
            text += why;
        }
        MessagePopup(text, "Torvane Error");
        return false;
    }
    categories.SetList(&manager.GetList());
    if (items != nullptr) items->SetList(nullptr);
    return true;
}

bool RenameCategory(PresetManager& manager, TPatchList& categories, TPatchList* items,
                    NameAsker const& askName)
{
    if (categories.GetSelection() < 0) return false;
    std::string const oldName = categories.GetSelectedName();
    String prompt;
    prompt.Format("Choose new name for category '%s':", oldName.c_str());
    String newName;
    if (!askName(prompt, oldName.c_str(), newName)) return false;
    if (!manager.RenameCategory(oldName.c_str(), newName))
    {
        MessagePopup("Could not rename category. The new name is invalid or already in use", "Torvane Error");
        return false;
    }
    categories.SetList(&manager.GetList());
    categories.SetSelection(static_cast<char const*>(newName));
    if (items != nullptr) items->SetList(nullptr);
    return true;
}

bool DeletePreset(PresetManager& manager, TPatchList& categories, TPatchList& items)
{
    if (categories.GetSelection() < 0 || items.GetSelection() < 0) return false;
    int const categoryIndex = categories.GetSelection();
    std::string const preset = items.GetSelectedName();
    String question;
    question.Format("Delete the Preset '%s'?", preset.c_str());
    if (!MessageYesNoPopup(question, "Delete Preset")) return false;
    if (!manager.DeletePreset(categoryIndex, preset.c_str()))
    {
        MessagePopup("Could not delete Preset", "Torvane Error");
        return false;
    }
    return true;
}

bool RenamePreset(PresetManager& manager, TPatchList& categories, TPatchList& items, NameAsker const& askName,
                  std::function<void()> const& showItems)
{
    if (categories.GetSelection() < 0 || items.GetSelection() < 0) return false;
    std::string const category = categories.GetSelectedName();
    std::string const oldName = items.GetSelectedName();
    String prompt;
    prompt.Format("Choose new name for preset '%s':", oldName.c_str());
    String newName;
    if (!askName(prompt, oldName.c_str(), newName)) return false;
    if (!manager.RenamePreset(category.c_str(), oldName.c_str(), newName))
    {
        MessagePopup("Could not rename preset. The new name is invalid or already in use", "Torvane Error");
        return false;
    }
    categories.SetList(&manager.GetList());
    categories.SetSelection(category.c_str());
    showItems();
    items.SetSelection(static_cast<char const*>(newName));
    return true;
}
} // namespace categorycommands
