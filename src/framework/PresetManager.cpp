#include "framework/PresetManager.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "framework/Paths.h"

namespace
{
constexpr char kUserSuffix[] = "(User)";
constexpr long kUserSuffixLength = sizeof kUserSuffix - 1;

// A name that stays one component of a path below the root.
bool IsPathComponent(char const* name)
{
    if (!name) return false;
    std::string_view text(name);
    return !text.empty() && text != "." && text != ".." && text.find('/') == std::string_view::npos;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// BankList

void BankList::Init(char const* rootFolder, char const* fileExtension)
{
    root = rootFolder;
    extension = fileExtension;
}

void BankList::BuildList()
{
    std::vector<String> folders;
    if (!PathManager::BuildDirectoryList(root, &folders, nullptr)) return;
    std::vector<String> files;
    for (std::size_t i = 0; i < folders.size(); ++i)
    {
        String const& folder = folders[i];
        String category = PathManager::ExtractFilenameFromPath(folder);
        CascadeList* presets = AddSubList(category, static_cast<long>(i), new String(folder), true)->subList;
        PathManager::BuildDirectoryList(folder, nullptr, &files);
        for (std::size_t j = 0; j < files.size(); ++j)
        {
            String const& file = files[j];
            if (PathManager::ExtractExtension(file) != extension) continue;
            String name = PathManager::ExtractFilenameFromPath(file);
            PathManager::RemoveExtension(name);
            presets->AddItem(name, static_cast<long>(j), new String(file), true);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// PresetManager: set-up and lists

void PresetManager::Init(char const* rootFolder, ParameterFileFormat& fileFormat)
{
    root = rootFolder;
    format = fileFormat;
    bankList.Init(root, format.extension);
    BuildPresetList();
}

void PresetManager::BuildPresetList()
{
    bankList.Clear();
    bankList.BuildList();
    entries.clear();
    for (int i = 0; i < bankList.NumItems(); ++i)
    {
        CascadeList::Item* category = bankList.GetItem(i);
        if (!category->isSubList) continue;
        CascadeList* presets = category->subList;
        for (int j = 0; j < presets->NumItems(); ++j)
        {
            CascadeList::Item* preset = presets->GetItem(j);
            if (!preset->isSubList)
                entries.push_back(std::make_unique<PresetEntry>(category->name, preset->name));
        }
    }
    rebuilt.Trigger();
}

// ---------------------------------------------------------------------------------------------
// Stepping

PresetManager::PresetEntry* PresetManager::GetNext(char const* category, char const* name)
{
    if (entries.empty()) return nullptr;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i]->GetCategory() == category && entries[i]->GetPresetName() == name)
            return entries[(i + 1) % entries.size()].get();
    return entries.front().get();
}

PresetManager::PresetEntry* PresetManager::GetPrevious(char const* category, char const* name)
{
    if (entries.empty()) return nullptr;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i]->GetCategory() == category && entries[i]->GetPresetName() == name)
            return entries[(i + entries.size() - 1) % entries.size()].get();
    return entries.front().get();
}

// ---------------------------------------------------------------------------------------------
// Opening presets

bool PresetManager::LoadStart(char const* category, char const* name, ParameterFileReader& reader)
{
    reader.format = format;
    String path = MakePresetPath(category, name);
    if (path.GetLength() == 0)
    {
        reader.Close();
        return false;
    }
    return reader.Open(path);
}

bool PresetManager::SaveStart(char const* category, char const* name, ParameterFileWriter& writer)
{
    writer.format = format;
    if (!IsValidName(category) || CheckSaveName(name) != NameProblem::None)
    {
        writer.Refuse(EINVAL);
        return false;
    }
    String fileName(name);
    if (!IsUserPresetName(fileName)) fileName += kUserSuffix;
    String path = MakePresetPath(category, fileName);
    if (path.GetLength() == 0)
    {
        writer.Refuse(EINVAL);
        return false;
    }
    return writer.Open(path, true);
}

int PresetManager::OpenCascadeList(Window* parent, ParameterFileReader& reader, long x, long y)
{
    CascadeList::Item* chosen = bankList.DoPopup(parent, x, y);
    if (!chosen) return 0;
    reader.format = format;
    // Every item of the list carries its file's path (BankList::BuildList).
    String const* path = static_cast<String const*>(chosen->data);
    if (chosen->isSubList || !path)
    {
        reader.Close();
        return 2;
    }
    return reader.Open(*path) ? 1 : 2;
}

// ---------------------------------------------------------------------------------------------
// Paths

String PresetManager::MakeCategoryPath(char const* category) const
{
    if (root.GetLength() == 0 || !IsPathComponent(category)) return String();
    String path(root);
    path += "/";
    path += category;
    return path;
}

String PresetManager::MakeCategoryPath(int categoryIndex) const
{
    return MakeCategoryPath(CategoryName(categoryIndex));
}

String PresetManager::MakePresetPath(char const* category, char const* name) const
{
    String path = MakeCategoryPath(category);
    if (path.GetLength() == 0 || !IsPathComponent(name)) return String();
    path += "/";
    path += name;
    path += ".";
    path += format.extension;
    return path;
}

String PresetManager::MakePresetPath(int categoryIndex, char const* name) const
{
    return MakePresetPath(CategoryName(categoryIndex), name);
}

String PresetManager::CategoryName(int categoryIndex) const
{
    CascadeList::Item* item = bankList.GetItem(categoryIndex);
    return item ? String(item->name) : String();
}

// ---------------------------------------------------------------------------------------------
// Editing

namespace
{
// Renames without replacing what is already there.
bool RenameUnlessTaken(String const& from, String const& to)
{
    return from.GetLength() > 0 && to.GetLength() > 0 && PathManager::Exists(from) &&
           !PathManager::Exists(to) && PathManager::Rename(from, to);
}
} // namespace

bool PresetManager::RenamePreset(char const* category, char const* oldName, char const* newName)
{
    bool renamed = IsValidName(newName) &&
                   RenameUnlessTaken(MakePresetPath(category, oldName), MakePresetPath(category, newName));
    BuildPresetList();
    return renamed;
}

bool PresetManager::RenamePreset(int categoryIndex, char const* oldName, char const* newName)
{
    return RenamePreset(CategoryName(categoryIndex), oldName, newName);
}

bool PresetManager::DeletePreset(char const* category, char const* name)
{
    String path = MakePresetPath(category, name);
    bool deleted = path.GetLength() > 0 && PathManager::RemoveFile(path);
    BuildPresetList();
    return deleted;
}

bool PresetManager::DeletePreset(int categoryIndex, char const* name)
{
    return DeletePreset(CategoryName(categoryIndex), name);
}

bool PresetManager::RenameCategory(char const* oldName, char const* newName)
{
    bool renamed =
        IsValidName(newName) && RenameUnlessTaken(MakeCategoryPath(oldName), MakeCategoryPath(newName));
    BuildPresetList();
    return renamed;
}

bool PresetManager::RenameCategory(int categoryIndex, char const* newName)
{
    return RenameCategory(CategoryName(categoryIndex), newName);
}

bool PresetManager::CreateNewCategory(char const* name, bool rebuild)
{
    if (!IsValidName(name)) return false;
    String path = MakeCategoryPath(name);
    bool created = path.GetLength() > 0 && PathManager::CreateFolder(path);
    if (created && rebuild) BuildPresetList();
    return created;
}

bool PresetManager::DeleteCategory(char const* name, bool rebuild, String* whyNot)
{
    String path = MakeCategoryPath(name);
    if (path.GetLength() == 0)
    {
        if (whyNot) *whyNot = "the category name is not valid";
        return false;
    }
    bool deleted = PathManager::RemoveFolder(path, true, whyNot);
    if (deleted && rebuild) BuildPresetList();
    return deleted;
}

// ---------------------------------------------------------------------------------------------
// Names

bool PresetManager::IsUserPresetName(String const& name)
{
    long n = name.GetLength();
    return n > kUserSuffixLength &&
           std::strcmp(static_cast<char const*>(name) + n - kUserSuffixLength, kUserSuffix) == 0;
}

namespace
{
// Bytes kept free below the file system's limit, so that the longest name a save takes stays the
// one it has always been.
constexpr std::size_t kReservedNameBytes = 4;
} // namespace

PresetManager::NameProblem PresetManager::CheckSaveName(char const* name) const
{
    if (!name || !*name) return NameProblem::Empty;
    std::string_view const text(name);
    if (text == "." || text == "..") return NameProblem::Reserved;
    if (!IsValidName(name)) return NameProblem::Characters;
    std::size_t const suffix = IsUserPresetName(String(name)) ? 0 : kUserSuffixLength;
    std::size_t const ending = 1 + std::strlen(format.extension ? format.extension : "") + kReservedNameBytes;
    return text.size() + suffix + ending > kMaxFileNameBytes ? NameProblem::TooLong : NameProblem::None;
}

std::size_t PresetManager::MaxSaveNameBytes() const
{
    std::size_t const ending =
        kUserSuffixLength + 1 + std::strlen(format.extension ? format.extension : "") + kReservedNameBytes;
    return ending < kMaxFileNameBytes ? kMaxFileNameBytes - ending : 0;
}

bool PresetManager::IsValidName(char const* name)
{
    if (!IsPathComponent(name)) return false;
    for (char const* c = name; *c; ++c)
    {
        unsigned char u = static_cast<unsigned char>(*c);
        if (u < 0x20 || u == 0x7F || u == '\\') return false;
    }
    return true;
}
