#pragma once

#include <functional>
#include <optional>

#include "editor/TPatchList.h"
#include "framework/String.h"

class PresetManager;
class Window;

// The category and preset commands every browser and dialog over a preset manager offers, with
// the same questions, messages and resulting selections wherever they run. Each shows its own
// messages and returns whether it changed anything; the caller refreshes what is its own.
namespace categorycommands
{
// Asks the user for a name (prompt, initial text); false when cancelled.
using NameAsker = std::function<bool(char const* prompt, char const* initial, String& result)>;

// The name popup at (50, 50) of owner.
bool AskNameOver(Window& owner, char const* prompt, char const* initial, String& result);
// AskNameOver with owner, as a NameAsker.
NameAsker NameAskerOver(Window& owner);

// Asks for a name and creates that category. Nothing when cancelled or refused; otherwise the
// row of the new category in the re-set category list (-1 when it is not listed), which is then
// selected, items (when given) showing nothing.
std::optional<int> AddCategory(PresetManager& manager, TPatchList& categories, TPatchList* items,
                               NameAsker const& askName);

// Asks before deleting the selected category and all its contents, sub-folders included; on
// success re-sets the category list and clears items (when given). A category that can't go
// whole is left whole, and "Could not delete Category folder: " says why.
bool DeleteCategory(PresetManager& manager, TPatchList& categories, TPatchList* items);

// Asks for a new name of the selected category; on success re-sets the category list with the
// renamed one selected and clears items (when given).
bool RenameCategory(PresetManager& manager, TPatchList& categories, TPatchList* items,
                    NameAsker const& askName);

// Asks before deleting the selected preset of the selected category; true when it is deleted
// (the caller shows the category again).
bool DeletePreset(PresetManager& manager, TPatchList& categories, TPatchList& items);

// Asks for a new name of the selected preset; on success re-sets the category list with the same
// category selected, lets showItems fill items again and selects the renamed preset.
bool RenamePreset(PresetManager& manager, TPatchList& categories, TPatchList& items, NameAsker const& askName,
                  std::function<void()> const& showItems);
} // namespace categorycommands
