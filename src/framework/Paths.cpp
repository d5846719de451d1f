#include "framework/Paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
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
// A thread's copy lives on the heap: the library's thread-local block must stay small, as it is
// placed in the static block every thread gets (platform/InstanceLife.cpp).
thread_local std::unique_ptr<Folders> threadFolders;
thread_local bool threadSetFolders = false;

Folders& ThreadFolders()
{
    if (!threadFolders) threadFolders = std::make_unique<Folders>();
    return *threadFolders;
}

Folders& ReadFolders()
{
    Folders& mine = ThreadFolders();
    if (!threadSetFolders)
    {
        std::lock_guard<std::mutex> hold(foldersMutex);
        mine = sharedFolders;
    }
    return mine;
}

// Applies `change` to this thread's folders (starting from the process-wide ones) and publishes
// the result; false from `change` changes nothing.
template <class Change> bool ChangeFolders(Change change)
{
    std::lock_guard<std::mutex> hold(foldersMutex);
    Folders next = threadSetFolders ? *threadFolders : sharedFolders;
    if (!change(next)) return false;
    ThreadFolders() = next;
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
        // Links are followed to tell folders from files; FIFOs, sockets, devices and links that
        // lead nowhere (or round in a loop) are left out, so nothing listed can stall a reader.
        std::error_code typeError;
        if (it->is_directory(typeError))
            folderNames.push_back(std::move(name));
        else if (it->is_regular_file(typeError) &&
                 !(name.size() >= 8 && name.compare(name.size() - 8, 8, "DS_Store") == 0))
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

namespace
{
// Folders nested deeper than this below a removed folder are refused (each level holds a
// descriptor while it is walked).
constexpr int kMaxRemovalDepth = 128;

std::string Quoted(std::string const& shown)
{
    return "'" + shown + "'";
}

std::string Because(std::string const& what, int error)
{
    return what + " (" + std::strerror(error) + ")";
}

// The names in the folder open at fd (without "." and ".."); false when it can't be read.
bool ListNames(int fd, std::vector<std::string>& names)
{
    names.clear();
    int const copy = dup(fd);
    if (copy < 0) return false;
    DIR* folder = fdopendir(copy);
    if (!folder)
    {
        close(copy);
        return false;
    }
    rewinddir(folder);
    errno = 0;
    while (dirent* entry = readdir(folder))
    {
        std::string_view const name(entry->d_name);
        if (name != "." && name != "..") names.emplace_back(name);
        errno = 0;
    }
    bool const complete = errno == 0;
    closedir(folder);
    return complete;
}

// Opens the sub-folder name of the folder at fd, never through a link.
int OpenSubFolder(int fd, std::string const& name)
{
    return openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
}

// What a removal needs to know of an entry, read with statx without following a link and
// without opening anything (a FIFO or device is never opened).
struct EntryFacts
{
    mode_t mode = 0;
    uid_t owner = 0;
    dev_t device = 0;
    std::uint64_t mount = 0; // the mount's id, when the system tells it
    bool knowsMount = false;
    bool mountRoot = false;
    bool immutable = false;
    bool appendOnly = false;
};

// The entry `name` of the folder at fd ("" with AT_EMPTY_PATH: the folder itself).
bool ReadFacts(int fd, char const* name, EntryFacts& facts)
{
    struct statx info
    {
    };
    int const flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*name == '\0' ? AT_EMPTY_PATH : 0);
    if (statx(fd, name, flags, STATX_TYPE | STATX_MODE | STATX_UID | STATX_MNT_ID, &info) != 0) return false;
    auto const attribute = [&info](std::uint64_t bit)
    { return (info.stx_attributes_mask & bit) != 0 && (info.stx_attributes & bit) != 0; };
    facts.mode = info.stx_mode;
    facts.owner = info.stx_uid;
    facts.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    facts.knowsMount = (info.stx_mask & STATX_MNT_ID) != 0;
    facts.mount = facts.knowsMount ? info.stx_mnt_id : 0;
    facts.mountRoot = attribute(STATX_ATTR_MOUNT_ROOT);
    facts.immutable = attribute(STATX_ATTR_IMMUTABLE);
    facts.appendOnly = attribute(STATX_ATTR_APPEND);
    return true;
}

// An entry (a folder, or a file bound onto another) that another mount starts at: the system
// marks it a mount root, or its mount differs from the one the removal started on, or, for a
// folder, its device does (file systems such as overlayfs give files the device of the layer
// they come from).
bool StartsAnotherMount(EntryFacts const& entry, EntryFacts const& home)
{
    return entry.mountRoot || (S_ISDIR(entry.mode) && entry.device != home.device) ||
           (entry.knowsMount && home.knowsMount && entry.mount != home.mount);
}

// What the system will refuse when `entry` is unlinked from `holder`, known before anything
// is removed: immutable or append-only entries (and folders, whose entries can't go either),
// and the sticky-folder rule as it applies to the running user. Empty when nothing is foreseen.
std::string ForeseenRefusal(EntryFacts const& entry, EntryFacts const& holder, std::string const& shown)
{
    if (entry.immutable) return Quoted(shown) + " is immutable";
    if (entry.appendOnly) return Quoted(shown) + " is append-only";
    uid_t const user = geteuid();
    if ((holder.mode & S_ISVTX) != 0 && user != 0 && user != entry.owner && user != holder.owner)
        return Quoted(shown) + " belongs to another user in a folder only its owners may delete from";
    return {};
}

struct Removal
{
    EntryFacts home;         // the category folder: its mount is the only one walked
    bool remove = false;     // false: only check
    std::size_t entries = 0; // counted by the check
    std::size_t removed = 0; // removed so far
    std::string why;
};

// Walks the folder open at fd (shown as `shown` in messages, its facts in `here`) without
// following any link and either only checks that all of it can be removed, or removes all of
// it. Removing a folder's entries takes write and search permission on it, listing it read
// permission; no folder of another mount is entered, in either pass.
bool WalkRemoval(int fd, EntryFacts const& here, std::string const& shown, int depth, Removal& walk)
{
    std::string& why = walk.why;
    if (depth > kMaxRemovalDepth)
    {
        why = Quoted(shown) + " is nested too deeply";
        return false;
    }
    if (!walk.remove && faccessat(fd, ".", R_OK | W_OK | X_OK, AT_EACCESS) != 0)
    {
        why = Because(Quoted(shown) + " can't be changed", errno);
        return false;
    }
    std::vector<std::string> names;
    if (!ListNames(fd, names))
    {
        why = Because(Quoted(shown) + " can't be read", errno);
        return false;
    }
    for (std::string const& name : names)
    {
        std::string const inner = shown + "/" + name;
        EntryFacts facts;
        if (!ReadFacts(fd, name.c_str(), facts))
        {
            why = Because(Quoted(inner) + " can't be read", errno);
            return false;
        }
        if (!walk.remove)
        {
            ++walk.entries;
            why = ForeseenRefusal(facts, here, inner);
            if (!why.empty()) return false;
        }
        // A file can be a mount point too (a file bound onto another): found before anything goes.
        if (StartsAnotherMount(facts, walk.home))
        {
            why = Quoted(inner) + " is a mount point";
            return false;
        }
        if (S_ISDIR(facts.mode))
        {
            int const sub = OpenSubFolder(fd, name);
            if (sub < 0)
            {
                why = Because(Quoted(inner) + " can't be opened", errno);
                return false;
            }
            // The folder opened must be the one looked at (and still of this mount).
            EntryFacts opened;
            bool walked = ReadFacts(sub, "", opened) && !StartsAnotherMount(opened, walk.home);
            if (!walked)
                why = Quoted(inner) + " is a mount point";
            else
                walked = WalkRemoval(sub, opened, inner, depth + 1, walk);
            close(sub);
            if (!walked) return false;
        }
        // A link is removed itself; what it leads to is never touched.
        if (walk.remove)
        {
            if (unlinkat(fd, name.c_str(), S_ISDIR(facts.mode) ? AT_REMOVEDIR : 0) != 0)
            {
                why = Because(Quoted(inner) + " can't be deleted", errno);
                return false;
            }
            ++walk.removed;
        }
    }
    return true;
}

// The folder holding `folder`, opened for reading its facts ("." or "/" when it has no parent text).
std::string HolderOf(std::string const& folder)
{
    std::string const parent = ParentOf(folder);
    return !parent.empty() ? parent : folder[0] == '/' ? "/" : ".";
}
} // namespace

bool PathManager::RemoveFolder(char const* path, bool withContents, String* whyNot)
{
    std::string why;
    bool const removed = [&]
    {
        if (!path || !*path)
        {
            why = "no folder was given";
            return false;
        }
        std::string const folder = WithoutFinalSlashes(path);
        String const leaf = ExtractFilenameFromPath(folder.c_str());
        std::string const name = leaf.GetLength() > 0 ? static_cast<char const*>(leaf) : folder;
        EntryFacts facts;
        if (!ReadFacts(AT_FDCWD, folder.c_str(), facts))
        {
            why = Because(Quoted(name) + " can't be found", errno);
            return false;
        }
        // A link in place of the folder is removed itself, never followed.
        if (S_ISLNK(facts.mode))
        {
            if (unlink(folder.c_str()) == 0) return true;
            why = Because(Quoted(name) + " can't be deleted", errno);
            return false;
        }
        if (!S_ISDIR(facts.mode))
        {
            why = Quoted(name) + " is not a folder";
            return false;
        }
        if (withContents)
        {
            std::string const holder = HolderOf(folder);
            if (faccessat(AT_FDCWD, holder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
            {
                std::string what("the folder holding ");
                what.append(Quoted(name));
                what.append(" can't be changed");
                why = Because(what, errno);
                return false;
            }
            EntryFacts holderFacts;
            if (!ReadFacts(AT_FDCWD, holder.c_str(), holderFacts))
            {
                why = Because("the folder holding " + Quoted(name) + " can't be read", errno);
                return false;
            }
            // A category that is itself a mount point keeps everything: its contents belong to
            // the mounted file system or folder.
            if (StartsAnotherMount(facts, holderFacts))
            {
                why = Quoted(name) + " is a mount point";
                return false;
            }
            why = ForeseenRefusal(facts, holderFacts, name);
            if (!why.empty()) return false;
            int const fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0)
            {
                why = Because(Quoted(name) + " can't be opened", errno);
                return false;
            }
            Removal walk;
            // Everything is checked before anything goes, so that a refusal removes nothing.
            bool emptied = ReadFacts(fd, "", walk.home) && !StartsAnotherMount(walk.home, holderFacts);
            if (!emptied)
                why = Quoted(name) + " is a mount point";
            else
            {
                emptied = WalkRemoval(fd, walk.home, name, 0, walk);
                walk.remove = emptied;
                emptied = emptied && WalkRemoval(fd, walk.home, name, 0, walk);
                why = walk.why;
                // The system refused what could not be foreseen: say how much is left.
                if (!emptied && walk.remove)
                {
                    std::size_t const left = walk.entries > walk.removed ? walk.entries - walk.removed : 0;
                    why += "; " + std::to_string(left) + " of " + std::to_string(walk.entries) +
                           " entries were left";
                }
            }
            close(fd);
            if (!emptied)
            {
                if (why.empty()) why = Quoted(name) + " can't be deleted";
                return false;
            }
        }
        if (rmdir(folder.c_str()) == 0) return true;
        why = Because(Quoted(name) + " can't be deleted", errno);
        return false;
    }();
    if (whyNot) *whyNot = removed ? "" : why.c_str();
    return removed;
}

bool Shell::Run(char const* path)
{
    return OpenWithDesktop(path);
}

bool Shell::ExploreFolder(char const* path)
{
    return OpenWithDesktop(path);
}
