#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "framework/Events.h"
#include "framework/ParameterFile.h"
#include "framework/String.h"
#include "platform/CascadeList.h"

class Window;

// The menu of a preset folder: one sub-list per category folder, one item per preset file.
// A category item's id is the folder's position in the root's listing, its data an owned
// String* with the folder's full path; a preset item's name is the file name without its
// extension, its id the file's position among all files of the folder (other extensions
// count too), its data an owned String* with the file's full path. Listings are sorted by
// name (byte order). Items of this list belong to it: add nothing of your own.
class BankList : public CascadeList
{
public:
    void Init(char const* root, char const* extension);
    // Appends the categories and presets found below the root (call Clear first).
    void BuildList();

    String const& GetRoot() const { return root; }
    String const& GetExtension() const { return extension; }

private:
    String root;
    String extension;
};

// The presets of one kind of file below one folder: every sub-folder of the root is a
// category, every file with the format's extension in it a preset, named by its file name
// without the extension. Presets that users save carry the suffix "(User)".
// Main thread (or the host's thread that restores state); no locking of its own.
//
// Names that build paths are checked: a category or preset name that is empty, "." or
// "..", or holds '/', is refused (false, or an empty path). Names given for something new
// (a saved preset, a new category, a rename's new name) must also pass IsValidName.
class PresetManager
{
public:
    class PresetEntry
    {
    public:
        PresetEntry(String category, String name) : category(std::move(category)), name(std::move(name)) {}
        String const& GetCategory() const { return category; }
        String const& GetPresetName() const { return name; }
        bool IsUserPreset() const { return IsUserPresetName(name); }

    private:
        String category;
        String name;
    };

    PresetManager() = default;
    PresetManager(PresetManager const&) = delete;
    PresetManager& operator=(PresetManager const&) = delete;

    // Sets the root folder and the file format once, then builds the lists.
    void Init(char const* root, ParameterFileFormat& format);

    // The category/preset menu; category indexes are positions in its item list. The object
    // stays the same; every rebuild clears and refills it (items handed out before are gone).
    BankList& GetList() { return bankList; }
    String const& GetRoot() const { return root; }
    ParameterFileFormat const& GetFormat() const { return format; }

    // Rebuild the menu and the flat preset list from the folders.
    void Refresh() { BuildPresetList(); }
    void SaveEnd() { BuildPresetList(); }
    void BuildPresetList();

    // The number of presets in the flat list.
    std::size_t NumEntries() const { return entries.size(); }
    // The entry after (before) the first one with this category and name, wrapping around;
    // the first entry when none matches; null when there are no presets.
    PresetEntry* GetNext(char const* category, char const* name);
    PresetEntry* GetPrevious(char const* category, char const* name);

    // Opens root/category/name.ext with the reader, after copying the format into it. On
    // false the reader holds no file.
    bool LoadStart(char const* category, char const* name, ParameterFileReader& reader);
    // Starts saving root/category/name.ext with the writer, after copying the format into
    // it; "(User)" is appended to a name that is not a user name. Missing folders are
    // created. A name that CheckSaveName refuses is refused here too. The caller writes the payload, closes
    // the writer (its Close tells whether the file was saved) and calls SaveEnd.
    bool SaveStart(char const* category, char const* name, ParameterFileWriter& writer);
    // Pops up the menu: 0 when nothing was chosen, 1 when the chosen preset opened with the
    // reader, 2 when it did not.
    int OpenCascadeList(Window* parent, ParameterFileReader& reader, long x, long y);

    // root/category/name.ext and root/category; empty for a refused name or an index
    // outside the menu.
    String MakePresetPath(char const* category, char const* name) const;
    String MakePresetPath(int categoryIndex, char const* name) const;
    String MakeCategoryPath(char const* category) const;
    String MakeCategoryPath(int categoryIndex) const;

    // Editing. Names are full preset names (no "(User)" is added). Renames never replace an
    // existing preset or category. Renames and preset deletion rebuild the lists whatever the
    // result; creating and deleting a category rebuild them on success when rebuild is true.
    bool RenamePreset(char const* category, char const* oldName, char const* newName);
    bool RenamePreset(int categoryIndex, char const* oldName, char const* newName);
    bool DeletePreset(char const* category, char const* name);
    bool DeletePreset(int categoryIndex, char const* name);
    bool RenameCategory(char const* oldName, char const* newName);
    bool RenameCategory(int categoryIndex, char const* newName);
    bool CreateNewCategory(char const* name, bool rebuild);
    // Deletes the category folder with everything in it, sub-folders included, or nothing
    // (PathManager::RemoveFolder); on false *whyNot (when given) says why.
    bool DeleteCategory(char const* name, bool rebuild, String* whyNot = nullptr);

    // Why a preset can't be saved under a name, or None. The file name a save writes (the
    // name, "(User)" when it isn't a user name, "." and the extension) must fit the file
    // system's limit of kMaxFileNameBytes bytes with 4 bytes to spare.
    enum class NameProblem
    {
        None,
        Empty,      // ""
        Reserved,   // "." or ".."
        Characters, // '/', '\' or control characters
        TooLong,
    };
    static constexpr std::size_t kMaxFileNameBytes = 255;
    NameProblem CheckSaveName(char const* name) const;
    // The longest name (in bytes) that CheckSaveName lets pass: a name that has no "(User)"
    // yet, which a save appends.
    std::size_t MaxSaveNameBytes() const;

    // True when the name has more than 6 characters and ends with "(User)".
    static bool IsUserPresetName(String const& name);
    // A name a user may give to a preset or category: not empty, not "." or "..", and
    // without '/', '\\' or control characters.
    static bool IsValidName(char const* name);

    // Fired after every rebuild of the menu (Refresh, SaveEnd, every rename and preset delete,
    // each create or category delete that rebuilt). The items handed out before are gone by
    // then: whoever shows the menu or one of its sub-lists sets it again from GetList.
    Event<void()> rebuilt;

private:
    String CategoryName(int categoryIndex) const;

    String root;
    ParameterFileFormat format;
    BankList bankList;
    std::vector<std::unique_ptr<PresetEntry>> entries;
};
