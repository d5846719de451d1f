#include "framework/Paths.h"

#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

extern char** environ;

namespace fs = std::filesystem;

namespace
{
constexpr size_t kFolderSize = kMaxFolderPathLength + 1;

struct Folders
{
    char root[kFolderSize] = {};
    char image[kFolderSize] = {};
    char data[kFolderSize] = {};
    char presets[kFolderSize] = {};
};

// The process-wide folders are those last set by any thread. A thread that sets folders keeps
// its own copy and reads it from then on, so an instance built on one thread sees the folders it
// set even while another thread builds an instance with other folders. A thread that never set
// any reads a copy of the process-wide ones, taken under the mutex at each read.
std::mutex foldersMutex;
Folders sharedFolders; // guarded by foldersMutex
thread_local Folders threadFolders;
thread_local bool threadSetFolders = false;

Folders& ReadFolders()
{
    if (!threadSetFolders)
    {
        std::lock_guard<std::mutex> hold(foldersMutex);
        threadFolders = sharedFolders;
    }
    return threadFolders;
}

// Applies `change` to this thread's folders (starting from the process-wide ones) and publishes
// the result; false from `change` changes nothing.
template <class Change> bool ChangeFolders(Change change)
{
    std::lock_guard<std::mutex> hold(foldersMutex);
    Folders next = threadSetFolders ? threadFolders : sharedFolders;
    if (!change(next)) return false;
    threadFolders = next;
    threadSetFolders = true;
    sharedFolders = next;
    return true;
}

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

bool CopyFolder(char* dst, char const* src)
{
    if (!src) return false;
    size_t n = std::strlen(src);
    if (n > kMaxFolderPathLength) return false;
    std::memcpy(dst, src, n + 1);
    return true;
}

// The parent rule of PathManager::PathMakeParent on a plain text.
std::string ParentOf(std::string_view path)
{
    if (!path.empty() && path.back() == '/') path.remove_suffix(1);
    if (path.size() < 2) return {};
    for (size_t i = path.size() - 1; i-- > 0;)
        if (IsSeparator(path[i])) return std::string(path.substr(0, i));
    return {};
}

// The folder without final '/' characters ("/" stays "/").
std::string WithoutFinalSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return std::string(path);
}

std::string HomeFolder()
{
    char const* home = std::getenv("HOME");
    if (home && *home) return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return found->pw_dir;
    return "/tmp";
}

bool MakeFolder(std::string const& path)
{
    std::error_code ec;
    return fs::create_directory(path, ec);
}

bool CreateFolderAndParents(std::string const& path)
{
    if (path.empty()) return false;
    if (MakeFolder(path)) return true;
    std::string parent = ParentOf(path);
    if (parent.empty()) return false;
    CreateFolderAndParents(parent);
    return MakeFolder(path);
}

bool OpenWithDesktop(char const* path)
{
    if (!path || !*path) return false;
    // A relative path that starts with '-' must not be read as an option.
    std::string argument = path[0] == '-' ? std::string("./") + path : std::string(path);
    char program[] = "xdg-open";
    char* argv[] = {program, argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
} // namespace

char* GetRootPath()
{
    return ReadFolders().root;
}

char* GetImagePath()
{
    return ReadFolders().image;
}

char* GetDataPath()
{
    return ReadFolders().data;
}

char* GetPresetsPath()
{
    return ReadFolders().presets;
}

bool SetImagePath(char const* path)
{
    return ChangeFolders([path](Folders& f) { return CopyFolder(f.image, path); });
}

bool SetDataPath(char const* path)
{
    return ChangeFolders([path](Folders& f) { return CopyFolder(f.data, path); });
}

bool SetPresetsPath(char const* path)
{
    return ChangeFolders([path](Folders& f) { return CopyFolder(f.presets, path); });
}

bool SetRootPath(char const* root)
{
    if (!root) return false;
    std::string const r = root;
    std::string const image = r + "Data/Images/";
    std::string const data = r + "Data/";
    std::string const presets = r + "Data/Patches/";
    if (image.size() > kMaxFolderPathLength || presets.size() > kMaxFolderPathLength) return false;
    return ChangeFolders(
        [&](Folders& f)
        {
            CopyFolder(f.root, r.c_str());
            CopyFolder(f.image, image.c_str());
            CopyFolder(f.data, data.c_str());
            CopyFolder(f.presets, presets.c_str());
            return true;
        });
}

String MakeImagePath(char const* name)
{
    String path(GetImagePath());
    if (name) path += name;
    return path;
}

String PathManager::GetApplicationDataPath()
{
    char const* xdg = std::getenv("XDG_DATA_HOME");
    // Relative values are invalid and must be ignored.
    if (xdg && xdg[0] == '/') return String(WithoutFinalSlashes(xdg).c_str());
    return String((WithoutFinalSlashes(HomeFolder()) + "/.local/share").c_str());
}

String PathManager::GetUserDocumentsPath()
{
    return String((WithoutFinalSlashes(HomeFolder()) + "/Documents").c_str());
}

bool PathManager::Exists(char const* path)
{
    if (!path || !*path) return false;
    std::error_code ec;
    return fs::exists(path, ec);
}

bool PathManager::Rename(char const* from, char const* to)
{
    return from && to && std::rename(from, to) == 0;
}

bool PathManager::RemoveFile(char const* path)
{
    if (!path || !*path) return false;
    std::error_code ec;
    return fs::remove(path, ec);
}

void PathManager::RemoveExtension(String& path)
{
    std::string_view text(path);
    if (text.empty() || IsSeparator(text.back())) return;
    for (size_t i = text.size(); i-- > 0;)
    {
        if (IsSeparator(text[i])) return;
        if (text[i] == '.')
        {
            path = std::string(text.substr(0, i)).c_str();
            return;
        }
    }
}

String PathManager::ExtractExtension(char const* path)
{
    std::string_view text(path ? path : "");
    if (text.empty() || IsSeparator(text.back()) || text.back() == '.') return String("");
    for (size_t i = text.size(); i-- > 0;)
    {
        if (IsSeparator(text[i])) break;
        if (text[i] == '.') return String(std::string(text.substr(i + 1)).c_str());
    }
    return String("");
}

String PathManager::ExtractFilenameFromPath(char const* path)
{
    std::string_view text(path ? path : "");
    for (size_t i = text.size(); i-- > 0;)
        if (IsSeparator(text[i])) return String(std::string(text.substr(i + 1)).c_str());
    return String("");
}

long PathManager::PathMakeParent(String& path)
{
    path = ParentOf(std::string_view(path)).c_str();
    return path.GetLength();
}

bool PathManager::CreateFolder(char const* path)
{
    if (!path) return false;
    try
    {
        std::string folder(path);
        while (!folder.empty() && IsSeparator(folder.back()))
            folder.pop_back();
        return CreateFolderAndParents(folder);
    }
    catch (std::bad_alloc const&)
    {
        return false;
    }
}

bool PathManager::BuildDirectoryList(char const* folder, std::vector<String>* folders,
                                     std::vector<String>* files)
{
    if (folders) folders->clear();
    if (files) files->clear();
    if (!folder || !*folder) return false;

    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return false;

    std::string const base = WithoutFinalSlashes(folder);
    std::string const prefix = base == "/" ? base : base + "/";
    std::vector<std::string> folderNames;
    std::vector<std::string> fileNames;
    // A failing step ends the listing; what was read so far is kept.
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
    {
        std::string name = it->path().filename().string();
        std::error_code typeError;
        if (it->is_directory(typeError))
            folderNames.push_back(std::move(name));
        else if (!(name.size() >= 8 && name.compare(name.size() - 8, 8, "DS_Store") == 0))
            fileNames.push_back(std::move(name));
    }
    // Byte order, so that menus and the ids taken from positions are the same every time.
    std::sort(folderNames.begin(), folderNames.end());
    std::sort(fileNames.begin(), fileNames.end());
    if (folders)
        for (auto const& name : folderNames)
            folders->emplace_back((prefix + name).c_str());
    if (files)
        for (auto const& name : fileNames)
            files->emplace_back((prefix + name).c_str());
    return true;
}

bool PathManager::RemoveFolder(char const* path, bool withContents)
{
    if (!path || !*path) return false;
    std::error_code ec;
    if (withContents && !fs::is_symlink(fs::symlink_status(path, ec)))
    {
        std::vector<String> folders;
        std::vector<String> files;
        if (BuildDirectoryList(path, &folders, &files))
        {
            for (auto const& folder : folders)
                RemoveFolder(folder, false);
            for (auto const& file : files)
                fs::remove(static_cast<char const*>(file), ec);
        }
    }
    return fs::remove(path, ec);
}

bool Shell::Run(char const* path)
{
    return OpenWithDesktop(path);
}

bool Shell::ExploreFolder(char const* path)
{
    return OpenWithDesktop(path);
}
