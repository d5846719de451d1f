#pragma once

#include <vector>

#include "framework/String.h"

// The folders: root, images, data and presets. Each is a zero-terminated text of at most
// kMaxFolderPathLength characters. Any thread: a thread that set folders reads its own from
// then on (so two instances built on two threads each keep the folders they set); any other
// thread reads the ones set last. The getters return the calling thread's copy, valid on that
// thread until its next call of a getter or setter.
constexpr int kMaxFolderPathLength = 511;

char* GetRootPath();
char* GetImagePath();
char* GetDataPath();
char* GetPresetsPath();

// Copy the text into that folder. A null text, or one longer than kMaxFolderPathLength,
// changes nothing and returns false.
bool SetImagePath(char const* path);
bool SetDataPath(char const* path);
bool SetPresetsPath(char const* path);

// Sets the root (expected to end with '/') and derives from it the image folder
// root + "Data/Images/", the data folder root + "Data/" and the presets folder
// root + "Data/Patches/". When any of these would not fit, nothing changes and the
// result is false.
bool SetRootPath(char const* root);

// The image folder followed by name (no separator added).
String MakeImagePath(char const* name);

// Path helpers. Paths are absolute POSIX texts; both '/' and '\' count as separators when
// a path is taken apart. File-system failures are reported as false (or an empty text),
// never thrown. Main thread only: never from the audio thread.
class PathManager
{
public:
    // The per-user application-support folder: $XDG_DATA_HOME when it is an absolute
    // path, else $HOME/.local/share. No trailing separator.
    static String GetApplicationDataPath();
    // $HOME/Documents.
    static String GetUserDocumentsPath();

    // True when a file or folder is at path.
    static bool Exists(char const* path);
    // Renames (moves) a file or folder; an existing file at `to` is replaced.
    static bool Rename(char const* from, char const* to);
    // Deletes the file (or empty folder) at path.
    static bool RemoveFile(char const* path);

    // Cuts the text at the last '.' of its last component; unchanged when it is empty,
    // ends with a separator, or its last component holds no '.'.
    static void RemoveExtension(String& path);
    // The characters after the last '.' of the last component; "" when the path is empty,
    // ends with a separator or '.', or its last component holds no '.'.
    static String ExtractExtension(char const* path);
    // The characters after the last separator; "" when the path is empty, ends with a
    // separator, or holds no separator at all.
    static String ExtractFilenameFromPath(char const* path);
    // Turns the path into its parent folder in place: a final '/' is dropped, then the
    // text is cut at the last separator before its last character ("" when there is
    // none). The parent of /a/b/c is /a/b, of /a/b/ it is /a, of /a, abc, "" and "/" it
    // is "". Returns the number of characters left.
    static long PathMakeParent(String& path);

    // Creates the folder with every missing folder above it. False when it already
    // exists or cannot be created. Final separators are ignored.
    static bool CreateFolder(char const* path);
    // Empties the given vectors, then fills them with the full paths (folder + "/" +
    // name) of the folder's sub-folders and regular files (links followed), each sorted by
    // name in byte order. FIFOs, sockets, devices, broken links and files whose names end in
    // "DS_Store" are left out. False when the folder cannot be listed.
    static bool BuildDirectoryList(char const* folder, std::vector<String>* folders,
                                   std::vector<String>* files);
    // Without contents: deletes the folder when it is empty. With contents: deletes the
    // folder with everything below it, sub-folders included. Links are removed, never
    // followed (a link in place of the folder is removed itself), so nothing outside the
    // folder is touched, and nothing of another mount: a folder in the tree that is a mount
    // point (another file system or a bound folder), or a folder that is one itself, refuses
    // the removal. Everything is checked first: when any part can't be listed, or the system
    // is known to refuse removing it (an immutable or append-only entry, an entry of another
    // user in a sticky folder when the user is not the super-user), nothing is removed. True
    // when the folder is gone; otherwise *whyNot (when given) says why, naming the part that
    // stopped it, and when the system still refused part-way, how many entries were left.
    static bool RemoveFolder(char const* path, bool withContents, String* whyNot = nullptr);
};

// Hands a path to the desktop ("xdg-open", the path as its one argument; no shell).
class Shell
{
public:
    // Opens the file with its application; true when the opener reports success.
    static bool Run(char const* path);
    // Opens the folder in the file browser; true when the opener reports success.
    static bool ExploreFolder(char const* path);
};
